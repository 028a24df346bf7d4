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

// The calls of a launch followed by `attempts` polls, the last of which finds the
// window when `found`.
Calls LaunchCalls(int attempts, bool found, bool refused = false) {
    Calls calls = {"find " + TITLE + " -> none", std::string("write ") + MSG_LAUNCHING,
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
    "in front? window",
    "down 0x11", "down 0xBF", "up 0xBF", "up 0x11",
    "down 0x2E", "up 0x2E",
    "down 0x11", "down 0x56", "up 0x56", "up 0x11",
    "sleep 200",
    "in front? window",
    "down 0x74", "up 0x74",
    std::string("write ") + MSG_DONE};

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
    EXPECT_EQ(Sim().calls, Join({{"find " + TITLE + " -> window"}, ACTIVATE_AND_FILL, KEYS_AND_DONE}));
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
                                 {std::string("write ") + MSG_NOT_FOUND, "read -> character"}}));
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
    Calls expected = Join({{"find " + TITLE + " -> window"}, ACTIVATE_AND_FILL, {"in front? window"},
                           c.keyCallsAfterFront,
                           {std::string("write ") + MSG_KEYS_FAILED, "read -> character"}});
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
                        "in front? window", "down 0x74 refused"}}),
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

}  // namespace
