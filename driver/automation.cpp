#include "driver/automation.h"
#include "driver/waits.h"

namespace {

// The user double-clicked the program: keep its console open until a key is pressed,
// so that the message can be read.
int FailAfterMessage(CodePage932Text message, int exitStatus) {
    desktop::WriteMessage(message);
    desktop::ReadOneCharacter();
    return exitStatus;
}

// TALMERINE's window: the first with its title that is not this program's own console
// (started from a shortcut named like it, or retitled with `title`), nor the window
// that owns that console.
WindowHandle FindTalmerine() {
    WindowHandle window = nullptr;
    for (int looked = 0; looked < 3; looked++) {
        window = desktop::FindTargetWindow(TARGET_WINDOW_TITLE, window);
        if (!window || !desktop::IsOwnConsole(window)) {
            return window;
        }
    }
    return nullptr;
}

WindowHandle LaunchAndWaitForWindow() {
    desktop::WriteMessage(MSG_LAUNCHING);
    desktop::LaunchTarget(TARGET_EXE_PATH, TARGET_WORK_DIR);
    WindowHandle window = nullptr;
    DotEachSecondUntil(POLL_LIMIT, [&](std::uint64_t endOfSecond) {
        desktop::SleepUntil(endOfSecond);
        window = FindTalmerine();
        return window != nullptr;
    });
    return window;
}

// An application can replace its main window (a splash that becomes it, a framework
// that recreates its handle): a handle that is no longer a window is looked up again
// by the title before anything is done to it.
bool StillThere(WindowHandle& window) {
    if (!desktop::IsWindow(window)) {
        window = FindTalmerine();
    }
    return window != nullptr;
}

// A window whose thread does not read its messages (busy loading, or frozen) would hold
// the program inside any call that waits for it: it is asked first, and given a bounded
// time to answer, a dot a second, before anything is done to it. A window that closes
// meanwhile ends the wait; the caller looks for it again.
bool WaitUntilAnswering(WindowHandle window) {
    if (desktop::AnswersWithin(window, RESPONSE_CHECK_MS)) {
        return true;
    }
    return WaitTellingTheUser(MSG_WAITING_FOR_ANSWER, RESPONSE_WAIT_SECONDS, [&](std::uint64_t endOfSecond) {
        return desktop::AnswersWithin(window, MsUntil(endOfSecond)) || !desktop::IsWindow(window);
    });
}

// A modal dialog of TALMERINE's own disables its window and stays in front of it: keys
// would reach the dialog, or a window that waits for it. The user can answer it.
bool WaitUntilNoDialog(WindowHandle window) {
    auto noDialog = [&] { return desktop::IsWindowEnabled(window) || !desktop::IsWindow(window); };
    if (noDialog()) {
        return true;
    }
    return WaitTellingTheUser(MSG_WAITING_FOR_DIALOG, DIALOG_WAIT_SECONDS, [&](std::uint64_t endOfSecond) {
        desktop::SleepUntil(endOfSecond);
        return noDialog();
    });
}

// Keys go to whichever window has the focus, so none is sent unless TALMERINE is in
// front: the foreground request can be refused, and the window can close or lose the
// front to another program during the pauses.
bool IsInFront(WindowHandle window) {
    return desktop::GetForegroundWindow() == window;
}

// The user's clipboard is only replaced once TALMERINE is in front, and stays there:
// activation is partly asynchronous and can be refused, and another program that takes
// the foreground back at once (Windows grants one its own request) would otherwise
// pass a single look.
bool StaysInFront(WindowHandle window) {
    bool inFrontAtLastCheck = false;
    return PollUntil(FOREGROUND_WAIT_MS, FOREGROUND_POLL_MS, [&] {
        bool inFront = IsInFront(window);
        bool stayed = inFront && inFrontAtLastCheck;
        inFrontAtLastCheck = inFront;
        return stayed;
    });
}

// A held modifier would turn Delete into Shift+Delete (Cut) or the keys into menu
// accelerators. The series waits a little for the user to let go.
bool ModifiersReleased() {
    return PollUntil(MODIFIER_RELEASE_WAIT_MS, MODIFIER_POLL_MS, [] { return !desktop::IsModifierKeyHeld(); });
}

// Checked right before each burst of keys, in this order: the wait for a held modifier
// comes first, so the checks of the window stay right before the keys. Keys queued for
// a window whose thread is not reading its messages (it is closing, or busy with what
// its activation started) are lost with it, while SendInput counts them as sent.
CodePage932Text WhyKeysCannotGo(WindowHandle window) {
    if (!ModifiersReleased()) {
        return MSG_KEYS_HELD;
    }
    if (!desktop::IsWindow(window)) {
        return MSG_NOT_FOREGROUND;
    }
    if (!desktop::IsWindowEnabled(window)) {
        return MSG_DIALOG_OPEN;
    }
    if (!desktop::AnswersWithin(window, ANSWER_BEFORE_KEYS_MS)) {
        return desktop::IsWindow(window) ? MSG_NOT_ANSWERING : MSG_NOT_FOREGROUND;
    }
    if (!IsInFront(window)) {
        return MSG_NOT_FOREGROUND;
    }
    return nullptr;
}

struct Outcome {
    CodePage932Text failure;  // nullptr: every key went in
    int exitStatus;
};

// From the first lookup to the last key event or the decision to send none; the final
// message is written by the caller, once the desktop is free for another run.
Outcome RunSeries() {
    WindowHandle window = FindTalmerine();
    if (!window) {
        window = LaunchAndWaitForWindow();
        if (!window) {
            return {MSG_NOT_FOUND, EXIT_WINDOW_NOT_FOUND};
        }
        desktop::WriteMessage(MSG_LINE_END);
        desktop::Sleep(SETTLE_AFTER_LAUNCH_MS);
        // The window found may have been a splash, or recreated meanwhile.
        window = FindTalmerine();
        if (!window) {
            return {MSG_NOT_FOREGROUND, EXIT_NOT_DELIVERED};
        }
    }

    // Nothing is done to the window (no show, no clipboard, no key) until it answers,
    // has no dialog open and runs no higher than this program.
    if (!StillThere(window)) {
        return {MSG_NOT_FOREGROUND, EXIT_NOT_DELIVERED};
    }
    if (!WaitUntilAnswering(window)) {
        return {MSG_NOT_ANSWERING, EXIT_NOT_DELIVERED};
    }
    if (!StillThere(window)) {
        return {MSG_NOT_FOREGROUND, EXIT_NOT_DELIVERED};
    }
    if (!WaitUntilNoDialog(window)) {
        return {MSG_DIALOG_OPEN, EXIT_NOT_DELIVERED};
    }
    if (!StillThere(window)) {
        return {MSG_NOT_FOREGROUND, EXIT_NOT_DELIVERED};
    }
    if (desktop::CompareIntegrity(window) != desktop::Integrity::NotAbove) {
        return {MSG_TARGET_ELEVATED, EXIT_NOT_DELIVERED};
    }

    desktop::ShowWindow(window, SHOW_NORMAL);
    desktop::SetForegroundWindow(window);
    if (!StaysInFront(window)) {
        return {MSG_NOT_FOREGROUND, EXIT_NOT_DELIVERED};
    }

    // A paste of whatever the clipboard held before would put the wrong text in.
    if (desktop::SetClipboardText(PASTE_TEXT, PASTE_TEXT_LOCALE) != 0) {
        return {MSG_CLIPBOARD_FAILED, EXIT_NOT_DELIVERED};
    }
    unsigned clipboardOurs = desktop::ClipboardSequenceNumber();
    desktop::Sleep(SETTLE_AFTER_CLIPBOARD_MS);

    if (CodePage932Text why = WhyKeysCannotGo(window)) {
        return {why, EXIT_NOT_DELIVERED};
    }
    // A clipboard tool or a remote desktop's sync may have written meanwhile: Ctrl+V
    // would paste its text, and even Ctrl+/ and Delete would clear TALMERINE's for
    // nothing.
    if (desktop::ClipboardSequenceNumber() != clipboardOurs) {
        return {MSG_CLIPBOARD_CHANGED, EXIT_NOT_DELIVERED};
    }
    if (!desktop::TapCtrlChord(KEY_OEM_2) || !desktop::TapKey(KEY_DELETE) ||
        !desktop::TapCtrlChord(KEY_V)) {
        return {MSG_KEYS_FAILED, EXIT_NOT_DELIVERED};
    }
    desktop::Sleep(PAUSE_BEFORE_ACTION_KEY_MS);

    if (CodePage932Text why = WhyKeysCannotGo(window)) {
        return {why, EXIT_NOT_DELIVERED};
    }
    if (!desktop::TapKey(KEY_F5)) {
        return {MSG_KEYS_FAILED, EXIT_NOT_DELIVERED};
    }
    return {nullptr, EXIT_KEYS_SENT};
}

// Two copies started together would both launch TALMERINE and interleave their keys:
// one runs its whole series at a time, the other then finds the window. A wait longer
// than a moment is announced, so that the user does not take it for a hang.
bool TakeRunLock() {
    if (desktop::TakeRunLock(RUN_LOCK_NAME, RUN_LOCK_QUIET_WAIT_MS)) {
        return true;
    }
    return WaitTellingTheUser(MSG_WAITING_FOR_OTHER_RUN, RUN_LOCK_WAIT_SECONDS, [](std::uint64_t endOfSecond) {
        return desktop::TakeRunLock(RUN_LOCK_NAME, MsUntil(endOfSecond));
    });
}

// A number in decimal, as ASCII digits.
void WriteNumber(unsigned number) {
    char digits[12];
    char* first = digits + sizeof digits - 1;
    *first = '\0';
    do {
        *--first = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number);
    desktop::WriteMessage(first);
}

}  // namespace

int RunAutomation() {
    // Every title, path and text here is code page 932 bytes for the ANSI functions.
    // Under another code page the title matches no window and TALMERINE would be
    // started a second time: say so, in ASCII, and touch nothing.
    unsigned codePage = desktop::AnsiCodePage();
    if (codePage != REQUIRED_ANSI_CODE_PAGE) {
        desktop::WriteMessage(MSG_WRONG_CODE_PAGE_BEFORE);
        WriteNumber(codePage);
        return FailAfterMessage(MSG_WRONG_CODE_PAGE_AFTER, EXIT_NOT_DELIVERED);
    }

    if (!TakeRunLock()) {
        return FailAfterMessage(MSG_ALREADY_RUNNING, EXIT_NOT_DELIVERED);
    }
    Outcome outcome = RunSeries();
    desktop::ReleaseRunLock();
    if (outcome.failure) {
        return FailAfterMessage(outcome.failure, outcome.exitStatus);
    }
    desktop::WriteMessage(MSG_DONE);
    return EXIT_KEYS_SENT;
}
