// The buttons: refusals before anything is sent, Stop, ToDM, and what a late reply may do.

#include "engine_fixture.h"

#include "image/download_type.h"

namespace kestrel::test {
namespace {

TEST_F(EngineTest, RunIsRefusedBeforeAnythingIsSent)
{
    struct Case {
        const char* name;
        std::function<void()> setup;
        const char* message;
    } cases[] = {
        {"no image for a NORMAL run", [this] { m_pEngine->SetDloadType(DLOAD_EMERGENCY); }, "First, Select right bin file"},
        {"no type selected",
         [this] {
             LoadNew(BootImage(2048), DLOAD_CHANGE_EMERGENCY);
             m_pEngine->SetDloadType(9);
         },
         "Select a download type first."},
        {"empty image", [this] { LoadNew(Bytes{}, DLOAD_FONT_EMERGENCY); },
         "The bin file is empty: there is nothing to download."},
        {"image changed on disk since it was loaded",
         [this] {
             LoadNew(BootImage(2048), DLOAD_CHANGE_EMERGENCY);
             WriteImage("new.bin", BootImage(1024));
         },
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        m_seen.clear();
        m_view = CRecordingView();
        SetUp();
        c.setup();
        Run();
        EXPECT_TRUE(m_seen.empty());
        EXPECT_TRUE(m_pDevice->Opens().empty());
        ASSERT_EQ(m_view.messages.size(), 1u);
        if (c.message) {
            EXPECT_EQ(m_view.messages[0], c.message);
        }
        EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Refused});
    }
}

TEST_F(EngineTest, PortThatDoesNotOpenIsReportedAndNothingStarts)
{
    LoadNew(BootImage(2048), DLOAD_CHANGE_EMERGENCY);
    m_pDevice->FailOpens(true);
    Run();
    EXPECT_TRUE(m_view.HasLine("USB 연결 상태를 확인하세요.", kLogInfo));
    EXPECT_TRUE(m_view.HasLine("/dev/kestrel-test-handset does not exist. Is the handset connected?", kLogError));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::PortError});
    EXPECT_FALSE(m_pEngine->IsLinkUp());
}

class StopRule : public EngineTest {
protected:
    // A FONT run of 70 blocks whose handset stops answering after `answered` blocks.
    void HoldAtBlock(int answered)
    {
        LoadNew(Bytes(70 * 1024, 0x3C), DLOAD_FONT_EMERGENCY);
        m_script = [answered](const SeenWrite& w, int nth) -> std::optional<Bytes> {
            if (w.kind == Seen::Block && nth >= answered - 1) return std::nullopt;
            return GoodReply(w);
        };
        m_pEngine->OnRun();
        m_scheduler.RunFor(0);
    }
};

TEST_F(StopRule, RefusedDuringTheEraseAndUpToBlock64)
{
    LoadNew(Bytes(4096, 0x3C), DLOAD_FONT_EMERGENCY);
    m_script = [](const SeenWrite& w, int) -> std::optional<Bytes> {
        return w.kind == Seen::Erase ? std::nullopt : GoodReply(w);
    };
    m_pEngine->OnRun();
    m_scheduler.RunFor(0);
    ASSERT_EQ(m_pEngine->Run().eStep, RunStep::WaitFlash);
    m_pEngine->OnStop();
    EXPECT_TRUE(m_view.HasLine("can't stop downloading", kLogError));
    EXPECT_TRUE(m_pEngine->IsLinkUp());
}

TEST_F(StopRule, AtBlockIndex64ItIsRefused)
{
    HoldAtBlock(64);
    ASSERT_EQ(m_pEngine->Run().eStep, RunStep::FlashWrite);
    ASSERT_EQ(m_pEngine->Run().nBlockIndex, 64);
    m_pEngine->OnStop();
    EXPECT_TRUE(m_view.HasLine("can't stop downloading", kLogError));
    EXPECT_TRUE(m_view.outcomes.empty());
}

TEST_F(StopRule, AtBlockIndex65ItEndsTheRunAndTheLink)
{
    HoldAtBlock(65);
    ASSERT_EQ(m_pEngine->Run().nBlockIndex, 65);
    m_pEngine->OnStop();
    EXPECT_TRUE(m_view.HasLine("Tidewell stopped!!", kLogInfo));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Stopped});
    EXPECT_FALSE(m_pEngine->IsLinkUp());
    EXPECT_FALSE(m_pDevice->IsOpen());
    EXPECT_EQ(m_pEngine->Run().eStep, RunStep::Idle);
    EXPECT_EQ(m_view.buttons, (std::vector<bool>{true, true, true, true, false}));
    m_scheduler.RunFor(0);
    EXPECT_EQ(m_view.title, "Kestrel");
    EXPECT_TRUE(m_view.bTypeSelector);
    EXPECT_FALSE(m_scheduler.TimerPending(kTimerBlock));
}

TEST_F(EngineTest, AReplyAfterTheRunEndedChangesNothing)
{
    LoadNew(BootImage(4 * 1024), DLOAD_CHANGE_EMERGENCY);
    m_script = [](const SeenWrite& w, int) -> std::optional<Bytes> {
        return w.kind == Seen::Block ? std::nullopt : GoodReply(w);
    };
    m_pEngine->OnRun();
    m_scheduler.RunFor(0);
    const std::size_t sent = m_seen.size();
    m_pEngine->OnStop();
    // The reply was on its way when the run ended.
    m_pDevice->Inject(Reply(ACK, 0, 0));
    m_scheduler.RunFor(10000);
    EXPECT_EQ(m_seen.size(), sent);
    EXPECT_EQ(m_pEngine->Run().eStep, RunStep::Idle);
}

TEST_F(EngineTest, RunAfterAGiveUpStartsAfresh)
{
    LoadNew(BootImage(2048), DLOAD_CHANGE_EMERGENCY);
    m_script = [](const SeenWrite& w, int nth) -> std::optional<Bytes> {
        if (w.kind == Seen::Jump && nth < 3) return std::nullopt;
        return GoodReply(w);
    };
    Run();
    ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::NoResponse});
    EXPECT_FALSE(m_pEngine->IsLinkUp()) << "a run that gave up has closed its link";
    const auto opensBefore = m_pDevice->Opens().size();
    Run();
    EXPECT_GT(m_pDevice->Opens().size(), opensBefore);
    EXPECT_EQ(m_view.outcomes, (std::vector<RunOutcome>{RunOutcome::NoResponse, RunOutcome::Completed}));
}

TEST_F(EngineTest, ToDmSendsTheCommandOnlyOnAnOpenPort)
{
    m_pEngine->OnToDM();
    EXPECT_TRUE(m_view.HasLine("단말기를 DM 상태로 바꿈", kLogInfo));
    EXPECT_EQ(m_view.buttons, (std::vector<bool>{true, true, true, true, true}));
    EXPECT_TRUE(m_seen.empty());
}

}  // namespace
}  // namespace kestrel::test
