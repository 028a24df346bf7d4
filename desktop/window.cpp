// TALMERINE's main window and its launch, through the ANSI functions so that the code
// page 932 title and paths reach the platform unchanged.
#include <windows.h>
#include <shellapi.h>

#include "driver/automation.h"

static_assert(SHOW_NORMAL == SW_SHOWNORMAL, "show state");

namespace desktop {

WindowHandle FindTargetWindow(CodePage932Text title, WindowHandle after) {
    // No class name: any top-level window with that whole title, letter case aside.
    return ::FindWindowExA(nullptr, static_cast<HWND>(after), nullptr, title);
}

bool IsOwnConsole(WindowHandle window) {
    HWND console = ::GetConsoleWindow();
    // Under Windows Terminal the console window is a hidden pseudo-window owned by the
    // Terminal's, which carries the title.
    return console && (window == console || window == ::GetAncestor(console, GA_ROOTOWNER));
}

bool IsWindow(WindowHandle window) {
    return ::IsWindow(static_cast<HWND>(window));
}

bool IsWindowEnabled(WindowHandle window) {
    return ::IsWindowEnabled(static_cast<HWND>(window));
}

bool AnswersWithin(WindowHandle window, unsigned timeoutMs) {
    DWORD_PTR ignored;
    // WM_NULL does nothing but come back once the thread reads its messages. With
    // SMTO_ABORTIFHUNG the call returns at once for a thread that Windows (and Wine)
    // already counts as hung, 5 s without reading its messages. A timeout of 0 means no
    // limit to Wine (and to code analysis, C28604, on Windows): a caller held up past its
    // deadline (a selection started in its console, a loaded machine) asks for 0.
    UINT limit = timeoutMs ? timeoutMs : 1;
    return ::SendMessageTimeoutA(static_cast<HWND>(window), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, limit, &ignored) != 0;
}

void LaunchTarget(CodePage932Text exePath, CodePage932Text workDir) {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    // Without SEE_MASK_FLAG_NO_UI the shell shows its own error dialog to the user.
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = "open";
    info.lpFile = exePath;
    info.lpParameters = nullptr;
    info.lpDirectory = workDir;
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExA(&info)) {
        WriteMessage(MSG_LAUNCH_FAILED);
        return;
    }
    // The application is left to run on its own; its handle is not needed.
    if (info.hProcess) {
        ::CloseHandle(info.hProcess);
    }
}

int ShowWindow(WindowHandle window, int showState) {
    // ShowWindow on another thread's window sends it a message and waits for it without
    // limit, so a window that stops answering right after it was asked would hold the
    // program for good. The async form queues the request in the window's thread.
    return ::ShowWindowAsync(static_cast<HWND>(window), showState);
}

int SetForegroundWindow(WindowHandle window) {
    return ::SetForegroundWindow(static_cast<HWND>(window));
}

WindowHandle GetForegroundWindow() {
    return ::GetForegroundWindow();
}

}  // namespace desktop
