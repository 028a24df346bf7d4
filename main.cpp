#include "driver/automation.h"

int main() {
    return RunAutomation();
}
