// The whole sequence against the simulated desktop: output bytes, exit status, the
// order of every desktop call, the key events and when they happen.
#include <gtest/gtest.h>

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
const std::string TAKE_LOCK = std::string("take lock ") + RUN_LOCK_NAME + " 90000 -> taken";

// The calls of a launch followed by `attempts` polls, the last of which finds the
// window when `found`.
Calls LaunchCalls(int attempts, bool found, bool refused = false) {
    Calls calls = {TAKE_LOCK, "find " + TITLE + " -> none", std::string("write ") + MSG_LAUNCHING,
                   std::string("launch ") + TARGET_EXE_PATH + " in " + TARGET_WORK_DIR};
    if (refused) {
        calls.push_back(std::string("write ") + MSG_LAUNCH_FAILED);
    }
    for (int attempt = 1; attempt <= attempts; attempt++) {
        calls.push_back("write .");
        calls.push_back("sleep 1000");
        bool last = attempt == attempts;
        calls.push_back("find " + TITLE + (found && last ? " -> window" : " -> none"));
    }
    if (found) {
        calls.push_back("write \n");
        calls.push_back("sleep 3000");
    }
    return calls;
}

const Calls ACTIVATE_AND_FILL = {
    "show window 1", "foreground window", std::string("clipboard ") + PASTE_TEXT, "sleep 500"};

const Calls KEYS_AND_DONE = {
    "modifier held? no", "in front? window",
    "down 0x11", "down 0xBF", "up 0xBF", "up 0x11",
    "down 0x2E", "up 0x2E",
    "down 0x11", "down 0x56", "up 0x56", "up 0x11",
    "sleep 200",
    "modifier held? no", "in front? window",
    "down 0x74", "up 0x74",
    "release lock", std::string("write ") + MSG_DONE};

Calls Join(std::vector<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(Sequence, WindowPresentAtStartGoesStraightToTheKeys) {
    SimReset({});
    EXPECT_EQ(RunAutomation(), 0);
    EXPECT_EQ(Sim().calls, Join({{TAKE_LOCK, "find " + TITLE + " -> window"}, ACTIVATE_AND_FILL, KEYS_AND_DONE}));
    EXPECT_EQ(Sim().output, "\x8F\x49\x97\xB9\n");
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
    EXPECT_EQ(calls.front(), TAKE_LOCK);
    EXPECT_FALSE(Sim().lockHeld);
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
        OutcomeCase{"ForegroundRefused", Refusing([](SimScript& s) { s.foregroundRefused = true; }),
                    "Error: \x83\x7E\x83\x88\x82\xF0\x91\x4F\x96\xCA\x82\xC9\x8F\x6F\x82\xB9\x82\xC8\x82\xA2\n", 2, 0, 1},
        OutcomeCase{"FrontLostBeforeF5", Refusing([](SimScript& s) { s.foregroundLostAtCheck = 2; }),
                    "Error: \x83\x7E\x83\x88\x82\xF0\x91\x4F\x96\xCA\x82\xC9\x8F\x6F\x82\xB9\x82\xC8\x82\xA2\n", 2, 10, 1},
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
    Calls expected = Join({{TAKE_LOCK, "find " + TITLE + " -> window"}, ACTIVATE_AND_FILL,
                           {"modifier held? no", "in front? window"}, c.keyCallsAfterFront,
                           {"release lock", std::string("write ") + MSG_KEYS_FAILED, "read -> character"}});
    EXPECT_EQ(Sim().calls, expected);
}

INSTANTIATE_TEST_SUITE_P(
    EverySpot, RefusedKey,
    testing::Values(
        RefusedKeyCase{"CtrlPress", 1, {"down 0x11 refused"}},
        RefusedKeyCase{"SlashPress", 2, {"down 0x11", "down 0xBF refused", "up 0x11"}},
        RefusedKeyCase{"SlashRelease", 3, {"down 0x11", "down 0xBF", "up 0xBF refused", "up 0x11"}},
        RefusedKeyCase{"CtrlRelease", 4, {"down 0x11", "down 0xBF", "up 0xBF", "up 0x11 refused"}},
        RefusedKeyCase{"DeletePress", 5,
                       {"down 0x11", "down 0xBF", "up 0xBF", "up 0x11", "down 0x2E refused"}},
        RefusedKeyCase{"PastePress", 8,
                       {"down 0x11", "down 0xBF", "up 0xBF", "up 0x11", "down 0x2E", "up 0x2E",
                        "down 0x11", "down 0x56 refused", "up 0x11"}},
        RefusedKeyCase{"F5Press", 11,
                       {"down 0x11", "down 0xBF", "up 0xBF", "up 0x11", "down 0x2E", "up 0x2E",
                        "down 0x11", "down 0x56", "up 0x56", "up 0x11", "sleep 200",
                        "modifier held? no", "in front? window", "down 0x74 refused"}}),
    [](const testing::TestParamInfo<RefusedKeyCase>& info) { return std::string(info.param.name); });

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
    testing::Values(TimingCase{"PresentAtStart", 1, 500},
                    TimingCase{"FirstAttempt", 2, 1000 + 3000 + 500},
                    TimingCase{"LastAttempt", 61, 60 * 1000 + 3000 + 500}),
    [](const testing::TestParamInfo<TimingCase>& info) { return std::string(info.param.name); });

TEST(Sequence, GivingUpTakesTheWholeMinute) {
    SimReset(Script(0, false, ""));
    ASSERT_EQ(RunAutomation(), 1);
    EXPECT_EQ(Sim().clockMs, 60u * 1000u);
    EXPECT_EQ(Sim().findCalls, 61);
    EXPECT_TRUE(Sim().clipboardAtMs.empty());
}

// A modifier key held by the user at the first key or at F5: the series waits up to
// 2000 ms, checking every 50 ms, and sends nothing while one is held.
struct ModifierCase {
    const char* name;
    unsigned heldFromMs;
    unsigned heldUntilMs;
    int exitStatus;
    int keyEventsTaken;
    unsigned firstKeyAtMs;   // when keys were sent
    unsigned f5AtMs;         // when F5 was sent
    int modifierChecks;
};

void PrintTo(const ModifierCase& c, std::ostream* os) {
    *os << c.name;
}

class HeldModifier : public testing::TestWithParam<ModifierCase> {};

TEST_P(HeldModifier, WaitsForTheReleaseOrSendsNothingMore) {
    const ModifierCase& c = GetParam();
    SimScript script;
    script.modifierHeldFromMs = c.heldFromMs;
    script.modifierHeldUntilMs = c.heldUntilMs;
    script.input = "\n";
    SimReset(script);
    EXPECT_EQ(RunAutomation(), c.exitStatus);
    EXPECT_EQ(static_cast<int>(Sim().keys.size()), c.keyEventsTaken);
    EXPECT_EQ(Sim().modifierChecks, c.modifierChecks);
    for (const SimKeyEvent& key : Sim().keys) {
        EXPECT_FALSE(c.heldFromMs <= key.atMs && key.atMs < c.heldUntilMs) << "key at " << key.atMs;
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
    EXPECT_EQ(Sim().clockMs, c.f5AtMs);  // where it gave up
}

INSTANTIATE_TEST_SUITE_P(
    AtFirstKeyAndAtF5, HeldModifier,
    testing::Values(
        // Clipboard filled at 0, first check at 500.
        ModifierCase{"NotHeld", 0, 0, 0, 12, 500, 700, 2},
        ModifierCase{"HeldAtFirstKeyReleasedWithinWait", 0, 1230, 0, 12, 1250, 1450, 17},
        ModifierCase{"HeldAtFirstKeyReleasedAtLastCheck", 0, 2500, 0, 12, 2500, 2700, 42},
        ModifierCase{"HeldAtFirstKeyPastWait", 0, 2501, 2, 0, 0, 2500, 41},
        ModifierCase{"HeldAtF5ReleasedWithinWait", 600, 1000, 0, 12, 500, 1000, 8},
        ModifierCase{"HeldAtF5PastWait", 600, 60000, 2, 10, 500, 2700, 42}),
    [](const testing::TestParamInfo<ModifierCase>& info) { return std::string(info.param.name); });

// Another run holding the desktop: this one waits for it, then runs its whole series.
struct LockCase {
    const char* name;
    unsigned heldByOtherMs;
    bool abandoned;
    std::string takeCall;
    int exitStatus;
    unsigned firstKeyAtMs;
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
    EXPECT_EQ(Sim().calls.front(), c.takeCall);
    EXPECT_FALSE(Sim().lockHeld);
    if (c.exitStatus == 0) {
        EXPECT_EQ(Sim().calls, Join({{c.takeCall, "find " + TITLE + " -> window"}, ACTIVATE_AND_FILL, KEYS_AND_DONE}));
        ASSERT_EQ(Sim().keys.size(), 12u);
        EXPECT_EQ(Sim().keys.front().atMs, c.firstKeyAtMs);
        return;
    }
    // Touches nothing: no lookup, no clipboard, no key, and no lock to release.
    EXPECT_EQ(Sim().calls, (Calls{c.takeCall, std::string("write ") + MSG_ALREADY_RUNNING, "read -> character"}));
    EXPECT_EQ(Sim().output, MSG_ALREADY_RUNNING);
    EXPECT_EQ(Sim().clockMs, 90000u);
}

const std::string LOCK = std::string("take lock ") + RUN_LOCK_NAME + " 90000";

INSTANTIATE_TEST_SUITE_P(
    ByOtherRun, RunLock,
    testing::Values(
        LockCase{"Free", 0, false, LOCK + " -> taken", 0, 500},
        LockCase{"TakenThenReleased", 8000, false, LOCK + " -> taken", 0, 8500},
        LockCase{"ReleasedAtTheLastMoment", 90000, false, LOCK + " -> taken", 0, 90500},
        LockCase{"OwnerDied", 3000, true, LOCK + " -> abandoned, taken", 0, 3500},
        LockCase{"TakenPastTheWait", LOCK_NEVER_FREE, false, LOCK + " -> timed out", 2, 0}),
    [](const testing::TestParamInfo<LockCase>& info) { return std::string(info.param.name); });

}  // namespace
