// The shapes of the sequence's waits, over the desktop's clock and pauses. Apart from
// the sequence so that the Win32 tests can time them against the real platform.
#pragma once

#include <cstdint>

#include "driver/automation.h"

inline unsigned MsUntil(std::uint64_t deadlineMs) {
    std::uint64_t now = desktop::NowMs();
    return deadlineMs > now ? static_cast<unsigned>(deadlineMs - now) : 0;
}

// Every wait the user watches has this shape: a dot at the start of each second, at
// most `seconds` of them, until `ready(endOfSecond)` says yes. The seconds end at
// deadlines set from one reading of a fine clock, so the wait lasts as long as it says
// however coarse the tick count and however long each question takes.
template <typename Ready>
bool DotEachSecondUntil(unsigned seconds, Ready ready) {
    std::uint64_t start = desktop::NowMs();
    for (unsigned second = 1; second <= seconds; second++) {
        desktop::WriteMessage(MSG_PROGRESS_DOT);
        std::uint64_t endOfSecond = start + std::uint64_t{POLL_INTERVAL_MS} * second;
        if (ready(endOfSecond)) {
            return true;
        }
        desktop::SleepUntil(endOfSecond);
    }
    return false;
}

// The same, announced by `message` and ending its line of dots either way.
template <typename Ready>
bool WaitTellingTheUser(CodePage932Text message, unsigned seconds, Ready ready) {
    desktop::WriteMessage(message);
    bool readyInTime = DotEachSecondUntil(seconds, ready);
    desktop::WriteMessage(MSG_LINE_END);
    return readyInTime;
}

// A condition checked every `pollMs` until `limitMs` have passed; the last check falls
// on the limit.
template <typename Done>
bool PollUntil(unsigned limitMs, unsigned pollMs, Done done) {
    std::uint64_t deadline = desktop::NowMs() + limitMs;
    while (!done()) {
        unsigned left = MsUntil(deadline);
        if (left == 0) {
            return false;
        }
        desktop::Sleep(left < pollMs ? left : pollMs);
    }
    return true;
}
