// A run answers each request once, ends once and never talks past the handset, whatever
// the timing of its replies and the fate of its link.

#include "engine_fixture.h"

#include "image/download_type.h"
#include "protocol/run_limits.h"

namespace kestrel::test {
namespace {

constexpr const char* kDevice = "/dev/kestrel-test-handset";

class RunIntegrity : public EngineTest {
protected:
    // Makes the handset's reply arrive after the given time instead of at once.
    void ReplyLater(int64_t delayMs, Bytes reply)
    {
        m_scheduler.SetTimer(m_nNextTimer++, static_cast<int>(delayMs),
                             [this, reply] { m_pDevice->Inject(reply); });
    }
    // Calls the action at the given time from now, at the engine's top level.
    void Later(int64_t delayMs, std::function<void()> action)
    {
        m_scheduler.SetTimer(m_nNextTimer++, static_cast<int>(delayMs), std::move(action));
    }
    // Nothing of the run is left: no timer armed, link closed, pointer released.
    void ExpectNothingLeft()
    {
        for (int id : {kTimerRequest, kTimerBlock, kTimerClock, kTimerSettle})
            EXPECT_FALSE(m_scheduler.TimerPending(id)) << "timer " << id;
        EXPECT_FALSE(m_pEngine->IsLinkUp());
        EXPECT_FALSE(m_pEngine->IsRunActive());
        EXPECT_FALSE(m_view.bWaitCursor);
        EXPECT_FALSE(m_view.bMouseCaptured);
    }
    int Count(Seen kind) const
    {
        const auto kinds = Kinds();
        return static_cast<int>(std::count(kinds.begin(), kinds.end(), kind));
    }

    int m_nNextTimer = 1000;
};

TEST_F(RunIntegrity, ALateReplyAndTheReplyToItsResendAdvanceTheRunOnce)
{
    // The jump is answered 20 ms after its supervision gave up, and the resend is answered
    // right behind it, before the tool has handled the first: two replies, one request.
    const Bytes image = BootImage(4 * 1024);
    LoadNew(image, DLOAD_CHANGE_EMERGENCY);
    m_script = [this](const SeenWrite& w, int nth) -> std::optional<Bytes> {
        if (w.kind == Seen::Jump && nth == 0) {
            Later(3020, [this] {
                // Two bursts, both read before the engine gets to the first.
                m_pDevice->Inject(Reply(ACK, 0, 0));
                m_pDevice->Settle();
                m_pDevice->Inject(Reply(ACK, 0, 0));
            });
        }
        if (w.kind == Seen::Jump && nth < 2) return std::nullopt;
        // The restart takes the handset a while: the erase must wait for its answer.
        if (w.kind == Seen::Start && nth == 1) {
            ReplyLater(200, Reply(ACK, 0, 0));
            return std::nullopt;
        }
        return GoodReply(w);
    };
    Run();
    ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
    ASSERT_EQ(Kinds(false), (std::vector<Seen>{Seen::Start, Seen::Jump, Seen::Jump, Seen::Start, Seen::Erase,
                                               Seen::Jump}));
    EXPECT_GE(m_seen[4].nTimeMs, m_seen[3].nTimeMs + 200) << "the erase went out before the restart was answered";
    for (std::size_t i = 3; i < m_seen.size(); ++i) EXPECT_EQ(m_seen[i].dwBaud, 115200u) << "write " << i;
    EXPECT_EQ(SentImage(), image);
    ExpectNothingLeft();
}

TEST_F(RunIntegrity, TheFirstReplyToARequestSentOnceIsTakenWithoutDelay)
{
    LoadNew(BootImage(2 * 1024), DLOAD_CHANGE_EMERGENCY);
    Run();
    ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
    // Start, jump, then the speed change's 600 ms, then no pause between the later requests.
    const auto& restart = m_seen[2];
    const auto& erase = m_seen[3];
    ASSERT_EQ(restart.kind, Seen::Start);
    ASSERT_EQ(erase.kind, Seen::Erase);
    EXPECT_EQ(erase.nTimeMs, restart.nTimeMs);
}

TEST_F(RunIntegrity, CompareButtonIsRefusedWhileACompareRunWritesItsRanges)
{
    const std::size_t range = 0x20000;
    Bytes oldImage = BootImage(3 * range);
    Bytes newImage = oldImage;
    newImage[10] ^= 1;              // range 0
    newImage[2 * range + 10] ^= 1;  // range 2
    int type = DLOAD_COMPARE_EMERGENCY;
    ASSERT_TRUE(m_pEngine->OldImage().Load(WriteImage("old.bin", oldImage), type));
    LoadNew(newImage, DLOAD_COMPARE_EMERGENCY);
    m_settings.values["BACKUP_OLD_FILE"] = "0";
    // Blocks are answered 5 ms late, so that the button is pressed in the middle of range 0.
    m_script = [this](const SeenWrite& w, int nth) -> std::optional<Bytes> {
        if (w.kind == Seen::Block && nth == 3) Later(1, [this] { m_pEngine->OnCompare(); });
        if (w.kind != Seen::Block) return GoodReply(w);
        ReplyLater(5, *GoodReply(w));
        return std::nullopt;
    };
    Run(600000);
    ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
    EXPECT_EQ(Count(Seen::Erase), 2);
    EXPECT_EQ(Count(Seen::Block), 2 * static_cast<int>(range / 1024));
    EXPECT_EQ(m_view.CountLines("Complete Dload Block 1\n"), 1);
    EXPECT_EQ(m_view.CountLines("Complete Dload Block 2\n"), 1);
}

TEST_F(RunIntegrity, AReopenAfterTheJumpWaitsBoundedlyForTheHandset)
{
    struct Case {
        const char* name;
        int64_t backAfterMs;  // < 0: never
        RunOutcome outcome;
    } cases[] = {{"returns", 1200, RunOutcome::Completed}, {"gone", -1, RunOutcome::PortError}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        LoadNew(BootImage(2 * 1024), DLOAD_CHANGE_EMERGENCY);
        m_script = [&](const SeenWrite& w, int nth) -> std::optional<Bytes> {
            if (w.kind == Seen::Jump && nth == 0) {
                // Answered, then the handset drops off the bus to come back in its loader.
                m_pDevice->FailOpens(true);
                if (c.backAfterMs >= 0) Later(c.backAfterMs, [this] { m_pDevice->FailOpens(false); });
            }
            return GoodReply(w);
        };
        // The wait is bounded: the run has ended by itself well within seven seconds.
        Run(7000);
        ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{c.outcome});
        EXPECT_EQ(m_view.CountLines(std::string("Waiting up to 5 s for the handset to come back on ") + kDevice), 1);
        if (c.outcome == RunOutcome::PortError) {
            EXPECT_TRUE(m_view.HasLine("USB 연결 상태를 확인하세요.", kLogInfo));
            EXPECT_EQ(m_seen.back().kind, Seen::Jump) << "nothing is sent without a port";
        }
        ExpectNothingLeft();
    }
}

TEST_F(RunIntegrity, RetransmissionsOfOneBlockOrRequestAreBounded)
{
    struct Case {
        const char* name;
        Seen at;
        int nth;  // from this write of the kind on, every reply is replaced
        Bytes reply;
        const char* line;
        Seen resent;
    } cases[] = {
        {"block_never_passes_its_check", Seen::Block, 2, Reply(ACK, 0x12, 0x34),
         "The block at 0x800 failed 10 retransmissions: download stopped.", Seen::RetryBlock},
        {"erase_always_damaged", Seen::Erase, 0, Reply(NAK_BAD_CRC, 0, 0),
         "The request failed 10 retransmissions: download stopped.", Seen::Erase},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        LoadNew(BootImage(4 * 1024), DLOAD_CHANGE_EMERGENCY);
        m_script = [&](const SeenWrite& w, int nth) -> std::optional<Bytes> {
            if (w.kind == c.at && nth >= c.nth) return c.reply;
            return GoodReply(w);
        };
        Run(600000);
        ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::HandsetError});
        EXPECT_TRUE(m_view.HasLine(c.line, kLogError));
        const int original = c.resent == Seen::RetryBlock ? 0 : 1;
        EXPECT_EQ(Count(c.resent), kMaxRetransmissions + original);
        ExpectNothingLeft();
    }
}

TEST_F(RunIntegrity, ALostLinkEndsTheRunAtOnceWhateverTheStep)
{
    struct Case {
        const char* name;
        Seen at;
        int nth;
    } cases[] = {{"during_the_erase", Seen::Erase, 0}, {"between_blocks", Seen::Block, 1}, {"at_the_jump", Seen::Jump, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        LoadNew(BootImage(4 * 1024), DLOAD_CHANGE_EMERGENCY);
        m_script = [&](const SeenWrite& w, int nth) -> std::optional<Bytes> {
            if (w.kind == c.at && nth == c.nth) {
                Later(100, [this] { m_pDevice->HangUp(); });
                return std::nullopt;
            }
            return GoodReply(w);
        };
        // Sooner than any supervision could give up.
        m_pEngine->OnRun();
        m_scheduler.RunFor(3000);
        ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::PortError});
        EXPECT_TRUE(m_view.HasLine(std::string("The handset left ") + kDevice + ": download stopped.", kLogError));
        ExpectNothingLeft();
    }
}

TEST_F(RunIntegrity, AWriteThatFailsEndsTheRunInsteadOfWaitingForAReply)
{
    LoadNew(BootImage(8 * 1024), DLOAD_CHANGE_EMERGENCY);
    m_script = [this](const SeenWrite& w, int nth) -> std::optional<Bytes> {
        if (w.kind == Seen::Block && nth == 2) m_pDevice->FailWrites(true);
        return GoodReply(w);
    };
    m_pEngine->OnRun();
    m_scheduler.RunFor(2999 + 600 + 10);  // less than one block supervision after the failure
    ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::PortError});
    EXPECT_TRUE(m_view.HasLine(std::string("Writing to ") + kDevice + " failed: download stopped.", kLogError));
    EXPECT_FALSE(m_view.HasLine("No response, retry at 0xc00"));
    ExpectNothingLeft();
}

TEST_F(RunIntegrity, ARunEndsOnceHoweverItIsEnded)
{
    // Stop, a second Stop, and closing the window after a run that already ended: one outcome.
    LoadNew(BootImage(8 * 1024), DLOAD_CHANGE_EMERGENCY);
    m_script = [](const SeenWrite& w, int) { return w.kind == Seen::Erase ? std::nullopt : GoodReply(w); };
    m_pEngine->OnRun();
    m_scheduler.RunFor(700);
    m_pEngine->OnStop();
    m_pEngine->OnStop();
    m_pEngine->OnClose();
    m_scheduler.RunFor(10000);
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Stopped});
    ExpectNothingLeft();

    // Closing the window under a run ends it as stopped.
    m_pEngine->OnRun();
    m_scheduler.RunFor(700);
    m_pEngine->OnClose();
    m_scheduler.RunFor(10000);
    EXPECT_EQ(m_view.outcomes, (std::vector<RunOutcome>{RunOutcome::Stopped, RunOutcome::Stopped}));
    ExpectNothingLeft();
}

}  // namespace
}  // namespace kestrel::test
