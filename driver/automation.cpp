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

// TALMERINE's window as this run knows it, and what is left of each wait it gets.
struct Talmerine {
    WindowHandle window;
    WindowHandle shown = nullptr;             // restored and asked forward by this run
    WindowHandle integrityChecked = nullptr;
    bool replaced = false;
    std::uint64_t answerMs = RESPONSE_CHECK_MS + RESPONSE_WAIT_SECONDS * std::uint64_t{1000};
    std::uint64_t dialogMs = DIALOG_WAIT_SECONDS * std::uint64_t{1000};
    std::uint64_t frontMs = FOREGROUND_WAIT_MS + FRONT_WAIT_SECONDS * std::uint64_t{1000};
};

// An application can replace its main window (a splash that becomes it, a framework
// that recreates its handle): a handle that is no longer a window is looked up again by
// the title. The new window may be busy making itself: it gets a time of its own to
// answer, once, so that the run stays bounded.
bool StillThere(Talmerine& talmerine) {
    if (desktop::IsWindow(talmerine.window)) {
        return true;
    }
    WindowHandle replacement = FindTalmerine();
    if (!replacement) {
        return false;
    }
    talmerine.window = replacement;
    if (!talmerine.replaced) {
        talmerine.replaced = true;
        talmerine.answerMs = Talmerine{}.answerMs;
    }
    return true;
}

// A window whose thread does not read its messages (busy loading, or frozen) would hold
// the program inside any call that waits for it, and loses the keys queued for it. It is
// told to the user and asked once a second; a window that closes meanwhile ends the wait
// and is looked up again.
bool WaitForAnswer(Talmerine& talmerine) {
    WindowHandle window = talmerine.window;
    return WaitTellingTheUserWithin(MSG_WAITING_FOR_ANSWER, RESPONSE_WAIT_SECONDS, talmerine.answerMs,
                                    [&](std::uint64_t endOfSecond) {
                                        return desktop::AnswersWithin(window, MsUntil(endOfSecond)) ||
                                               !desktop::IsWindow(window);
                                    });
}

// A modal dialog of TALMERINE's own disables its window and stays in front of it: keys
// would reach the dialog, or a window that waits for it. The user can answer it.
bool WaitForDialogToClose(Talmerine& talmerine) {
    WindowHandle window = talmerine.window;
    return WaitTellingTheUserWithin(MSG_WAITING_FOR_DIALOG, DIALOG_WAIT_SECONDS, talmerine.dialogMs,
                                    [&](std::uint64_t endOfSecond) {
                                        desktop::SleepUntil(endOfSecond);
                                        return desktop::IsWindowEnabled(window) || !desktop::IsWindow(window);
                                    });
}

// Keys go to whichever window has the focus, so none is sent unless TALMERINE is in
// front: the foreground request can be refused, and the window can close or lose the
// front to another program during the pauses.
bool IsInFront(WindowHandle window) {
    return desktop::GetForegroundWindow() == window;
}

// Once asked for, the front must hold for two looks in a row: activation is partly
// asynchronous, and another program that takes the foreground back at once (Windows
// grants one its own request) would otherwise pass a single look.
bool StaysInFrontBy(WindowHandle window, std::uint64_t deadlineMs) {
    bool inFrontAtLastCheck = false;
    return PollUntilTime(deadlineMs, FOREGROUND_POLL_MS, [&] {
        bool inFront = IsInFront(window);
        bool stayed = inFront && inFrontAtLastCheck;
        inFrontAtLastCheck = inFront;
        return stayed;
    });
}

// Shown in its normal state once, then asked forward. Windows refuses the foreground to
// a program while the user works in another (the foreground lock) and flashes
// TALMERINE's taskbar button instead: the user is told, and one click brings it forward.
// No tricks to force it: a user who went elsewhere decides.
bool BringForward(Talmerine& talmerine) {
    WindowHandle window = talmerine.window;
    if (talmerine.shown != window) {
        desktop::ShowWindow(window, SHOW_NORMAL);
        talmerine.shown = window;
    }
    desktop::SetForegroundWindow(window);
    if (Spending(talmerine.frontMs,
                 [&] { return StaysInFrontBy(window, desktop::NowMs() + FOREGROUND_WAIT_MS); }) ||
        !desktop::IsWindow(window)) {
        return true;  // in front, or closed meanwhile: the gate looks it up again
    }
    return WaitTellingTheUserWithin(MSG_WAITING_FOR_FRONT, FRONT_WAIT_SECONDS, talmerine.frontMs,
                                    [&](std::uint64_t endOfSecond) {
                                        if (!desktop::IsWindow(window)) {
                                            return true;
                                        }
                                        desktop::SetForegroundWindow(window);
                                        return StaysInFrontBy(window, endOfSecond);
                                    });
}

// The gate before each step that cannot be undone: nullptr once every condition holds at
// the same time, or the message of the one that could not be had. What the user or
// TALMERINE can put right is waited for, and after any wait every condition is checked
// again, since a wait for one can undo another (TALMERINE busy with what its activation
// started, a dialog closed but its window still busy). With `clipboardOurs` the
// clipboard must also still hold what this run put there.
CodePage932Text WaitUntilReady(Talmerine& talmerine, const unsigned* clipboardOurs) {
    std::uint64_t modifierDeadline = 0;
    for (;;) {
        if (!StillThere(talmerine)) {
            return MSG_NOT_FOREGROUND;
        }
        WindowHandle window = talmerine.window;
        if (!Spending(talmerine.answerMs, [&] { return desktop::AnswersWithin(window, RESPONSE_CHECK_MS); })) {
            if (desktop::IsWindow(window) && !WaitForAnswer(talmerine)) {
                return MSG_NOT_ANSWERING;
            }
            continue;
        }
        if (!desktop::IsWindowEnabled(window)) {
            if (desktop::IsWindow(window) && !WaitForDialogToClose(talmerine)) {
                return MSG_DIALOG_OPEN;
            }
            continue;
        }
        // Windows drops injected input to a window above this program (UIPI).
        if (talmerine.integrityChecked != window) {
            if (desktop::CompareIntegrity(window) != desktop::Integrity::NotAbove) {
                return MSG_TARGET_ELEVATED;
            }
            talmerine.integrityChecked = window;
        }
        if (talmerine.shown != window || !IsInFront(window)) {
            if (!BringForward(talmerine)) {
                return MSG_NOT_FOREGROUND;
            }
            continue;
        }
        // A held modifier would turn Delete into Shift+Delete (Cut) or the keys into
        // menu accelerators: the user gets a moment to let go.
        if (desktop::IsModifierKeyHeld()) {
            if (!modifierDeadline) {
                modifierDeadline = desktop::NowMs() + MODIFIER_RELEASE_WAIT_MS;
            }
            if (!PollUntilTime(modifierDeadline, MODIFIER_POLL_MS, [] { return !desktop::IsModifierKeyHeld(); })) {
                return MSG_KEYS_HELD;
            }
            continue;
        }
        // A clipboard tool or a remote desktop's sync may have written meanwhile: Ctrl+V
        // would paste its text, and even Ctrl+/ and Delete would clear TALMERINE's for
        // nothing.
        if (clipboardOurs && desktop::ClipboardSequenceNumber() != *clipboardOurs) {
            return MSG_CLIPBOARD_CHANGED;
        }
        return nullptr;
    }
}

struct Outcome {
    CodePage932Text failure;  // nullptr: every key went in
    int exitStatus;
};

Outcome NotDelivered(CodePage932Text why) {
    return {why, EXIT_NOT_DELIVERED};
}

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
            return NotDelivered(MSG_NOT_FOREGROUND);
        }
    }
    Talmerine talmerine{window};

    // The user's clipboard is replaced only once TALMERINE can take the keys.
    if (CodePage932Text why = WaitUntilReady(talmerine, nullptr)) {
        return NotDelivered(why);
    }
    // A paste of whatever the clipboard held before would put the wrong text in.
    if (desktop::SetClipboardText(PASTE_TEXT, PASTE_TEXT_LOCALE) != 0) {
        return NotDelivered(MSG_CLIPBOARD_FAILED);
    }
    unsigned clipboardOurs = desktop::ClipboardSequenceNumber();
    desktop::Sleep(SETTLE_AFTER_CLIPBOARD_MS);

    if (CodePage932Text why = WaitUntilReady(talmerine, &clipboardOurs)) {
        return NotDelivered(why);
    }
    if (!desktop::TapCtrlChord(KEY_OEM_2) || !desktop::TapKey(KEY_DELETE) ||
        !desktop::TapCtrlChord(KEY_V)) {
        return NotDelivered(MSG_KEYS_FAILED);
    }
    desktop::Sleep(PAUSE_BEFORE_ACTION_KEY_MS);

    if (CodePage932Text why = WaitUntilReady(talmerine, nullptr)) {
        return NotDelivered(why);
    }
    if (!desktop::TapKey(KEY_F5)) {
        return NotDelivered(MSG_KEYS_FAILED);
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
