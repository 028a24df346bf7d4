#include "tests/host/sim_desktop.h"

#include <cstdio>

#include "driver/automation.h"

namespace {

SimScript script;
SimRecord record;
int targetWindow;
int replacementWindow;
int consoleWindow;
int otherWindow;
// Lookups from the top of the windows so far.
int lookups;
// When the foreground was last asked for, and for which window.
unsigned foregroundAskedAtMs;
WindowHandle foregroundAskedFor;
int clipboardChanges;

void Call(const std::string& line) {
    record.calls.push_back(line);
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

bool Reached(unsigned atMs) {
    return atMs != NEVER && record.clockMs >= atMs;
}

std::string Name(WindowHandle window) {
    if (window == &targetWindow) {
        return "window";
    }
    if (window == &replacementWindow) {
        return "replacement";
    }
    if (window == &consoleWindow) {
        return "console";
    }
    return window ? "other" : "none";
}

bool Exists(WindowHandle window) {
    if (window == &targetWindow) {
        return !Reached(script.windowGoneAtMs) || script.windowStays;
    }
    if (window == &replacementWindow) {
        return script.windowReplaced && Reached(script.windowGoneAtMs);
    }
    return window == &consoleWindow || window == &otherWindow;
}

// TALMERINE's window as the desktop has it now, once a lookup has found it.
WindowHandle Talmerine() {
    bool found = script.windowFoundAtLookup != 0 && lookups >= script.windowFoundAtLookup;
    if (!found) {
        return nullptr;
    }
    if (Reached(script.windowGoneAtMs)) {
        return script.windowReplaced ? &replacementWindow : nullptr;
    }
    return &targetWindow;
}

unsigned KeyEvent(VirtualKeyCode vk, bool down) {
    record.keyEventsOffered++;
    int n = record.keyEventsOffered;
    bool refused = n == script.keyEventRefused || (script.keyEventsRefusedFrom && n >= script.keyEventsRefusedFrom);
    Call(std::string(down ? "down " : "up ") + Hex(vk) + (refused ? " refused" : ""));
    if (refused) {
        return 0;
    }
    record.keys.push_back({record.clockMs, vk, down});
    return 1;
}

}  // namespace

void SimReset(const SimScript& newScript) {
    script = newScript;
    record = SimRecord();
    lookups = 0;
    foregroundAskedAtMs = 0;
    foregroundAskedFor = nullptr;
    clipboardChanges = 0;
}

const SimRecord& Sim() {
    return record;
}

WindowHandle SimWindow() {
    return &targetWindow;
}

WindowHandle SimReplacement() {
    return &replacementWindow;
}

namespace desktop {

WindowHandle FindTargetWindow(CodePage932Text title, WindowHandle after) {
    record.findCalls++;
    if (!after) {
        lookups++;
    }
    // The windows with the title, front to back.
    std::vector<WindowHandle> titled;
    if (script.consoleTitled) {
        titled.push_back(&consoleWindow);
    }
    if (WindowHandle talmerine = Talmerine()) {
        titled.push_back(talmerine);
        if (talmerine == &replacementWindow && script.windowStays) {
            titled.push_back(&targetWindow);
        }
    }
    WindowHandle found = nullptr;
    for (size_t i = 0; i < titled.size() && !found; i++) {
        if (!after) {
            found = titled[i];
        } else if (titled[i] == after && i + 1 < titled.size()) {
            found = titled[i + 1];
        } else if (titled[i] == after) {
            break;
        }
    }
    Call(std::string("find ") + title + (after ? " after " + Name(after) : "") + " -> " + Name(found));
    return found;
}

bool IsOwnConsole(WindowHandle window) {
    bool own = window == &consoleWindow;
    Call("own console? " + Name(window) + (own ? " yes" : " no"));
    return own;
}

bool IsWindow(WindowHandle window) {
    bool exists = Exists(window);
    Call("is window? " + Name(window) + (exists ? " yes" : " no"));
    return exists;
}

bool IsWindowEnabled(WindowHandle window) {
    bool enabled = Exists(window) && record.clockMs >= script.dialogOpenUntilMs && !Reached(script.dialogOpenAgainFromMs);
    Call("enabled? " + Name(window) + (enabled ? " yes" : " no"));
    return enabled;
}

bool AnswersWithin(WindowHandle window, unsigned timeoutMs) {
    record.answerChecks++;
    // When the thread next reads its messages, from now on.
    unsigned now = record.clockMs;
    unsigned from = script.windowAnswersFromMs;
    if (script.windowAnswersUntilMs != NEVER && now >= script.windowAnswersUntilMs) {
        from = script.windowAnswersAgainFromMs;
    }
    bool answers = false;
    if (!Exists(window)) {
        // SendMessageTimeout fails at once for a window that is gone.
    } else if (from != NEVER && (from <= now || from - now <= timeoutMs)) {
        answers = true;
        if (from > now) {
            record.clockMs = from;
        }
    } else {
        record.clockMs += timeoutMs;
    }
    Call(std::string("answers within ") + std::to_string(timeoutMs) + "? " + Name(window) + (answers ? " yes" : " no"));
    return answers;
}

Integrity CompareIntegrity(WindowHandle window) {
    const char* names[] = {"not above", "above", "unknown"};
    Call("integrity of " + Name(window) + "? " + names[static_cast<int>(script.integrity)]);
    return script.integrity;
}

void LaunchTarget(CodePage932Text exePath, CodePage932Text workDir) {
    Call(std::string("launch ") + exePath + " in " + workDir);
    if (script.launchRefused) {
        WriteMessage(MSG_LAUNCH_FAILED);
    }
}

int ShowWindow(WindowHandle window, int showState) {
    Call("show " + Name(window) + " " + std::to_string(showState));
    return 1;
}

int SetForegroundWindow(WindowHandle window) {
    Call("foreground " + Name(window));
    if (script.foregroundRefused) {
        return 0;
    }
    // Asked again while it is coming, it comes no later.
    if (foregroundAskedFor != window) {
        foregroundAskedFor = window;
        foregroundAskedAtMs = record.clockMs;
    }
    return 1;
}

WindowHandle GetForegroundWindow() {
    record.foregroundChecks++;
    WindowHandle inFront = &otherWindow;
    bool granted = foregroundAskedFor && script.foregroundAfterMs != NEVER &&
                   record.clockMs >= foregroundAskedAtMs + script.foregroundAfterMs;
    if (granted && Exists(foregroundAskedFor) && !Reached(script.frontLostAtMs)) {
        inFront = foregroundAskedFor;
    }
    if (Reached(script.frontGivenAtMs) && Talmerine()) {
        inFront = Talmerine();
    }
    Call("in front? " + Name(inFront));
    return inFront;
}

int SetClipboardText(CodePage932Text text, unsigned locale) {
    Call(std::string("clipboard ") + text + " locale " + Hex(locale));
    record.clockMs += script.clipboardTakesMs;
    if (script.clipboardResult == 0) {
        clipboardChanges++;
        record.clipboard = text;
        record.clipboardLocale = locale;
        record.clipboardAtMs.push_back(record.clockMs);
    }
    return script.clipboardResult;
}

unsigned ClipboardSequenceNumber() {
    unsigned number = 100 + clipboardChanges + (Reached(script.clipboardRewrittenAtMs) ? 1 : 0);
    Call("clipboard number? " + std::to_string(number));
    return number;
}

unsigned SendKeyDown(VirtualKeyCode vk) {
    return KeyEvent(vk, true);
}

unsigned SendKeyUp(VirtualKeyCode vk) {
    return KeyEvent(vk, false);
}

bool IsModifierKeyHeld() {
    record.modifierChecks++;
    unsigned now = record.clockMs;
    bool held = false;
    for (const auto& [from, until] : script.modifierHeldMs) {
        held = held || (from <= now && now < until);
    }
    Call(held ? "modifier held? yes" : "modifier held? no");
    return held;
}

bool TakeRunLock(CodePage932Text name, unsigned waitMs) {
    unsigned busy = script.lockHeldByOtherMs;
    unsigned now = record.clockMs;
    bool taken = busy <= now || (busy != LOCK_NEVER_FREE && busy - now <= waitMs);
    record.clockMs = taken ? (busy > now ? busy : now) : now + waitMs;
    Call(std::string("take lock ") + name + " " + std::to_string(waitMs) +
         (!taken ? " -> timed out" : script.lockAbandoned && busy ? " -> abandoned, taken" : " -> taken"));
    record.lockHeld = taken;
    return taken;
}

void ReleaseRunLock() {
    Call("release lock");
    record.lockHeld = false;
}

unsigned AnsiCodePage() {
    Call("code page? " + std::to_string(script.ansiCodePage));
    return script.ansiCodePage;
}

void Sleep(unsigned milliseconds) {
    Call("sleep " + std::to_string(milliseconds));
    record.clockMs += milliseconds;
}

std::uint64_t NowMs() {
    return record.clockMs;
}

void SleepUntil(std::uint64_t deadlineMs) {
    // A sleep until a time already past is none.
    if (deadlineMs > record.clockMs) {
        Call("sleep until " + std::to_string(deadlineMs));
        record.clockMs = static_cast<unsigned>(deadlineMs);
    }
}

void WriteMessage(CodePage932Text text) {
    Call(std::string("write ") + text);
    record.output += text;
}

void ReadOneCharacter() {
    record.readCalls++;
    bool atEnd = static_cast<size_t>(record.charactersRead) >= script.input.size();
    Call(atEnd ? "read -> end of input" : "read -> character");
    if (!atEnd) {
        record.charactersRead++;
    }
}

}  // namespace desktop
