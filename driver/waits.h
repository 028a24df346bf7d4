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

// A condition checked every `pollMs` until the clock passes `deadlineMs`; the last check
// falls on the deadline.
template <typename Done>
bool PollUntilTime(std::uint64_t deadlineMs, unsigned pollMs, Done done) {
    while (!done()) {
        unsigned left = MsUntil(deadlineMs);
        if (left == 0) {
            return false;
        }
        desktop::Sleep(left < pollMs ? left : pollMs);
    }
    return true;
}

// The same, for `limitMs` from now.
template <typename Done>
bool PollUntil(unsigned limitMs, unsigned pollMs, Done done) {
    return PollUntilTime(desktop::NowMs() + limitMs, pollMs, done);
}

// Runs `wait` and takes the time it took from `budgetMs` (down to 0): a wait that is
// needed again and again draws on one budget, so a condition that comes and goes cannot
// stretch the run.
template <typename Wait>
bool Spending(std::uint64_t& budgetMs, Wait wait) {
    std::uint64_t start = desktop::NowMs();
    bool done = wait();
    std::uint64_t spent = desktop::NowMs() - start;
    budgetMs = spent < budgetMs ? budgetMs - spent : 0;
    return done;
}

// An announced wait over what is left of `budgetMs`: at most `seconds` dots, fewer when
// less is left; false at once when nothing is.
template <typename Ready>
bool WaitTellingTheUserWithin(CodePage932Text message, unsigned seconds, std::uint64_t& budgetMs, Ready ready) {
    std::uint64_t secondsLeft = (budgetMs + POLL_INTERVAL_MS - 1) / POLL_INTERVAL_MS;
    if (secondsLeft == 0) {
        return false;
    }
    unsigned dots = secondsLeft < seconds ? static_cast<unsigned>(secondsLeft) : seconds;
    return Spending(budgetMs, [&] { return WaitTellingTheUser(message, dots, ready); });
}
