// The receive thread on a real pseudo-terminal: bursts, wake-ups, hang-ups and the pause.

#include <gtest/gtest.h>

#include <time.h>

#include <thread>

#include "serial/log_queue.h"
#include "serial/serial_port.h"
#include "serial/thread_rx.h"
#include "tests/support/pty_pair.h"
#include "tests/support/recording_owner.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

const Bytes kAckFrame = {0x7E, 0x02, 0x12, 0x34, 0x55, 0x66, 0x7E};

class ThreadRxPty : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.Ok());
        m_port.SetSleeper([](int) {});
        m_port.SetPortResolver([this](int) { return m_pty.SlavePath(); });
        m_port.PrepareEvents(&m_owner, &m_log);
        ASSERT_TRUE(m_port.OpenPort());
        m_port.RequestJump();  // download framing from here on
        m_pty.Receive(8);
        m_log.Clear();
        m_bRun = true;
        m_thread = std::make_unique<CThreadRX>(7, m_bRun);
        m_thread->Start(&m_owner, &m_port, &m_log);
    }
    void TearDown() override { Stop(); }
    void Stop()
    {
        m_bRun = false;
        m_port.CloseAll();
        m_thread.reset();
    }
    bool WaitPackets(std::size_t n)
    {
        return m_owner.WaitFor([n](test::CRecordingOwner& o) { return o.PacketCount() >= n; });
    }

    test::CPtyPair m_pty;
    test::CRecordingOwner m_owner;
    CLogQueue m_log;
    CSerialPort m_port;
    std::atomic<bool> m_bRun{false};
    std::unique_ptr<CThreadRX> m_thread;
};

TEST_F(ThreadRxPty, DeliversAReplyWithItsLength)
{
    m_pty.Send(kAckFrame);
    ASSERT_TRUE(WaitPackets(1));
    EXPECT_EQ(m_owner.Packets()[0], (Bytes{0x02, 0x12, 0x34, 0x55, 0x66}));
}

TEST_F(ThreadRxPty, CloseWakesTheBlockedWaitAndTheEndIsPosted)
{
    std::this_thread::sleep_for(20ms);  // let it block in its wait
    ASSERT_TRUE(m_thread->IsAlive());
    m_bRun = false;
    m_port.CloseAll();
    EXPECT_TRUE(m_thread->WaitUntilEnded(2000));
    EXPECT_FALSE(m_thread->IsAlive());
    EXPECT_EQ(m_owner.ThreadEnds(), std::vector<int>{7});
}

TEST_F(ThreadRxPty, AReplySplitAcrossTwoBurstsIsLost)
{
    // The gaps are far longer than a burst's pause, so that a loaded machine still ends the
    // first burst before the rest arrives.
    m_pty.Send({0x7E, 0x02, 0x12});
    std::this_thread::sleep_for(250ms);
    m_pty.Send({0x34, 0x7E});
    std::this_thread::sleep_for(250ms);
    m_pty.Send(kAckFrame);  // the line still works afterwards
    ASSERT_TRUE(WaitPackets(1));
    std::this_thread::sleep_for(30ms);
    ASSERT_EQ(m_owner.Packets().size(), 1u);
    EXPECT_EQ(m_owner.Packets()[0][0], 0x02);
    EXPECT_EQ(m_owner.Packets()[0].size(), 5u);
}

TEST_F(ThreadRxPty, OverflowDiscardsTheRestOfTheBurstOnly)
{
    Bytes burst = {0x7E};
    burst.insert(burst.end(), 600, 0x41);
    burst.insert(burst.end(), kAckFrame.begin(), kAckFrame.end());
    m_pty.Send(burst);
    std::this_thread::sleep_for(80ms);
    EXPECT_TRUE(m_owner.Packets().empty());
    m_pty.Send(kAckFrame);
    EXPECT_TRUE(WaitPackets(1));
}

TEST_F(ThreadRxPty, HangUpIsLoggedOnceAndBurnsNoCpu)
{
    const int noticesBefore = m_owner.LogNotices();
    m_pty.HangUp();
    ASSERT_TRUE(m_owner.WaitFor([&](test::CRecordingOwner& o) { return o.LogNoticeCount() > noticesBefore; }));

    timespec before{}, after{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    std::this_thread::sleep_for(1s);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    const double cpuSeconds = static_cast<double>(after.tv_sec - before.tv_sec) +
                              static_cast<double>(after.tv_nsec - before.tv_nsec) / 1e9;
    EXPECT_LT(cpuSeconds, 0.1) << "the receive loop spins on a hung-up port";

    CLogEntry e;
    ASSERT_TRUE(m_log.Pop(e));
    EXPECT_EQ(e.nKind, kLogError) << e.strText;
    while (m_log.Pop(e)) ADD_FAILURE() << "more than one line: " << e.strText;
    EXPECT_EQ(m_owner.LogNotices(), noticesBefore + 1);
    // The owner is told once, with the opening of the port that went away.
    EXPECT_EQ(m_owner.Faults(), (std::vector<std::pair<LinkFault, uint64_t>>{{LinkFault::HangUp, m_port.Generation()}}));
    EXPECT_TRUE(m_thread->IsAlive()) << "the owner decides what happens next";

    Stop();
    EXPECT_EQ(m_owner.ThreadEnds(), std::vector<int>{7});
}

TEST_F(ThreadRxPty, ALineThatNeverGoesQuietStillLetsTheThreadPause)
{
    // Bytes 1 ms apart make one endless burst; a speed change must not wait for its end.
    std::atomic<bool> chatter{true};
    std::thread talker([&] {
        while (chatter) {
            m_pty.Send({0x55});
            std::this_thread::sleep_for(1ms);
        }
    });
    ASSERT_TRUE(m_owner.WaitFor([&](test::CRecordingOwner&) { return m_thread->IsAlive(); }));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(m_thread->Pause());
    m_thread->Resume();
    chatter = false;
    talker.join();
}

TEST_F(ThreadRxPty, RepliesCarryTheOpeningOfThePortTheyWereReadOn)
{
    const uint64_t first = m_port.Generation();
    m_pty.Send(kAckFrame);
    ASSERT_TRUE(WaitPackets(1));
    m_thread->Pause();
    m_port.ChangeBaudRate(115200);
    m_thread->Resume();
    m_pty.Send(kAckFrame);
    ASSERT_TRUE(WaitPackets(2));
    EXPECT_EQ(m_owner.Generations(), (std::vector<uint64_t>{first, first + 1}));
}

TEST_F(ThreadRxPty, PausedThreadFollowsTheReopenedPort)
{
    m_thread->Pause();
    m_port.ChangeBaudRate(115200);
    m_thread->Resume();
    ASSERT_TRUE(m_port.IsOpen());
    termios t = m_pty.LineSettings();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    m_pty.Send(kAckFrame);
    EXPECT_TRUE(WaitPackets(1));
    EXPECT_TRUE(m_thread->IsAlive());
}

TEST(ThreadRx, ASpeedChangeRightAfterTheStartWaitsForTheThread)
{
    // The run changes the speed at once when the port was left at another one; the new
    // thread must not look at the port while it is closed for the change.
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    test::CRecordingOwner owner;
    CLogQueue log;
    CSerialPort port;
    port.SetSleeper([](int) {});
    port.SetPortResolver([&](int) { return pty.SlavePath(); });
    port.SetLineSettings(1, 115200, 8, 0, 0);
    port.PrepareEvents(&owner, &log);
    ASSERT_TRUE(port.OpenPort());
    port.RequestJump();  // download framing from here on
    pty.Receive(8);
    std::atomic<bool> run{true};
    CThreadRX thread(5, run);
    thread.Start(&owner, &port, &log);
    thread.Pause();
    port.ChangeBaudRate(57600);
    thread.Resume();
    pty.Send(kAckFrame);
    EXPECT_TRUE(owner.WaitFor([](test::CRecordingOwner& o) { return o.PacketCount() >= 1; }));
    EXPECT_TRUE(thread.IsAlive());
    run = false;
    port.CloseAll();
}

TEST(ThreadRx, PortClosedBeforeTheThreadStartsEndsItWithItsLine)
{
    test::CRecordingOwner owner;
    CLogQueue log;
    CSerialPort port;
    std::atomic<bool> run{true};
    CThreadRX thread(3, run);
    thread.Start(&owner, &port, &log);
    EXPECT_TRUE(thread.WaitUntilEnded(2000));
    CLogEntry e;
    ASSERT_TRUE(log.Pop(e));
    EXPECT_EQ(e.nKind, kLogStatus);
    EXPECT_EQ(e.strText, "\nFail to set Comm mask\n\n");
    EXPECT_EQ(owner.ThreadEnds(), std::vector<int>{3});
}

TEST(ThreadRx, ALinkStoppedBeforeTheThreadLookedAtThePortEndsWithoutALine)
{
    test::CRecordingOwner owner;
    CLogQueue log;
    CSerialPort port;
    std::atomic<bool> run{false};  // the run ended and closed the port before the thread started
    CThreadRX thread(4, run);
    thread.Start(&owner, &port, &log);
    EXPECT_TRUE(thread.WaitUntilEnded(2000));
    CLogEntry e;
    EXPECT_FALSE(log.Pop(e)) << e.strText;
    EXPECT_EQ(owner.ThreadEnds(), std::vector<int>{4});
}

TEST(ThreadRx, DestroyedBeforeStartEndsQuietly)
{
    test::CRecordingOwner owner;
    std::atomic<bool> run{true};
    { CThreadRX thread(1, run); }
    EXPECT_TRUE(owner.ThreadEnds().empty());
}

}  // namespace
}  // namespace kestrel
