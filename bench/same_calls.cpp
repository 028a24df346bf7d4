// Baseline: the platform calls that miyo-intro makes on its window-present road, each as
// often as it makes them, with the same pauses between them (50 ms between two looks at
// the foreground, 500 ms after the clipboard, 200 ms before F5): what they cost here,
// apart from anything the program adds. The pauses matter for the cost: a round trip to
// a window whose thread has gone idle costs more under Wine than one to a busy thread.
#include <windows.h>

namespace {

const char TITLE[] = "TALMERINE - \x83\x7E\x83\x88";  // "TALMERINE - ミヨ"
const char TEXT[] = "\x90\xAF\x92\xD4\x83\x7E\x83\x88\x82\xC5\x82\xB7\x81\x42\x96\x7B\x82\xF0\x93\xC7"
                    "\x82\xDE\x82\xCC\x82\xAA\x8D\x44\x82\xAB\x82\xC5\x82\xB7\x81\x42";

void Key(WORD vk, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = flags;
    SendInput(1, &input, sizeof input);
}

}  // namespace

int main() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    auto restrict = reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (restrict) {
        restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    GetACP();
    HANDLE lock = CreateMutexA(nullptr, FALSE, "Local\\miyo-bench-same-calls");
    WaitForSingleObject(lock, 0);
    HWND window = FindWindowExA(nullptr, nullptr, nullptr, TITLE);
    if (!window) {
        return 1;
    }
    HWND console = GetConsoleWindow();
    if (console) {
        GetAncestor(console, GA_ROOTOWNER);
    }
    // Every condition of the gate before the clipboard and before each burst of keys.
    auto ready = [window] {
        IsWindow(window);
        DWORD_PTR answer;
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer);
        IsWindowEnabled(window);
        GetForegroundWindow();
        const int modifiers[] = {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN};
        for (int vk : modifiers) {
            GetAsyncKeyState(vk);
        }
    };
    IsWindow(window);
    DWORD_PTR answer;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer);
    IsWindowEnabled(window);
    // The integrity levels of both processes.
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE processes[] = {GetCurrentProcess(), OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId)};
    for (HANDLE process : processes) {
        HANDLE token;
        if (process && OpenProcessToken(process, TOKEN_QUERY, &token)) {
            BYTE label[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
            DWORD size;
            if (GetTokenInformation(token, TokenIntegrityLevel, label, sizeof label, &size)) {
                PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label)->Label.Sid;
                GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
            }
            CloseHandle(token);
        }
    }
    CloseHandle(processes[1]);
    ShowWindowAsync(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    GetForegroundWindow();
    Sleep(50);
    GetForegroundWindow();
    ready();

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, lstrlenA(TEXT) + 256);
    lstrcpyA(static_cast<char*>(GlobalLock(block)), TEXT);
    GlobalUnlock(block);
    OpenClipboard(nullptr);
    EmptyClipboard();
    SetClipboardData(CF_TEXT, block);
    HGLOBAL locale = GlobalAlloc(GMEM_MOVEABLE, sizeof(LCID));
    *static_cast<LCID*>(GlobalLock(locale)) = 0x0411;
    GlobalUnlock(locale);
    SetClipboardData(CF_LOCALE, locale);
    CloseClipboard();
    GetClipboardSequenceNumber();

    Sleep(500);
    ready();
    GetClipboardSequenceNumber();
    const WORD chordKeys[] = {VK_OEM_2, 0, 'V'};  // 0: Delete on its own
    for (WORD vk : chordKeys) {
        if (vk) {
            Key(VK_CONTROL, 0);
            Key(vk, 0);
            Key(vk, KEYEVENTF_KEYUP);
            Key(VK_CONTROL, KEYEVENTF_KEYUP);
        } else {
            Key(VK_DELETE, 0);
            Key(VK_DELETE, KEYEVENTF_KEYUP);
        }
    }
    Sleep(200);
    ready();
    Key(VK_F5, 0);
    Key(VK_F5, KEYEVENTF_KEYUP);
    ReleaseMutex(lock);
    CloseHandle(lock);
    return 0;
}
