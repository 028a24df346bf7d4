// A DLL planted beside the program by the tests, under the name of one that the process
// loads by name after it has started. Loaded, it appends the loading program's path to a
// marker file (the path in MIYO_PLANTED_MARKER), and does nothing else.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH];
        char process[MAX_PATH] = "";
        DWORD length = GetEnvironmentVariableA("MIYO_PLANTED_MARKER", path, sizeof path);
        if (length > 0 && length < sizeof path) {
            HANDLE marker = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (marker != INVALID_HANDLE_VALUE) {
                DWORD written;
                GetModuleFileNameA(nullptr, process, sizeof process);
                lstrcatA(process, "\r\n");
                WriteFile(marker, process, static_cast<DWORD>(lstrlenA(process)), &written, nullptr);
                CloseHandle(marker);
            }
        }
    }
    return TRUE;
}
