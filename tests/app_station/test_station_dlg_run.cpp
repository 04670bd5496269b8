// The station window flashing several simulated handsets at once: every tile to its end with
// the flash equal to the image, one handset's fault left to its own tile, Stop all, and
// handsets flashed as they appear.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QGroupBox>
#include <QLabel>
#include <QStackedWidget>
#include <QTextBlock>

#include "app/log_pane.h"
#include "image/download_type.h"
#include "tests/app_station/station_window_fixture.h"
#include "tests/support/scoped_journal.h"

namespace kestrel::test {
namespace {

const auto* const g_pApp = ::testing::AddGlobalTestEnvironment(new CWindowAppEnvironment);

constexpr int kHandsets = 3;

// The runs of a log as they were painted: text and colour.
std::vector<std::pair<std::string, QColor>> Runs(const CLogPane& log)
{
    std::vector<std::pair<std::string, QColor>> runs;
    for (QTextBlock block = log.document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            runs.emplace_back(it.fragment().text().toStdString(), it.fragment().charFormat().foreground().color());
    return runs;
}

bool HasRun(const CLogPane& log, const std::string& text, const QColor& colour)
{
    const auto runs = Runs(log);
    return std::find(runs.begin(), runs.end(), std::make_pair(text, colour)) != runs.end();
}

struct SFaultCase {
    const char* pszName;
    const char* pszScenario;  // of handset 1; the others answer well
    bool bAnswerYes;          // the job's answer to the model-version question
    const char* pszState;     // tile 1's state at the end
    QColor clrState;          // of the same words in its log, when they end a failed run
};

void PrintTo(const SFaultCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class StationRun : public StationWindow, public testing::WithParamInterface<SFaultCase> {};

TEST_P(StationRun, StartAllTakesEveryTileToItsOwnEnd)
{
    const SFaultCase& c = GetParam();
    CScopedJournal journal;
    for (int n = 0; n < kHandsets; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, n == 1 ? c.pszScenario : ""));
    ASSERT_NO_FATAL_FAILURE(OpenWindow(kHandsets));
    m_pDlg->SetPorts(QStringLiteral("3-5"));
    ASSERT_EQ(m_pDlg->TileCount(), kHandsets);
    const Bytes image = BootImage(24 * 1024 + 100);
    OpenImage(image);
    static_cast<QCheckBox*>(m_pDlg->GetDlgItem(IDC_STATION_ANSWER_YES))->setChecked(c.bAnswerYes);
    ASSERT_TRUE(m_pDlg->IsJobLoaded());
    EXPECT_EQ(States(), std::vector<std::string>(kHandsets, std::string(kWaitingText)));
    EXPECT_FALSE(m_pDlg->GetDlgItem(IDC_BTN_STOP)->isEnabled());

    Click(IDC_BTN_RUN);
    EXPECT_FALSE(m_pDlg->GetDlgItem(IDC_BTN_OPEN)->isEnabled());
    ASSERT_TRUE(WaitUntilIdle());

    EXPECT_EQ(States(), (std::vector<std::string>{"completed", c.pszState, "completed"}));
    for (int n : {0, 2}) {
        EXPECT_EQ(m_pDlg->Tile(n).Percent(), 100) << "tile " << n;
        EXPECT_TRUE(m_pDlg->Tile(n).ElapsedText().startsWith(QStringLiteral("Elapsed time : 0 min "))) << "tile " << n;
        // The log of each port, painted as the main window paints its own.
        EXPECT_TRUE(HasRun(m_pDlg->Log(n), "  √", QColor(0x2E, 0x52, 0xB4))) << "tile " << n;
        EXPECT_TRUE(HasRun(m_pDlg->Log(n), "Downloading completed", QColor(0, 0, 255))) << "tile " << n;
        EXPECT_EQ(FlashAt(FlashOf(n), 0, image.size()), image) << "handset " << n;
    }
    const CStationTile::EState eEnd =
        std::string(c.pszState) == "completed" ? CStationTile::EState::Completed : CStationTile::EState::Failed;
    EXPECT_EQ(m_pDlg->Tile(1).State(), eEnd);
    if (eEnd == CStationTile::EState::Failed) {
        EXPECT_TRUE(HasRun(m_pDlg->Log(1), c.pszState, c.clrState));
    } else {
        EXPECT_EQ(FlashAt(FlashOf(1), 0, image.size()), image);
    }

    // Every port's run is in the journal, as a run of the station (written on the journal's
    // own thread, so it may take a moment).
    const auto stationRuns = [] {
        CJournal reader;
        std::vector<std::string> outcomes;
        const auto optRows = reader.Open(JournalFilePath()) ? reader.Runs({}) : std::nullopt;
        for (const CJournalRow& row : optRows.value_or(std::vector<CJournalRow>{}))
            if (row.Text(JournalField::FrontEnd) == "station") outcomes.push_back(row.Text(JournalField::Outcome));
        return outcomes;
    };
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const auto runs = stationRuns();
            return runs.size() == 3 && std::count(runs.begin(), runs.end(), "running") == 0;
        },
        5000));
    const auto outcomes = stationRuns();
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), "completed"), eEnd == CStationTile::EState::Completed ? 3 : 2);

    // The counts of the station and of each slot, and Reset.
    const bool bDone = eEnd == CStationTile::EState::Completed;
    const auto countsText = [this] { return qobject_cast<QLabel*>(m_pDlg->GetDlgItem(IDC_STATION_COUNTS))->text().toStdString(); };
    EXPECT_EQ(countsText().rfind(bDone ? "Station: 3 completed, 0 failed, yield 100.0 %, " : "Station: 2 completed, 1 failed, yield 66.7 %, ", 0), 0u)
        << countsText();
    EXPECT_EQ(m_pDlg->Tile(1).CountsText(), bDone ? "1 completed, 0 failed" : "0 completed, 1 failed");
    EXPECT_EQ(m_pDlg->Tile(0).CountsText(), "1 completed, 0 failed");
    Click(IDC_STATION_RESET_COUNTS);
    EXPECT_EQ(countsText(), "Station: 0 completed, 0 failed, yield 0.0 %, 0.0 units/h, 0.0 s per unit");
    EXPECT_EQ(m_pDlg->Tile(1).CountsText(), "0 completed, 0 failed");

    // A click on a tile shows its log; the job can be changed again.
    QTest::mouseClick(&m_pDlg->Tile(1), Qt::LeftButton);
    EXPECT_TRUE(m_pDlg->Tile(1).IsSelected());
    EXPECT_FALSE(m_pDlg->Tile(0).IsSelected());
    EXPECT_EQ(qobject_cast<QStackedWidget*>(m_pDlg->GetDlgItem(IDC_RICH_LOG))->currentWidget(), &m_pDlg->Log(1));
    EXPECT_EQ(qobject_cast<QGroupBox*>(m_pDlg->GetDlgItem(IDC_STATION_LOG_GROUP))->title(), " Log : COM4 ");
    EXPECT_TRUE(m_pDlg->GetDlgItem(IDC_BTN_OPEN)->isEnabled());
    EXPECT_TRUE(m_pDlg->GetDlgItem(IDC_BTN_RUN)->isEnabled());
    EXPECT_FALSE(m_pDlg->GetDlgItem(IDC_BTN_STOP)->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Handsets, StationRun,
                         testing::Values(SFaultCase{"AllAnswerWell", "", false, "completed", {}},
                                         SFaultCase{"OneFailsItsErase", "erase nak-failed\n", false, "Flash error!!",
                                                    QColor(255, 0, 0)},
                                         // No box asks: the job answers, and the log says how.
                                         SFaultCase{"OneAsksAboutItsModelAnsweredNo", "start@2 nak-model\n", false,
                                                    "모델 버전이 틀립니다. 계속 할까요? No", QColor(0, 0, 255)},
                                         SFaultCase{"OneAsksAboutItsModelAnsweredYes", "start@2 nak-model\n", true,
                                                    "completed", {}}),
                         [](const testing::TestParamInfo<SFaultCase>& param) { return param.param.pszName; });

// Two handsets fail and one of them is taken away: the button starts the failed one that is
// still there, and no other.
TEST_F(StationWindow, FlashFailedAgainStartsTheFailedSlotsWhoseHandsetIsThere)
{
    for (int n = 0; n < kHandsets; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, n == 0 ? "" : "erase nak-failed\n"));
    ASSERT_NO_FATAL_FAILURE(OpenWindow(kHandsets));
    m_pDlg->SetPorts(QStringLiteral("COM3-5"));
    OpenImage(BootImage(8 * 1024));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_pDlg->Station()->IsPresent(kHandsets - 1); }, 10000));
    EXPECT_FALSE(m_pDlg->GetDlgItem(IDC_STATION_FLASH_FAILED)->isEnabled()) << "nothing failed yet";
    Click(IDC_BTN_RUN);
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_pDlg->Tile(0).State() == CStationTile::EState::Completed; }, kRunTimeoutMs));
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(States()[0], "completed");

    // Handset 2 leaves the bench.
    FlashOf(2);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_pDlg->Station()->IsPresent(2); }, 10000));
    ASSERT_TRUE(m_pDlg->GetDlgItem(IDC_STATION_FLASH_FAILED)->isEnabled());
    Click(IDC_STATION_FLASH_FAILED);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(m_pDlg->Tile(0).CountsText(), "1 completed, 0 failed");
    EXPECT_EQ(m_pDlg->Tile(1).CountsText(), "0 completed, 2 failed") << "run again, and failed again";
    EXPECT_EQ(m_pDlg->Tile(2).CountsText(), "0 completed, 1 failed") << "its handset is gone";
}

TEST_F(StationWindow, StopAllStopsEveryRun)
{
    for (int n = 0; n < kHandsets; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, "block@* late 40\n"));
    ASSERT_NO_FATAL_FAILURE(OpenWindow(kHandsets));
    m_pDlg->SetPorts(QStringLiteral("COM3 COM4 COM5"));
    OpenImage(BootImage(200 * 1024));
    Click(IDC_BTN_RUN);
    // Stop is taken while the blocks of a boot range go out.
    ASSERT_TRUE(QTest::qWaitFor(
        [this] {
            for (int i = 0; i < kHandsets; ++i)
                if (Port(i).Engine().Run().eStep != RunStep::BootWrite || m_pDlg->Tile(i).Percent() < 2) return false;
            return true;
        },
        kRunTimeoutMs));
    EXPECT_TRUE(m_pDlg->GetDlgItem(IDC_BTN_STOP)->isEnabled());
    // The step, with the time left of the write under it once a few blocks have gone.
    for (const std::string& state : States()) EXPECT_EQ(state.substr(0, state.find('\n')), "Boot Programming 중");
    Click(IDC_BTN_STOP);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(States(), std::vector<std::string>(kHandsets, "stopped"));
    for (int i = 0; i < kHandsets; ++i) {
        EXPECT_LT(m_pDlg->Tile(i).Percent(), 100) << "tile " << i;
        EXPECT_TRUE(HasRun(m_pDlg->Log(i), "Tidewell stopped!!", QColor(0, 0, 255))) << "tile " << i;
    }
}

TEST_F(StationWindow, AHandsetThatAppearsIsFlashedWhenAsked)
{
    ASSERT_NO_FATAL_FAILURE(OpenWindow(2));
    m_pDlg->SetPorts(QStringLiteral("3 4"));
    const Bytes image = BootImage(16 * 1024);
    OpenImage(image);
    Click(IDC_STATION_START_ON_ARRIVAL);
    ASSERT_TRUE(qobject_cast<QCheckBox*>(m_pDlg->GetDlgItem(IDC_STATION_START_ON_ARRIVAL))->isChecked());

    ASSERT_NO_FATAL_FAILURE(StartHandset(1));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_pDlg->Tile(1).StateText() == "completed"; }, kRunTimeoutMs));
    EXPECT_EQ(m_pDlg->Tile(0).StateText().toStdString(), kWaitingText);
    ASSERT_NO_FATAL_FAILURE(StartHandset(0));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_pDlg->Tile(0).StateText() == "completed"; }, kRunTimeoutMs));
    ASSERT_TRUE(WaitUntilIdle());
    for (int n : {0, 1}) EXPECT_EQ(FlashAt(FlashOf(n), 0, image.size()), image) << "handset " << n;
}

TEST_F(StationWindow, ClosingMidRunEndsEveryRunAsStopped)
{
    const CScopedXdgDir data("XDG_DATA_HOME");
    for (int n = 0; n < kHandsets; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, "block@* late 40\n"));
    ASSERT_NO_FATAL_FAILURE(OpenWindow(kHandsets));
    m_pDlg->SetPorts(QStringLiteral("COM3 COM4 COM5"));
    OpenImage(BootImage(200 * 1024));
    Click(IDC_BTN_RUN);
    // Each run opens its port and changes its speed in waits of its own.
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_pDlg->Station()->AnyBusy(); }, kRunTimeoutMs));
    m_pDlg->close();
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_EQ(m_pDlg->Station(), nullptr);
    m_pDlg.reset();

    const std::vector<CJournalRow> rows = test::JournalRuns();
    ASSERT_EQ(rows.size(), std::size_t{kHandsets});
    for (const CJournalRow& row : rows) {
        EXPECT_EQ(row.Text(JournalField::Outcome), "stopped") << row.Text(JournalField::Slot);
        EXPECT_EQ(row.Text(JournalField::FrontEnd), "station");
    }
}

// The command after each unit runs for every unit the window flashes; one still at work when
// the window closes is ended with it, and the journal says so.
TEST_F(StationWindow, TheCommandAfterEachUnitRunsAndEndsWithTheWindow)
{
    const CScopedXdgDir data("XDG_DATA_HOME");
    for (int n = 0; n < 2; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n));
    ASSERT_NO_FATAL_FAILURE(OpenWindow(2));
    m_pDlg->SetPorts(QStringLiteral("COM3 COM4"));
    const std::string done = Path("units.txt");
    auto* pEdit = qobject_cast<QLineEdit*>(m_pDlg->GetDlgItem(IDC_STATION_ON_UNIT));
    pEdit->setText(QString::fromStdString("echo \"$KESTREL_PORT $KESTREL_OUTCOME\" >> " + done +
                                          "; [ \"$KESTREL_PORT\" = COM3 ] || exec sleep 60"));
    emit pEdit->editingFinished();
    OpenImage(BootImage(8 * 1024));
    Click(IDC_BTN_RUN);
    ASSERT_TRUE(WaitUntilIdle());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_pDlg->Log(0).toPlainText().contains("After-unit command: exit 0."); }, 10000))
        << m_pDlg->Log(0).toPlainText().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        std::ifstream in(done);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return text.find("COM4 completed") != std::string::npos && text.find("COM3 completed") != std::string::npos;
    }, 10000));

    // COM4's command sleeps on; the window closes at once all the same.
    m_pDlg->close();
    EXPECT_FALSE(m_pDlg->isVisible());
    m_pDlg.reset();
    const std::vector<CJournalRow> rows = test::JournalRuns();
    ASSERT_EQ(rows.size(), 2u);
    for (const CJournalRow& row : rows) {
        EXPECT_EQ(row.Text(JournalField::Outcome), "completed");
        EXPECT_EQ(row.Text(JournalField::HookStatus), row.Number(JournalField::Port) == 3 ? "exit 0" : "stopped");
    }
}

}  // namespace
}  // namespace kestrel::test
