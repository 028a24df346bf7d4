#include "tests/host/sim_desktop.h"

#include <cstdio>

#include "driver/automation.h"

namespace {

SimScript script;
SimRecord record;
int targetWindow;
int otherWindow;
WindowHandle inFront;

void Call(const std::string& line) {
    record.calls.push_back(line);
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

unsigned KeyEvent(VirtualKeyCode vk, bool down) {
    record.keyEventsOffered++;
    bool refused = record.keyEventsOffered == script.keyEventRefused;
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
    inFront = &otherWindow;
}

const SimRecord& Sim() {
    return record;
}

WindowHandle SimWindow() {
    return &targetWindow;
}

namespace desktop {

WindowHandle FindTargetWindow(CodePage932Text title) {
    record.findCalls++;
    bool found = script.windowFoundAtLookup != 0 && record.findCalls >= script.windowFoundAtLookup;
    Call(std::string("find ") + title + (found ? " -> window" : " -> none"));
    return found ? SimWindow() : nullptr;
}

bool AnswersWithin(WindowHandle window, unsigned timeoutMs) {
    record.answerChecks++;
    unsigned from = script.windowAnswersFromMs;
    unsigned now = record.clockMs;
    bool answers = from != NEVER && (from <= now || from - now <= timeoutMs);
    if (!answers) {
        record.clockMs += timeoutMs;
    } else if (from > now) {
        record.clockMs = from;
    }
    Call(std::string("answers within ") + std::to_string(timeoutMs) + "? " +
         (window == SimWindow() ? "window " : "other ") + (answers ? "yes" : "no"));
    return answers;
}

void LaunchTarget(CodePage932Text exePath, CodePage932Text workDir) {
    Call(std::string("launch ") + exePath + " in " + workDir);
    if (script.launchRefused) {
        WriteMessage(MSG_LAUNCH_FAILED);
    }
}

int ShowWindow(WindowHandle window, int showState) {
    Call(std::string("show ") + (window == SimWindow() ? "window " : "other ") +
         std::to_string(showState));
    return 1;
}

int SetForegroundWindow(WindowHandle window) {
    Call(std::string("foreground ") + (window == SimWindow() ? "window" : "other"));
    if (script.foregroundRefused) {
        return 0;
    }
    inFront = window;
    return 1;
}

WindowHandle GetForegroundWindow() {
    record.foregroundChecks++;
    if (record.foregroundChecks == script.foregroundLostAtCheck) {
        inFront = &otherWindow;
    }
    Call(std::string("in front? ") + (inFront == SimWindow() ? "window" : "other"));
    return inFront;
}

int SetClipboardText(CodePage932Text text, unsigned locale) {
    Call(std::string("clipboard ") + text + " locale " + Hex(locale));
    record.clockMs += script.clipboardTakesMs;
    if (script.clipboardResult == 0) {
        record.clipboard = text;
        record.clipboardLocale = locale;
        record.clipboardAtMs.push_back(record.clockMs);
    }
    return script.clipboardResult;
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
    bool held = (script.modifierHeldFromMs <= now && now < script.modifierHeldUntilMs) ||
                (script.modifierHeldAgainFromMs <= now && now < script.modifierHeldAgainUntilMs);
    Call(held ? "modifier held? yes" : "modifier held? no");
    return held;
}

bool TakeRunLock(CodePage932Text name, unsigned waitMs) {
    unsigned busy = script.lockHeldByOtherMs;
    bool taken = busy == 0 || (busy != LOCK_NEVER_FREE && busy <= waitMs);
    record.clockMs += taken ? busy : waitMs;
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
