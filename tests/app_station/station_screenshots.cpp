// Screenshots of the station window for the documentation, taken from the X server as it
// shows them:
//   KESTREL_SCREENSHOT_DIR=docs xvfb-run -a -s "-screen 0 1280x800x24" station_screenshots
// For 4 handsets (the window's own size) and 16 (at 1280x800): the idle grid with an image
// chosen, the grid in the middle of the runs with one handset failed, and a mixed end of
// completed, failed and stopped tiles.

#include <gtest/gtest.h>

#include "tests/app_station/station_window_fixture.h"
#include "tests/app_window/screenshot_support.h"

namespace kestrel::test {
namespace {

const auto* const g_pApp = ::testing::AddGlobalTestEnvironment(new CWindowAppEnvironment);

constexpr int kFailing = 1;
constexpr int kStopped = 2;
constexpr char kFailingScenario[] = "erase nak-failed\n";
constexpr char kSlowScenario[] = "block@* late 25\n";

class StationScreenshot : public StationWindow, public testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        StationWindow::SetUp();
        const std::optional<std::string> optDir = ScreenshotDir();
        if (!optDir) GTEST_SKIP() << "needs KESTREL_SCREENSHOT_DIR and an X server";
        m_strDir = *optDir;
    }

    int Handsets() const { return GetParam(); }

    // scenarioOf(n): handset n's scenario.
    template <class ScenarioOf>
    void OpenWindowWithImage(ScenarioOf scenarioOf)
    {
        for (int n = 0; n < Handsets(); ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, scenarioOf(n)));
        ASSERT_NO_FATAL_FAILURE(OpenWindow(Handsets()));
        m_pDlg->move(0, 0);
        if (Handsets() > 4) m_pDlg->resize(1280, 800);
        m_pDlg->SetPorts(QStringLiteral("COM3-%1").arg(2 + Handsets()));
        OpenImage(BootImage(200 * 1024));
        ASSERT_TRUE(m_pDlg->IsJobLoaded());
    }

    void Save(const char* pszState)
    {
        SaveScreenshot(*m_pDlg, m_strDir, ("screenshot-station-" + std::to_string(Handsets()) + "-" + pszState + ".png").c_str());
    }

    std::string m_strDir;
};

TEST_P(StationScreenshot, Idle)
{
    ASSERT_NO_FATAL_FAILURE(OpenWindowWithImage([](int) { return ""; }));
    Save("idle");
}

TEST_P(StationScreenshot, RunWithOneFailedTile)
{
    ASSERT_NO_FATAL_FAILURE(OpenWindowWithImage([](int n) { return n == kFailing ? kFailingScenario : kSlowScenario; }));
    Click(IDC_BTN_RUN);
    ASSERT_TRUE(QTest::qWaitFor(
        [this] {
            if (m_pDlg->Tile(kFailing).State() != CStationTile::EState::Failed) return false;
            for (int i = 0; i < Handsets(); ++i)
                if (i != kFailing && m_pDlg->Tile(i).Percent() < 40) return false;
            return true;
        },
        kRunTimeoutMs));
    m_pDlg->SelectTile(kFailing);
    Save("run");
    Click(IDC_BTN_STOP);
    ASSERT_TRUE(WaitUntilIdle());
}

TEST_P(StationScreenshot, MixedEnd)
{
    ASSERT_NO_FATAL_FAILURE(OpenWindowWithImage([](int n) {
        return n == kFailing ? kFailingScenario : n == kStopped ? kSlowScenario : "";
    }));
    Click(IDC_BTN_RUN);
    // Every other handset done, then the slow one stopped.
    ASSERT_TRUE(QTest::qWaitFor(
        [this] {
            for (int i = 0; i < Handsets(); ++i)
                if (i != kStopped && Port(i).IsRunning()) return false;
            return m_pDlg->Tile(kStopped).Percent() >= 10;
        },
        kRunTimeoutMs));
    Click(IDC_BTN_STOP);
    ASSERT_TRUE(WaitUntilIdle());
    m_pDlg->SelectTile(kFailing);
    Save("end");
}

INSTANTIATE_TEST_SUITE_P(Ports, StationScreenshot, testing::Values(4, 16));

}  // namespace
}  // namespace kestrel::test
