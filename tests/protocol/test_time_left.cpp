// The time left of a write, from the rate of its last few seconds.

#include <gtest/gtest.h>

#include <optional>

#include "protocol/time_left.h"

namespace kestrel {
namespace {

// Blocks 1 to upTo of total, one every msPerBlock from startMs.
void Send(CTimeLeft& left, int64_t startMs, int from, int upTo, int total, int64_t msPerBlock)
{
    for (int block = from; block <= upTo; ++block) left.OnBlock(startMs + (block - from) * msPerBlock, block, total);
}

TEST(TimeLeft, NothingUntilAFewBlocksHaveGone)
{
    CTimeLeft left;
    EXPECT_EQ(left.Seconds(), std::nullopt);
    Send(left, 0, 1, CTimeLeft::kMinBlocks - 1, 1000, 100);
    EXPECT_EQ(left.Seconds(), std::nullopt);
    left.OnBlock(400, CTimeLeft::kMinBlocks, 1000);
    EXPECT_TRUE(left.Seconds().has_value());
}

TEST(TimeLeft, ASteadyRateGivesTheExactRest)
{
    struct Case {
        int64_t msPerBlock;
        int sent;
        int total;
        int seconds;
        int64_t bytesPerSecond;
    } cases[] = {
        {100, 10, 110, 10, 10240},   // 100 blocks at 10 a second
        {250, 40, 100, 15, 4096},    // 60 blocks at 4 a second
        {90, 500, 2048, 140, 11377}, // 1548 blocks at 90 ms: 139.32 s, rounded up
        {100, 100, 100, 0, 10240},   // all sent
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.msPerBlock);
        CTimeLeft left;
        Send(left, 1000, 1, c.sent, c.total, c.msPerBlock);
        EXPECT_EQ(left.Seconds(), c.seconds);
        EXPECT_EQ(left.BytesPerSecond(), c.bytesPerSecond);
    }
}

TEST(TimeLeft, FollowsTheRateOfTheLastSecondsOnly)
{
    CTimeLeft left;
    // Fast at first, then a fifth of the speed for longer than the window.
    Send(left, 0, 1, 100, 1000, 20);
    Send(left, 2000, 101, 200, 1000, 100);
    EXPECT_EQ(left.Seconds(), 80);  // 800 blocks at 100 ms
    EXPECT_EQ(left.BytesPerSecond(), 10240);
}

TEST(TimeLeft, ANewRangeAndABlockSentAgainStartNothingWrong)
{
    CTimeLeft left;
    Send(left, 0, 1, 50, 100, 100);
    // A resend of the last block neither resets nor moves the estimate.
    left.OnBlock(5100, 50, 100);
    EXPECT_EQ(left.Seconds(), 5);
    // The next range starts over: no estimate from the last one's blocks.
    left.OnBlock(6000, 1, 30);
    EXPECT_EQ(left.Seconds(), std::nullopt);
}

}  // namespace
}  // namespace kestrel
