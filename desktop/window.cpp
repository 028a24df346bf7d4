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
    return ::ShowWindow(static_cast<HWND>(window), showState);
}

int SetForegroundWindow(WindowHandle window) {
    return ::SetForegroundWindow(static_cast<HWND>(window));
}

WindowHandle GetForegroundWindow() {
    return ::GetForegroundWindow();
}

}  // namespace desktop
