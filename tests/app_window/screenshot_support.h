#pragma once
// Screenshots of a window for the documentation, taken from the X server as it shows them.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <optional>
#include <string>

namespace kestrel::test {

// The folder KESTREL_SCREENSHOT_DIR names, when it is set and there is an X server.
inline std::optional<std::string> ScreenshotDir()
{
    const char* pszDir = std::getenv("KESTREL_SCREENSHOT_DIR");
    if (pszDir == nullptr || QGuiApplication::platformName() != "xcb") return std::nullopt;
    return std::string(pszDir);
}

// The window's area of the screen, with a margin, into the file of that name in the folder.
inline void SaveScreenshot(const QWidget& window, const std::string& strDir, const char* pszName)
{
    QTest::qWait(300);  // the last paints reach the server
    const QRect rc = window.frameGeometry().adjusted(-8, -8, 8, 8);
    const QPixmap shot = window.screen()->grabWindow(0, rc.x(), rc.y(), rc.width(), rc.height());
    ASSERT_TRUE(shot.save(QString::fromStdString(strDir + "/" + pszName))) << pszName;
}

}  // namespace kestrel::test
