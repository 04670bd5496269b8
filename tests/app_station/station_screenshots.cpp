// Screenshots of the station window for the documentation, taken from the X server as it
// shows them:
//   KESTREL_SCREENSHOT_DIR=docs xvfb-run -a -s "-screen 0 1024x768x24" station_screenshots
// The idle grid of four simulated handsets with an image chosen, and the grid in the middle
// of their runs with one handset failed.

#include <gtest/gtest.h>

#include "tests/app_station/station_window_fixture.h"
#include "tests/app_window/screenshot_support.h"

namespace kestrel::test {
namespace {

const auto* const g_pApp = ::testing::AddGlobalTestEnvironment(new CWindowAppEnvironment);

constexpr int kHandsets = 4;
constexpr int kFailing = 1;

class StationScreenshot : public StationWindow {
protected:
    void SetUp() override
    {
        StationWindow::SetUp();
        const std::optional<std::string> optDir = ScreenshotDir();
        if (!optDir) GTEST_SKIP() << "needs KESTREL_SCREENSHOT_DIR and an X server";
        m_strDir = *optDir;
    }

    void OpenWindowWithImage(const std::string& strScenario)
    {
        for (int n = 0; n < kHandsets; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, n == kFailing ? "erase nak-failed\n" : strScenario));
        ASSERT_NO_FATAL_FAILURE(OpenWindow(kHandsets));
        m_pDlg->move(24, 24);
        m_pDlg->SetPorts(QStringLiteral("COM3-6"));
        OpenImage(BootImage(200 * 1024));
        ASSERT_TRUE(m_pDlg->IsJobLoaded());
    }

    void Save(const char* pszName) { SaveScreenshot(*m_pDlg, m_strDir, pszName); }

    std::string m_strDir;
};

TEST_F(StationScreenshot, Idle)
{
    ASSERT_NO_FATAL_FAILURE(OpenWindowWithImage(""));
    Save("screenshot-station-idle.png");
}

TEST_F(StationScreenshot, RunWithOneFailedTile)
{
    ASSERT_NO_FATAL_FAILURE(OpenWindowWithImage("block@* late 25\n"));
    Click(IDC_BTN_RUN);
    ASSERT_TRUE(QTest::qWaitFor(
        [this] {
            if (m_pDlg->Tile(kFailing).State() != CStationTile::EState::Failed) return false;
            for (int i = 0; i < kHandsets; ++i)
                if (i != kFailing && m_pDlg->Tile(i).Percent() < 40) return false;
            return true;
        },
        kRunTimeoutMs));
    m_pDlg->SelectTile(kFailing);
    Save("screenshot-station-run.png");
    Click(IDC_BTN_STOP);
    ASSERT_TRUE(WaitUntilIdle());
}

}  // namespace
}  // namespace kestrel::test
