// Work on stacks of its own: a suspended stack gives control back to whoever started it and
// goes on where it stopped, in any order against other stacks.

#include <gtest/gtest.h>

#include <cstdio>

#include <stdexcept>
#include <string>

#include "station/engine_stack.h"

namespace kestrel {
namespace {

TEST(EngineStack, SuspendedWorkGivesControlBackAndGoesOnWhereItStopped)
{
    CEngineStack stack;
    std::string trace;
    stack.Run([&] {
        trace += 'a';
        EXPECT_TRUE(stack.IsCurrent());
        EXPECT_TRUE(stack.Suspend());
        trace += 'c';
    });
    trace += 'b';
    EXPECT_TRUE(stack.IsSuspended());
    EXPECT_FALSE(stack.IsCurrent());
    stack.Resume();
    EXPECT_EQ(trace, "abc");
    EXPECT_FALSE(stack.IsSuspended());

    // The stack takes the next work once the last is done.
    stack.Run([&] {
        EXPECT_TRUE(stack.IsCurrent());
        trace += 'd';
    });
    EXPECT_EQ(trace, "abcd");
}

TEST(EngineStack, WorkArrivingWhileSuspendedRunsAtOnceWhereItIsCalled)
{
    CEngineStack stack;
    std::string trace;
    stack.Run([&] {
        EXPECT_TRUE(stack.Suspend());
        trace += 'c';
    });
    stack.Run([&] {
        EXPECT_FALSE(stack.IsCurrent());
        trace += 'b';
    });
    EXPECT_EQ(trace, "b");
    stack.Resume();
    EXPECT_EQ(trace, "bc");
}

TEST(EngineStack, StacksEndTheirWaitsInAnyOrder)
{
    // Nested event loops could only end the later wait first.
    CEngineStack first, second;
    std::string trace;
    first.Run([&] {
        EXPECT_TRUE(first.Suspend());
        trace += '1';
    });
    second.Run([&] {
        EXPECT_TRUE(second.Suspend());
        trace += '2';
    });
    first.Resume();
    EXPECT_EQ(trace, "1");
    EXPECT_TRUE(second.IsSuspended());
    second.Resume();
    EXPECT_EQ(trace, "12");
}

TEST(EngineStack, AStackStartedFromAnotherGivesControlBackToIt)
{
    CEngineStack outer, inner;
    std::string trace;
    outer.Run([&] {
        inner.Run([&] {
            EXPECT_TRUE(inner.IsCurrent());
            EXPECT_FALSE(outer.IsCurrent());
            EXPECT_TRUE(inner.Suspend());
            trace += 'c';
        });
        EXPECT_TRUE(outer.IsCurrent());
        trace += 'a';
    });
    trace += 'b';
    EXPECT_FALSE(outer.IsSuspended());
    inner.Resume();
    EXPECT_EQ(trace, "abc");
}


TEST(EngineStack, CancelledWorkGoesOnToldSoAndUnwinds)
{
    CEngineStack stack;
    std::string trace;
    stack.Run([&] {
        struct Frame {
            std::string& t;
            ~Frame() { t += 'u'; }
        } frame{trace};
        if (!stack.Suspend()) trace += 'x';
    });
    stack.Cancel();
    EXPECT_EQ(trace, "xu");
    EXPECT_TRUE(stack.IsFree());
    // Cancelling is for that one wait: the next work suspends and resumes as ever.
    stack.Run([&] { trace += stack.Suspend() ? 'r' : 'c'; });
    stack.Resume();
    EXPECT_EQ(trace, "xur");
}

TEST(EngineStack, AnExceptionOnTheStackIsThrownOnTheCallersStack)
{
    CEngineStack stack;
    EXPECT_THROW(stack.Run([] { throw std::runtime_error("on the stack"); }), std::runtime_error);
    EXPECT_TRUE(stack.IsFree());

    // Thrown after a wait: it reaches whoever resumed the work.
    stack.Run([&] {
        EXPECT_TRUE(stack.Suspend());
        throw std::logic_error("after the wait");
    });
    try {
        stack.Resume();
        ADD_FAILURE() << "the exception was lost";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "after the wait");
    }
    EXPECT_TRUE(stack.IsFree());
    int ran = 0;
    stack.Run([&] { ++ran; });
    EXPECT_EQ(ran, 1);
}

// Recursion that only a guard page can stop.
int Deeper(int depth)
{
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return depth > 1'000'000 ? frame[0] : Deeper(depth + 1) + frame[0];
}

using EngineStackDeathTest = ::testing::Test;

TEST_F(EngineStackDeathTest, MisuseStopsTheProcessLoudly)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            CEngineStack stack;
            stack.Run([] { std::printf("%d\n", Deeper(0)); });
        },
        "");
    EXPECT_DEATH(
        {
            auto* stack = new CEngineStack;
            stack->Run([stack] { (void)stack->Suspend(); });
            delete stack;
        },
        "destroyed while its work was suspended");
    EXPECT_DEATH(
        {
            CEngineStack stack;
            (void)stack.Suspend();
        },
        "suspended from outside its own work");
    // An exception nobody catches ends the process naming it, not with a bare abort.
    EXPECT_DEATH(
        []() noexcept {
            CEngineStack stack;
            stack.Run([] { throw std::runtime_error("lost on the engine stack"); });
        }(),
        "lost on the engine stack");
}

}  // namespace
}  // namespace kestrel
