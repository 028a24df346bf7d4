// Where the process looks for DLLs that it, or the system on its behalf, loads by name.
#pragma once

namespace desktop {

// Restricts the DLL search of later loads to System32, before anything loads one; true
// when the system could do so.
bool RestrictDllSearchToSystem32();

}  // namespace desktop
