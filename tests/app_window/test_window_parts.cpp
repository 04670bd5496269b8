// The window's parts on their own: the font address question, the device-change rule, the
// button pictures and the string table.

#include <gtest/gtest.h>

#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <optional>
#include <string>

#include "app/bitmap_button.h"
#include "app/button_pictures.h"
#include "app/device_change.h"
#include "app/font_address_dlg.h"
#include "services/settings_store.h"
#include "app/string_table.h"
#include "tests/app_window/window_test_support.h"

namespace kestrel::test {
namespace {

const auto* const g_pApp = ::testing::AddGlobalTestEnvironment(new CWindowAppEnvironment);

// ---- The font start address ----

TEST(FontAddress, TakesOneToEightHexDigitsWithOrWithout0x)
{
    const std::pair<const char*, std::optional<uint32_t>> cases[] = {
        {"e00000", 0xE00000},
        {"E00000", 0xE00000},
        {"0xE00000", 0xE00000},
        {"0XE00000", 0xE00000},
        {" 1000 ", 0x1000},
        {"0", 0},
        {"ffffffff", 0xFFFFFFFF},
        {"0x12345678", 0x12345678},
        // Anything else would have become a wrong address.
        {"", std::nullopt},
        {"0x", std::nullopt},
        {"   ", std::nullopt},
        {"123456789", std::nullopt},
        {"e0 0000", std::nullopt},
        {"e00000h", std::nullopt},
        {"0x0x10", std::nullopt},
        {"-1", std::nullopt},
        {"g00000", std::nullopt},
    };
    for (const auto& [pszText, optExpected] : cases) EXPECT_EQ(ParseFontAddress(pszText), optExpected) << '"' << pszText << '"';
}

TEST(FontAddress, DialogShowsThePresetAndStaysOpenUntilTheAddressIsWhole)
{
    CFontAddressDlg dlg(0xE00000);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "FONT DOWNLOAD");
    auto* pEdit = dlg.findChild<QLineEdit*>();
    ASSERT_NE(pEdit, nullptr);
    EXPECT_EQ(pEdit->text(), "e00000");
    EXPECT_EQ(pEdit->maxLength(), 8);

    pEdit->setText("");
    dlg.accept();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(dlg.IsFieldMarked());
    EXPECT_EQ(dlg.Address(), 0xE00000u);

    // Typing takes the mark away; a whole address closes the dialog with it.
    pEdit->setFocus();
    QTest::keyClicks(pEdit, "0x8000");
    EXPECT_FALSE(dlg.IsFieldMarked());
    dlg.accept();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.Address(), 0x8000u);
}

TEST(FontAddress, CancelKeepsTheAddress)
{
    CFontAddressDlg dlg(0xE00000);
    dlg.show();
    dlg.findChild<QLineEdit*>()->setText("1234");
    dlg.reject();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(dlg.Address(), 0xE00000u);
}

// ---- Serial devices coming and going ----

TEST(DeviceChange, RuleByEventAndPortNumber)
{
    struct SCase {
        const char* pszWhat;
        EDeviceChange eChange;
        std::optional<int> optPort;
        bool bChanged;
        std::optional<int> optNewPort;
        const char* pszLabel;
    };
    const SCase cases[] = {
        {"COM2 arrives", EDeviceChange::Arrival, 2, true, std::nullopt, "[Disconnect]"},
        {"COM1 arrives", EDeviceChange::Arrival, 1, true, std::nullopt, "[Disconnect]"},
        {"COM3 arrives", EDeviceChange::Arrival, 3, true, 3, "Auto detect[COM3]"},
        {"COM12 arrives", EDeviceChange::Arrival, 12, true, 12, "Auto detect[COM12]"},
        {"COM255 arrives", EDeviceChange::Arrival, 255, true, 255, "Auto detect[COM255]"},
        {"COM300 arrives", EDeviceChange::Arrival, 300, true, std::nullopt, "[COM300 unusable]"},
        {"COM12 goes", EDeviceChange::Removal, 12, true, std::nullopt, "[Disconnected]"},
        {"no port arrives", EDeviceChange::Arrival, std::nullopt, false, std::nullopt, ""},
        {"no port goes", EDeviceChange::Removal, std::nullopt, false, std::nullopt, ""},
    };
    for (const SCase& c : cases) {
        const SDeviceChangeResult result = DeviceChangeRule(c.eChange, c.optPort);
        EXPECT_EQ(result.bChanged, c.bChanged) << c.pszWhat;
        EXPECT_EQ(result.optPort, c.optNewPort) << c.pszWhat;
        EXPECT_EQ(result.strPortLabel, c.pszLabel) << c.pszWhat;
    }
}

TEST(DeviceChange, DeviceNodesMapThroughTheComMapAndItsSettings)
{
    CScopedStore store;
    EXPECT_EQ(PortOfDevice("/dev/ttyS1"), 2);
    EXPECT_EQ(PortOfDevice("/dev/ttyACM0"), 3);
    EXPECT_EQ(PortOfDevice("/dev/ttyUSB1"), 12);
    EXPECT_EQ(PortOfDevice("/dev/tty7"), std::nullopt);
    WriteText("COM7", "/dev/serial/by-id/usb-handset");
    EXPECT_EQ(PortOfDevice("/dev/serial/by-id/usb-handset"), 7);
}

TEST(DeviceChange, PortLabelSaysWhenANumberIsNotUsed)
{
    EXPECT_EQ(PortLabel(1), "[COM1]");
    EXPECT_EQ(PortLabel(255), "[COM255]");
    EXPECT_EQ(PortLabel(0), "[COM0 unusable]");
    EXPECT_EQ(PortLabel(256), "[COM256 unusable]");
}

// ---- Button pictures ----

TEST(BitmapButton, EveryButtonHasItsThreePicturesAndNothingElse)
{
    for (const char* pszName : {"OPEN", "RUN", "STOP", "INFO", "TODM"}) {
        QImage up, down, focused;
        for (auto [cState, pImage] : {std::pair{'U', &up}, std::pair{'D', &down}, std::pair{'F', &focused}}) {
            *pImage = LoadButtonPicture(std::string(pszName) + cState, QSize(25, 25), 1.0).toImage();
            EXPECT_FALSE(pImage->isNull()) << pszName << cState;
        }
        EXPECT_NE(up, down) << pszName;
        EXPECT_NE(up, focused) << pszName;
    }
    for (const char* pszMissing : {"RUNX", "RUN", "HELPU", "", "U"})
        EXPECT_TRUE(LoadButtonPicture(pszMissing, QSize(25, 25), 1.0).isNull()) << pszMissing;
}

TEST(BitmapButton, DisabledLooksGreyPressedLooksDown)
{
    CBitmapButton button(QStringLiteral("Run"));
    button.resize(24, 29);
    EXPECT_TRUE(button.LoadBitmaps("RUN"));
    const QImage enabled = button.grab().toImage();
    button.setDown(true);
    const QImage down = button.grab().toImage();
    button.setDown(false);
    button.setEnabled(false);
    const QImage disabled = button.grab().toImage();
    EXPECT_NE(enabled, down);
    EXPECT_NE(enabled, disabled);
    // The green of the Run glyph is gone in the disabled look.
    auto hasGreen = [](const QImage& img) {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.green() > c.red() + 40 && c.green() > c.blue() + 40) return true;
            }
        return false;
    };
    EXPECT_TRUE(hasGreen(enabled));
    EXPECT_FALSE(hasGreen(disabled));

    EXPECT_FALSE(button.LoadBitmaps("HELP"));
}

TEST(BitmapButton, ClicksLeaveTheCheckStateToTheProgram)
{
    CBitmapButton button(QStringLiteral("Stop"));
    button.resize(24, 29);
    button.LoadBitmaps("STOP");
    button.setChecked(true);
    int nClicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&] { ++nClicks; });
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(nClicks, 1);
    EXPECT_TRUE(button.isChecked());
}

// ---- String table ----

TEST(StringTable, HoldsTheAboutEntryAndTheTooltips)
{
    EXPECT_EQ(LoadString(101), "Kestrel 정보(&A)...");
    EXPECT_EQ(LoadString(102), "History(&H)...");
    EXPECT_EQ(LoadString(103), "Kestrel 스테이션(&S)...");
    EXPECT_EQ(LoadString(1023), "단말기 SIO를 DM으로..");
    EXPECT_TRUE(LoadString(1012).empty());
    EXPECT_TRUE(LoadString(1019).empty());
}

// ---- Command line ----

TEST(CommandLine, OpensTheMainOrTheStationWindowOrSaysWhyNot)
{
    struct Case {
        QStringList arguments;
        std::optional<EStartWindow> optWindow;  // none: exit 2 without a window
    } cases[] = {
        {{"kestrel"}, EStartWindow::Main},
        {{"kestrel", "--station"}, EStartWindow::Station},
        {{"kestrel", "--stations"}, std::nullopt},
        {{"kestrel", "--station=yes"}, std::nullopt},
        {{"kestrel", "--help-all"}, std::nullopt},
        {{"kestrel", "PHONE.bin"}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        CWindowCommandLine commandLine;
        const std::optional<int> optExitCode = commandLine.Check(c.arguments);
        if (c.optWindow) {
            EXPECT_EQ(optExitCode, std::nullopt);
            EXPECT_EQ(commandLine.Window(), *c.optWindow);
        } else {
            EXPECT_EQ(optExitCode, 2);
        }
    }
}

}  // namespace
}  // namespace kestrel::test
