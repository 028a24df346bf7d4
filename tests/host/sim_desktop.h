// A simulated desktop for the host tests: realises driver/desktop.h with a virtual
// clock and a script of what the desktop does, and records every call.
#pragma once

#include <string>
#include <vector>

#include "driver/desktop.h"

struct SimScript {
    // Which FindTargetWindow call first finds the window (1 is the lookup at start);
    // 0: never. Once found it stays found.
    int windowFoundAtLookup = 1;
    bool launchRefused = false;
    // SetForegroundWindow is refused: another window stays in front.
    bool foregroundRefused = false;
    // Which GetForegroundWindow call (1-based) answers with another window; 0: none.
    int foregroundLostAtCheck = 0;
    // What SetClipboardText answers.
    int clipboardResult = 0;
    // How long SetClipboardText takes (it retries a clipboard that another program holds).
    unsigned clipboardTakesMs = 0;
    // Which key event (1-based, counting every press and release offered) the
    // system refuses; 0: none.
    int keyEventRefused = 0;
    // What standard input holds; empty: at its end.
    std::string input;
    // A modifier key is held while heldFromMs <= clock < heldUntilMs.
    unsigned modifierHeldFromMs = 0;
    unsigned modifierHeldUntilMs = 0;
    // And again, from and until these times.
    unsigned modifierHeldAgainFromMs = 0;
    unsigned modifierHeldAgainUntilMs = 0;
    // Another run holds the lock for this long from the start (0: free;
    // LOCK_NEVER_FREE: past any wait); abandoned: that run dies instead of releasing.
    unsigned lockHeldByOtherMs = 0;
    bool lockAbandoned = false;
    // The window's thread answers messages from this time on (NEVER: not at all).
    unsigned windowAnswersFromMs = 0;
    unsigned ansiCodePage = 932;
};

inline constexpr unsigned LOCK_NEVER_FREE = ~0u;
inline constexpr unsigned NEVER = ~0u;

struct SimKeyEvent {
    unsigned atMs;
    VirtualKeyCode vk;
    bool down;
    bool operator==(const SimKeyEvent& o) const {
        return atMs == o.atMs && vk == o.vk && down == o.down;
    }
};

struct SimRecord {
    unsigned clockMs = 0;
    std::string output;               // every byte written, in order
    std::vector<std::string> calls;   // one line per operation, in order
    std::vector<SimKeyEvent> keys;    // the key events the system took
    std::vector<unsigned> clipboardAtMs;
    std::string clipboard;            // CF_TEXT held after the run
    unsigned clipboardLocale = 0;     // its CF_LOCALE
    int answerChecks = 0;
    int charactersRead = 0;
    int readCalls = 0;
    int findCalls = 0;
    int foregroundChecks = 0;
    int keyEventsOffered = 0;
    int modifierChecks = 0;
    bool lockHeld = false;            // by this run, now
};

// Starts a fresh simulated desktop. The window handle it hands out is SimWindow().
void SimReset(const SimScript& script);
const SimRecord& Sim();
WindowHandle SimWindow();
