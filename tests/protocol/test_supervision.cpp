// Lost replies: retries, give-ups and the clock of the erase, in virtual time.

#include "engine_fixture.h"

#include "image/download_type.h"

namespace kestrel::test {
namespace {

// Drops every reply to the n-th write of a kind (all later ones of that kind too when sticky).
Script Drop(Seen kind, int fromNth, bool sticky = true)
{
    return [=](const SeenWrite& w, int nth) -> std::optional<Bytes> {
        if (w.kind == kind && (nth == fromNth || (sticky && nth > fromNth))) return std::nullopt;
        return GoodReply(w);
    };
}

TEST_F(EngineTest, ThreeTimeoutsOfARequestGiveUp)
{
    LoadNew(BootImage(2048), DLOAD_CHANGE_EMERGENCY);
    m_script = Drop(Seen::Jump, 0);
    Run(8999);
    EXPECT_EQ(m_view.CountLines("패킷 재전송합니다."), 2);
    EXPECT_FALSE(m_view.HasLine("응답이 없습니다."));
    m_scheduler.RunFor(1);
    const auto kinds = Kinds();
    EXPECT_EQ(kinds, (std::vector<Seen>{Seen::Start, Seen::Jump, Seen::Jump, Seen::Jump}));
    EXPECT_TRUE(m_view.HasLine("응답이 없습니다.", kLogError));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::NoResponse});
    // The run is over: buttons usable again, link closed, nothing armed, so a late reply
    // cannot take it up again.
    EXPECT_EQ(m_view.buttons, (std::vector<bool>{true, true, true, true, false}));
    EXPECT_FALSE(m_pEngine->IsLinkUp());
    EXPECT_FALSE(m_pEngine->IsRunActive());
    EXPECT_EQ(m_pEngine->Run().eStep, RunStep::Idle);
    EXPECT_FALSE(m_scheduler.TimerPending(kTimerRequest));
}

TEST_F(EngineTest, ThreeTimeoutsOfABlockGiveUpWithTheMessage)
{
    for (const char* sound : {"0", "1"}) {
        SCOPED_TRACE(sound);
        Restart();
        m_settings.values["KESTREL_SND_ERROR"] = sound;
        LoadNew(BootImage(8 * 1024), DLOAD_CHANGE_EMERGENCY);
        m_script = [](const SeenWrite& w, int nth) -> std::optional<Bytes> {
            if ((w.kind == Seen::Block && nth >= 2) || w.kind == Seen::RetryBlock) return std::nullopt;
            return GoodReply(w);
        };
        Run();
        EXPECT_TRUE(m_view.HasLine("No response, retry at 0x800", kLogInfo));  // block index 3 of base 0
        EXPECT_EQ(m_view.messages, std::vector<std::string>{"응답없음. 처음부터 다시 해주시기 바랍니다. 지송.."});
        EXPECT_EQ(m_view.sounds, std::string(sound) == "1" ? std::vector<std::string>{"SND_ERROR"}
                                                           : std::vector<std::string>{});
        EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::NoResponse});
        const auto kinds = Kinds();
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Seen::RetryBlock), 2);
        // The run is over: the buttons are ready for the next one and the link is closed.
        EXPECT_EQ(m_view.buttons, (std::vector<bool>{true, true, true, true, false}));
        EXPECT_FALSE(m_pEngine->IsLinkUp());
    }
}

TEST_F(EngineTest, ADroppedBlockReplyIsRecoveredByTheBlockTimer)
{
    const Bytes image = BootImage(4 * 1024);
    LoadNew(image, DLOAD_CHANGE_EMERGENCY);
    m_script = Drop(Seen::Block, 1, false);
    Run();
    EXPECT_TRUE(m_view.HasLine("No response, retry at 0x400", kLogInfo));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
    // Handset side: blocks 0, 1, retransmit request, block 1 again, 2, 3.
    EXPECT_EQ(SentImage().size(), 5u * 1024);
}

TEST_F(EngineTest, EraseGetsFiveHundredSecondsAndTheClockTicksMeanwhile)
{
    LoadNew(BootImage(2048), DLOAD_CHANGE_EMERGENCY);
    // The erase is answered after 200 s of (virtual) time.
    m_script = [this](const SeenWrite& w, int) -> std::optional<Bytes> {
        if (w.kind == Seen::Erase) {
            m_scheduler.SetTimer(99, 200000, [this] { m_pDevice->Inject(Reply(ACK, 0, 0)); });
            return std::nullopt;
        }
        return GoodReply(w);
    };
    m_pEngine->OnRun();
    m_scheduler.RunFor(0);
    ASSERT_EQ(Kinds().back(), Seen::Erase);
    const int64_t runStart = m_seen.front().nTimeMs;
    const int64_t erase = m_seen.back().nTimeMs;
    EXPECT_EQ(m_scheduler.TimerDue(kTimerRequest) - erase, 500000);
    EXPECT_TRUE(m_view.bWaitCursor);
    EXPECT_TRUE(m_view.bMouseCaptured);

    // The clock ticks every second from the erase request; both times count from the run's start.
    const int64_t firstTickAfter125s = erase + ((runStart + 125000 - erase) / 1000 + 1) * 1000;
    m_scheduler.RunFor(firstTickAfter125s - m_scheduler.NowMs());
    EXPECT_EQ(m_view.texts[DisplayText::Elapsed], "Elapsed time : 2 min 5 sec");
    EXPECT_EQ(m_view.texts[DisplayText::EraseTime], "Erase time : 2 min 5 sec");

    m_scheduler.RunFor(100000);
    EXPECT_FALSE(m_scheduler.TimerPending(kTimerClock)) << "the clock stops with the first block";
    EXPECT_FALSE(m_view.bWaitCursor);
    EXPECT_FALSE(m_view.bMouseCaptured);
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

TEST_F(EngineTest, EraseTimeoutSendsTheRetransmitRequestBelowTheBase)
{
    LoadNew(BootImage(2048), DLOAD_CHANGE_EMERGENCY);
    m_script = Drop(Seen::Erase, 0);
    m_pEngine->OnRun();
    m_scheduler.RunFor(0);
    ASSERT_EQ(Kinds().back(), Seen::Erase);
    const std::size_t erase = m_seen.size() - 1;
    m_scheduler.RunFor(499999);
    EXPECT_FALSE(m_view.HasLine("No response, retry at 0xfffffc00"));
    m_scheduler.RunFor(1);
    EXPECT_TRUE(m_view.HasLine("No response, retry at 0xfffffc00", kLogInfo));
    ASSERT_GT(m_seen.size(), erase + 1);
    EXPECT_EQ(m_seen[erase + 1].kind, Seen::RetryBlock) << "not the erase request again";
}

TEST_F(EngineTest, UnansweredFinalJumpStillCompletes)
{
    struct Case {
        bool compare;
        int64_t waitMs;
    } cases[] = {{false, 5000}, {true, 3000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.compare);
        Restart();
        if (c.compare) {
            Bytes oldImage = BootImage(0x20000);
            Bytes newImage = oldImage;
            newImage[5] ^= 1;
            int type = DLOAD_COMPARE_EMERGENCY;
            ASSERT_TRUE(m_pEngine->OldImage().Load(WriteImage("old.bin", oldImage), type));
            LoadNew(newImage, DLOAD_COMPARE_EMERGENCY);
            m_settings.values["BACKUP_OLD_FILE"] = "0";
        } else {
            LoadNew(BootImage(2048), DLOAD_CHANGE_EMERGENCY);
        }
        m_script = Drop(Seen::Jump, 1);
        m_pEngine->OnRun();
        m_scheduler.RunFor(20000);
        ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
        int64_t finalJump = 0;
        for (const auto& w : m_seen)
            if (w.kind == Seen::Jump) finalJump = w.nTimeMs;
        EXPECT_TRUE(m_view.HasLine("reset cmd에 대한 응답은 받지 못했지만 다운로드 종료", kLogInfo));
        const auto kinds = Kinds();
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Seen::Jump), 2) << "the final jump is never repeated";
        ASSERT_EQ(m_view.messageTimes.size(), 1u);
        EXPECT_EQ(m_view.messageTimes[0] - finalJump, c.waitMs);
    }
}

}  // namespace
}  // namespace kestrel::test
