#include "desktop/dll_search.h"
#include "driver/automation.h"

int main() {
    // First, before the shell or anything else loads a DLL by name.
    desktop::RestrictDllSearchToSystem32();
    return RunAutomation();
}
