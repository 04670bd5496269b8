// The main window without a handset: start-up from the settings, keys, closing, dragging,
// tooltips, the About box, the log pane, file selection, the type list, Options and ports.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolTip>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/dialog_units.h"
#include "app/station_dlg.h"
#include "services/settings_store.h"
#include "controls/percent_progress_ctrl.h"
#include "image/image_path.h"
#include "tests/app_window/window_test_support.h"

namespace kestrel::test {
namespace {

const auto* const g_pApp = ::testing::AddGlobalTestEnvironment(new CWindowAppEnvironment);

std::string Banner() { return std::string(g_strBanner); }

QString Text(const CMainDlg& dlg, int nId)
{
    QWidget* pControl = dlg.GetDlgItem(nId);
    if (auto* pEdit = qobject_cast<QLineEdit*>(pControl)) return pEdit->text();
    if (auto* pLabel = qobject_cast<QLabel*>(pControl)) return pLabel->text();
    ADD_FAILURE() << "no text control " << nId;
    return {};
}

QComboBox& TypeList(const CMainDlg& dlg) { return *qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_COMBO_TYPE)); }

std::vector<std::string> Entries(const QComboBox& combo)
{
    std::vector<std::string> entries;
    for (int i = 0; i < combo.count(); ++i) entries.push_back(combo.itemText(i).toStdString());
    return entries;
}

// A boot image: the marker, version 12 and a build date.
std::vector<char> BootImage(std::size_t nSize)
{
    std::vector<char> image(nSize, '\x5A');
    const std::string strDate = "Mar 15 200714:22:05";
    std::copy(strDate.begin(), strDate.end(), image.begin() + 0x20);
    const std::string strVersion = "12 BOOT";
    std::copy(strVersion.begin(), strVersion.end(), image.begin() + 0x34);
    return image;
}

class MainDlgTest : public testing::Test {
protected:
    std::string Write(const std::string& strName, const std::vector<char>& content)
    {
        const std::string strPath = m_dir.path().toStdString() + "/" + strName;
        std::filesystem::create_directories(std::filesystem::path(strPath).parent_path());
        std::ofstream(strPath, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
        return strPath;
    }
    std::unique_ptr<CMainDlg> Open()
    {
        auto pDlg = std::make_unique<CMainDlg>();
        pDlg->show();
        return pDlg;
    }

    CScopedStore m_store;
    QTemporaryDir m_dir;
    CDialogAnswerer m_answerer;
};

// ---- Start-up ----

struct SStartCase {
    const char* pszName;
    std::vector<std::pair<std::string_view, std::string>> stored;
    const char* pszSelected;  // "" for no selection
    int nType;
    const char* pszPortLabel;
    const char* pszPortAfter;
};

void PrintTo(const SStartCase& c, std::ostream* pOut) { *pOut << c.pszName; }

class MainDlgStartup : public MainDlgTest, public testing::WithParamInterface<SStartCase> {};

TEST_P(MainDlgStartup, ReadsTheSettingsInOrder)
{
    const SStartCase& c = GetParam();
    for (const auto& [strName, strValue] : c.stored) WriteText(strName, strValue);
    const auto pDlg = Open();

    EXPECT_EQ(pDlg->windowTitle().toStdString(), Banner());
    EXPECT_EQ(Entries(TypeList(*pDlg)), (std::vector<std::string>{"NORMAL", "EMERGENCY", "FONT(NORMAL)", "FONT(EMRGENCY)",
                                                                   "CHANGE(NORMAL)", "CHANGE(EMERGENCY)", "COMPARE(EMERGENCY)"}));
    EXPECT_EQ(TypeList(*pDlg).currentText().toStdString(), c.pszSelected);
    EXPECT_EQ(pDlg->DloadType(), c.nType);
    EXPECT_EQ(Text(*pDlg, IDC_PORT_LABEL).toStdString(), c.pszPortLabel);
    EXPECT_EQ(ReadText(kSettingPort), c.pszPortAfter);
    EXPECT_EQ(ReadText(kSettingChangeEnable), "1");
    EXPECT_EQ(ButtonStates(*pDlg), "EDED list E bar 1020");
    // The ToDM button exists but nothing shows it.
    EXPECT_FALSE(pDlg->GetDlgItem(IDC_BTN_TODM)->isVisible());
    EXPECT_TRUE(Text(*pDlg, IDC_BIN_PATH).isEmpty());
    EXPECT_TRUE(qobject_cast<QTextEdit*>(pDlg->GetDlgItem(IDC_RICH_LOG))->toPlainText().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, MainDlgStartup,
    testing::Values(SStartCase{"NothingStored", {}, "NORMAL", 0, "[COM1]", "1"},
                    SStartCase{"Type4", {{kSettingDloadType, "4"}}, "EMERGENCY", 1, "[COM1]", "1"},
                    SStartCase{"Type5", {{kSettingDloadType, "5"}}, "EMERGENCY", 1, "[COM1]", "1"},
                    SStartCase{"Type6", {{kSettingDloadType, "6"}}, "COMPARE(EMERGENCY)", 6, "[COM1]", "1"},
                    SStartCase{"Type9", {{kSettingDloadType, "9"}}, "", 9, "[COM1]", "1"},
                    SStartCase{"Port12", {{kSettingPort, "12"}}, "NORMAL", 0, "[COM12]", "12"},
                    SStartCase{"Port300", {{kSettingPort, "300"}}, "NORMAL", 0, "[COM300 unusable]", "300"},
                    SStartCase{"PortText", {{kSettingPort, "abc"}}, "NORMAL", 0, "[COM0 unusable]", "abc"},
                    SStartCase{"ChangeOff", {{kSettingChangeEnable, "0"}}, "NORMAL", 0, "[COM1]", "1"}),
    [](const testing::TestParamInfo<SStartCase>& param) { return std::string(param.param.pszName); });

TEST_F(MainDlgTest, ASettingsFileThatCannotBeReadIsNamedInTheLogOnce)
{
    const std::string strFile = SettingsFilePath();
    std::filesystem::create_directories(std::filesystem::path(strFile).parent_path());
    std::ofstream(strFile) << "[General\nPORT=4\n";
    const auto pDlg = Open();
    const QString strLog = qobject_cast<QTextEdit*>(pDlg->GetDlgItem(IDC_RICH_LOG))->toPlainText();
    EXPECT_EQ(strLog.count(QString::fromStdString(strFile)), 1) << strLog.toStdString();
    EXPECT_TRUE(strLog.contains("the defaults are in use")) << strLog.toStdString();
    EXPECT_EQ(Text(*pDlg, IDC_PORT_LABEL), "[COM1]");
    std::ifstream in(strFile);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "[General\nPORT=4\n");
}

TEST_F(MainDlgTest, SizeFollowsTheDialogUnitsOfItsFont)
{
    const auto pDlg = Open();
    const CDialogUnits du(pDlg->font());
    EXPECT_EQ(pDlg->size(), du.Size(271, 341));
    EXPECT_EQ(pDlg->minimumSize(), pDlg->maximumSize());  // not resizable
    EXPECT_FALSE(pDlg->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(pDlg->windowFlags() & Qt::WindowMinimizeButtonHint);
    // Controls keep their designed places, for example the log pane and the Run button.
    EXPECT_EQ(pDlg->GetDlgItem(IDC_RICH_LOG)->geometry(), du.Rect(7, 194, 255, 125));
    EXPECT_EQ(pDlg->GetDlgItem(IDC_BTN_RUN)->geometry(), du.Rect(141, 127, 14, 17));
    for (QWidget* pChild : pDlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (pChild->isVisible()) {
            EXPECT_TRUE(pDlg->rect().contains(pChild->geometry())) << pChild->metaObject()->className();
        }
}

TEST_F(MainDlgTest, TextsOfTheWindowAreTheProgramsOwn)
{
    const auto pDlg = Open();
    std::vector<std::string> groups, labels;
    for (const QGroupBox* pGroup : pDlg->findChildren<QGroupBox*>()) groups.push_back(pGroup->title().toStdString());
    for (const QLabel* pLabel : pDlg->findChildren<QLabel*>()) labels.push_back(pLabel->text().toStdString());
    EXPECT_EQ(groups, (std::vector<std::string>{" New File Information ", " Old File Information ", " Phone Information ", " Control "}));
    for (const char* pszLabel : {"Bin   :", "Size :", "byte", "Version :", "S/W version :", "Compiled     :", "PCB version :", "Download Type :"})
        EXPECT_NE(std::find(labels.begin(), labels.end(), pszLabel), labels.end()) << pszLabel;
    EXPECT_EQ(qobject_cast<QPushButton*>(pDlg->GetDlgItem(IDC_BTN_COMPARE))->text(), "C");
}

// ---- Keys, closing, dragging ----

TEST_F(MainDlgTest, EnterAndEscapeDoNotCloseTheCloseBoxDoes)
{
    const auto pDlg = Open();
    for (Qt::Key eKey : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(pDlg.get(), eKey);
        EXPECT_TRUE(pDlg->isVisible()) << eKey;
    }
    EXPECT_TRUE(pDlg->close());
    EXPECT_FALSE(pDlg->isVisible());
    EXPECT_EQ(pDlg->result(), QDialog::Accepted);
    EXPECT_TRUE(m_answerer.Seen().empty());  // nothing was asked
}

TEST_F(MainDlgTest, DragsFromAnyEmptySpotButNotFromAControl)
{
    const auto pDlg = Open();
    const CDialogUnits du(pDlg->font());
    struct SSpot {
        const char* pszWhat;
        QPoint pt;
        bool bMoves;
    };
    const SSpot spots[] = {
        {"margin", QPoint(du.X(2), du.Y(2)), true},
        {"label", du.Rect(11, 20, 20, 8).center(), true},
        {"group frame", du.Rect(7, 112, 125, 65).bottomLeft() + QPoint(3, -3), true},
        {"path field", du.Rect(32, 17, 207, 12).center(), false},
    };
    // Through the window, so each press reaches whatever lies under it.
    QWindow* pWindow = pDlg->windowHandle();
    for (const SSpot& spot : spots) {
        const QPoint ptBefore = pDlg->pos();
        QTest::mousePress(pWindow, Qt::LeftButton, {}, spot.pt);
        QTest::mouseMove(pWindow, spot.pt + QPoint(30, 20));
        // The window has come along: under the mouse lies the same spot again.
        QTest::mouseRelease(pWindow, Qt::LeftButton, {}, spot.bMoves ? spot.pt : spot.pt + QPoint(30, 20));
        EXPECT_EQ(pDlg->pos() != ptBefore, spot.bMoves) << spot.pszWhat;
        if (spot.bMoves) {
            EXPECT_EQ(pDlg->pos() - ptBefore, QPoint(30, 20)) << spot.pszWhat;
        }
    }
}

// ---- Tooltips and the About box ----

TEST_F(MainDlgTest, TooltipsComeFromTheStringTableByControlId)
{
    const auto pDlg = Open();
    // Controls without a tip first: a tip once shown takes a while to go away.
    const std::pair<int, const char*> tips[] = {
        {IDC_BTN_OPEN_OLD, ""},      {IDC_BTN_COMPARE, ""},           {IDC_BTN_OPEN, "BIN 파일 열기"},
        {IDC_BTN_RUN, "다운로딩 시작"}, {IDC_BTN_STOP, "다운로딩 취소"}, {IDC_BTN_INFO, "옵션"},
    };
    QToolTip::hideText();
    ASSERT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 5000));
    for (const auto& [nId, pszTip] : tips) {
        QWidget* pControl = pDlg->GetDlgItem(nId);
        const QPoint pt = pControl->rect().center();
        QHelpEvent help(QEvent::ToolTip, pt, pControl->mapToGlobal(pt));
        QApplication::sendEvent(pControl, &help);
        EXPECT_EQ(QToolTip::text().toStdString(), pszTip) << nId;
    }
    EXPECT_EQ(pDlg->GetDlgItem(IDC_BTN_TODM)->toolTip(), "단말기 SIO를 DM으로..");
}

TEST_F(MainDlgTest, ContextMenuOffersTheAboutBoxWithTheBannerAndTheStationWindow)
{
    const auto pDlg = Open();
    QString strVersion, strOk;
    m_answerer.Then([&](QDialog& dlg) {
        for (const QLabel* pLabel : dlg.findChildren<QLabel*>())
            if (pLabel->property("controlId").toInt() == 1042) strVersion = pLabel->text();
        if (const auto* pButton = dlg.findChild<QPushButton*>()) strOk = pButton->text();
        dlg.accept();
    });
    const QStringList entries = ChooseFromContextMenu(*pDlg, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !strVersion.isEmpty(); }, 5000));

    // The run history and the station window follow the About entry.
    EXPECT_EQ(entries, (QStringList{QStringLiteral("Kestrel 정보(&A)..."), QStringLiteral("History(&H)..."),
                                    QStringLiteral("Kestrel 스테이션(&S)...")}));
    ASSERT_EQ(m_answerer.Seen().size(), 1u);
    EXPECT_EQ(m_answerer.Seen()[0].toStdString(), "Kestrel 정보");
    EXPECT_EQ(strVersion.toStdString(), Banner());
    EXPECT_EQ(strOk.toStdString(), "확인");
}

TEST_F(MainDlgTest, TheStationEntryOpensTheStationWindow)
{
    const auto pDlg = Open();
    bool bStation = false;
    m_answerer.Then([&](QDialog& dlg) {
        bStation = qobject_cast<CStationDlg*>(&dlg) != nullptr && dlg.isModal();
        dlg.close();
    });
    ASSERT_EQ(ChooseFromContextMenu(*pDlg, 2).size(), 3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_answerer.Seen().size() == 1u; }, 5000));
    ASSERT_EQ(m_answerer.Seen().size(), 1u);
    EXPECT_EQ(m_answerer.Seen()[0].toStdString(), kStationTitle);
    EXPECT_TRUE(bStation);
}

// ---- The log pane ----

TEST_F(MainDlgTest, LogLinesTakeTheirColourBoldAtTenPoints)
{
    const auto pDlg = Open();
    pDlg->WriteLog(kLogInfo, "notice");
    pDlg->WriteLog(kLogError, "\nTwo Files are same!");
    pDlg->WriteLog(kLogStatus, "Download 모드 진입 요청...Wait");
    pDlg->MarkStepDone();
    pDlg->WriteLog(kLogProgress, "Download End.\n");

    auto* pLog = qobject_cast<QTextEdit*>(pDlg->GetDlgItem(IDC_RICH_LOG));
    EXPECT_EQ(pLog->toPlainText().toStdString(),
              "notice\n\nTwo Files are same!\nDownload 모드 진입 요청...Wait\n  √Download End.\n\n");
    // Each run of text with its colour, in order.
    std::vector<std::pair<std::string, QColor>> runs;
    for (QTextBlock block = pLog->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            EXPECT_EQ(fragment.charFormat().fontWeight(), QFont::Bold);
            EXPECT_EQ(fragment.charFormat().fontPointSize(), 10.0);
            runs.emplace_back(fragment.text().toStdString(), fragment.charFormat().foreground().color());
        }
    }
    const std::vector<std::pair<std::string, QColor>> expected{
        {"notice", QColor(0, 0, 255)},
        {"Two Files are same!", QColor(255, 0, 0)},
        {"Download 모드 진입 요청...Wait", QColor(0, 0, 0)},
        {"  √", QColor(0x2E, 0x52, 0xB4)},
        {"Download End.", QColor(0, 0, 255)},
    };
    EXPECT_EQ(runs, expected);

    pDlg->ClearLog();
    EXPECT_TRUE(pLog->toPlainText().isEmpty());
}

TEST_F(MainDlgTest, LogFollowsTheNewestLine)
{
    const auto pDlg = Open();
    auto* pLog = qobject_cast<QTextEdit*>(pDlg->GetDlgItem(IDC_RICH_LOG));
    for (int i = 0; i < 200; ++i) pDlg->WriteLog(kLogStatus, "line " + std::to_string(i));
    QApplication::processEvents();
    EXPECT_GT(pLog->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(pLog->verticalScrollBar()->value(), pLog->verticalScrollBar()->maximum());
}

// ---- Display texts and bars as the engine sets them ----

TEST_F(MainDlgTest, HiddenDisplayTextsKeepTheirValuesShownOnesReachTheirFields)
{
    const auto pDlg = Open();
    pDlg->SetDisplayText(DisplayText::AddrInfo, "BaseAddr=0x0: Addr = 0x400");
    pDlg->SetDisplayText(DisplayText::Elapsed, "Elapsed time : 2 min 5 sec");
    pDlg->SetDisplayText(DisplayText::EraseInfo, "Erase_Len=0x800 PktCnt=1 TotPkt=2");
    EXPECT_EQ(Text(*pDlg, IDC_ADDR_INFO), "BaseAddr=0x0: Addr = 0x400");
    EXPECT_EQ(Text(*pDlg, IDC_ELAPSED), "Elapsed time : 2 min 5 sec");
    // The erase counters are kept but not shown.
    for (const QLineEdit* pEdit : pDlg->findChildren<QLineEdit*>()) EXPECT_FALSE(pEdit->text().startsWith("Erase_Len"));

    pDlg->ShowPercentBar();
    pDlg->SetPercent(37);
    const auto* pBar = qobject_cast<CPercentProgressCtrl*>(pDlg->GetDlgItem(IDC_PROGRESS));
    EXPECT_TRUE(pBar->isVisible());
    EXPECT_FALSE(pDlg->GetDlgItem(IDC_PROGRESS_IDLE)->isVisible());
    EXPECT_EQ(pBar->GetPos(), 37);
    EXPECT_TRUE(pBar->m_bShowPercent);
    EXPECT_EQ(pBar->m_clrStart, QColor(0, 0, 0x80));
    EXPECT_EQ(pBar->m_clrEnd, QColor(0x80, 0, 0));
    EXPECT_EQ(pBar->m_clrBkgnd, QColor(0xC0, 0xC0, 0xC0));
    pDlg->ShowIdleBar();
    EXPECT_FALSE(pBar->isVisible());
    EXPECT_TRUE(pDlg->GetDlgItem(IDC_PROGRESS_IDLE)->isVisible());
}

TEST_F(MainDlgTest, CapturedMouseKeepsClicksFromTheControls)
{
    const auto pDlg = Open();
    pDlg->SetButtons(kButtonsAfterToDm);
    int nStops = 0;
    QObject::connect(qobject_cast<QAbstractButton*>(pDlg->GetDlgItem(IDC_BTN_STOP)), &QAbstractButton::clicked, [&] { ++nStops; });
    pDlg->CaptureMouse(true);
    QTest::mouseClick(pDlg->GetDlgItem(IDC_BTN_STOP), Qt::LeftButton);
    EXPECT_EQ(nStops, 0);
    // A question asked meanwhile is answered with the mouse all the same.
    bool bClickTaken = false;
    m_answerer.Then([&](QDialog& dlg) {
        auto& box = static_cast<QMessageBox&>(dlg);
        QTest::mouseClick(box.button(QMessageBox::Yes), Qt::LeftButton);
        bClickTaken = !box.isVisible();
        if (!bClickTaken) box.done(QMessageBox::No);
    });
    EXPECT_TRUE(pDlg->AskYesNo("모델 버전이 틀립니다. 계속 할까요?"));
    EXPECT_TRUE(bClickTaken);

    pDlg->CaptureMouse(false);
    QTest::mouseClick(pDlg->GetDlgItem(IDC_BTN_STOP), Qt::LeftButton);
    EXPECT_EQ(nStops, 1);
}

// ---- File selection and the type list ----

TEST_F(MainDlgTest, OpenTakesBinInAnyCaseAndRefusesOtherExtensions)
{
    const auto pDlg = Open();
    const std::string strImage = Write("fw/PHONE.BIN", BootImage(4096));
    for (const char* pszName : {"fw/PHONE.bin2", "fw/PHONE.txt"}) {
        const std::string strOther = Write(pszName, BootImage(4096));
        pDlg->OpenNewImage(QString::fromStdString(strOther));
        pDlg->OpenOldImage(QString::fromStdString(strOther));
    }
    EXPECT_EQ(m_answerer.Seen(), (std::vector<QString>{QString::fromUtf8(kNotNewImageMessage.data()), QString::fromUtf8(kNotOldImageMessage.data()),
                                                       QString::fromUtf8(kNotNewImageMessage.data()), QString::fromUtf8(kNotOldImageMessage.data())}));
    EXPECT_TRUE(Text(*pDlg, IDC_BIN_PATH).isEmpty());
    EXPECT_EQ(ButtonStates(*pDlg), "EDED list E bar 1020");

    pDlg->OpenNewImage(QString::fromStdString(strImage));
    EXPECT_EQ(Text(*pDlg, IDC_BIN_PATH).toStdString(), strImage);
    EXPECT_EQ(Text(*pDlg, IDC_BIN_SIZE), "4096");
    EXPECT_EQ(Text(*pDlg, IDC_BIN_VERSION).toStdString(), pDlg->Engine().NewImage().VersionText());
    EXPECT_TRUE(Text(*pDlg, IDC_BIN_VERSION).startsWith("12."));
    EXPECT_EQ(ReadText(kSettingBinPath), FolderOf(strImage));
    EXPECT_EQ(ReadText(kSettingBinPath).back(), '/');
    // A boot image turns NORMAL into CHANGE(EMERGENCY), and the list shows it.
    EXPECT_EQ(pDlg->DloadType(), 5);
    EXPECT_EQ(TypeList(*pDlg).currentText(), "CHANGE(EMERGENCY)");
    EXPECT_EQ(ButtonStates(*pDlg), "EEED list E bar 1020");
}

TEST_F(MainDlgTest, AnImageThatCannotBeReadStillShowsItsPathWithSizeZero)
{
    const auto pDlg = Open();
    const std::string strMissing = m_dir.path().toStdString() + "/gone/PHONE.bin";
    pDlg->OpenNewImage(QString::fromStdString(strMissing));
    ASSERT_EQ(m_answerer.Seen().size(), 1u);
    EXPECT_TRUE(m_answerer.Seen()[0].contains("PHONE.bin"));
    EXPECT_EQ(Text(*pDlg, IDC_BIN_PATH).toStdString(), strMissing);
    EXPECT_EQ(Text(*pDlg, IDC_BIN_SIZE), "0");
    EXPECT_EQ(Text(*pDlg, IDC_BIN_VERSION), "0.");
    EXPECT_EQ(ReadText(kSettingBinPath), FolderOf(strMissing));
}

TEST_F(MainDlgTest, OnlyAnImageThatCannotBeUsedGetsTheInformationIcon)
{
    const auto pDlg = Open();
    const QString strMissing = m_dir.path() + "/gone/PHONE.bin";
    const struct {
        const char* name;
        std::function<void()> show;
        QMessageBox::Icon eIcon;
    } cases[] = {
        {"new image missing", [&] { pDlg->OpenNewImage(strMissing); }, QMessageBox::Information},
        {"old image missing", [&] { pDlg->OpenOldImage(strMissing); }, QMessageBox::Information},
        {"not a bin file", [&] { pDlg->OpenNewImage(m_dir.path() + "/PHONE.txt"); }, QMessageBox::NoIcon},
        {"completion", [&] { pDlg->ShowMessage("Downloading completed\n", MessageIcon::None); }, QMessageBox::NoIcon},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t nBefore = m_answerer.Icons().size();
        c.show();
        ASSERT_EQ(m_answerer.Icons().size(), nBefore + 1);
        EXPECT_EQ(m_answerer.Icons().back(), c.eIcon);
    }
}

TEST_F(MainDlgTest, AnOldImageSelectsCompare)
{
    const auto pDlg = Open();
    const std::string strOld = Write("old.bin", BootImage(8192));
    pDlg->OpenOldImage(QString::fromStdString(strOld));
    EXPECT_EQ(pDlg->DloadType(), 6);
    EXPECT_EQ(TypeList(*pDlg).currentText(), "COMPARE(EMERGENCY)");
    EXPECT_EQ(Text(*pDlg, IDC_OLD_BIN_SIZE), "8192");
    EXPECT_EQ(ReadText(kSettingBinPath2), FolderOf(strOld));
    EXPECT_TRUE(ReadText(kSettingBinPath).empty());
}

TEST_F(MainDlgTest, TheFileChooserStartsInTheRememberedFolder)
{
    const auto pDlg = Open();
    const std::string strImage = Write("images/new/a.bin", BootImage(2048));
    WriteText(kSettingBinPath, FolderOf(strImage));
    QStringList filters;
    QString strFolder;
    m_answerer.Then([&](QDialog& dlg) {
        auto& chooser = static_cast<QFileDialog&>(dlg);
        filters = chooser.nameFilters();
        strFolder = chooser.directory().absolutePath();
        chooser.selectFile(QString::fromStdString(strImage));
        dlg.accept();
    });
    pDlg->OnOpenNewImage();
    EXPECT_EQ(filters, (QStringList{"Download Binary File (*.bin)", "All Files (*.*)"}));
    EXPECT_EQ(strFolder.toStdString() + "/", FolderOf(strImage));
    EXPECT_EQ(Text(*pDlg, IDC_BIN_PATH).toStdString(), strImage);

    // Cancelled, nothing changes.
    m_answerer.Then([](QDialog& dlg) { dlg.reject(); });
    pDlg->OnOpenOldImage();
    EXPECT_TRUE(Text(*pDlg, IDC_OLD_BIN_PATH).isEmpty());
    EXPECT_EQ(pDlg->DloadType(), 5);
}

TEST_F(MainDlgTest, ChangingTheTypeStoresItAndReloadsTheImage)
{
    const auto pDlg = Open();
    // Without an image only the setting changes.
    ChooseType(*pDlg, "FONT(EMRGENCY)");
    EXPECT_EQ(pDlg->DloadType(), 3);
    EXPECT_EQ(ReadText(kSettingDloadType), "3");

    const std::string strImage = Write("a.bin", BootImage(4096));
    pDlg->OpenNewImage(QString::fromStdString(strImage));
    ASSERT_EQ(pDlg->DloadType(), 5);
    // The file grows on disk; choosing a type loads it again and adapts the type to it.
    Write("a.bin", BootImage(6144));
    ChooseType(*pDlg, "FONT(NORMAL)");
    EXPECT_EQ(ReadText(kSettingDloadType), "2");
    EXPECT_EQ(pDlg->Engine().NewImage().Size(), 6144);
    EXPECT_EQ(pDlg->DloadType(), 5);
    // The fields are not refreshed by the type change.
    EXPECT_EQ(Text(*pDlg, IDC_BIN_SIZE), "4096");
}

// ---- Options ----

QCheckBox* ChangeBox(QDialog& dlg)
{
    for (QCheckBox* pBox : dlg.findChildren<QCheckBox*>())
        if (pBox->text() == "Enable Change Download") return pBox;
    ADD_FAILURE() << "no change-download box";
    return nullptr;
}

TEST_F(MainDlgTest, CancellingOptionsWritesBackTheWindowsChangeSwitch)
{
    const auto pDlg = Open();
    ASSERT_EQ(ReadText(kSettingChangeEnable), "1");
    bool bTickedAtFirst = true, bTickedNext = true;
    m_answerer.Then([&](QDialog& dlg) {
        bTickedAtFirst = ChangeBox(dlg)->isChecked();
        dlg.reject();
    });
    pDlg->OnOptions();
    EXPECT_EQ(ReadText(kSettingChangeEnable), "0");
    m_answerer.Then([&](QDialog& dlg) {
        bTickedNext = ChangeBox(dlg)->isChecked();
        dlg.reject();
    });
    pDlg->OnOptions();
    EXPECT_TRUE(bTickedAtFirst);
    EXPECT_FALSE(bTickedNext);
    // The list still offers both CHANGE entries.
    EXPECT_EQ(TypeList(*pDlg).count(), 7);
}

TEST_F(MainDlgTest, ApplyingOptionsTakesThePortAndRebuildsTheTypeList)
{
    const auto pDlg = Open();
    pDlg->OpenNewImage(QString::fromStdString(Write("a.bin", BootImage(4096))));
    ASSERT_EQ(pDlg->DloadType(), 5);
    m_answerer.Then([&](QDialog& dlg) {
        auto* pPorts = dlg.findChild<QComboBox*>();
        pPorts->setCurrentIndex(pPorts->findText("COM5", Qt::MatchStartsWith));
        emit pPorts->activated(pPorts->currentIndex());
        if (ChangeBox(dlg)->isChecked()) ChangeBox(dlg)->click();
        dlg.accept();
    });
    pDlg->OnOptions();
    EXPECT_EQ(pDlg->Port(), 5);
    EXPECT_EQ(Text(*pDlg, IDC_PORT_LABEL), "[COM5]");
    EXPECT_EQ(ReadText(kSettingPort), "5");
    EXPECT_EQ(Entries(TypeList(*pDlg)), (std::vector<std::string>{"NORMAL", "EMERGENCY", "FONT(NORMAL)", "FONT(EMRGENCY)", "COMPARE(EMERGENCY)"}));
    // CHANGE(EMERGENCY) has no entry now: nothing is selected, and reading the list gives -1.
    EXPECT_EQ(TypeList(*pDlg).currentIndex(), -1);
    pDlg->UpdateData(true);
    EXPECT_EQ(pDlg->DloadType(), -1);
    ChooseType(*pDlg, "COMPARE(EMERGENCY)");
    EXPECT_EQ(pDlg->DloadType(), 6);
}

// ---- Ports coming and going ----

TEST_F(MainDlgTest, DeviceChangesSetThePortLabelAndOnlyHandsetsTheStoredPort)
{
    const auto pDlg = Open();
    struct SStep {
        EDeviceChange eChange;
        const char* pszDevNode;
        const char* pszLabel;
        int nPort;
    };
    const SStep steps[] = {
        {EDeviceChange::Arrival, "/dev/ttyS1", "[Disconnect]", 1},            // COM2: the machine's own
        {EDeviceChange::Arrival, "/dev/ttyUSB1", "Auto detect[COM12]", 12},   // COM12
        {EDeviceChange::Arrival, "/dev/input/event3", "Auto detect[COM12]", 12},  // no port
        {EDeviceChange::Removal, "/dev/ttyUSB1", "[Disconnected]", 12},
        {EDeviceChange::Removal, "/dev/input/event3", "[Disconnected]", 12},
    };
    for (const SStep& step : steps) {
        pDlg->OnDeviceChange(step.eChange, QString::fromUtf8(step.pszDevNode));
        EXPECT_EQ(Text(*pDlg, IDC_PORT_LABEL).toStdString(), step.pszLabel) << step.pszDevNode;
        EXPECT_EQ(pDlg->Port(), step.nPort) << step.pszDevNode;
        EXPECT_EQ(ReadText(kSettingPort), std::to_string(step.nPort)) << step.pszDevNode;
    }
    // The port is not bound to any list: type changes leave it alone.
    ChooseType(*pDlg, "EMERGENCY");
    ChooseType(*pDlg, "NORMAL");
    EXPECT_EQ(pDlg->Port(), 12);
}

}  // namespace
}  // namespace kestrel::test
