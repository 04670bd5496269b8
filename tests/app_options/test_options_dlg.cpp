#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/options_dlg.h"
#include "services/settings_store.h"
#include "tests/support/qt_app_environment.h"
#include "tests/support/scoped_settings_store.h"

namespace kestrel {
namespace {

const auto* const g_pQtApp = ::testing::AddGlobalTestEnvironment(new CQtAppEnvironment);


struct SSwitch {
    const char* pszText;
    std::string_view strSetting;
};
constexpr std::array<SSwitch, 4> kSwitches{{
    {"Error sound", kSettingSoundError},
    {"Download Success Sound", kSettingSoundSuccess},
    {"Enable Change Download", kSettingChangeEnable},
    {"Backup Old File", kSettingBackupOldFile},
}};
constexpr std::size_t kChangeEnableSwitch = 2;

template <typename T>
T* ChildWithText(const COptionsDlg& dlg, const char* pszText)
{
    for (T* pChild : dlg.findChildren<T*>())
        if (pChild->text() == QLatin1String(pszText)) return pChild;
    ADD_FAILURE() << "no control \"" << pszText << "\"";
    return nullptr;
}

QCheckBox& Box(const COptionsDlg& dlg, const char* pszText) { return *ChildWithText<QCheckBox>(dlg, pszText); }
QPushButton& Button(const COptionsDlg& dlg, const char* pszText) { return *ChildWithText<QPushButton>(dlg, pszText); }
QComboBox& PortList(const COptionsDlg& dlg) { return *dlg.findChild<QComboBox*>(); }

// Runs the dialog modally; whileOpen acts as the operator once it shows.
int RunModal(COptionsDlg& dlg, const std::function<void()>& whileOpen)
{
    QTimer::singleShot(0, &dlg, whileOpen);
    return dlg.exec();
}

int Apply(COptionsDlg& dlg)
{
    return RunModal(dlg, [&] { Button(dlg, "Apply").click(); });
}

int Cancel(COptionsDlg& dlg)
{
    return RunModal(dlg, [&] { Button(dlg, "Cancel").click(); });
}

TEST(OptionsDlg, OpensOnTheStoredPortAndApplySavesTheSelection)
{
    struct SCase {
        const char* pszStored;  // nullptr: PORT absent
        int nSelected;
        int nSaved;
    };
    const SCase kCases[] = {
        {nullptr, -1, 0}, {"0", -1, 0}, {"1", 0, 1}, {"3", 2, 3}, {"20", 19, 20}, {"21", -1, 0}, {"-2", -1, 0}, {"abc", -1, 0},
    };
    for (const SCase& c : kCases) {
        SCOPED_TRACE(c.pszStored ? c.pszStored : "absent");
        const test::CScopedStore store;
        if (c.pszStored) {
            ASSERT_TRUE(WriteText(kSettingPort, c.pszStored));
        }
        COptionsDlg dlg;
        EXPECT_EQ(PortList(dlg).currentIndex(), c.nSelected);
        ASSERT_EQ(Apply(dlg), QDialog::Accepted);
        EXPECT_EQ(dlg.SavePortSelection(), c.nSaved);
        EXPECT_EQ(ReadText(kSettingPort), std::to_string(c.nSaved));
    }
}

TEST(OptionsDlg, ThePortIsSavedOnlyAfterApply)
{
    struct SCase {
        bool bApply;
        const char* pszPortAfter;
    };
    for (const SCase& c : {SCase{false, "3"}, SCase{true, "4"}}) {
        SCOPED_TRACE(c.bApply ? "Apply" : "Cancel");
        const test::CScopedStore store;
        ASSERT_TRUE(WriteNumber(kSettingPort, 3));
        COptionsDlg dlg;
        QTest::keyClick(&PortList(dlg), Qt::Key_Down);  // the operator picks COM4
        ASSERT_EQ(PortList(dlg).currentIndex(), 3);
        EXPECT_EQ(ReadText(kSettingPort), "3");
        if (c.bApply) {
            ASSERT_EQ(Apply(dlg), QDialog::Accepted);
            EXPECT_EQ(dlg.SavePortSelection(), 4);
        } else {
            ASSERT_EQ(Cancel(dlg), QDialog::Rejected);
        }
        EXPECT_EQ(ReadText(kSettingPort), c.pszPortAfter);
    }
}

TEST(OptionsDlg, SwitchesOpenAsStored)
{
    struct SCase {
        std::array<const char*, 4> apszStored;  // nullptr: absent
        std::array<bool, 4> abTicked;
    };
    const SCase kCases[] = {
        {{nullptr, nullptr, nullptr, nullptr}, {false, false, true, true}},
        {{"1", "1", "0", "0"}, {true, true, false, false}},
        {{"0", "0", "1", "1"}, {false, false, true, true}},
        {{"2", "abc", "", "-1"}, {true, false, true, true}},
    };
    for (const SCase& c : kCases) {
        const test::CScopedStore store;
        for (std::size_t i = 0; i < kSwitches.size(); ++i) {
            if (c.apszStored[i]) {
                ASSERT_TRUE(WriteText(kSwitches[i].strSetting, c.apszStored[i]));
            }
        }
        COptionsDlg dlg;
        for (std::size_t i = 0; i < kSwitches.size(); ++i)
            EXPECT_EQ(Box(dlg, kSwitches[i].pszText).isChecked(), c.abTicked[i]) << kSwitches[i].pszText;
        ASSERT_EQ(Apply(dlg), QDialog::Accepted);
        EXPECT_EQ(dlg.IsChangeEnabled(), c.abTicked[kChangeEnableSwitch]);
    }
}

// Every switch, "Enable Change Download" included, is saved by the click itself; Cancel
// takes nothing back, and nothing else is written.
TEST(OptionsDlg, AClickSavesItsSwitchAtOnceAndCancelKeepsIt)
{
    for (const SSwitch& sw : kSwitches) {
        SCOPED_TRACE(sw.pszText);
        for (const char* pszStored : {"0", "1"}) {
            const test::CScopedStore store;
            ASSERT_TRUE(WriteText(sw.strSetting, pszStored));
            const std::string strClicked = std::string_view(pszStored) == "1" ? "0" : "1";
            COptionsDlg dlg;
            QCheckBox& box = Box(dlg, sw.pszText);
            box.click();
            EXPECT_EQ(box.isChecked(), strClicked == "1");
            EXPECT_EQ(ReadText(sw.strSetting), strClicked);
            ASSERT_EQ(Cancel(dlg), QDialog::Rejected);
            EXPECT_EQ(ReadText(sw.strSetting), strClicked);
            for (const SSwitch& other : kSwitches) {
                if (other.strSetting != sw.strSetting) {
                    EXPECT_EQ(ReadText(other.strSetting), "") << other.pszText;
                }
            }
            EXPECT_EQ(ReadText(kSettingPort), "");
        }
    }
}

TEST(OptionsDlg, AClickKeepsWhatTheOperatorChoseBefore)
{
    const test::CScopedStore store;
    ASSERT_TRUE(WriteNumber(kSettingPort, 3));
    COptionsDlg dlg;
    QTest::keyClick(&PortList(dlg), Qt::Key_Down);
    Box(dlg, "Enable Change Download").click();
    Box(dlg, "Error sound").click();
    Box(dlg, "Backup Old File").click();
    EXPECT_EQ(PortList(dlg).currentIndex(), 3);
    EXPECT_FALSE(Box(dlg, "Enable Change Download").isChecked());
    EXPECT_TRUE(Box(dlg, "Error sound").isChecked());
    EXPECT_FALSE(Box(dlg, "Backup Old File").isChecked());
    ASSERT_EQ(Apply(dlg), QDialog::Accepted);
    EXPECT_FALSE(dlg.IsChangeEnabled());
    EXPECT_EQ(dlg.SavePortSelection(), 4);
    EXPECT_EQ(ReadText(kSettingChangeEnable), "0");
}

TEST(OptionsDlg, OnlyApplyAndEnterAccept)
{
    struct SCase {
        const char* pszHow;
        std::function<void(COptionsDlg&)> close;
        int nResult;
    };
    const SCase kCases[] = {
        {"Apply", [](COptionsDlg& dlg) { Button(dlg, "Apply").click(); }, QDialog::Accepted},
        {"Enter", [](COptionsDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Return); }, QDialog::Accepted},
        {"Cancel", [](COptionsDlg& dlg) { Button(dlg, "Cancel").click(); }, QDialog::Rejected},
        {"Escape", [](COptionsDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); }, QDialog::Rejected},
        {"close box", [](COptionsDlg& dlg) { dlg.close(); }, QDialog::Rejected},
    };
    for (const SCase& c : kCases) {
        SCOPED_TRACE(c.pszHow);
        const test::CScopedStore store;
        COptionsDlg dlg;
        EXPECT_EQ(RunModal(dlg, [&] { c.close(dlg); }), c.nResult);
    }
}

TEST(OptionsDlg, ListsTwentyPortsWithTheirDevices)
{
    const test::CScopedStore store;
    for (int nPort = 1; nPort <= 20; ++nPort) qunsetenv(("KESTREL_COM" + std::to_string(nPort)).c_str());
    qputenv("KESTREL_COM11", "/tmp/kestrel-sim");
    ASSERT_TRUE(WriteText("COM3", "/dev/serial/by-id/usb-handset"));
    const COptionsDlg dlg;
    qunsetenv("KESTREL_COM11");
    ASSERT_EQ(PortList(dlg).count(), 20);
    const std::pair<int, const char*> kEntries[] = {
        {0, "COM1  (/dev/ttyS0)"},
        {2, "COM3  (/dev/serial/by-id/usb-handset)"},
        {3, "COM4  (/dev/ttyACM1)"},
        {10, "COM11  (/tmp/kestrel-sim)"},
        {19, "COM20  (/dev/ttyUSB9)"},
    };
    for (const auto& [nIndex, pszText] : kEntries) EXPECT_EQ(PortList(dlg).itemText(nIndex).toStdString(), pszText);
}

TEST(OptionsDlg, FixedSizeInTheKoreanFontWithEveryTextWhole)
{
    const test::CScopedStore store;
    const COptionsDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Option"));
    EXPECT_EQ(QFontInfo(dlg.font()).family(), QStringLiteral("NanumGothic"));
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    const QRect client = dlg.rect();
    std::vector<QString> titles;
    for (const QGroupBox* pGroup : dlg.findChildren<QGroupBox*>()) titles.push_back(pGroup->title());
    EXPECT_EQ(titles, (std::vector<QString>{QStringLiteral(" COM Port "), QStringLiteral(" Sound Effect "),
                                            QStringLiteral(" Change Download ")}));
    for (const QWidget* pChild : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(client.contains(pChild->geometry())) << pChild->metaObject()->className();
    for (const QAbstractButton* pButton : dlg.findChildren<QAbstractButton*>())
        EXPECT_GE(pButton->width(), pButton->sizeHint().width()) << pButton->text().toStdString();
}

}  // namespace
}  // namespace kestrel
