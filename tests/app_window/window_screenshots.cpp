// Screenshots of the window for the documentation, taken from the X server as it shows them:
//   KESTREL_SCREENSHOT_DIR=docs xvfb-run -s "-screen 0 1024x768x24" window_screenshots
// The idle window with an image chosen, and the window in the middle of a download into
// the handset simulator.

#include <gtest/gtest.h>

#include "controls/percent_progress_ctrl.h"
#include "tests/app_window/screenshot_support.h"
#include "tests/app_window/window_run_fixture.h"

namespace kestrel::test {
namespace {

const auto* const g_pApp = ::testing::AddGlobalTestEnvironment(new CWindowAppEnvironment);

class Screenshot : public WindowRun {
protected:
    void SetUp() override
    {
        WindowRun::SetUp();
        const std::optional<std::string> optDir = ScreenshotDir();
        if (!optDir) GTEST_SKIP() << "needs KESTREL_SCREENSHOT_DIR and an X server";
        m_strDir = *optDir;
    }

    void OpenWindowWithImage(const Bytes& image)
    {
        ASSERT_NO_FATAL_FAILURE(OpenWindow());
        m_pDlg->move(24, 24);
        m_pDlg->OpenNewImage(QString::fromStdString(WriteImage("PHONE_RV42.bin", image)));
    }

    void Save(const char* pszName) { SaveScreenshot(*m_pDlg, m_strDir, pszName); }

    std::string m_strDir;
};

TEST_F(Screenshot, Idle)
{
    StartSim("download");
    ASSERT_NO_FATAL_FAILURE(OpenWindowWithImage(BootImage(200 * 1024)));
    Save("screenshot-idle.png");
}

TEST_F(Screenshot, Download)
{
    StartSim("download", "block@* late 25\n");
    ASSERT_NO_FATAL_FAILURE(OpenWindowWithImage(BootImage(200 * 1024)));
    ClickButton(IDC_BTN_RUN);
    const auto* pBar = qobject_cast<CPercentProgressCtrl*>(m_pDlg->GetDlgItem(IDC_PROGRESS));
    ASSERT_TRUE(WaitFor([&] { return pBar->isVisible() && pBar->GetPos() >= 42; }, 60000));
    Save("screenshot-download.png");
    ClickButton(IDC_BTN_STOP);
}

}  // namespace
}  // namespace kestrel::test
