// A DLL lying beside the exe (the Downloads folder, where a web page can save one
// unasked) must not be loaded in place of the system's: the shell, its extensions and
// their helpers load DLLs by bare name, and the exe's own folder comes first in the
// default search order.
#include <windows.h>

#include "desktop/dll_search.h"

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

}  // namespace

namespace desktop {

bool RestrictDllSearchToSystem32() {
    // Looked up rather than imported: Windows 7 without KB2533623 lacks it, and an
    // import would stop the program from starting there at all.
    HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
    auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return true;
    }
    // Without it the exe's folder cannot be taken out of the search; the current folder
    // at least can (for a double-click it is the same folder, but not from a prompt).
    ::SetDllDirectoryA("");
    return false;
}

}  // namespace desktop
