// Desktop helper for the end-to-end tests.
//   desktool put-old       places other clipboard content: CF_UNICODETEXT "old" and a
//                          private format
//   desktool dump          prints "formats=<ids> text=<hex of CF_TEXT or none>"
//   desktool dismiss HEX   presses OK in every top-level window titled HEX (code page
//                          932 bytes in hex); prints how many. Key events sent from X
//                          reach such a dialog unreliably under Wine; a message does.
//   desktool poke          posts WM_APP to every stand-in TALMERINE window; prints how
//                          many. Each then logs "idle" once it has handled everything
//                          queued before it.
//   desktool close-dialog  closes the stand-in's dialog (WM_APP+1)
//   desktool rewrite-clipboard MS   prints "listening", then writes "FOREIGN TEXT" to
//                          the clipboard MS ms after the next change of it
//   desktool steal-front MS  a window of its own takes the foreground back every 10 ms
//                          for MS ms; prints "stealing" once it has it
//   desktool screen FILE   writes the text of the console it runs in to FILE, as UTF-16LE
//                          hex, a line end after each row (the demo's transcript)
//   desktool console HEX enter-first|none EXE   runs EXE in a console window of its own
//                          titled HEX; writes what it saw to the file DESKTOOL_LOG
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HGLOBAL Block(const void* bytes, SIZE_T size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block) {
        std::memcpy(GlobalLock(block), bytes, size);
        GlobalUnlock(block);
    }
    return block;
}

int PutOld() {
    if (!OpenClipboard(nullptr)) {
        std::puts("clipboard busy");
        return 1;
    }
    EmptyClipboard();
    const wchar_t old[] = L"old";
    const char marker[] = "private";
    bool ok = SetClipboardData(CF_UNICODETEXT, Block(old, sizeof old)) &&
              SetClipboardData(RegisterClipboardFormatA("MiyoTestPrivate"), Block(marker, sizeof marker));
    CloseClipboard();
    std::puts(ok ? "placed" : "not placed");
    return ok ? 0 : 1;
}

int Dump() {
    if (!OpenClipboard(nullptr)) {
        std::puts("clipboard busy");
        return 1;
    }
    std::printf("formats=");
    for (UINT format = EnumClipboardFormats(0), n = 0; format; format = EnumClipboardFormats(format), n++) {
        char name[128] = "";
        if (!GetClipboardFormatNameA(format, name, sizeof name)) {
            std::snprintf(name, sizeof name, "%u", format);
        }
        std::printf("%s%s", n ? "," : "", name);
    }
    std::printf(" text=");
    HANDLE data = GetClipboardData(CF_TEXT);
    const unsigned char* text = data ? static_cast<const unsigned char*>(GlobalLock(data)) : nullptr;
    if (text) {
        for (; *text; text++) {
            std::printf("%02X", *text);
        }
        GlobalUnlock(data);
    } else {
        std::printf("none");
    }
    std::printf("\n");
    CloseClipboard();
    return 0;
}

// The title, given as code page 932 bytes in hex.
void FromHex(const char* hex, char* out, size_t size) {
    size_t n = 0;
    for (; hex[0] && hex[1] && n + 1 < size; hex += 2) {
        char pair[3] = {hex[0], hex[1], 0};
        out[n++] = static_cast<char>(std::strtoul(pair, nullptr, 16));
    }
    out[n] = 0;
}

struct Dismissal {
    char title[256];
    int count;
};

BOOL CALLBACK DismissIfTitled(HWND window, LPARAM param) {
    Dismissal* dismissal = reinterpret_cast<Dismissal*>(param);
    char title[256];
    if (GetWindowTextA(window, title, sizeof title) && std::strcmp(title, dismissal->title) == 0) {
        PostMessageA(window, WM_COMMAND, IDOK, 0);
        dismissal->count++;
    }
    return TRUE;
}

int Dismiss(const char* hex) {
    Dismissal dismissal = {};
    FromHex(hex, dismissal.title, sizeof dismissal.title);
    EnumWindows(DismissIfTitled, reinterpret_cast<LPARAM>(&dismissal));
    std::printf("%d\n", dismissal.count);
    return 0;
}

BOOL CALLBACK PokeIfStandIn(HWND window, LPARAM param) {
    char name[64];
    if (GetClassNameA(window, name, sizeof name) && std::strcmp(name, "TalmerineStandIn") == 0) {
        PostMessageA(window, WM_APP, 0, 0);
        ++*reinterpret_cast<int*>(param);
    }
    return TRUE;
}

int Poke() {
    int count = 0;
    EnumWindows(PokeIfStandIn, reinterpret_cast<LPARAM>(&count));
    std::printf("%d\n", count);
    return 0;
}

BOOL CALLBACK PostIfStandIn(HWND window, LPARAM message) {
    char name[64];
    if (GetClassNameA(window, name, sizeof name) && std::strcmp(name, "TalmerineStandIn") == 0) {
        PostMessageA(window, static_cast<UINT>(message), 0, 0);
    }
    return TRUE;
}

// Another program writing the clipboard `delayMs` after the next change, as a clipboard
// tool or a remote desktop's clipboard sync does.
int RewriteClipboard(DWORD delayMs) {
    HWND listener = CreateWindowA("STATIC", "rewriter", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    AddClipboardFormatListener(listener);
    std::printf("listening\n");
    std::fflush(stdout);
    DWORD started = GetTickCount();
    MSG msg;
    bool changed = false;
    while (!changed && GetTickCount() - started < 120000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            changed |= msg.message == WM_CLIPBOARDUPDATE;
            DispatchMessageA(&msg);
        }
    }
    if (!changed) {
        std::printf("no change seen\n");
        return 1;
    }
    Sleep(delayMs);
    const char foreign[] = "FOREIGN TEXT";
    bool placed = false;
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        placed = SetClipboardData(CF_TEXT, Block(foreign, sizeof foreign)) != nullptr;
        CloseClipboard();
    }
    std::printf(placed ? "rewrote\n" : "not rewritten\n");
    return placed ? 0 : 1;
}

// A window of another program that takes the foreground back every 10 ms for `ms`.
int StealFront(DWORD ms) {
    HWND thief = CreateWindowA("STATIC", "thief", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 300, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
    SetForegroundWindow(thief);
    std::printf("stealing\n");
    std::fflush(stdout);
    int stolen = 0;
    for (DWORD started = GetTickCount(); GetTickCount() - started < ms;) {
        if (GetForegroundWindow() != thief) {
            SetForegroundWindow(thief);
            stolen++;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
    std::printf("took the foreground back %d times\n", stolen);
    return 0;
}


void WriteEnter(HANDLE input) {
    INPUT_RECORD records[2] = {};
    for (int i = 0; i < 2; i++) {
        records[i].EventType = KEY_EVENT;
        records[i].Event.KeyEvent.bKeyDown = i == 0;
        records[i].Event.KeyEvent.wRepeatCount = 1;
        records[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
        records[i].Event.KeyEvent.wVirtualScanCode = 0x1C;
        records[i].Event.KeyEvent.uChar.UnicodeChar = L'\r';
    }
    DWORD written;
    WriteConsoleInputW(input, records, 2, &written);
}

// The console's screen as UTF-16LE hex, trailing blanks of each row dropped, rows joined
// by "000A" (a line end).
void ScreenHex(HANDLE output, char* out, size_t size) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    out[0] = 0;
    if (!GetConsoleScreenBufferInfo(output, &info)) {
        return;
    }
    size_t used = 0;
    for (SHORT row = 0; row <= info.dwCursorPosition.Y; row++) {
        wchar_t line[512];
        DWORD read = 0;
        COORD at = {0, row};
        DWORD width = info.dwSize.X < 512 ? info.dwSize.X : 512;
        ReadConsoleOutputCharacterW(output, line, width, at, &read);
        while (read > 0 && line[read - 1] == L' ') {
            read--;
        }
        for (DWORD i = 0; i <= read && used + 5 < size; i++) {
            wchar_t c = i < read ? line[i] : L'\n';
            used += std::snprintf(out + used, size - used, "%02X%02X", c & 0xFF, c >> 8);
        }
    }
}

bool ScreenHas(HANDLE output, const wchar_t* text) {
    static char hex[32768];
    ScreenHex(output, hex, sizeof hex);
    char want[256] = "";
    for (size_t i = 0; text[i] && 4 * i + 5 < sizeof want; i++) {
        std::snprintf(want + 4 * i, 5, "%02X%02X", text[i] & 0xFF, text[i] >> 8);
    }
    return std::strstr(hex, want) != nullptr;
}

// Runs EXE in a console window of its own titled TITLE_HEX, as a double-click does, its
// standard handles the console's. With "enter-first", an Enter is already in the
// console's input when it starts. Once "Error" has been on the screen for a second and
// the program still runs, Enter is pressed. Prints what it saw.
int InConsole(const char* titleHex, bool enterFirst, char* exe) {
    char title[256];
    FromHex(titleHex, title, sizeof title);
    FreeConsole();
    if (!AllocConsole()) {
        std::printf("no console\n");
        return 1;
    }
    SetConsoleTitleA(title);
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (enterFirst) {
        WriteEnter(input);
    }
    DWORD pendingAtStart = 0;
    GetNumberOfConsoleInputEvents(input, &pendingAtStart);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, exe, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::printf("not started\n");
        return 1;
    }
    DWORD started = GetTickCount(), errorSeenAt = 0, answeredAt = 0, exitedAt = 0;
    while (GetTickCount() - started < 180000) {
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) {
            exitedAt = GetTickCount();
            break;
        }
        if (!errorSeenAt && ScreenHas(output, L"Error")) {
            errorSeenAt = GetTickCount();
        }
        if (errorSeenAt && !answeredAt && GetTickCount() - errorSeenAt >= 1000) {
            answeredAt = GetTickCount();
            WriteEnter(input);
        }
    }
    DWORD exitCode = 259;
    GetExitCodeProcess(process.hProcess, &exitCode);
    DWORD pending = 0;
    GetNumberOfConsoleInputEvents(input, &pending);
    static char screen[32768];
    ScreenHex(output, screen, sizeof screen);
    // To the log file named in the environment: the console is ours, not the caller's.
    char logPath[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("DESKTOOL_LOG", logPath, sizeof logPath);
    FILE* log = length && length < sizeof logPath ? std::fopen(logPath, "w") : nullptr;
    if (log) {
        std::fprintf(log, "exit=%lu pending-at-start=%lu input-events=%lu error-seen=%d answered=%d "
                          "exited-after-answer-ms=%ld console-window=%d screen=%s\n",
                     exitCode, pendingAtStart, pending, errorSeenAt ? 1 : 0, answeredAt ? 1 : 0,
                     exitedAt && answeredAt ? static_cast<long>(exitedAt - answeredAt) : -1L,
                     GetConsoleWindow() ? 1 : 0, screen);
        std::fclose(log);
    }
    TerminateProcess(process.hProcess, 1);
    return exitedAt ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "close-dialog") == 0) {
        return EnumWindows(PostIfStandIn, WM_APP + 1) ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "rewrite-clipboard") == 0) {
        return RewriteClipboard(std::strtoul(argv[2], nullptr, 10));
    }
    if (argc == 3 && std::strcmp(argv[1], "steal-front") == 0) {
        return StealFront(std::strtoul(argv[2], nullptr, 10));
    }
    if (argc == 5 && std::strcmp(argv[1], "console") == 0) {
        return InConsole(argv[2], std::strcmp(argv[3], "enter-first") == 0, argv[4]);
    }
    if (argc == 2 && std::strcmp(argv[1], "put-old") == 0) {
        return PutOld();
    }
    if (argc == 2 && std::strcmp(argv[1], "dump") == 0) {
        return Dump();
    }
    if (argc == 3 && std::strcmp(argv[1], "screen") == 0) {
        static char screen[32768];
        HANDLE output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        ScreenHex(output, screen, sizeof screen);
        FILE* file = std::fopen(argv[2], "w");
        return file && std::fputs(screen, file) >= 0 && std::fclose(file) == 0 ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "poke") == 0) {
        return Poke();
    }
    if (argc == 3 && std::strcmp(argv[1], "dismiss") == 0) {
        return Dismiss(argv[2]);
    }
    std::puts("usage: desktool put-old | dump | dismiss TITLE_HEX | poke | close-dialog | rewrite-clipboard MS | "
              "steal-front MS | console TITLE_HEX enter-first|none EXE");
    return 2;
}
