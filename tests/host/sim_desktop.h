// A simulated desktop for the host tests: realises driver/desktop.h with a virtual
// clock and a script of what the desktop does, and records every call.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "driver/desktop.h"

inline constexpr unsigned LOCK_NEVER_FREE = ~0u;
inline constexpr unsigned NEVER = ~0u;

struct SimScript {
    // Which lookup from the top of the windows (1 is the lookup at start) first finds the
    // window; 0: never. Once found it stays found.
    int windowFoundAtLookup = 1;
    // From this time the window found is no longer a window; when `windowReplaced`, a
    // new window with the same title has taken its place in front.
    unsigned windowGoneAtMs = NEVER;
    bool windowReplaced = false;
    // With `windowReplaced`: the first window stays open behind the new one (a splash
    // that stays), still a window with the title.
    bool windowStays = false;
    // The program's own console carries the title, in front of TALMERINE's window.
    bool consoleTitled = false;
    bool launchRefused = false;
    // SetForegroundWindow is refused: another window stays in front.
    bool foregroundRefused = false;
    // The window comes in front this long after the request.
    unsigned foregroundAfterMs = 0;
    // From this time another window is in front.
    unsigned frontLostAtMs = NEVER;
    // The user clicks TALMERINE's taskbar button at this time: from then on it is in front.
    unsigned frontGivenAtMs = NEVER;
    // A modal dialog of the window's own is open (the window disabled) until this time,
    // and again from the other.
    unsigned dialogOpenUntilMs = 0;
    unsigned dialogOpenAgainFromMs = NEVER;
    desktop::Integrity integrity = desktop::Integrity::NotAbove;
    // What SetClipboardText answers.
    int clipboardResult = 0;
    // How long SetClipboardText takes (it retries a clipboard that another program holds).
    unsigned clipboardTakesMs = 0;
    // Another program writes the clipboard at this time.
    unsigned clipboardRewrittenAtMs = NEVER;
    // Which key event (1-based, counting every press and release offered) the system
    // refuses; 0: none. From `keyEventsRefusedFrom` on it refuses every one (a secure
    // desktop, an elevated window in front).
    int keyEventRefused = 0;
    int keyEventsRefusedFrom = 0;
    // What standard input holds; empty: at its end.
    std::string input;
    // A modifier key is held while from <= clock < until, for each [from, until) here.
    std::vector<std::pair<unsigned, unsigned>> modifierHeldMs;
    // Another run holds the lock until this time (0: free; LOCK_NEVER_FREE: past any
    // wait); abandoned: that run dies instead of releasing.
    unsigned lockHeldByOtherMs = 0;
    bool lockAbandoned = false;
    // The window's thread answers messages from this time on (NEVER: not at all), until
    // the other time, and again from the third.
    unsigned windowAnswersFromMs = 0;
    unsigned windowAnswersUntilMs = NEVER;
    unsigned windowAnswersAgainFromMs = NEVER;
    unsigned ansiCodePage = 932;
};

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

// Starts a fresh simulated desktop. The window handle it hands out is SimWindow(); the
// one that replaces it, SimReplacement().
void SimReset(const SimScript& script);
const SimRecord& Sim();
WindowHandle SimWindow();
WindowHandle SimReplacement();
