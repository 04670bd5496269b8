// Whole downloads driven from the window into the handset simulator: the button table
// across each run, a window that paints during every wait, and the flash that results.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTimer>
#include <set>
#include <string>
#include <vector>

#include "app/font_address_dlg.h"
#include "controls/percent_progress_ctrl.h"
#include "services/journal.h"
#include "tests/support/scoped_journal.h"
#include "tests/app_window/window_run_fixture.h"

namespace kestrel::test {
namespace {

const auto* const g_pApp = ::testing::AddGlobalTestEnvironment(new CWindowAppEnvironment);

// Every state of the button table, as ButtonStates writes it.
const std::set<std::string> kTableStates{
    "EDED list E bar 1020",  // after start-up
    "EEED list E bar 1020",  // an image was chosen, or the run has ended and the link is down
    "DDDE list D bar 1020",  // run prepared, the link up, before the blocks
    "DDDE list D bar 1005",  // blocks being written
    "EEED list D bar 1020",  // ended, failed or stopped, before the link is down
};

struct STypeCase {
    const char* pszType;
    const char* pszMode;  // the handset's state at the start
    bool bFont;           // the image has no boot marker
    bool bCompare;
};

void PrintTo(const STypeCase& c, std::ostream* pOut) { *pOut << c.pszType; }

class WindowRunTypes : public WindowRun, public testing::WithParamInterface<STypeCase> {};

TEST_P(WindowRunTypes, RunsToTheEndKeepingTheButtonTableAndPainting)
{
    const STypeCase& c = GetParam();
    constexpr std::size_t kCompareBlock = 0x20000;
    const Bytes image = c.bFont ? FontImage(40 * 1024 + 100) : BootImage(c.bCompare ? 3 * kCompareBlock : 40 * 1024);
    StartSim(c.pszMode, "erase late 600\n");
    ASSERT_NO_FATAL_FAILURE(OpenWindow());
    EXPECT_EQ(ButtonStates(*m_pDlg), "EDED list E bar 1020");

    m_pDlg->OpenNewImage(QString::fromStdString(WriteImage("new.bin", image)));
    if (c.bCompare) {
        Bytes old = image;
        old[kCompareBlock + 5] ^= 0xFF;  // only the second 128 KiB block differs
        m_pDlg->OpenOldImage(QString::fromStdString(WriteImage("old.bin", old)));
    }
    ChooseType(*m_pDlg, c.pszType);
    ASSERT_EQ(m_pDlg->Engine().NewImage().Size(), static_cast<int32_t>(image.size()));
    EXPECT_EQ(ButtonStates(*m_pDlg), "EEED list E bar 1020");

    // A font goes where the operator says; a partial address keeps the question open.
    bool bMarkedAfterBadAddress = false;
    if (c.bFont) {
        m_answerer.Then([&](QDialog& dlg) {
            auto& ask = static_cast<CFontAddressDlg&>(dlg);
            dlg.findChild<QLineEdit*>()->setText("0x");
            ask.accept();
            bMarkedAfterBadAddress = ask.IsFieldMarked() && ask.isVisible();
            dlg.findChild<QLineEdit*>()->setText("0x8000");
            ask.accept();
        });
    }
    std::string stateAtCompletion;
    m_answerer.Then([&](QDialog& dlg) {
        stateAtCompletion = ButtonStates(*m_pDlg);
        CDialogAnswerer::AnswerDefault(dlg);
    });

    ClickButton(IDC_BTN_RUN);
    // During the erase: buttons down, the idle bar still up.
    ASSERT_TRUE(WaitFor([&] { return Step() == RunStep::WaitEraseBoot || Step() == RunStep::WaitFlash; }, 20000));
    EXPECT_EQ(ButtonStates(*m_pDlg), "DDDE list D bar 1020");
    // Writing blocks: the percentage bar replaces it.
    ASSERT_TRUE(WaitFor([&] { return m_pDlg->GetDlgItem(IDC_PROGRESS)->isVisible(); }, 20000));
    EXPECT_EQ(ButtonStates(*m_pDlg), "DDDE list D bar 1005");
    ASSERT_TRUE(WaitUntilIdle(60000)) << ButtonStates(*m_pDlg);

    EXPECT_EQ(m_pDlg->windowTitle().toStdString(), std::string(g_strBanner));
    ASSERT_FALSE(m_answerer.Seen().empty());
    EXPECT_TRUE(m_answerer.Seen().back().startsWith("Downloading completed\n")) << m_answerer.Seen().back().toStdString();
    EXPECT_EQ(stateAtCompletion, "EEED list D bar 1020");
    EXPECT_EQ(bMarkedAfterBadAddress, c.bFont);

    for (const std::string& state : m_pWatcher->States()) EXPECT_EQ(kTableStates.count(state), 1u) << state;
    // Every wait long enough to be seen was painted through. A window frozen in a wait would
    // not have let the watcher in: the mode switch waits more than ten seconds, the end of
    // the link one, so that much of the event loop must have run while the engine waited.
    int nBusyTicks = 0;
    for (const CRunWatcher::SWait& wait : m_pWatcher->Waits()) {
        nBusyTicks += wait.nTicks;
        if (wait.nTicks >= 3) {
            EXPECT_GT(wait.nPaints, 0) << "a wait of " << wait.nTicks << " ticks without painting";
        }
    }
    EXPECT_GE(nBusyTicks, std::string(c.pszMode) == "normal" ? 100 : 10);

    const Bytes flash = StopSimAndReadFlash();
    if (c.bCompare) {  // only the differing block was written
        EXPECT_EQ(FlashAt(flash, kCompareBlock, kCompareBlock), Bytes(image.begin() + kCompareBlock, image.begin() + 2 * kCompareBlock));
        EXPECT_EQ(FlashAt(flash, 0, 16), Bytes(16, 0xFF));
    } else {
        EXPECT_EQ(FlashAt(flash, c.bFont ? 0x8000 : 0, image.size()), image);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Types, WindowRunTypes,
    testing::Values(STypeCase{"CHANGE(EMERGENCY)", "download", false, false}, STypeCase{"CHANGE(NORMAL)", "normal", false, false},
                    STypeCase{"FONT(EMRGENCY)", "download", true, false}, STypeCase{"FONT(NORMAL)", "normal", true, false},
                    STypeCase{"COMPARE(EMERGENCY)", "download", false, true}),
    [](const testing::TestParamInfo<STypeCase>& param) {
        std::string strName;
        for (const char ch : std::string(param.param.pszType))
            if (std::isalpha(static_cast<unsigned char>(ch))) strName += ch;
        return strName;
    });

TEST_F(WindowRun, StopEndsTheRunAndTheLink)
{
    StartSim("download", "block@* late 40\n");
    ASSERT_NO_FATAL_FAILURE(OpenWindow());
    m_pDlg->OpenNewImage(QString::fromStdString(WriteImage("new.bin", BootImage(200 * 1024))));
    ClickButton(IDC_BTN_RUN);
    ASSERT_TRUE(WaitFor([&] { return Step() == RunStep::BootWrite && m_pDlg->Engine().Run().nBlockIndex >= 5; }, 20000));
    // The comparison would rebuild the run table under the run.
    EXPECT_FALSE(m_pDlg->GetDlgItem(IDC_BTN_COMPARE)->isEnabled());
    ClickButton(IDC_BTN_STOP);
    EXPECT_TRUE(LogText().contains("Tidewell stopped!!\n"));
    ASSERT_TRUE(WaitUntilIdle(10000)) << ButtonStates(*m_pDlg);
    EXPECT_TRUE(m_pDlg->GetDlgItem(IDC_BTN_COMPARE)->isEnabled());
    EXPECT_EQ(m_pDlg->windowTitle().toStdString(), std::string(g_strBanner));
    for (const std::string& state : m_pWatcher->States()) EXPECT_EQ(kTableStates.count(state), 1u) << state;
    EXPECT_LT(CountTranscript("\"unit\":\"block\""), 200);
}

TEST_F(WindowRun, TheRunIsInTheJournal)
{
    StartSim("download");
    ASSERT_NO_FATAL_FAILURE(OpenWindow());
    const Bytes image = BootImage(12 * 1024);
    const std::string strPath = WriteImage("new.bin", image);
    m_pDlg->OpenNewImage(QString::fromStdString(strPath));
    ClickButton(IDC_BTN_RUN);
    ASSERT_TRUE(WaitFor([&] { return !m_answerer.Seen().empty(); }, 60000)) << LogText().toStdString();
    EXPECT_TRUE(m_answerer.Seen().back().startsWith("Downloading completed\n")) << m_answerer.Seen().back().toStdString();
    ASSERT_TRUE(WaitUntilIdle(10000)) << ButtonStates(*m_pDlg);
    // The window's writer finishes what it was given when the window goes.
    m_pWatcher.reset();
    m_pDlg.reset();

    const auto rows = test::JournalRuns();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Text(JournalField::FrontEnd), "window");
    EXPECT_EQ(rows[0].Number(JournalField::Port), 3);
    EXPECT_EQ(rows[0].Text(JournalField::Device), m_strSlave);
    EXPECT_EQ(rows[0].Text(JournalField::DownloadType), "CHANGE(EMERGENCY)");
    EXPECT_EQ(rows[0].Text(JournalField::Image), strPath);
    EXPECT_EQ(rows[0].Text(JournalField::ImageSha256).size(), 64u);
    EXPECT_EQ(rows[0].Text(JournalField::Outcome), "completed");
    EXPECT_EQ(rows[0].Number(JournalField::BytesWritten), static_cast<int64_t>(image.size()));
}

TEST_F(WindowRun, GiveUpLeavesTheButtonsForTheNextChoice)
{
    StartSim("download", "start@* drop\n");
    ASSERT_NO_FATAL_FAILURE(OpenWindow());
    m_pDlg->OpenNewImage(QString::fromStdString(WriteImage("new.bin", BootImage(8 * 1024))));
    ClickButton(IDC_BTN_RUN);
    // Three unanswered start requests of 3 s each.
    ASSERT_TRUE(WaitFor([&] { return LogText().contains("응답이 없습니다."); }, 20000));
    // The run is over, link and all: the type list is free again.
    ASSERT_TRUE(WaitFor([&] { return ButtonStates(*m_pDlg) == "EEED list E bar 1020"; }, 5000)) << ButtonStates(*m_pDlg);
    EXPECT_FALSE(m_pDlg->Engine().IsLinkUp());
    m_pDlg->OpenNewImage(QString::fromStdString(WriteImage("other.bin", BootImage(4 * 1024))));
    ASSERT_TRUE(WaitUntilIdle(10000)) << ButtonStates(*m_pDlg);
    for (const std::string& state : m_pWatcher->States()) EXPECT_EQ(kTableStates.count(state), 1u) << state;
}

TEST_F(WindowRun, CloseDuringTheModeSwitchWaitsForTheWaitThenEndsTheRun)
{
    StartSim("normal");
    ASSERT_NO_FATAL_FAILURE(OpenWindow());
    m_pDlg->OpenNewImage(QString::fromStdString(WriteImage("new.bin", BootImage(8 * 1024))));
    ChooseType(*m_pDlg, "CHANGE(NORMAL)");
    // The close box, pressed in the second wait after the mode switch (the engine waits
    // inside the click on Run).
    bool bTried = false, bClosedAtOnce = true, bVisibleAfter = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (bTried || !m_pDlg->Engine().IsBusy() || !LogText().contains("  √")) return;
        bTried = true;
        bClosedAtOnce = m_pDlg->close();
        bVisibleAfter = m_pDlg->isVisible();
    });
    closer.start(20);
    ClickButton(IDC_BTN_RUN);
    ASSERT_TRUE(bTried);
    EXPECT_FALSE(bClosedAtOnce);
    EXPECT_TRUE(bVisibleAfter);
    ASSERT_TRUE(WaitFor([&] { return !m_pDlg->isVisible(); }, 20000));
    EXPECT_EQ(m_pDlg->result(), QDialog::Accepted);
    EXPECT_FALSE(m_pDlg->Engine().IsLinkUp());
    EXPECT_EQ(Step(), RunStep::Idle);
    EXPECT_TRUE(m_answerer.Seen().empty());
}

TEST_F(WindowRun, AnUnusablePortNumberIsNeverOpened)
{
    StartSim("download");
    // 300 kept as one byte would be COM44.
    WriteText("COM44", m_strSlave);
    WriteText(kSettingPort, "300");
    m_pDlg = std::make_unique<CMainDlg>();
    m_pDlg->show();
    m_pDlg->OpenNewImage(QString::fromStdString(WriteImage("new.bin", BootImage(8 * 1024))));
    ClickButton(IDC_BTN_RUN);
    EXPECT_TRUE(WaitFor([&] { return LogText().contains("No device is assigned to this port number."); }, 5000)) << LogText().toStdString();
    EXPECT_FALSE(m_pDlg->Engine().IsLinkUp());
    EXPECT_EQ(ReadText(kSettingPort), "300");
}

}  // namespace
}  // namespace kestrel::test
