#include "driver/automation.h"

namespace {

// The user double-clicked the program: keep its console open until a key is pressed,
// so that the message can be read.
int FailAfterMessage(CodePage932Text message, int exitStatus) {
    desktop::WriteMessage(message);
    desktop::ReadOneCharacter();
    return exitStatus;
}

WindowHandle LaunchAndWaitForWindow() {
    desktop::WriteMessage(MSG_LAUNCHING);
    desktop::LaunchTarget(TARGET_EXE_PATH, TARGET_WORK_DIR);
    for (int attempt = 0; attempt < POLL_LIMIT; attempt++) {
        desktop::WriteMessage(MSG_PROGRESS_DOT);
        desktop::Sleep(POLL_INTERVAL_MS);
        WindowHandle window = desktop::FindTargetWindow(TARGET_WINDOW_TITLE);
        if (window) {
            return window;
        }
    }
    return nullptr;
}

// A window whose thread does not read its messages (busy loading, or frozen) would hold
// the program inside any call that waits for it: it is asked first, and given a bounded
// time to answer, a dot a second, before anything is done to it.
bool WaitUntilAnswering(WindowHandle window) {
    if (desktop::AnswersWithin(window, RESPONSE_CHECK_MS)) {
        return true;
    }
    desktop::WriteMessage(MSG_WAITING_FOR_ANSWER);
    bool answered = false;
    for (unsigned waited = 0; !answered && waited < RESPONSE_WAIT_MS; waited += RESPONSE_CHECK_MS) {
        desktop::WriteMessage(MSG_PROGRESS_DOT);
        answered = desktop::AnswersWithin(window, RESPONSE_CHECK_MS);
    }
    desktop::WriteMessage(MSG_LINE_END);
    return answered;
}

// Keys go to whichever window has the focus, so none is sent unless TALMERINE is in
// front: the foreground request can be refused, and the window can close or lose the
// front to another program during the pauses.
bool IsInFront(WindowHandle window) {
    return desktop::GetForegroundWindow() == window;
}

// A held modifier would turn Delete into Shift+Delete (Cut) or the keys into menu
// accelerators. The series waits a little for the user to let go.
bool ModifiersReleased() {
    for (unsigned waited = 0; desktop::IsModifierKeyHeld(); waited += MODIFIER_POLL_MS) {
        if (waited >= MODIFIER_RELEASE_WAIT_MS) {
            return false;
        }
        desktop::Sleep(MODIFIER_POLL_MS);
    }
    return true;
}

// Checked right before keys go out, in this order: the wait for a held modifier comes
// first, so the foreground check stays right before the first key.
CodePage932Text WhyKeysCannotGo(WindowHandle window) {
    if (!ModifiersReleased()) {
        return MSG_KEYS_HELD;
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
    WindowHandle window = desktop::FindTargetWindow(TARGET_WINDOW_TITLE);
    if (!window) {
        window = LaunchAndWaitForWindow();
        if (!window) {
            return {MSG_NOT_FOUND, EXIT_WINDOW_NOT_FOUND};
        }
        desktop::WriteMessage(MSG_LINE_END);
        desktop::Sleep(SETTLE_AFTER_LAUNCH_MS);
    }

    if (!WaitUntilAnswering(window)) {
        return {MSG_NOT_ANSWERING, EXIT_NOT_DELIVERED};
    }
    desktop::ShowWindow(window, SHOW_NORMAL);
    desktop::SetForegroundWindow(window);

    // A paste of whatever the clipboard held before would put the wrong text in.
    if (desktop::SetClipboardText(PASTE_TEXT, PASTE_TEXT_LOCALE) != 0) {
        return {MSG_CLIPBOARD_FAILED, EXIT_NOT_DELIVERED};
    }
    desktop::Sleep(SETTLE_AFTER_CLIPBOARD_MS);

    if (CodePage932Text why = WhyKeysCannotGo(window)) {
        return {why, EXIT_NOT_DELIVERED};
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

    // Two copies started together would both launch TALMERINE and interleave their
    // keys: one runs its whole series at a time, the other then finds the window.
    if (!desktop::TakeRunLock(RUN_LOCK_NAME, RUN_LOCK_WAIT_MS)) {
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
