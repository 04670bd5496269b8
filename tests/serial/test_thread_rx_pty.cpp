// The receive thread on a real pseudo-terminal: bursts, wake-ups, hang-ups and the pause.

#include <gtest/gtest.h>

#include <time.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "serial/log_queue.h"
#include "serial/posix_port_device.h"
#include "serial/serial_port.h"
#include "serial/thread_rx.h"
#include "tests/support/pty_pair.h"
#include "tests/support/recording_owner.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// Two replies a test can tell apart; download framing delivers the content between the flags.
const Bytes kAckReply = {0x02, 0x12, 0x34, 0x55, 0x66};
const Bytes kOtherReply = {0x04, 0x21, 0x43};

Bytes Framed(const Bytes& content)
{
    Bytes frame = {0x7E};
    frame.insert(frame.end(), content.begin(), content.end());
    frame.push_back(0x7E);
    return frame;
}

const Bytes kAckFrame = Framed(kAckReply);
const Bytes kOtherFrame = Framed(kOtherReply);

// The pseudo-terminal's device with the receive thread's reads and waits counted. Once the
// thread has read what was sent and come back to wait, it has posted all those bytes held:
// a test knows a burst is over, and that nothing more is coming from it, without a sleep.
class CWatchedPortDevice final : public IPortDevice {
public:
    PortOpenError Open(const std::string& path, const SLineSettings& settings) override
    {
        return m_device.Open(path, settings);
    }
    void Close() override { m_device.Close(); }
    bool Write(const uint8_t* data, std::size_t length, int deadlineMs) override
    {
        return m_device.Write(data, length, deadlineMs);
    }
    std::size_t Read(uint8_t* buffer, std::size_t length) override
    {
        const std::size_t n = m_device.Read(buffer, length);
        std::lock_guard g(m_lock);
        m_nRead += n;
        m_changed.notify_all();
        return n;
    }
    PortWait WaitForInput() override
    {
        {
            std::lock_guard g(m_lock);
            ++m_nWaits;
            m_nReadBeforeWait = m_nRead;
            m_changed.notify_all();
        }
        return m_device.WaitForInput();
    }
    void Interrupt() override { m_device.Interrupt(); }

    // Until the thread has read totalRead bytes in all and is waiting for more.
    bool WaitIdle(std::size_t totalRead)
    {
        return WaitUntil([&] { return m_nWaits > 0 && m_nReadBeforeWait >= totalRead; });
    }
    // Until the thread has read at least totalRead bytes in all.
    bool WaitRead(std::size_t totalRead)
    {
        return WaitUntil([&] { return m_nRead >= totalRead; });
    }

private:
    template <class Pred>
    bool WaitUntil(Pred pred)
    {
        std::unique_lock g(m_lock);
        return m_changed.wait_for(g, 5s, pred);
    }

    CPosixPortDevice m_device;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::size_t m_nRead = 0;
    std::size_t m_nReadBeforeWait = 0;
    uint64_t m_nWaits = 0;
};

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
    // Sends bytes as the handset and waits until the receive thread has read them and gone
    // back to waiting: they were one burst of their own, and what they held is posted.
    bool SendAndSettle(const Bytes& bytes)
    {
        m_pty.Send(bytes);
        m_nSent += bytes.size();
        return m_pDevice->WaitIdle(m_nSent);
    }

    test::CPtyPair m_pty;
    test::CRecordingOwner m_owner;
    CLogQueue m_log;
    CWatchedPortDevice* m_pDevice = new CWatchedPortDevice;  // owned by m_port
    CSerialPort m_port{std::unique_ptr<IPortDevice>(m_pDevice)};
    std::size_t m_nSent = 0;
    std::atomic<bool> m_bRun{false};
    std::unique_ptr<CThreadRX> m_thread;
};

TEST_F(ThreadRxPty, DeliversAReplyWithItsLength)
{
    ASSERT_TRUE(SendAndSettle(kAckFrame));
    EXPECT_EQ(m_owner.Packets(), std::vector<Bytes>{kAckReply});
}

TEST_F(ThreadRxPty, CloseWakesTheBlockedWaitAndTheEndIsPosted)
{
    ASSERT_TRUE(m_pDevice->WaitIdle(0));  // it has gone into its wait
    ASSERT_TRUE(m_thread->IsAlive());
    m_bRun = false;
    m_port.CloseAll();
    EXPECT_TRUE(m_thread->WaitUntilEnded(2000));
    EXPECT_FALSE(m_thread->IsAlive());
    EXPECT_EQ(m_owner.ThreadEnds(), std::vector<int>{7});
}

TEST_F(ThreadRxPty, AReplySplitAcrossTwoBurstsIsLost)
{
    // Each half is read, and the thread is waiting again, before the next bytes are sent:
    // every part is a burst of its own. Kept across the bursts the halves would make 02 12 34.
    ASSERT_TRUE(SendAndSettle({0x7E, 0x02, 0x12}));
    ASSERT_TRUE(SendAndSettle({0x34, 0x7E}));
    ASSERT_TRUE(SendAndSettle(kOtherFrame));  // the line still works afterwards
    EXPECT_EQ(m_owner.Packets(), std::vector<Bytes>{kOtherReply});
}

TEST_F(ThreadRxPty, OverflowDiscardsTheRestOfTheBurstOnly)
{
    Bytes burst = {0x7E};
    burst.insert(burst.end(), 600, 0x41);
    burst.insert(burst.end(), kAckFrame.begin(), kAckFrame.end());
    ASSERT_TRUE(SendAndSettle(burst));
    EXPECT_EQ(m_owner.Packets(), std::vector<Bytes>{}) << "the frame after the overflow was delivered";
    ASSERT_TRUE(SendAndSettle(kOtherFrame));
    EXPECT_EQ(m_owner.Packets(), std::vector<Bytes>{kOtherReply});
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
    ASSERT_TRUE(m_pDevice->WaitRead(3));  // it is reading the chatter
    EXPECT_TRUE(m_thread->Pause());
    m_thread->Resume();
    chatter = false;
    talker.join();
}

TEST_F(ThreadRxPty, RepliesCarryTheOpeningOfThePortTheyWereReadOn)
{
    const uint64_t first = m_port.Generation();
    ASSERT_TRUE(SendAndSettle(kAckFrame));
    m_thread->Pause();
    m_port.ChangeBaudRate(115200);
    m_thread->Resume();
    ASSERT_TRUE(SendAndSettle(kOtherFrame));
    EXPECT_EQ(m_owner.Packets(), (std::vector<Bytes>{kAckReply, kOtherReply}));
    EXPECT_EQ(m_owner.Generations(), (std::vector<uint64_t>{first, first + 1}));
}

TEST_F(ThreadRxPty, PausedThreadFollowsTheReopenedPort)
{
    m_thread->Pause();
    m_port.ChangeBaudRate(115200);
    m_thread->Resume();
    ASSERT_TRUE(m_port.IsOpen());
    termios t = m_pty.SLineSettings();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    ASSERT_TRUE(SendAndSettle(kAckFrame));
    EXPECT_EQ(m_owner.Packets(), std::vector<Bytes>{kAckReply});
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
    ASSERT_TRUE(owner.WaitFor([](test::CRecordingOwner& o) { return o.PacketCount() >= 1; }));
    EXPECT_EQ(owner.Packets(), std::vector<Bytes>{kAckReply});
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
