// Whole runs of every download type against a well-behaved scripted handset.

#include "engine_fixture.h"

#include <iterator>

#include "image/download_type.h"
#include "protocol/run_summary.h"
#include "protocol/text_format.h"

namespace kestrel::test {
namespace {

using S = Seen;

TEST_F(EngineTest, EmergencyRunOfThreeBlocksGoesThroughEveryStep)
{
    // Loading adapts EMERGENCY to the image; the engine runs whatever type it is given.
    Bytes plain = BootImage(3 * 1024);
    plain[0x37] = 'X';
    int type = DLOAD_EMERGENCY;
    ASSERT_TRUE(m_pEngine->NewImage().Load(WriteImage("plain.bin", plain), type));
    m_pEngine->SetDloadType(DLOAD_EMERGENCY);
    Run();

    EXPECT_EQ(Kinds(), (std::vector<Seen>{S::Start, S::Jump, S::Start, S::Erase, S::Block, S::Block, S::Block, S::Jump}));
    EXPECT_EQ(m_seen[0].dwBaud, 57600u);
    EXPECT_EQ(m_seen[1].dwBaud, 57600u);
    EXPECT_EQ(m_seen[2].dwBaud, 115200u);  // the speed changes only after the jump is answered
    EXPECT_EQ(m_seen[3].dwStart, 0u);
    EXPECT_EQ(m_seen[3].dwLength, 3072u);
    EXPECT_EQ(SentImage(), plain);

    EXPECT_TRUE(m_view.HasLine("- Emergency Download", kLogInfo));
    EXPECT_TRUE(m_view.HasLine("Flash Programming 중", kLogStatus));
    EXPECT_FALSE(m_view.HasLine("Boot Programming 중"));
    ASSERT_EQ(m_view.messages.size(), 1u);
    EXPECT_EQ(m_view.messages[0].rfind("Downloading completed\nElapsed time : 0 min ", 0), 0u) << m_view.messages[0];
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
    EXPECT_EQ(m_view.buttons, (std::vector<bool>{true, true, true, true, false}));
    EXPECT_FALSE(m_pEngine->IsLinkUp());
    EXPECT_FALSE(m_pDevice->IsOpen());
    EXPECT_EQ(m_view.title, "Kestrel");  // restored when the link's end is reported
    EXPECT_TRUE(m_view.bTypeSelector);
}

TEST_F(EngineTest, ChangeRunWritesEveryBlockInTheBootStage)
{
    const Bytes image = BootImage(3 * 1024 + 100);
    EXPECT_EQ(LoadNew(image, DLOAD_EMERGENCY), DLOAD_CHANGE_EMERGENCY);
    Run();

    EXPECT_EQ(Kinds(false), (std::vector<Seen>{S::Start, S::Jump, S::Start, S::Erase, S::Jump}));
    EXPECT_EQ(m_seen[3].dwLength, 4096u);  // brought up to whole blocks
    Bytes expected = image;
    expected.resize(4096, 0xFF);
    EXPECT_EQ(SentImage(), expected);
    EXPECT_EQ(m_view.CountLines("Boot Programming 중"), 1);
    EXPECT_FALSE(m_view.HasLine("Flash Programming 중"));
    // Percentages of 1, 2, 3 and 4 blocks out of 4, then the completion.
    EXPECT_EQ(m_view.percents, (std::vector<int>{25, 25, 50, 50, 75, 75, 100, 100}));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

TEST_F(EngineTest, TheMainWriteMovesTheBarAndTheAddressWithEveryBlock)
{
    struct Case {
        const char* name;
        Bytes image;
        int type;
    } cases[] = {
        {"font", Bytes(10 * 1024, 0x5A), DLOAD_FONT_EMERGENCY},
        {"change", BootImage(10 * 1024), DLOAD_CHANGE_EMERGENCY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        m_view.dwFontAddress = 0;
        ASSERT_EQ(LoadNew(c.image, c.type), c.type);
        Run();
        ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
        // Every tenth of the image shows, in order.
        std::vector<int> shown;
        for (int percent : m_view.percents)
            if (percent > 0 && (shown.empty() || shown.back() != percent)) shown.push_back(percent);
        EXPECT_EQ(shown, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
        // Through the write the address line steps a block at a time up to the image's end.
        std::vector<std::string> expected;
        for (uint32_t block = 1; block <= 10; ++block)
            expected.push_back(Format("BaseAddr=0x0: Addr = 0x%x", block * 1024));
        const auto end = std::find(m_view.addresses.begin(), m_view.addresses.end(), expected.back());
        ASSERT_NE(end, m_view.addresses.end());
        ASSERT_GE(end - m_view.addresses.begin(), 9);
        EXPECT_EQ(std::vector<std::string>(end - 9, end + 1), expected);
    }
}

TEST_F(EngineTest, PercentageIsTruncatedNotRounded)
{
    LoadNew(BootImage(3 * 1024), DLOAD_CHANGE_EMERGENCY);
    std::vector<std::string> titles;
    Run();
    // 1 of 3 and 2 of 3 show as 33 and 66.
    EXPECT_NE(std::find(m_view.percents.begin(), m_view.percents.end(), 66), m_view.percents.end());
    EXPECT_EQ(std::find(m_view.percents.begin(), m_view.percents.end(), 67), m_view.percents.end());
}

TEST_F(EngineTest, FontRunGoesToTheEnteredAddressAndPadsTheLastBlock)
{
    Bytes font(1500);
    for (std::size_t i = 0; i < font.size(); ++i) font[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(LoadNew(font, DLOAD_NORMAL), DLOAD_FONT_EMERGENCY);
    m_view.dwFontAddress = 0xE00000;
    Run();

    EXPECT_EQ(m_view.fontPresets, std::vector<uint32_t>{0xE00000});
    ASSERT_EQ(Kinds(), (std::vector<Seen>{S::Start, S::Jump, S::Start, S::Erase, S::Block, S::Block, S::Jump}));
    EXPECT_EQ(m_seen[3].dwStart, 0xE00000u);
    EXPECT_EQ(m_seen[3].dwLength, 2048u);
    const Bytes& second = m_seen[5].data;
    EXPECT_TRUE(std::equal(font.begin() + 1024, font.end(), second.begin()));
    EXPECT_TRUE(std::all_of(second.begin() + 476, second.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

TEST_F(EngineTest, CancelledFontDialogLeavesNoRunAndRunEnabled)
{
    LoadNew(Bytes(1500, 0x11), DLOAD_FONT_EMERGENCY);
    m_view.bFontOk = false;
    Run();
    EXPECT_TRUE(m_seen.empty());
    ASSERT_FALSE(m_view.buttons.empty());
    EXPECT_TRUE(m_view.buttons[1]);
    EXPECT_EQ(m_pEngine->Run().eStep, RunStep::Idle);
}

TEST_F(EngineTest, NormalTypesSwitchTheHandsetIntoDownloadModeFirst)
{
    Bytes font(2048, 0x5A);
    EXPECT_EQ(LoadNew(font, DLOAD_FONT_NORMAL), DLOAD_FONT_NORMAL);
    // The handset answers the AT command with noise that must be ignored.
    m_script = [this](const SeenWrite& w, int) -> std::optional<Bytes> {
        if (w.kind == Seen::AtByte && w.data[0] == '\r') return Reply(NAK_FAILED, 0, 0);
        return GoodReply(w);
    };
    m_pEngine->OnRun();
    const int64_t afterRun = m_scheduler.NowMs();
    m_scheduler.RunFor(60000);

    std::string at;
    for (const auto& w : m_seen)
        if (w.kind == Seen::AtByte) at += static_cast<char>(w.data[0]);
    EXPECT_EQ(at, "AT$ZQKVMW\r");
    EXPECT_EQ(Kinds(false), (std::vector<Seen>{S::Start, S::Jump, S::Start, S::Erase, S::Jump}));
    // 100 ms, 500 ms and the two waits of 5000 ms pass before the first start request.
    EXPECT_GE(afterRun, 10600);
    EXPECT_FALSE(m_view.HasLine("Flash error!!"));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
    // The port was opened for the command, then again for the run.
    EXPECT_GE(m_pDevice->Opens().size(), 2u);
}

class CompareRun : public EngineTest {
protected:
    static constexpr std::size_t kBlock = 0x20000;

    // Old and new image of five 128 KiB blocks differing in block 1 and blocks 3-4.
    void RunTwoRanges(const char* backupSetting)
    {
        m_old = BootImage(5 * kBlock);
        m_new = m_old;
        m_new[1 * kBlock + 7] ^= 0xFF;
        m_new[3 * kBlock + 100] ^= 0xFF;
        m_new[4 * kBlock + 5] ^= 0xFF;
        int type = DLOAD_COMPARE_EMERGENCY;
        ASSERT_TRUE(m_pEngine->OldImage().Load(WriteImage("old.bin", m_old), type));
        EXPECT_EQ(LoadNew(m_new, DLOAD_COMPARE_EMERGENCY), DLOAD_COMPARE_EMERGENCY);
        m_settings.values["BACKUP_OLD_FILE"] = backupSetting;
        Run(600000);
    }
    std::filesystem::path Backup() const { return m_dir / "new.AC15__14_22_05.bin"; }

    Bytes m_old, m_new;
};

TEST_F(CompareRun, WritesOnlyTheDifferingRanges)
{
    RunTwoRanges("0");
    std::vector<std::pair<uint32_t, uint32_t>> erases;
    for (const auto& w : m_seen)
        if (w.kind == Seen::Erase) erases.emplace_back(w.dwStart, w.dwLength);
    EXPECT_EQ(erases, (std::vector<std::pair<uint32_t, uint32_t>>{{kBlock, kBlock}, {3 * kBlock, 2 * kBlock}}));
    const auto kinds = Kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), S::Jump), 2);  // the first jump and the final one only
    EXPECT_EQ(kinds.back(), S::Jump);
    EXPECT_EQ(m_view.CountLines("Complete Dload Block 1\n"), 1);
    EXPECT_EQ(m_view.CountLines("Complete Dload Block 2\n"), 1);
    Bytes expected(m_new.begin() + kBlock, m_new.begin() + 2 * kBlock);
    expected.insert(expected.end(), m_new.begin() + 3 * kBlock, m_new.end());
    EXPECT_EQ(SentImage(), expected);
    EXPECT_FALSE(std::filesystem::exists(Backup()));
    EXPECT_FALSE(m_view.HasLine("- Wait for creating Backup File"));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

TEST_F(CompareRun, LeavesADatedCopyOfTheNewImage)
{
    RunTwoRanges("1");
    EXPECT_TRUE(m_view.HasLine("- Wait for creating Backup File", kLogInfo));
    ASSERT_TRUE(std::filesystem::exists(Backup()));
    std::ifstream in(Backup(), std::ios::binary);
    const Bytes copy((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(copy, m_new);
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

TEST_F(CompareRun, AFailedBackupSaysWhatFailedAndTheRunGoesOn)
{
    std::filesystem::create_directory(Backup());  // the copy cannot be renamed over a folder
    RunTwoRanges("1");
    const std::string failure = m_pEngine->Statistics().strBackupFailure;
    EXPECT_EQ(failure.rfind("The backup " + Backup().string() + " was not made: cannot rename ", 0), 0u) << failure;
    EXPECT_NE(failure.find("Is a directory"), std::string::npos) << failure;
    EXPECT_EQ(m_view.messages.front(), " Fail to create TempFile\n" + failure);
    EXPECT_TRUE(std::filesystem::is_directory(Backup()));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

TEST_F(EngineTest, CompareOfIdenticalImagesSendsNothing)
{
    const Bytes image = BootImage(0x20000 + 10);
    int type = DLOAD_COMPARE_EMERGENCY;
    ASSERT_TRUE(m_pEngine->OldImage().Load(WriteImage("old.bin", image), type));
    LoadNew(image, DLOAD_COMPARE_EMERGENCY);
    Run();
    EXPECT_TRUE(m_seen.empty());
    EXPECT_TRUE(m_view.HasLine("\nTwo Files are same!", kLogError));
    EXPECT_TRUE(m_view.HasLine("Download End.\n", kLogProgress));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::NothingToDo});
}

TEST_F(EngineTest, CompareRangeNearTheEndIsCutAtTheImageEnd)
{
    const std::size_t block = 0x20000;
    Bytes oldImage = BootImage(block + 100);
    Bytes newImage = oldImage;
    newImage[block + 50] ^= 0x01;
    int type = DLOAD_COMPARE_EMERGENCY;
    ASSERT_TRUE(m_pEngine->OldImage().Load(WriteImage("old.bin", oldImage), type));
    LoadNew(newImage, DLOAD_COMPARE_EMERGENCY);
    m_settings.values["BACKUP_OLD_FILE"] = "0";
    Run();
    ASSERT_EQ(Kinds(), (std::vector<Seen>{S::Start, S::Jump, S::Start, S::Erase, S::Block, S::Jump}));
    EXPECT_EQ(m_seen[3].dwStart, block);
    EXPECT_EQ(m_seen[3].dwLength, 1024u);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "new.AC15__14_22_05.bin"));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

TEST_F(EngineTest, BlockThatBeginsWithTheRetransmitSignatureIsSentUntracked)
{
    Bytes image = BootImage(3 * 1024);
    std::copy(kRetransmitSignature.begin(), kRetransmitSignature.end(), image.begin() + 1024);
    image[1024 + 7] = 0x01;
    LoadNew(image, DLOAD_CHANGE_EMERGENCY);
    // This handset takes such a block as data and acknowledges it with RETRY_ACK, after
    // which the tool sends the block before it again.
    m_script = [](const SeenWrite& w, int) -> std::optional<Bytes> {
        if (w.kind == Seen::Block && std::equal(kRetransmitSignature.begin(), kRetransmitSignature.end(), w.data.begin()))
            return Reply(RETRY_ACK, 3, 3);
        return GoodReply(w);
    };
    Run();
    ASSERT_GE(m_seen.size(), 6u);
    EXPECT_EQ(m_seen[5].data[7], 0x02);  // byte 7 changed on the wire
    EXPECT_TRUE(m_view.HasLine("재전송 ACK 받음", kLogInfo));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

TEST_F(EngineTest, ARunCountsWhatItDid)
{
    // 3.5 blocks; block 1's ACK is damaged once (a retransmit cycle) and block 2's reply is
    // lost once (a timeout, then the cycle).
    LoadNew(BootImage(3 * 1024 + 512), DLOAD_CHANGE_EMERGENCY);
    m_script = [](const SeenWrite& w, int nth) -> std::optional<Bytes> {
        if (w.kind == Seen::Block && nth == 1) return Reply(ACK, 0xDE, 0xAD);
        if (w.kind == Seen::Block && nth == 3) return std::nullopt;
        return GoodReply(w);
    };
    Run();
    ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
    const SRunStatistics& stats = m_pEngine->Statistics();
    EXPECT_EQ(stats.nRetransmissions, 2);
    EXPECT_EQ(stats.nSupervisionExpiries, 1);
    EXPECT_EQ(stats.nBlocksSent, 4 + 2);
    EXPECT_EQ(stats.qwBytesWritten, 3u * 1024 + 512);
    EXPECT_EQ(stats.strLastRedLine, "");

    m_script = [](const SeenWrite& w, int) { return w.kind == Seen::Erase ? Reply(NAK_FAILED, 0, 0) : GoodReply(w); };
    Run();
    EXPECT_EQ(m_pEngine->Statistics().strLastRedLine, "Flash error!!");
    EXPECT_EQ(m_pEngine->Statistics().nBlocksSent, 0) << "counted afresh for every run";
}

TEST_F(EngineTest, TheRunsTimeEndsWhereTheCompletionMessageBegins)
{
    // The operator takes five seconds to press OK: that is not the run's time.
    LoadNew(BootImage(3 * 1024), DLOAD_CHANGE_EMERGENCY);
    m_view.onMessage = [this] { m_scheduler.RunFor(5000); };
    Run();
    ASSERT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
    ASSERT_EQ(m_view.messageTimes.size(), 1u);
    const SRunStatistics& stats = m_pEngine->Statistics();
    EXPECT_EQ(stats.nEndMs, m_view.messageTimes[0]);
    EXPECT_GT(stats.nEndMs, stats.nStartMs);
    EXPECT_EQ(SummarizeRun(RunOutcome::Completed, stats, {}).nDurationMs, m_view.messageTimes[0] - stats.nStartMs);
}

}  // namespace
}  // namespace kestrel::test
