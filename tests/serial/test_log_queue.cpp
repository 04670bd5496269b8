#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "serial/log_queue.h"

namespace kestrel {
namespace {

TEST(LogQueue, HoldsOneHundredLinesAndRefusesTheNext)
{
    CLogQueue q;
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(q.Push(kLogInfo, "line " + std::to_string(i)));
    EXPECT_FALSE(q.Push(kLogInfo, "lost"));

    CLogEntry e;
    ASSERT_TRUE(q.Pop(e));
    EXPECT_EQ(e.strText, "line 0");
    EXPECT_TRUE(q.Push(kLogError, "room again"));
    EXPECT_FALSE(q.Push(kLogError, "full again"));

    for (int i = 1; i < 100; ++i) {
        ASSERT_TRUE(q.Pop(e));
        EXPECT_EQ(e.strText, "line " + std::to_string(i));
    }
    ASSERT_TRUE(q.Pop(e));
    EXPECT_EQ(e.nKind, kLogError);
    EXPECT_EQ(e.strText, "room again");
}

TEST(LogQueue, PopFromEmptyLeavesTheEntryAlone)
{
    CLogQueue q;
    CLogEntry e{7, "kept"};
    EXPECT_FALSE(q.Pop(e));
    EXPECT_EQ(e.nKind, 7);
    EXPECT_EQ(e.strText, "kept");
}

TEST(LogQueue, ClearDiscardsWaitingLines)
{
    CLogQueue q;
    q.Push(kLogStatus, "a");
    q.Push(kLogStatus, "b");
    q.Clear();
    CLogEntry e;
    EXPECT_FALSE(q.Pop(e));
    EXPECT_TRUE(q.Push(kLogStatus, "c"));
}

TEST(LogQueue, ProducersOnOtherThreadsLoseNothingThatWasAccepted)
{
    CLogQueue q;
    constexpr int kPerThread = 2000;
    std::atomic<int> accepted{0};
    auto produce = [&](int id) {
        for (int i = 0; i < kPerThread; ++i)
            if (q.Push(id, std::to_string(i))) ++accepted;
    };
    std::atomic<bool> finished{false};
    std::thread producers([&] {
        std::thread a(produce, 1), b(produce, 2);
        a.join();
        b.join();
        finished = true;
    });
    int taken = 0;
    int lastOf[3] = {-1, -1, -1};
    CLogEntry e;
    for (;;) {
        const bool wasFinished = finished;
        while (q.Pop(e)) {
            ++taken;
            const int n = std::stoi(e.strText);
            EXPECT_GT(n, lastOf[e.nKind]) << "lines of one producer out of order";
            lastOf[e.nKind] = n;
        }
        if (wasFinished) break;
        std::this_thread::yield();
    }
    producers.join();
    EXPECT_EQ(taken, accepted.load());
}

}  // namespace
}  // namespace kestrel
