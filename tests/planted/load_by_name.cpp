// Loads a DLL by bare name with the default search order, as the system does on a
// program's behalf: the control that shows a DLL planted beside it would be loaded.
#include <windows.h>

int main(int argc, char** argv) {
    return argc == 2 && LoadLibraryA(argv[1]) ? 0 : 1;
}
