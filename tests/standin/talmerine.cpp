// A stand-in TALMERINE for the end-to-end tests: a main window titled
// "TALMERINE - ミヨ" with an edit box, and a log of everything the tests check.
//
// Options, from the environment (ASCII values only: Wine's GetEnvironmentVariableA
// cuts multibyte values short):
//   TALMERINE_LOG            log file; default "talmerine.log" in the working folder
//   TALMERINE_SHOW           "min" or "max": the window starts minimised or maximised
//   TALMERINE_DELAY_MS       wait this long before creating the window
//   TALMERINE_LEFT, _TOP     where the window is placed on the screen
//   TALMERINE_TITLE_HEX      the window title as code page 932 bytes in hex
//   TALMERINE_HOLD_CLIPBOARD_MS  hold the clipboard open this long, owned by our window
//                            (Wine lets others open a clipboard held with no owner);
//                            with TALMERINE_HOLD_ON_NULL=1 from another program's first
//                            WM_NULL, before it is answered (so before that program can
//                            reach the clipboard, however long it took to start)
//                            (Wine lets others open a clipboard held with no owner)
//   TALMERINE_HANG_MS        once the window is shown, read no message for this long,
//                            as an application does while it loads or when it hangs
//   TALMERINE_HANG_AFTER_NULL_MS  the same, right after answering the first WM_NULL
//   TALMERINE_DIALOG         "1": a dialog of its own is open once the window is shown
//                            (an owned popup, the main window disabled, as a modal
//                            dialog has it) until WM_APP+1 comes (desktool close-dialog)
//   TALMERINE_DESTROY_ON_RESTORE  "1": the window destroys itself when it is restored;
//                            another top-level window of the stand-in stays open
//   TALMERINE_REPLACE_AFTER_MS  this long after the window was shown, a new window with
//                            the same title takes its place in front; the first stays open
//
// Log lines, each "<GetTickCount> <event> ...":
//   start cwd=<hex> show=<wShowWindow or -1>   window hwnd=<hex> state=<as below>
//   clipboard-changed at=<t>   clipboard-held   clipboard-released   restored (from min or max)
//   key msg=<WM_ name> vk=<hex> scan=<hex> ext=<0|1> ctrl=<0|1> shift=<0|1> alt=<0|1> at=<t>
//   (at=: the message's own time stamp, when the system queued it: on a busy machine the
//   window may handle it later)
//   first-key foreground=<0|1> state=<normal|minimised|maximised>
//   paste text=<hex of CF_TEXT> unicode=<hex of CF_UNICODETEXT, UTF-16LE> locale=<hex of
//         CF_LOCALE> formats=<ids>: read as a Unicode application pastes   action (on F5,
//         which also puts the time and date at the caret, as Notepad does)
//   hang ms=<n>   awake (reads its messages again)   null (a WM_NULL answered)
//   dialog-open   dialog-closed (owner enabled)   dialog-destroyed   destroying   destroyed   replaced hwnd=<hex>
//   (key lines carry to=<main|dialog|other>: the window the message was for)
//   idle: the message queue is empty, after something was handled (a poke from the
//         tests, WM_APP, makes one follow everything queued before it)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

const char DEFAULT_TITLE[] = "TALMERINE - \x83\x7E\x83\x88";  // "TALMERINE - ミヨ"
const char FILLER_TEXT[] = "(old text)";
const UINT CLOSE_DIALOG = WM_APP + 1;

FILE* logFile;
HWND mainWindow;
HWND editBox;
HWND dialog;
bool sawKey;
bool sawNull;
unsigned hangAfterNullMs;
bool destroyOnRestore;
// A main window that goes on purpose does not end the program.
bool keepRunning;
unsigned holdClipboardMs;
bool holdOnNull;
// When the clipboard held is let go (a deadline of the message loop: a timer of a thread
// that has just made its window can fire seconds late under Wine); 0: not held.
DWORD releaseClipboardAt;


void Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fprintf(logFile, "%lu ", GetTickCount());
    std::vfprintf(logFile, format, args);
    std::fputc('\n', logFile);
    std::fflush(logFile);
    va_end(args);
}

void AppendHex(char* out, size_t outSize, const unsigned char* bytes, size_t count) {
    size_t used = std::strlen(out);
    for (size_t i = 0; i < count && used + 3 < outSize; i++, used += 2) {
        std::snprintf(out + used, outSize - used, "%02X", bytes[i]);
    }
}

unsigned EnvNumber(const char* name) {
    char value[32];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : 0;
}

bool EnvEquals(const char* name, const char* expected) {
    char value[32];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value && std::strcmp(value, expected) == 0;
}

void TitleFromEnv(char* title, size_t size) {
    char hex[512];
    DWORD length = GetEnvironmentVariableA("TALMERINE_TITLE_HEX", hex, sizeof hex);
    if (length == 0 || length >= sizeof hex) {
        std::snprintf(title, size, "%s", DEFAULT_TITLE);
        return;
    }
    size_t n = 0;
    for (DWORD i = 0; i + 1 < length && n + 1 < size; i += 2) {
        char pair[3] = {hex[i], hex[i + 1], 0};
        title[n++] = static_cast<char>(std::strtoul(pair, nullptr, 16));
    }
    title[n] = 0;
}

// The clipboard's data in `format` as hex, `size(data)` bytes of it; "none" without it.
template <typename Size>
void AppendClipboardHex(char* line, size_t lineSize, UINT format, Size size) {
    HANDLE data = GetClipboardData(format);
    const unsigned char* bytes = data ? static_cast<const unsigned char*>(GlobalLock(data)) : nullptr;
    if (!bytes) {
        std::strncat(line, "none", lineSize - std::strlen(line) - 1);
        return;
    }
    AppendHex(line, lineSize, bytes, size(bytes));
    GlobalUnlock(data);
}

void LogPaste() {
    char line[4096] = "paste text=";
    char formats[512] = "";
    if (!OpenClipboard(mainWindow)) {
        Log("paste clipboard=unavailable");
        return;
    }
    AppendClipboardHex(line, sizeof line, CF_TEXT, [](const unsigned char* b) { return std::strlen(reinterpret_cast<const char*>(b)); });
    std::strcat(line, " unicode=");
    AppendClipboardHex(line, sizeof line, CF_UNICODETEXT,
                       [](const unsigned char* b) { return 2 * std::wcslen(reinterpret_cast<const wchar_t*>(b)); });
    std::strcat(line, " locale=");
    AppendClipboardHex(line, sizeof line, CF_LOCALE, [](const unsigned char*) { return sizeof(LCID); });
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
        size_t used = std::strlen(formats);
        std::snprintf(formats + used, sizeof formats - used, "%s%u", used ? "," : "", format);
    }
    CloseClipboard();
    Log("%s formats=%s", line, formats);
}

// A tick count `ms` from now; never 0, which stands for none.
DWORD Deadline(unsigned ms) {
    DWORD at = GetTickCount() + ms;
    return at ? at : 1;
}

// True once `deadline` (0: none) has come; otherwise shortens `wait` to it.
bool DueIn(DWORD deadline, DWORD& wait) {
    if (!deadline) {
        return false;
    }
    long left = static_cast<long>(deadline - GetTickCount());
    if (left <= 0) {
        return true;
    }
    wait = wait < static_cast<DWORD>(left) ? wait : static_cast<DWORD>(left);
    return false;
}

void HoldClipboard() {
    if (OpenClipboard(mainWindow)) {
        Log("clipboard-held");
        releaseClipboardAt = Deadline(holdClipboardMs);
    } else {
        Log("clipboard-hold-failed");
    }
}

const char* WindowState() {
    return IsIconic(mainWindow) ? "minimised" : IsZoomed(mainWindow) ? "maximised" : "normal";
}

const char* KeyMessageName(UINT message) {
    switch (message) {
        case WM_KEYDOWN: return "WM_KEYDOWN";
        case WM_KEYUP: return "WM_KEYUP";
        case WM_SYSKEYDOWN: return "WM_SYSKEYDOWN";
        case WM_SYSKEYUP: return "WM_SYSKEYUP";
    }
    return nullptr;
}

// Sees every key message of the thread before the edit box does. Returns true when the
// message is consumed here.
bool OnKeyMessage(const MSG& msg) {
    const char* name = KeyMessageName(msg.message);
    if (!name) {
        return false;
    }
    if (!sawKey) {
        sawKey = true;
        Log("first-key foreground=%d state=%s", GetForegroundWindow() == mainWindow ? 1 : 0, WindowState());
    }
    bool ctrl = GetKeyState(VK_CONTROL) < 0;
    const char* to = msg.hwnd && (msg.hwnd == mainWindow || GetParent(msg.hwnd) == mainWindow) ? "main"
                     : msg.hwnd && msg.hwnd == dialog                                          ? "dialog"
                                                                                              : "other";
    Log("key msg=%s vk=%02X scan=%02X ext=%d ctrl=%d shift=%d alt=%d at=%lu to=%s", name,
        static_cast<unsigned>(msg.wParam), static_cast<unsigned>((msg.lParam >> 16) & 0xFF),
        static_cast<int>((msg.lParam >> 24) & 1), ctrl ? 1 : 0, GetKeyState(VK_SHIFT) < 0 ? 1 : 0,
        GetKeyState(VK_MENU) < 0 ? 1 : 0, static_cast<unsigned long>(msg.time), to);
    if (msg.message != WM_KEYDOWN || msg.hwnd == dialog) {
        return false;
    }
    if (msg.wParam == 'V' && ctrl) {
        LogPaste();  // then the edit box pastes as usual
    } else if (msg.wParam == VK_OEM_2 && ctrl) {
        SendMessageA(editBox, EM_SETSEL, 0, -1);  // Ctrl+/ selects the whole text
        return true;
    } else if (msg.wParam == VK_F5) {
        Log("action");
        // As Notepad does with F5: the time and date at the caret, so that it shows.
        SYSTEMTIME now;
        GetLocalTime(&now);
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, " %02u:%02u %04u/%02u/%02u", now.wHour, now.wMinute, now.wYear, now.wMonth,
                      now.wDay);
        SendMessageA(editBox, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(stamp));
        return true;
    }
    return false;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NULL:
            Log("null");
            if (holdOnNull && holdClipboardMs && !sawNull) {
                HoldClipboard();
            }
            if (hangAfterNullMs && !sawNull) {
                // The answer goes back first; nothing the asker sends next can come
                // before the hang.
                sawNull = true;
                ReplyMessage(0);
                Log("hang ms=%u", hangAfterNullMs);
                Sleep(hangAfterNullMs);
                Log("awake");
            }
            sawNull = true;
            return 0;
        case CLOSE_DIALOG:
            if (dialog) {
                // As EndDialog does: the owner is enabled before the dialog goes, and the
                // thread is busy destroying it meanwhile (about 2 s under Wine with no
                // window manager).
                EnableWindow(mainWindow, TRUE);
                Log("dialog-closed");
                DestroyWindow(dialog);
                dialog = nullptr;
                Log("dialog-destroyed");
            }
            return 0;
        case WM_SIZE: {
            if (wParam == SIZE_RESTORED && window == mainWindow && IsWindowVisible(window)) {
                Log("restored");  // brought back to its normal state by another program
                if (destroyOnRestore) {
                    Log("destroying");
                    DestroyWindow(window);
                    Log("destroyed");
                    return 0;
                }
            }
            if (window == mainWindow) {
                MoveWindow(editBox, 8, 8, LOWORD(lParam) - 16, HIWORD(lParam) - 16, TRUE);
            }
            return 0;
        }
        case WM_SETFOCUS:
            if (window == mainWindow) {
                SetFocus(editBox);
                return 0;
            }
            break;
        case WM_CLIPBOARDUPDATE:
            Log("clipboard-changed at=%ld", GetMessageTime());
            return 0;
        case WM_DESTROY:
            if (window == mainWindow && !keepRunning) {
                PostQuitMessage(0);
            }
            return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void CreateMainWindow(HINSTANCE instance, int show) {
    char title[256];
    TitleFromEnv(title, sizeof title);
    int left = EnvNumber("TALMERINE_LEFT"), top = EnvNumber("TALMERINE_TOP");
    mainWindow = CreateWindowA("TalmerineStandIn", title, WS_OVERLAPPEDWINDOW, left ? left : 40, top ? top : 40, 720, 240,
                               nullptr, nullptr, instance, nullptr);
    editBox = CreateWindowA("EDIT", FILLER_TEXT, WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_AUTOVSCROLL,
                            8, 8, 100, 100, mainWindow, nullptr, instance, nullptr);
    HFONT font = CreateFontA(28, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, 0, 0, 0, 0,
                             "IPAGothic");
    SendMessageA(editBox, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    AddClipboardFormatListener(mainWindow);
    ShowWindow(mainWindow, show);
    UpdateWindow(mainWindow);
}

// As a splash that stays open behind the main window: the first window is still a window
// with the title, so only a new lookup finds the new one.
void ReplaceMainWindow(HINSTANCE instance) {
    CreateMainWindow(instance, SW_SHOWNORMAL);
    Log("replaced hwnd=%lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(mainWindow)));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    char logPath[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("TALMERINE_LOG", logPath, sizeof logPath);
    if (length == 0 || length >= sizeof logPath) {
        std::snprintf(logPath, sizeof logPath, "talmerine.log");
    }
    logFile = std::fopen(logPath, "a");
    if (!logFile) {
        return 3;
    }

    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    char cwdHex[2 * MAX_PATH + 1] = "";
    AppendHex(cwdHex, sizeof cwdHex, reinterpret_cast<unsigned char*>(cwd), std::strlen(cwd));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int shown = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
    Log("start cwd=%s show=%d", cwdHex, shown);

    if (unsigned delay = EnvNumber("TALMERINE_DELAY_MS")) {
        Sleep(delay);
    }

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "TalmerineStandIn";
    RegisterClassA(&windowClass);

    int show = EnvEquals("TALMERINE_SHOW", "min")   ? SW_SHOWMINIMIZED
               : EnvEquals("TALMERINE_SHOW", "max") ? SW_SHOWMAXIMIZED
                                                    : showCommand;
    CreateMainWindow(instance, show);
    Log("window hwnd=%lX state=%s", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(mainWindow)),
        WindowState());
    hangAfterNullMs = EnvNumber("TALMERINE_HANG_AFTER_NULL_MS");
    destroyOnRestore = EnvEquals("TALMERINE_DESTROY_ON_RESTORE", "1");
    if (destroyOnRestore) {
        keepRunning = true;
        HWND other = CreateWindowA("TalmerineStandIn", "TALMERINE (other)", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500,
                                   400, 300, 200, nullptr, nullptr, instance, nullptr);
        Log("other-window hwnd=%lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(other)));
    }
    if (EnvEquals("TALMERINE_DIALOG", "1")) {
        dialog = CreateWindowA("TalmerineStandIn", "\x8A\x6D\x94\x46", WS_POPUP | WS_CAPTION | WS_VISIBLE, 200, 120,
                               320, 160, mainWindow, nullptr, instance, nullptr);  // "確認", owned by the main window
        EnableWindow(mainWindow, FALSE);
        SetForegroundWindow(dialog);
        Log("dialog-open");
    }
    unsigned replaceAfterMs = EnvNumber("TALMERINE_REPLACE_AFTER_MS");
    DWORD replaceAt = replaceAfterMs ? Deadline(replaceAfterMs) : 0;

    holdClipboardMs = EnvNumber("TALMERINE_HOLD_CLIPBOARD_MS");
    holdOnNull = EnvEquals("TALMERINE_HOLD_ON_NULL", "1");
    if (holdClipboardMs && !holdOnNull) {
        HoldClipboard();
    }

    if (unsigned hang = EnvNumber("TALMERINE_HANG_MS")) {
        Log("hang ms=%u", hang);
        Sleep(hang);
        Log("awake");
    }

    // Every message is handled as GetMessage would hand it out; "idle" once the queue
    // is empty again, so that the tests know everything sent before it was seen.
    bool handledSinceIdle = true;
    for (;;) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (handledSinceIdle) {
                Log("idle");
                handledSinceIdle = false;
            }
            // What is due at a time of its own, handled here rather than by timers.
            DWORD wait = INFINITE;
            if (DueIn(releaseClipboardAt, wait)) {
                releaseClipboardAt = 0;
                CloseClipboard();
                Log("clipboard-released");
                continue;
            }
            if (DueIn(replaceAt, wait)) {
                replaceAt = 0;
                ReplaceMainWindow(instance);
                continue;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
            continue;
        }
        if (msg.message == WM_QUIT) {
            break;
        }
        handledSinceIdle = true;
        if (OnKeyMessage(msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    std::fclose(logFile);
    return 0;
}
