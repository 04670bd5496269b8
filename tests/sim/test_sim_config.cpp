// The simulator's scenario file and command line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenario.h"
#include "sim_options.h"

namespace kestrel::sim {
namespace {

CScenario Load(const std::string& text)
{
    std::string error;
    auto scenario = CScenario::Parse(text, error);
    EXPECT_TRUE(scenario) << error;
    return scenario ? std::move(*scenario) : CScenario{};
}

TEST(SimScenario, RejectsBadLinesNamingTheLine)
{
    struct Case {
        const char* text;
        const char* expected;  // part of the message
    };
    const Case cases[] = {
        {"start drop\nstrat drop\n", "line 2: unknown trigger \"strat\""},
        {"start\n", "line 1: a trigger needs an action"},
        {"start explode\n", "unknown action \"explode\""},
        {"start drop now\n", "expected drop"},
        {"start@0 drop\n", "occurrence"},
        {"start@x drop\n", "occurrence"},
        {"start:3 drop\n", "only block takes an index"},
        {"block:x drop\n", "only block takes an index"},
        {"block code 1FF\n", "expected code HH"},
        {"block params 12\n", "expected params HH HH"},
        {"block nak-failed 12\n", "expected nak-"},
        {"block late\n", "expected late MS"},
        {"block late -5\n", "expected late MS"},
        {"block split 600001\n", "expected split MS"},
        {"block garbage\n", "expected garbage"},
        {"jump reenumerate\n", "expected reenumerate MS"},
        {"jump reenumerate 600001\n", "expected reenumerate MS"},
        {"jump reenumerate 1s\n", "expected reenumerate MS"},
        {"jump reenumerate 10 20\n", "expected reenumerate MS"},
        {"at code 02\n", "does not apply to at"},
        {"at split 10\n", "does not apply to at"},
        {"at reenumerate 100\n", "does not apply to at"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(CScenario::Parse(c.text, error)) << c.text;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << " gave: " << error;
    }
}

TEST(SimScenario, MatchesTheNthOccurrenceEveryOccurrenceOrABlockIndex)
{
    CScenario s = Load(
        "# comments and blank lines are skipped\n"
        "\n"
        "start@2   drop\n"
        "erase@*   late 100   # every erase\n"
        "block:1@2 params 12 34\n"
        "block@3   split 5\n");
    EXPECT_FALSE(s.Apply(ETrigger::Start, std::nullopt).bDrop);
    EXPECT_TRUE(s.Apply(ETrigger::Start, std::nullopt).bDrop);
    EXPECT_FALSE(s.Apply(ETrigger::Start, std::nullopt).bDrop);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.Apply(ETrigger::Erase, std::nullopt).nLateMs, 100u);

    // Blocks 0, 1, 1 (resent), 2: the index counts apart from the overall count.
    EXPECT_FALSE(s.Apply(ETrigger::Block, 0).optParams);
    EXPECT_FALSE(s.Apply(ETrigger::Block, 1).optParams);
    const SReplyPlan resent = s.Apply(ETrigger::Block, 1);
    ASSERT_TRUE(resent.optParams);
    EXPECT_EQ(*resent.optParams, (std::array<uint8_t, 2>{0x12, 0x34}));
    EXPECT_FALSE(resent.bOwnCheck);
    EXPECT_TRUE(resent.optSplitMs);  // also the third block overall
    EXPECT_EQ(resent.vecFired, (std::vector<std::string>{"block:1@2 params 12 34", "block@3 split 5"}));
    EXPECT_TRUE(s.Apply(ETrigger::Block, 2).vecFired.empty());
    EXPECT_TRUE(s.Apply(ETrigger::Jump, std::nullopt).vecFired.empty());
}

TEST(SimScenario, NaksCarryTheirUsualParametersUnlessGiven)
{
    CScenario s = Load(
        "start nak-invalid\n"
        "jump nak-failed 0x12 34\n"
        "erase nak-bad-crc\n"
        "retry nak-model 1 2\n");
    struct Case {
        ETrigger trigger;
        uint8_t code, p1, p2;
    };
    const Case cases[] = {
        {ETrigger::Start, 0xA3, 0x9E, 0x4C},
        {ETrigger::Jump, 0xA4, 0x12, 0x34},
        {ETrigger::Erase, 0xA1, 0x00, 0x00},
        {ETrigger::Retry, 0xA2, 0x01, 0x02},
    };
    for (const auto& c : cases) {
        const SReplyPlan plan = s.Apply(c.trigger, std::nullopt);
        EXPECT_EQ(plan.optCode, c.code);
        EXPECT_EQ(plan.optParams, (std::array<uint8_t, 2>{c.p1, c.p2}));
        EXPECT_TRUE(plan.bOwnCheck);
    }
}

TEST(SimScenario, CombinesRulesOnOneOccurrence)
{
    CScenario s = Load(
        "block:0 garbage 7e 01\n"
        "block:0 garbage 02\n"
        "block:0 late 20\n"
        "block:0 late 30\n"
        "block:0 code 05\n"
        "at unplug 1500\n");
    const SReplyPlan plan = s.Apply(ETrigger::Block, 0);
    EXPECT_EQ(plan.vecGarbage, (std::vector<uint8_t>{0x7E, 0x01, 0x02}));
    EXPECT_EQ(plan.nLateMs, 50u);
    EXPECT_EQ(plan.optCode, 0x05);
    EXPECT_FALSE(plan.optParams);
    const SReplyPlan at = s.Apply(ETrigger::At, std::nullopt);
    EXPECT_TRUE(at.bUnplug);
    EXPECT_EQ(at.optReappearMs, 1500u);
}

TEST(SimScenario, ReenumerateAnswersAndNamesWhenTheLineReturns)
{
    struct Case {
        const char* rule;
        unsigned ms;
    };
    const Case cases[] = {{"jump reenumerate 0", 0}, {"jump reenumerate 1000", 1000}, {"jump reenumerate 600000", 600000}};
    for (const auto& c : cases) {
        CScenario s = Load(std::string(c.rule) + "\njump late 30\n");
        const SReplyPlan plan = s.Apply(ETrigger::Jump, std::nullopt);
        EXPECT_EQ(plan.optReenumerateMs, c.ms) << c.rule;
        // Unlike unplug, the answer stays, with the other rules of the occurrence.
        EXPECT_FALSE(plan.bUnplug) << c.rule;
        EXPECT_FALSE(plan.bDrop) << c.rule;
        EXPECT_EQ(plan.nLateMs, 30u) << c.rule;
        EXPECT_EQ(plan.vecFired, (std::vector<std::string>{c.rule, "jump late 30"})) << c.rule;
        EXPECT_FALSE(s.Apply(ETrigger::Jump, std::nullopt).optReenumerateMs) << c.rule;
    }
}

TEST(SSimOptions, ReadsEveryOption)
{
    std::string error;
    const auto o = ParseSimOptions({"--link", "/tmp/h", "--slot-link=/tmp/by-path", "--mode=download", "--flash-out", "f.bin", "--transcript", "t.jsonl",
                                    "--scenario", "s.txt", "--pace", "--erase-ms", "1500", "--idle-exit", "2.5",
                                    "--flash-size", "4M", "--switch-ms", "300", "--reenumerate"},
                                   error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->strLink, "/tmp/h");
    EXPECT_EQ(o->strSlotLink, "/tmp/by-path");
    EXPECT_TRUE(o->bDownloadMode);
    EXPECT_EQ(o->strFlashOut, "f.bin");
    EXPECT_EQ(o->strTranscript, "t.jsonl");
    EXPECT_EQ(o->strScenario, "s.txt");
    EXPECT_TRUE(o->bPace);
    EXPECT_EQ(o->nEraseMs, 1500u);
    EXPECT_EQ(o->optIdleExitS, 2.5);
    EXPECT_EQ(o->nFlashSize, 4u << 20);
    EXPECT_EQ(o->nSwitchMs, 300u);
    EXPECT_TRUE(o->bReenumerate);

    const auto defaults = ParseSimOptions({}, error);
    ASSERT_TRUE(defaults);
    EXPECT_FALSE(defaults->bDownloadMode);
    EXPECT_FALSE(defaults->optIdleExitS);
    EXPECT_EQ(defaults->nFlashSize, 16u << 20);
}

TEST(SSimOptions, HelpAndVersionAreFlags)
{
    std::string error;
    for (const char* help : {"-h", "--help"}) {
        const auto o = ParseSimOptions({help}, error);
        ASSERT_TRUE(o) << help;
        EXPECT_TRUE(o->bHelp);
        EXPECT_FALSE(o->bVersion);
    }
    const auto version = ParseSimOptions({"--version"}, error);
    ASSERT_TRUE(version);
    EXPECT_TRUE(version->bVersion);
    EXPECT_FALSE(version->bHelp);
    EXPECT_FALSE(ParseSimOptions({"--version=2"}, error));
}

TEST(SSimOptions, RejectsBadValues)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--mode", "emergency"}, {"--mode"},        {"--erase-ms", "-1"},      {"--erase-ms", "1s"},
        {"--idle-exit", "0"},    {"--idle-exit", "x"}, {"--flash-size", "1000"}, {"--flash-size", "0"},
        {"--flash-size", "2048M"}, {"--pace=yes"},  {"--link", ""},            {"--bogus"},
        {"--slot-link", ""},     {"--slot-link"},
    };
    for (const auto& args : cases) {
        std::string error;
        EXPECT_FALSE(ParseSimOptions(args, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace kestrel::sim
