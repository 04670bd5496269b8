// Work on stacks of its own: a suspended stack gives control back to whoever started it and
// goes on where it stopped, in any order against other stacks.

#include <gtest/gtest.h>

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
        stack.Suspend();
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
        stack.Suspend();
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
        first.Suspend();
        trace += '1';
    });
    second.Run([&] {
        second.Suspend();
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
            inner.Suspend();
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

}  // namespace
}  // namespace kestrel
