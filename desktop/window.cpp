// TALMERINE's main window and its launch, through the ANSI functions so that the code
// page 932 title and paths reach the platform unchanged.
#include <windows.h>
#include <shellapi.h>

#include "driver/automation.h"

static_assert(SHOW_NORMAL == SW_SHOWNORMAL, "show state");

namespace desktop {

WindowHandle FindTargetWindow(CodePage932Text title) {
    // No class name: any top-level window with that whole title, letter case aside.
    return ::FindWindowA(nullptr, title);
}

bool AnswersWithin(WindowHandle window, unsigned timeoutMs) {
    HWND hwnd = static_cast<HWND>(window);
    DWORD start = ::GetTickCount();
    DWORD_PTR ignored;
    // WM_NULL does nothing but come back once the thread reads its messages. With
    // SMTO_ABORTIFHUNG the call returns at once for a thread that Windows (and Wine)
    // already counts as hung, 5 s without reading its messages.
    if (::SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &ignored)) {
        return true;
    }
    if (!::IsWindow(hwnd)) {
        return true;  // closed meanwhile: the foreground check before the keys reports it
    }
    // Paced here, so that a hung thread still gets the whole time asked for.
    DWORD waited = ::GetTickCount() - start;
    if (waited < timeoutMs) {
        ::Sleep(timeoutMs - waited);
    }
    return false;
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
