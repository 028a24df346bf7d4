// The whole sequence against the simulated desktop: output bytes, exit status, the
// order of every desktop call, the key events and when they happen.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "driver/automation.h"
#include "tests/host/sim_desktop.h"

namespace {

using Calls = std::vector<std::string>;

std::string Dots(int count) {
    return std::string(count, '.');
}

const std::string TITLE = TARGET_WINDOW_TITLE;
const std::string CODE_PAGE = "code page? 932";
const std::string TAKE_LOCK = std::string("take lock ") + RUN_LOCK_NAME + " 1000 -> taken";
const std::string FOUND = "find " + TITLE + " -> window";
const std::string NOT_CONSOLE = "own console? window no";
const std::string IS_WINDOW = "is window? window yes";

// The calls of a launch followed by `attempts` polls, the last of which finds the
// window when `found`, each at the end of its second.
Calls LaunchCalls(int attempts, bool found, bool refused = false) {
    Calls calls = {CODE_PAGE, TAKE_LOCK, "find " + TITLE + " -> none", std::string("write ") + MSG_LAUNCHING,
                   std::string("launch ") + TARGET_EXE_PATH + " in " + TARGET_WORK_DIR};
    if (refused) {
        calls.push_back(std::string("write ") + MSG_LAUNCH_FAILED);
    }
    for (int attempt = 1; attempt <= attempts; attempt++) {
        calls.push_back("write .");
        calls.push_back("sleep until " + std::to_string(attempt * 1000));
        bool last = attempt == attempts;
        calls.push_back("find " + TITLE + (found && last ? " -> window" : " -> none"));
    }
    if (found) {
        calls.insert(calls.end(), {NOT_CONSOLE, "write \n", "sleep 3000", FOUND, NOT_CONSOLE});
    }
    return calls;
}

const std::string ANSWERS = "answers within 1000? window yes";
const std::string ENABLED = "enabled? window yes";
// Every condition of the gate before a step that cannot be undone, all holding.
const Calls READY = {IS_WINDOW, ANSWERS, ENABLED, "in front? window", "modifier held? no"};
// Asked, no dialog, not elevated, shown, in front at two looks 50 ms apart, every
// condition asked again, filled.
const Calls ACTIVATE = {IS_WINDOW, ANSWERS, ENABLED, "integrity of window? not above", "show window 1",
                        "foreground window", "in front? window", "sleep 50", "in front? window"};
const Calls FILL = {std::string("clipboard ") + PASTE_TEXT + " locale 0x411", "clipboard number? 101", "sleep 500"};

Calls Join(std::vector<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Calls ACTIVATE_AND_FILL = Join({ACTIVATE, READY, FILL});

const Calls KEYS_AND_DONE = Join({READY, {"clipboard number? 101",
    "down 0x11", "down 0xBF", "up 0xBF", "up 0x11",
    "down 0x2E", "up 0x2E",
    "down 0x11", "down 0x56", "up 0x56", "up 0x11",
    "sleep 200"}, READY, {
    "down 0x74", "up 0x74",
    "release lock", std::string("write ") + MSG_DONE}});

const Calls PRESENT_AT_START = {CODE_PAGE, TAKE_LOCK, FOUND, NOT_CONSOLE};

TEST(Sequence, WindowPresentAtStartGoesStraightToTheKeys) {
    SimReset({});
    EXPECT_EQ(RunAutomation(), 0);
    EXPECT_EQ(Sim().calls,
              Join({PRESENT_AT_START, ACTIVATE_AND_FILL, KEYS_AND_DONE}));
    EXPECT_EQ(Sim().output, "\x8F\x49\x97\xB9\n");
    EXPECT_EQ(Sim().clipboardLocale, 0x411u);
}

TEST(Sequence, WindowAppearingAfterLaunchIsPolledOnceASecond) {
    SimScript script;
    script.windowFoundAtLookup = 4;
    SimReset(script);
    EXPECT_EQ(RunAutomation(), 0);
    EXPECT_EQ(Sim().calls, Join({LaunchCalls(3, true), ACTIVATE_AND_FILL, KEYS_AND_DONE}));
}

TEST(Sequence, WindowNeverAppearingTouchesNothing) {
    SimScript script;
    script.windowFoundAtLookup = 0;
    script.input = "\n";
    SimReset(script);
    EXPECT_EQ(RunAutomation(), 1);
    EXPECT_EQ(Sim().calls, Join({LaunchCalls(60, false),
                                 {"release lock", std::string("write ") + MSG_NOT_FOUND, "read -> character"}}));
}

int CtrlPresses(const std::vector<SimKeyEvent>& keys) {
    return static_cast<int>(std::count_if(keys.begin(), keys.end(), [](const SimKeyEvent& k) { return k.vk == 0x11 && k.down; }));
}

int CtrlReleases(const std::vector<SimKeyEvent>& keys) {
    return static_cast<int>(std::count_if(keys.begin(), keys.end(), [](const SimKeyEvent& k) { return k.vk == 0x11 && !k.down; }));
}

struct OutcomeCase {
    const char* name;
    SimScript script;
    std::string output;
    int exitStatus;
    int keyEventsTaken;
    int readCalls;
};

SimScript Script(int foundAt, bool launchRefused = false, std::string input = "\n") {
    SimScript script;
    script.windowFoundAtLookup = foundAt;
    script.launchRefused = launchRefused;
    script.input = input;
    return script;
}

SimScript Refusing(void (*change)(SimScript&)) {
    SimScript script = Script(1);
    change(script);
    return script;
}

void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << c.name;
}

class Outcome : public testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcome, WritesExactlyAndExitsWithItsStatus) {
    const OutcomeCase& c = GetParam();
    SimReset(c.script);
    EXPECT_EQ(RunAutomation(), c.exitStatus);
    EXPECT_EQ(Sim().output, c.output);
    EXPECT_EQ(static_cast<int>(Sim().keys.size()), c.keyEventsTaken);
    EXPECT_EQ(Sim().readCalls, c.readCalls);
    if (c.exitStatus != 0) {
        // The message is the last thing written, and the read comes after it.
        EXPECT_EQ(Sim().calls.back().rfind("read -> ", 0), 0u);
    }
    // The desktop is free for another run before the final message and any read:
    // the lock is released right after the last desktop operation of the series.
    const Calls& calls = Sim().calls;
    ASSERT_GE(calls.size(), 3u);
    size_t tail = c.exitStatus != 0 ? 3 : 2;
    EXPECT_EQ(calls[calls.size() - tail], "release lock");
    EXPECT_EQ(calls[0], CODE_PAGE);
    EXPECT_EQ(calls[1], TAKE_LOCK);
    EXPECT_FALSE(Sim().lockHeld);
    EXPECT_EQ(CtrlPresses(Sim().keys), CtrlReleases(Sim().keys)) << "Ctrl left down";
}

const std::string LAUNCHING = MSG_LAUNCHING;
const std::string LAUNCH_FAILED = MSG_LAUNCH_FAILED;
const std::string NOT_FOUND = MSG_NOT_FOUND;
const std::string DONE = MSG_DONE;

INSTANTIATE_TEST_SUITE_P(
    EveryOutcome, Outcome,
    testing::Values(
        OutcomeCase{"PresentAtStart", Script(1), DONE, 0, 12, 0},
        OutcomeCase{"AppearsInFirstAttempt", Script(2), LAUNCHING + "." + "\n" + DONE, 0, 12, 0},
        OutcomeCase{"AppearsInLastAttempt", Script(61), LAUNCHING + Dots(60) + "\n" + DONE, 0, 12, 0},
        OutcomeCase{"NeverAppears", Script(0), LAUNCHING + Dots(60) + NOT_FOUND, 1, 0, 1},
        OutcomeCase{"LaunchRefusedNeverAppears", Script(0, true),
                    LAUNCHING + LAUNCH_FAILED + Dots(60) + NOT_FOUND, 1, 0, 1},
        OutcomeCase{"LaunchRefusedButAppears", Script(6, true),
                    LAUNCHING + LAUNCH_FAILED + Dots(5) + "\n" + DONE, 0, 12, 0},
        OutcomeCase{"NeverAppearsInputAtEnd", Script(0, false, ""), LAUNCHING + Dots(60) + NOT_FOUND, 1, 0, 1},
        // Asked again once a second for 30 s after the quiet second, the user told.
        OutcomeCase{"ForegroundRefused", Refusing([](SimScript& s) { s.foregroundRefused = true; }),
                    std::string(MSG_WAITING_FOR_FRONT) + Dots(30) + "\n" + "Error: \x83\x7E\x83\x88\x82\xF0\x91\x4F\x96\xCA\x82\xC9\x8F\x6F\x82\xB9\x82\xC8\x82\xA2\n", 2, 0, 1},
        OutcomeCase{"FrontLostBeforeF5", Refusing([](SimScript& s) { s.frontLostAtMs = 600; }),
                    std::string(MSG_WAITING_FOR_FRONT) + Dots(30) + "\n" + "Error: \x83\x7E\x83\x88\x82\xF0\x91\x4F\x96\xCA\x82\xC9\x8F\x6F\x82\xB9\x82\xC8\x82\xA2\n", 2, 10, 1},
        OutcomeCase{"ClipboardKeptOldText", Refusing([](SimScript& s) { s.clipboardResult = -1; }),
                    "Error: \x83\x4E\x83\x8A\x83\x62\x83\x76\x83\x7B\x81\x5B\x83\x68\x82\xC9\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xC8\x82\xA2\n", 2, 0, 1},
        OutcomeCase{"FirstKeyRefused", Refusing([](SimScript& s) { s.keyEventRefused = 1; }),
                    "Error: \x83\x4C\x81\x5B\x82\xF0\x91\x97\x82\xEA\x82\xC8\x82\xA2\n", 2, 0, 1},
        OutcomeCase{"LastKeyRefused", Refusing([](SimScript& s) { s.keyEventRefused = 12; }),
                    "Error: \x83\x4C\x81\x5B\x82\xF0\x91\x97\x82\xEA\x82\xC8\x82\xA2\n", 2, 11, 1}),
    [](const testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

// Injection refused inside the series: nothing after it but the release of a held Ctrl.
struct RefusedKeyCase {
    const char* name;
    int refusedEvent;
    std::vector<std::string> keyCallsAfterFront;
};

void PrintTo(const RefusedKeyCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedKey : public testing::TestWithParam<RefusedKeyCase> {};

TEST_P(RefusedKey, StopsTheSeriesAndNeverLeavesCtrlDown) {
    const RefusedKeyCase& c = GetParam();
    SimScript script;
    script.keyEventRefused = c.refusedEvent;
    script.input = "y";
    SimReset(script);
    EXPECT_EQ(RunAutomation(), 2);
    Calls expected = Join({PRESENT_AT_START, ACTIVATE_AND_FILL, READY, {"clipboard number? 101"},
                           c.keyCallsAfterFront,
                           {"release lock", std::string("write ") + MSG_KEYS_FAILED, "read -> character"}});
    EXPECT_EQ(Sim().calls, expected);
    EXPECT_EQ(CtrlPresses(Sim().keys), CtrlReleases(Sim().keys)) << "Ctrl left down";
}

INSTANTIATE_TEST_SUITE_P(
    EverySpot, RefusedKey,
    testing::Values(
        RefusedKeyCase{"CtrlPress", 1, {"down 0x11 refused"}},
        RefusedKeyCase{"SlashPress", 2, {"down 0x11", "down 0xBF refused", "up 0x11"}},
        RefusedKeyCase{"SlashRelease", 3, {"down 0x11", "down 0xBF", "up 0xBF refused", "up 0x11"}},
        RefusedKeyCase{"DeletePress", 5,
                       {"down 0x11", "down 0xBF", "up 0xBF", "up 0x11", "down 0x2E refused"}},
        RefusedKeyCase{"PastePress", 8,
                       {"down 0x11", "down 0xBF", "up 0xBF", "up 0x11", "down 0x2E", "up 0x2E",
                        "down 0x11", "down 0x56 refused", "up 0x11"}},
        RefusedKeyCase{"F5Press", 11,
                       Join({{"down 0x11", "down 0xBF", "up 0xBF", "up 0x11", "down 0x2E", "up 0x2E",
                              "down 0x11", "down 0x56", "up 0x56", "up 0x11", "sleep 200"},
                             READY, {"down 0x74 refused"}})}),
    [](const testing::TestParamInfo<RefusedKeyCase>& info) { return std::string(info.param.name); });

// Refusals that last (a secure desktop, an elevated window in front) from event N on:
// a refused Ctrl release is tried again for 500 ms, every 50 ms, and the outcome says
// what was left.
struct LastingRefusalCase {
    const char* name;
    int refusedFrom;
    int keyRefused;          // a single refusal instead
    int exitStatus;
    int keyEventsTaken;
    int ctrlReleaseTries;    // Ctrl releases offered in all
    bool ctrlLeftDown;
};

void PrintTo(const LastingRefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class LastingRefusal : public testing::TestWithParam<LastingRefusalCase> {};

TEST_P(LastingRefusal, CtrlReleaseIsTriedAgainForABoundedTime) {
    const LastingRefusalCase& c = GetParam();
    SimScript script;
    script.keyEventsRefusedFrom = c.refusedFrom;
    script.keyEventRefused = c.keyRefused;
    script.input = "y";
    SimReset(script);
    EXPECT_EQ(RunAutomation(), c.exitStatus);
    EXPECT_EQ(static_cast<int>(Sim().keys.size()), c.keyEventsTaken);
    const Calls& calls = Sim().calls;
    int tries = static_cast<int>(std::count_if(calls.begin(), calls.end(), [](const std::string& call) {
        return call.rfind("up 0x11", 0) == 0;
    }));
    EXPECT_EQ(tries, c.ctrlReleaseTries);
    EXPECT_EQ(CtrlPresses(Sim().keys) != CtrlReleases(Sim().keys), c.ctrlLeftDown);
    EXPECT_EQ(Sim().output, c.exitStatus == 0 ? std::string(MSG_DONE) : std::string(MSG_KEYS_FAILED));
}

INSTANTIATE_TEST_SUITE_P(
    FromEventOn, LastingRefusal,
    testing::Values(
        // Refused once: the second try takes, and the series goes on.
        LastingRefusalCase{"NoRefusal", 0, 0, 0, 12, 2, false},
        LastingRefusalCase{"CtrlReleaseRefusedOnce", 0, 4, 0, 12, 3, false},
        LastingRefusalCase{"PasteCtrlReleaseRefusedOnce", 0, 10, 0, 12, 3, false},
        // Refused for good: 11 tries over 500 ms, and Ctrl stays down.
        LastingRefusalCase{"FromSlashPress", 2, 0, 2, 1, 11, true},
        LastingRefusalCase{"FromFirstCtrlRelease", 4, 0, 2, 3, 11, true},
        LastingRefusalCase{"FromPastePress", 8, 0, 2, 7, 1 + 11, true},
        LastingRefusalCase{"FromF5", 11, 0, 2, 10, 2, false}),
    [](const testing::TestParamInfo<LastingRefusalCase>& info) { return std::string(info.param.name); });

// Virtual time of the clipboard and every key event, by when the window appears.
struct TimingCase {
    const char* name;
    int foundAtLookup;
    unsigned firstKeyAtMs;
};

void PrintTo(const TimingCase& c, std::ostream* os) {
    *os << c.name;
}

class Timing : public testing::TestWithParam<TimingCase> {};

TEST_P(Timing, KeysFollowTheMandatedPauses) {
    const TimingCase& c = GetParam();
    SimScript script;
    script.windowFoundAtLookup = c.foundAtLookup;
    SimReset(script);
    ASSERT_EQ(RunAutomation(), 0);
    unsigned t = c.firstKeyAtMs;
    std::vector<SimKeyEvent> expected = {
        {t, 0x11, true}, {t, 0xBF, true}, {t, 0xBF, false}, {t, 0x11, false},
        {t, 0x2E, true}, {t, 0x2E, false},
        {t, 0x11, true}, {t, 0x56, true}, {t, 0x56, false}, {t, 0x11, false},
        {t + 200, 0x74, true}, {t + 200, 0x74, false}};
    EXPECT_EQ(Sim().keys, expected);
    EXPECT_EQ(Sim().clipboardAtMs, std::vector<unsigned>{t - 500});
    EXPECT_EQ(Sim().clipboard, PASTE_TEXT);
    EXPECT_EQ(Sim().clockMs, t + 200);
}

INSTANTIATE_TEST_SUITE_P(
    ByAppearance, Timing,
    testing::Values(TimingCase{"PresentAtStart", 1, 50 + 500},
                    TimingCase{"FirstAttempt", 2, 1000 + 3000 + 50 + 500},
                    TimingCase{"LastAttempt", 61, 60 * 1000 + 3000 + 50 + 500}),
    [](const testing::TestParamInfo<TimingCase>& info) { return std::string(info.param.name); });

TEST(Sequence, GivingUpTakesTheWholeMinute) {
    SimReset(Script(0, false, ""));
    ASSERT_EQ(RunAutomation(), 1);
    EXPECT_EQ(Sim().clockMs, 60u * 1000u);
    EXPECT_EQ(Sim().findCalls, 61);
    EXPECT_TRUE(Sim().clipboardAtMs.empty());
}

// A modifier key held by the user before the clipboard, at the first key or at F5: each
// step waits up to 2000 ms from the first time it sees one, checking every 50 ms, and
// nothing is done while one is held (the user's clipboard neither).
struct ModifierCase {
    const char* name;
    unsigned heldFromMs;
    unsigned heldUntilMs;
    int exitStatus;
    int keyEventsTaken;
    bool clipboardTouched;
    unsigned firstKeyAtMs;   // when keys were sent
    unsigned f5AtMs;         // when F5 was sent, or, when it gave up, the clock then
    int modifierChecks;
};

void PrintTo(const ModifierCase& c, std::ostream* os) {
    *os << c.name;
}

class HeldModifier : public testing::TestWithParam<ModifierCase> {};

TEST_P(HeldModifier, WaitsForTheReleaseOrSendsNothingMore) {
    const ModifierCase& c = GetParam();
    SimScript script;
    script.modifierHeldMs = {{c.heldFromMs, c.heldUntilMs}};
    script.input = "\n";
    SimReset(script);
    EXPECT_EQ(RunAutomation(), c.exitStatus);
    EXPECT_EQ(static_cast<int>(Sim().keys.size()), c.keyEventsTaken);
    EXPECT_EQ(!Sim().clipboardAtMs.empty(), c.clipboardTouched);
    EXPECT_EQ(Sim().modifierChecks, c.modifierChecks);
    for (const SimKeyEvent& key : Sim().keys) {
        EXPECT_FALSE(c.heldFromMs <= key.atMs && key.atMs < c.heldUntilMs) << "key at " << key.atMs;
    }
    for (unsigned at : Sim().clipboardAtMs) {
        EXPECT_FALSE(c.heldFromMs <= at && at < c.heldUntilMs) << "clipboard at " << at;
    }
    if (c.keyEventsTaken > 0) {
        EXPECT_EQ(Sim().keys.front().atMs, c.firstKeyAtMs);
    }
    if (c.keyEventsTaken == 12) {
        EXPECT_EQ(Sim().keys[10].atMs, c.f5AtMs);
        EXPECT_EQ(Sim().output, MSG_DONE);
        EXPECT_EQ(Sim().readCalls, 0);
        return;
    }
    // Given up: the message after the lock is released, then one character is read.
    const Calls& calls = Sim().calls;
    Calls tail(calls.end() - 4, calls.end());
    EXPECT_EQ(tail, (Calls{"modifier held? yes", "release lock", std::string("write ") + MSG_KEYS_HELD,
                           "read -> character"}));
    EXPECT_EQ(Sim().output, MSG_KEYS_HELD);
    EXPECT_EQ(Sim().clockMs, c.f5AtMs);
}

INSTANTIATE_TEST_SUITE_P(
    BeforeEachStep, HeldModifier,
    testing::Values(
        // The window seen in front twice at 50: clipboard, then the keys at 550 and 750.
        ModifierCase{"NotHeld", 0, 0, 0, 12, true, 550, 750, 3},
        // Held from the start: the clipboard waits too, then every condition is asked again.
        ModifierCase{"HeldBeforeTheClipboardReleasedWithinWait", 0, 1230, 0, 12, true, 1750, 1950, 29},
        ModifierCase{"HeldBeforeTheClipboardReleasedAtLastCheck", 0, 2050, 0, 12, true, 2550, 2750, 45},
        ModifierCase{"HeldBeforeTheClipboardPastWait", 0, 2051, 2, 0, false, 0, 2050, 42},
        ModifierCase{"HeldAtFirstKeyReleasedWithinWait", 100, 1000, 0, 12, true, 1000, 1200, 14},
        ModifierCase{"HeldAtFirstKeyPastWait", 100, 60000, 2, 0, true, 0, 2550, 43},
        ModifierCase{"HeldAtF5ReleasedWithinWait", 600, 1000, 0, 12, true, 550, 1000, 10},
        ModifierCase{"HeldAtF5PastWait", 600, 60000, 2, 10, true, 550, 2750, 44}),
    [](const testing::TestParamInfo<ModifierCase>& info) { return std::string(info.param.name); });

// Another run holding the desktop: this one waits for it quietly for a second, then
// says so, a dot a second, up to 180 s; then runs its whole series.
struct LockCase {
    const char* name;
    unsigned heldByOtherMs;
    bool abandoned;
    std::string lastTake;    // the outcome of the last question
    std::string output;
    int exitStatus;
    unsigned firstKeyAtMs;   // or, when it gave up, the clock then
};

void PrintTo(const LockCase& c, std::ostream* os) {
    *os << c.name;
}

class RunLock : public testing::TestWithParam<LockCase> {};

TEST_P(RunLock, OneRunAtATime) {
    const LockCase& c = GetParam();
    SimScript script;
    script.lockHeldByOtherMs = c.heldByOtherMs;
    script.lockAbandoned = c.abandoned;
    script.input = "x";
    SimReset(script);
    EXPECT_EQ(RunAutomation(), c.exitStatus);
    EXPECT_EQ(Sim().output, c.output);
    EXPECT_FALSE(Sim().lockHeld);
    const Calls& calls = Sim().calls;
    auto lastTake = std::find_if(calls.rbegin(), calls.rend(),
                                 [](const std::string& call) { return call.rfind("take lock ", 0) == 0; });
    ASSERT_NE(lastTake, calls.rend());
    EXPECT_EQ(lastTake->substr(lastTake->find(" -> ")), " -> " + c.lastTake);
    // The questions are all that happens until the lock is had: no lookup, no window.
    auto firstLookup = std::find(calls.begin(), calls.end(), FOUND);
    EXPECT_GT(firstLookup - calls.begin(), calls.rend() - lastTake - 1);
    if (c.exitStatus == 0) {
        EXPECT_EQ(Join({{FOUND, NOT_CONSOLE}, ACTIVATE_AND_FILL, KEYS_AND_DONE}),
                  Calls(firstLookup, calls.end()));
        ASSERT_EQ(Sim().keys.size(), 12u);
        EXPECT_EQ(Sim().keys.front().atMs, c.firstKeyAtMs);
        return;
    }
    // Touches nothing: no lookup, no clipboard, no key, and no lock to release.
    EXPECT_EQ(firstLookup, calls.end());
    EXPECT_EQ(Sim().findCalls, 0);
    EXPECT_EQ(calls.back(), "read -> character");
    EXPECT_EQ(Sim().clockMs, c.firstKeyAtMs);
}

const std::string WAITING_FOR_OTHER = MSG_WAITING_FOR_OTHER_RUN;

INSTANTIATE_TEST_SUITE_P(
    ByOtherRun, RunLock,
    testing::Values(
        LockCase{"Free", 0, false, "taken", MSG_DONE, 0, 550},
        LockCase{"ReleasedWithinTheQuietSecond", 800, false, "taken", MSG_DONE, 0, 1350},
        LockCase{"TakenThenReleased", 8000, false, "taken", WAITING_FOR_OTHER + Dots(7) + "\n" + MSG_DONE, 0, 8550},
        LockCase{"ReleasedAtTheLastMoment", 221000, false, "taken",
                 WAITING_FOR_OTHER + Dots(220) + "\n" + MSG_DONE, 0, 221550},
        LockCase{"OwnerDied", 3000, true, "abandoned, taken", WAITING_FOR_OTHER + Dots(2) + "\n" + MSG_DONE, 0, 3550},
        LockCase{"TakenPastTheWait", LOCK_NEVER_FREE, false, "timed out",
                 WAITING_FOR_OTHER + Dots(220) + "\n" + MSG_ALREADY_RUNNING, 2, 221000}),
    [](const testing::TestParamInfo<LockCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// TALMERINE's window asked before it is shown: it answers at once, later, or never.
struct AnswerCase {
    const char* name;
    int foundAtLookup;
    unsigned answersFromMs;
    std::string output;
    int exitStatus;
    int answerChecks;        // the three after the activation, before both bursts besides
    unsigned firstKeyAtMs;   // or, when it never answers, the clock when it gave up
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
    *os << c.name;
}

class Answering : public testing::TestWithParam<AnswerCase> {};

TEST_P(Answering, WaitsABoundedTimeBeforeTheWindowIsTouched) {
    const AnswerCase& c = GetParam();
    SimScript script = Script(c.foundAtLookup);
    script.windowAnswersFromMs = c.answersFromMs;
    SimReset(script);
    EXPECT_EQ(RunAutomation(), c.exitStatus);
    EXPECT_EQ(Sim().output, c.output);
    EXPECT_EQ(Sim().answerChecks, c.answerChecks);
    const Calls& calls = Sim().calls;
    if (c.exitStatus == 0) {
        ASSERT_EQ(Sim().keys.size(), 12u);
        EXPECT_EQ(Sim().keys.front().atMs, c.firstKeyAtMs);
        // Shown only after the last question before it, which it answered, and every
        // condition after it.
        auto show = std::find(calls.begin(), calls.end(), "show window 1");
        ASSERT_NE(show, calls.end());
        auto lastAnswer = std::find_if(std::make_reverse_iterator(show), calls.rend(), [](const std::string& call) {
            return call.rfind("answers within", 0) == 0;
        });
        ASSERT_NE(lastAnswer, calls.rend());
        EXPECT_EQ(lastAnswer->substr(lastAnswer->size() - 4), " yes");
        EXPECT_EQ(*(lastAnswer - 1), ENABLED);
        return;
    }
    // Nothing is done to the window: no show, no foreground request, no clipboard, no key.
    for (const std::string& call : calls) {
        EXPECT_EQ(call.rfind("show", 0), std::string::npos) << call;
        EXPECT_EQ(call.rfind("foreground", 0), std::string::npos) << call;
        EXPECT_EQ(call.rfind("clipboard", 0), std::string::npos) << call;
    }
    EXPECT_TRUE(Sim().keys.empty());
    EXPECT_EQ(Sim().clockMs, c.firstKeyAtMs);
    Calls tail(calls.end() - 6, calls.end());
    EXPECT_EQ(tail, (Calls{"answers within 1000? window no", IS_WINDOW, "write \n", "release lock",
                           std::string("write ") + MSG_NOT_ANSWERING, "read -> character"}));
}

const std::string WAITING = MSG_WAITING_FOR_ANSWER;
const std::string NOT_ANSWERING = MSG_NOT_ANSWERING;

INSTANTIATE_TEST_SUITE_P(
    ByWhenItAnswers, Answering,
    testing::Values(
        AnswerCase{"AtOnce", 1, 0, DONE, 0, 4, 550},
        AnswerCase{"WithinTheFirstSecond", 1, 1000, DONE, 0, 4, 1550},
        AnswerCase{"AfterThreeSeconds", 1, 3500, WAITING + "...\n" + DONE, 0, 8, 4050},
        AnswerCase{"InTheLastSecond", 1, 31000, WAITING + Dots(30) + "\n" + DONE, 0, 35, 31550},
        AnswerCase{"JustTooLate", 1, 31001, WAITING + Dots(30) + "\n" + NOT_ANSWERING, 2, 31, 31000},
        AnswerCase{"Never", 1, NEVER, WAITING + Dots(30) + "\n" + NOT_ANSWERING, 2, 31, 31000},
        // After a launch the window is asked once the 3000 ms settle is over.
        AnswerCase{"AfterALaunch", 2, 6500, LAUNCHING + ".\n" + WAITING + "..\n" + DONE, 0, 7, 7050},
        AnswerCase{"NeverAfterALaunch", 2, NEVER,
                   LAUNCHING + ".\n" + WAITING + Dots(30) + "\n" + NOT_ANSWERING, 2, 31, 35000}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

// The run lock must outwait the longest road another run can take: the window found in
// the last lookup; answering never, until it is replaced at the end of its time; the new
// window answering at the end of its own; its dialog closed in the last second; the
// foreground refused until the user clicks in the last second; the clipboard's retries;
// a modifier held to the end of each of the three waits for it.
TEST(Sequence, RunLockOutwaitsTheLongestRoad) {
    SimScript script = Script(61, true);
    unsigned settled = 60000 + 3000;
    script.windowGoneAtMs = settled + 31000 - 1;
    script.windowReplaced = true;
    script.windowAnswersFromMs = settled + 31000 + 31000;
    script.dialogOpenUntilMs = script.windowAnswersFromMs + 30000;
    script.foregroundRefused = true;
    script.frontGivenAtMs = script.dialogOpenUntilMs + 31000 - FOREGROUND_POLL_MS;
    script.clipboardTakesMs = 1000;
    unsigned ready = script.dialogOpenUntilMs + 31000;
    unsigned firstKeys = ready + 2000 + 1000 + 500;
    script.modifierHeldMs = {{ready, ready + 2000}, {firstKeys, firstKeys + 2000}, {firstKeys + 2200, firstKeys + 4200}};
    SimReset(script);
    ASSERT_EQ(RunAutomation(), 0);
    EXPECT_EQ(Sim().keys.size(), 12u);
    EXPECT_EQ(Sim().output, LAUNCHING + LAUNCH_FAILED + Dots(60) + "\n" + WAITING + Dots(30) + "\n" + WAITING +
                                Dots(30) + "\n" + MSG_WAITING_FOR_DIALOG + Dots(30) + "\n" + MSG_WAITING_FOR_FRONT +
                                Dots(30) + "\n" + DONE);
    EXPECT_EQ(Sim().keys.front().atMs, firstKeys + 2000);
    EXPECT_EQ(Sim().clockMs, 193700u);
    unsigned lockWaitMs = RUN_LOCK_QUIET_WAIT_MS + RUN_LOCK_WAIT_SECONDS * 1000;
    EXPECT_LT(Sim().clockMs + 20000, lockWaitMs) << "the lock's wait leaves less than 20 s to spare";
}

// Any ANSI code page but 932: one ASCII message naming it, and nothing else done.
struct CodePageCase {
    unsigned codePage;
    std::string output;
};

void PrintTo(const CodePageCase& c, std::ostream* os) {
    *os << c.codePage;
}

class CodePage : public testing::TestWithParam<CodePageCase> {};

TEST_P(CodePage, OtherThan932IsRefusedBeforeAnythingElse) {
    const CodePageCase& c = GetParam();
    SimScript script;
    script.ansiCodePage = c.codePage;
    script.input = "\n";
    SimReset(script);
    EXPECT_EQ(RunAutomation(), 2);
    EXPECT_EQ(Sim().output, c.output);
    EXPECT_EQ(Sim().calls.front(), "code page? " + std::to_string(c.codePage));
    EXPECT_EQ(Sim().calls.back(), "read -> character");
    // Only the message and the read: no lock, no lookup, no launch, no clipboard, no key.
    for (size_t i = 1; i + 1 < Sim().calls.size(); i++) {
        EXPECT_EQ(Sim().calls[i].rfind("write ", 0), 0u) << Sim().calls[i];
    }
    EXPECT_EQ(Sim().findCalls, 0);
    EXPECT_FALSE(Sim().lockHeld);
}

INSTANTIATE_TEST_SUITE_P(
    NotJapanese, CodePage,
    testing::Values(
        CodePageCase{65001, "Error: code page for non-Unicode programs is 65001, not 932 (Japanese)\n"},
        CodePageCase{1252, "Error: code page for non-Unicode programs is 1252, not 932 (Japanese)\n"},
        CodePageCase{936, "Error: code page for non-Unicode programs is 936, not 932 (Japanese)\n"},
        CodePageCase{0, "Error: code page for non-Unicode programs is 0, not 932 (Japanese)\n"}),
    [](const testing::TestParamInfo<CodePageCase>& info) { return "CodePage" + std::to_string(info.param.codePage); });

// What can stand between the window found and a key that reaches it: a dialog of its
// own, a window that closes, is replaced or stops answering, an elevated TALMERINE, a
// refused or late activation, a rewritten clipboard, the program's own console titled
// like it. Each ends in the whole series into the window that is there, or in no key
// of the burst concerned; the user's clipboard is replaced only once TALMERINE is in
// front.
struct ReadinessCase {
    const char* name;
    void (*change)(SimScript&);
    std::string output;
    int exitStatus;
    int keyEventsTaken;
    bool clipboardTouched;
    std::string keysInto;  // the window shown and brought forward; "": none
};

void PrintTo(const ReadinessCase& c, std::ostream* os) {
    *os << c.name;
}

class Readiness : public testing::TestWithParam<ReadinessCase> {};

TEST_P(Readiness, KeysOnlyIntoAWindowThatCanTakeThem) {
    const ReadinessCase& c = GetParam();
    SimScript script;
    script.input = "\n";
    c.change(script);
    SimReset(script);
    EXPECT_EQ(RunAutomation(), c.exitStatus);
    EXPECT_EQ(Sim().output, c.output);
    EXPECT_EQ(static_cast<int>(Sim().keys.size()), c.keyEventsTaken);
    EXPECT_EQ(!Sim().clipboardAtMs.empty(), c.clipboardTouched);
    EXPECT_EQ(CtrlPresses(Sim().keys), CtrlReleases(Sim().keys)) << "Ctrl left down";
    // Shown once, asked forward at least once, both only the window that got the keys.
    int shown = 0;
    int asked = 0;
    for (const std::string& call : Sim().calls) {
        bool show = call.rfind("show ", 0) == 0;
        if (show || call.rfind("foreground ", 0) == 0) {
            (show ? shown : asked)++;
            EXPECT_NE(call.find(" " + c.keysInto), std::string::npos) << call;
        }
    }
    EXPECT_EQ(shown, c.keysInto.empty() ? 0 : 1);
    EXPECT_EQ(asked > 0, !c.keysInto.empty());
    EXPECT_EQ(Sim().calls.back(), c.exitStatus == 0 ? "write " + DONE : std::string("read -> character"));
}

const std::string DIALOG_WAIT = MSG_WAITING_FOR_DIALOG;
const std::string DIALOG_OPEN = MSG_DIALOG_OPEN;
const std::string NOT_IN_FRONT = MSG_NOT_FOREGROUND;
const std::string ELEVATED = MSG_TARGET_ELEVATED;
const std::string FRONT_WAIT = MSG_WAITING_FOR_FRONT;

INSTANTIATE_TEST_SUITE_P(
    BeforeAndBetweenTheBursts, Readiness,
    testing::Values(
        ReadinessCase{"DialogClosedAfterThreeSeconds", [](SimScript& s) { s.dialogOpenUntilMs = 2500; },
                      DIALOG_WAIT + "...\n" + DONE, 0, 12, true, "window"},
        ReadinessCase{"DialogClosedInTheLastSecond", [](SimScript& s) { s.dialogOpenUntilMs = 30000; },
                      DIALOG_WAIT + Dots(30) + "\n" + DONE, 0, 12, true, "window"},
        ReadinessCase{"DialogNeverClosed", [](SimScript& s) { s.dialogOpenUntilMs = NEVER; },
                      DIALOG_WAIT + Dots(30) + "\n" + DIALOG_OPEN, 2, 0, false, ""},
        ReadinessCase{"DialogOpenedBeforeTheFirstKey", [](SimScript& s) { s.dialogOpenAgainFromMs = 100; },
                      DIALOG_WAIT + Dots(30) + "\n" + DIALOG_OPEN, 2, 0, true, "window"},
        ReadinessCase{"DialogOpenedBeforeF5", [](SimScript& s) { s.dialogOpenAgainFromMs = 600; },
                      DIALOG_WAIT + Dots(30) + "\n" + DIALOG_OPEN, 2, 10, true, "window"},
        ReadinessCase{"StopsAnsweringBeforeTheFirstKey", [](SimScript& s) { s.windowAnswersUntilMs = 100; },
                      WAITING + Dots(30) + "\n" + NOT_ANSWERING, 2, 0, true, "window"},
        ReadinessCase{"StopsAnsweringBeforeF5", [](SimScript& s) { s.windowAnswersUntilMs = 600; },
                      WAITING + Dots(30) + "\n" + NOT_ANSWERING, 2, 10, true, "window"},
        // Busy with what its activation started: the clipboard waits until it answers.
        ReadinessCase{"BusyAfterItAnswered",
                      [](SimScript& s) {
                          s.windowAnswersUntilMs = 1;
                          s.windowAnswersAgainFromMs = 2500;
                      },
                      WAITING + "..\n" + DONE, 0, 12, true, "window"},
        ReadinessCase{"BusyAgainBeforeF5",
                      [](SimScript& s) {
                          s.windowAnswersUntilMs = 600;
                          s.windowAnswersAgainFromMs = 4000;
                      },
                      WAITING + "...\n" + DONE, 0, 12, true, "window"},
        // The dialog's wait undoes the answer: closed, its window still busy closing it.
        ReadinessCase{"DialogClosedStillBusy",
                      [](SimScript& s) {
                          s.dialogOpenUntilMs = 2500;
                          s.windowAnswersUntilMs = 2500;
                          s.windowAnswersAgainFromMs = 4500;
                      },
                      DIALOG_WAIT + "...\n" + WAITING + ".\n" + DONE, 0, 12, true, "window"},
        // The answer's wait undoes the dialog: it answers, with a dialog open meanwhile.
        ReadinessCase{"AnswersWithADialogOpen",
                      [](SimScript& s) {
                          s.windowAnswersFromMs = 3500;
                          s.dialogOpenAgainFromMs = 3000;
                          s.dialogOpenUntilMs = 0;
                      },
                      WAITING + "...\n" + DIALOG_WAIT + Dots(30) + "\n" + DIALOG_OPEN, 2, 0, false, ""},
        ReadinessCase{"ClosesBeforeTheFirstKey", [](SimScript& s) { s.windowGoneAtMs = 100; },
                      NOT_IN_FRONT, 2, 0, true, "window"},
        ReadinessCase{"ClosesBeforeF5", [](SimScript& s) { s.windowGoneAtMs = 600; },
                      NOT_IN_FRONT, 2, 10, true, "window"},
        ReadinessCase{"RunsAboveUs", [](SimScript& s) { s.integrity = desktop::Integrity::Above; },
                      ELEVATED, 2, 0, false, ""},
        ReadinessCase{"IntegrityUnreadable", [](SimScript& s) { s.integrity = desktop::Integrity::Unknown; },
                      ELEVATED, 2, 0, false, ""},
        ReadinessCase{"InFrontLate", [](SimScript& s) { s.foregroundAfterMs = 400; },
                      DONE, 0, 12, true, "window"},
        ReadinessCase{"InFrontForTheLastTwoChecks", [](SimScript& s) { s.foregroundAfterMs = 950; },
                      DONE, 0, 12, true, "window"},
        // Past the quiet second the user is told, and Windows asked again each second.
        ReadinessCase{"InFrontAfterTheQuietSecond", [](SimScript& s) { s.foregroundAfterMs = 951; },
                      FRONT_WAIT + ".\n" + DONE, 0, 12, true, "window"},
        // Another program took the foreground back at once: seen once, never twice.
        ReadinessCase{"InFrontForAMoment", [](SimScript& s) { s.frontLostAtMs = 30; },
                      FRONT_WAIT + Dots(30) + "\n" + NOT_IN_FRONT, 2, 0, false, "window"},
        ReadinessCase{"ForegroundRefused", [](SimScript& s) { s.foregroundRefused = true; },
                      FRONT_WAIT + Dots(30) + "\n" + NOT_IN_FRONT, 2, 0, false, "window"},
        // Closed while the front was refused: not waited for, looked up again.
        ReadinessCase{"ClosedWhileTheFrontIsRefused",
                      [](SimScript& s) {
                          s.foregroundRefused = true;
                          s.windowGoneAtMs = 500;
                      },
                      NOT_IN_FRONT, 2, 0, false, "window"},
        // The foreground lock: the user clicks TALMERINE's taskbar button.
        ReadinessCase{"ForegroundRefusedUntilClicked",
                      [](SimScript& s) {
                          s.foregroundRefused = true;
                          s.frontGivenAtMs = 4200;
                      },
                      FRONT_WAIT + "....\n" + DONE, 0, 12, true, "window"},
        ReadinessCase{"ForegroundRefusedClickedInTheLastSecond",
                      [](SimScript& s) {
                          s.foregroundRefused = true;
                          s.frontGivenAtMs = 30950;
                      },
                      FRONT_WAIT + Dots(30) + "\n" + DONE, 0, 12, true, "window"},
        ReadinessCase{"FrontLostBeforeTheFirstKeyAndGivenBack",
                      [](SimScript& s) {
                          s.frontLostAtMs = 300;
                          s.frontGivenAtMs = 3000;
                      },
                      FRONT_WAIT + "..\n" + DONE, 0, 12, true, "window"},
        ReadinessCase{"ClipboardRewrittenBeforeTheFirstKey", [](SimScript& s) { s.clipboardRewrittenAtMs = 150; },
                      MSG_CLIPBOARD_CHANGED, 2, 0, true, "window"},
        ReadinessCase{"ClipboardRewrittenAfterThePaste", [](SimScript& s) { s.clipboardRewrittenAtMs = 600; },
                      DONE, 0, 12, true, "window"},
        ReadinessCase{"OwnConsoleTitledLikeIt", [](SimScript& s) { s.consoleTitled = true; },
                      DONE, 0, 12, true, "window"},
        ReadinessCase{"OwnConsoleTitledLikeItAndNoTalmerine",
                      [](SimScript& s) {
                          s.consoleTitled = true;
                          s.windowFoundAtLookup = 2;
                      },
                      LAUNCHING + ".\n" + DONE, 0, 12, true, "window"},
        ReadinessCase{"ReplacedDuringTheSettle",
                      [](SimScript& s) {
                          s.windowFoundAtLookup = 2;
                          s.windowGoneAtMs = 2500;
                          s.windowReplaced = true;
                      },
                      LAUNCHING + ".\n" + DONE, 0, 12, true, "replacement"},
        ReadinessCase{"SplashStaysDuringTheSettle",
                      [](SimScript& s) {
                          s.windowFoundAtLookup = 2;
                          s.windowGoneAtMs = 2500;
                          s.windowReplaced = true;
                          s.windowStays = true;
                      },
                      LAUNCHING + ".\n" + DONE, 0, 12, true, "replacement"},
        ReadinessCase{"ClosedDuringTheSettle",
                      [](SimScript& s) {
                          s.windowFoundAtLookup = 2;
                          s.windowGoneAtMs = 2500;
                      },
                      LAUNCHING + ".\n" + NOT_IN_FRONT, 2, 0, false, ""},
        ReadinessCase{"ReplacedWhileItDidNotAnswer",
                      [](SimScript& s) {
                          s.windowAnswersFromMs = 3500;
                          s.windowGoneAtMs = 2500;
                          s.windowReplaced = true;
                      },
                      WAITING + "..\n" + DONE, 0, 12, true, "replacement"},
        ReadinessCase{"ClosedWhileItDidNotAnswer",
                      [](SimScript& s) {
                          s.windowAnswersFromMs = 3500;
                          s.windowGoneAtMs = 2500;
                      },
                      WAITING + "..\n" + NOT_IN_FRONT, 2, 0, false, ""}),
    [](const testing::TestParamInfo<ReadinessCase>& info) { return std::string(info.param.name); });

}  // namespace
