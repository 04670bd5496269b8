// The station window without a handset: the ports it starts with, the ports field, and the
// job every port loads.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTest>
#include <QTextDocument>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/log_pane.h"
#include "app/station_dlg.h"
#include "app/station_tile.h"
#include "image/download_type.h"
#include "image/image_path.h"
#include "services/settings_store.h"
#include "tests/app_window/window_test_support.h"

namespace kestrel::test {
namespace {

const auto* const g_pApp = ::testing::AddGlobalTestEnvironment(new CWindowAppEnvironment);

// An image; with the boot marker, version 12 and a build date.
std::vector<char> Image(std::size_t nSize, bool bBoot)
{
    std::vector<char> image(nSize, '\x5A');
    const std::string strDate = "Mar 15 200714:22:05";
    std::copy(strDate.begin(), strDate.end(), image.begin() + 0x20);
    const std::string strVersion = bBoot ? "12 BOOT" : "12 FONT";
    std::copy(strVersion.begin(), strVersion.end(), image.begin() + 0x34);
    return image;
}

class StationDlgTest : public testing::Test {
protected:
    std::string Write(const std::string& strName, const std::vector<char>& content)
    {
        const std::string strPath = m_dir.path().toStdString() + "/" + strName;
        std::ofstream(strPath, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
        return strPath;
    }
    void Open()
    {
        m_pDlg = std::make_unique<CStationDlg>();
        m_pDlg->show();
    }
    // Label and device of each tile's port, in order.
    std::vector<std::pair<std::string, std::string>> Ports() const
    {
        std::vector<std::pair<std::string, std::string>> ports;
        for (int i = 0; i < m_pDlg->TileCount(); ++i) {
            const SStationPortId& id = m_pDlg->Station()->Port(i).Id();
            ports.emplace_back(id.Label(), id.strSlot);
        }
        return ports;
    }
    QString Text(int nId) const
    {
        QWidget* pControl = m_pDlg->GetDlgItem(nId);
        if (auto* pEdit = qobject_cast<QLineEdit*>(pControl)) return pEdit->text();
        if (auto* pLabel = qobject_cast<QLabel*>(pControl)) return pLabel->text();
        if (auto* pCombo = qobject_cast<QComboBox*>(pControl)) return pCombo->currentText();
        ADD_FAILURE() << "no text control " << nId;
        return {};
    }
    bool IsEnabled(int nId) const { return m_pDlg->GetDlgItem(nId)->isEnabled(); }
    bool IsChecked(int nId) const { return qobject_cast<QCheckBox*>(m_pDlg->GetDlgItem(nId))->isChecked(); }
    void SetChecked(int nId, bool bChecked) { qobject_cast<QCheckBox*>(m_pDlg->GetDlgItem(nId))->setChecked(bChecked); }
    void Edit(int nId, const char* pszText)
    {
        auto* pEdit = qobject_cast<QLineEdit*>(m_pDlg->GetDlgItem(nId));
        pEdit->setText(QString::fromUtf8(pszText));
        emit pEdit->editingFinished();
    }
    void EditFontAddress(const char* pszAddress) { Edit(IDC_STATION_FONT_ADDRESS, pszAddress); }

    CScopedStore m_store;
    QTemporaryDir m_dir;
    std::unique_ptr<CStationDlg> m_pDlg;
};

TEST_F(StationDlgTest, StartsWithTheStoredAndTheMappedPortsWaitingForHandsets)
{
    const std::string strA = m_dir.path().toStdString() + "/a";
    const std::string strB = m_dir.path().toStdString() + "/b";
    WriteText("COM9", strA);
    WriteText("COM4", strB);
    WriteText(kSettingPort, "6");
    Open();
    // Handset ports of this machine that are plugged in come on top of these.
    std::vector<std::pair<std::string, std::string>> chosen;
    QStringList labels;
    for (const auto& port : Ports()) {
        labels.push_back(QString::fromStdString(port.first));
        if (port.first == "COM4" || port.first == "COM6" || port.first == "COM9") chosen.push_back(port);
    }
    const std::vector<std::pair<std::string, std::string>> expected{
        {"COM4", strB}, {"COM6", DevicePathForPort(6, nullptr)}, {"COM9", strA}};
    EXPECT_EQ(chosen, expected);
    EXPECT_EQ(Text(IDC_STATION_PORTS), labels.join(QLatin1Char(' ')));
    for (int i = 0; i < m_pDlg->TileCount(); ++i) {
        EXPECT_EQ(m_pDlg->Tile(i).StateText().toStdString(), kWaitingText);
        EXPECT_EQ(m_pDlg->Tile(i).State(), CStationTile::EState::Waiting);
    }
    // Nothing to run yet.
    EXPECT_FALSE(IsEnabled(IDC_BTN_RUN));
    EXPECT_FALSE(IsEnabled(IDC_BTN_STOP));
}

TEST_F(StationDlgTest, ThePortsFieldGivesATileToEachPort)
{
    struct Case {
        const char* pszName;
        const char* pszPorts;
        std::vector<std::string> labels;  // the tiles afterwards
        const char* pszMessage;           // part of the message line; "" for none
    } cases[] = {
        {"numbers, names and paths", "COM3, 4  /tmp/h", {"COM3", "COM4", "/tmp/h"}, ""},
        {"a range", "3-5", {"COM3", "COM4", "COM5"}, ""},
        {"nothing", " ", {}, ""},
        {"a port twice keeps the tiles", "COM3 /dev/ttyACM0", {"COM7"}, "given twice"},
        {"no port keeps the tiles", "3x", {"COM7"}, "COMn, a device path, usb:ID_PATH or SLOTn"},
        {"a backward range keeps the tiles", "5-3", {"COM7"}, "the smaller first"},
    };
    Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_pDlg->SetPorts(QStringLiteral("COM7"));
        m_pDlg->SetPorts(QString::fromUtf8(c.pszPorts));
        std::vector<std::string> labels;
        for (const auto& port : Ports()) labels.push_back(port.first);
        EXPECT_EQ(labels, c.labels);
        EXPECT_EQ(m_pDlg->TileCount(), static_cast<int>(c.labels.size()));
        // An empty part is in every message: the line must then be empty itself.
        EXPECT_TRUE(Text(IDC_STATION_MESSAGE).contains(QString::fromUtf8(c.pszMessage)))
            << Text(IDC_STATION_MESSAGE).toStdString();
        EXPECT_EQ(Text(IDC_STATION_MESSAGE).isEmpty(), *c.pszMessage == '\0') << Text(IDC_STATION_MESSAGE).toStdString();
    }
}

TEST_F(StationDlgTest, EveryPortLoadsTheImageWithTheTypeItRunsAs)
{
    Open();
    m_pDlg->SetPorts(QStringLiteral("COM3 COM4"));
    const auto typesAsRun = [this] {
        std::vector<int> types;
        for (int i = 0; i < m_pDlg->TileCount(); ++i) types.push_back(m_pDlg->Station()->Port(i).TypeAsRun());
        return types;
    };

    m_pDlg->OpenNewImage(QString::fromStdString(Write("notes.txt", Image(4096, true))));
    EXPECT_EQ(Text(IDC_STATION_MESSAGE).toStdString(), kNotNewImageMessage);
    EXPECT_FALSE(m_pDlg->IsJobLoaded());
    EXPECT_FALSE(IsEnabled(IDC_BTN_RUN));

    // A boot image runs as CHANGE(EMERGENCY), as in the main window.
    ChooseType(m_pDlg->GetDlgItem(IDC_COMBO_TYPE), "EMERGENCY");
    m_pDlg->OpenNewImage(QString::fromStdString(Write("PHONE.bin", Image(4096, true))));
    EXPECT_TRUE(Text(IDC_STATION_MESSAGE).isEmpty());
    ASSERT_TRUE(m_pDlg->IsJobLoaded());
    EXPECT_TRUE(IsEnabled(IDC_BTN_RUN));
    EXPECT_EQ(Text(IDC_COMBO_TYPE), "CHANGE(EMERGENCY)");
    EXPECT_EQ(typesAsRun(), std::vector<int>(2, DLOAD_CHANGE_EMERGENCY));
    EXPECT_EQ(Text(IDC_BIN_SIZE), "4096");
    EXPECT_EQ(ReadText(kSettingBinPath), m_dir.path().toStdString() + "/");
    EXPECT_FALSE(IsEnabled(IDC_STATION_FONT_ADDRESS));

    // A font needs its address: a partial one keeps the job from the ports.
    m_pDlg->OpenNewImage(QString::fromStdString(Write("FONT.bin", Image(4096, false))));
    EXPECT_EQ(Text(IDC_COMBO_TYPE), "FONT(EMRGENCY)");
    ASSERT_TRUE(IsEnabled(IDC_STATION_FONT_ADDRESS));
    EXPECT_EQ(Text(IDC_STATION_FONT_ADDRESS), "e00000");
    EXPECT_TRUE(m_pDlg->IsJobLoaded());
    EditFontAddress("0x");
    EXPECT_FALSE(m_pDlg->IsJobLoaded());
    EXPECT_FALSE(IsEnabled(IDC_BTN_RUN));
    EXPECT_TRUE(Text(IDC_STATION_MESSAGE).startsWith("Start Address"));
    EditFontAddress("0x8000");
    EXPECT_TRUE(m_pDlg->IsJobLoaded());
    EXPECT_EQ(typesAsRun(), std::vector<int>(2, DLOAD_FONT_EMERGENCY));

    // An old image selects the comparison.
    m_pDlg->OpenNewImage(QString::fromStdString(Write("PHONE.bin", Image(4096, true))));
    m_pDlg->OpenOldImage(QString::fromStdString(Write("OLD.bin", Image(4096, true))));
    EXPECT_EQ(Text(IDC_COMBO_TYPE), "COMPARE(EMERGENCY)");
    EXPECT_EQ(Text(IDC_OLD_BIN_PATH).toStdString(), m_dir.path().toStdString() + "/OLD.bin");
    EXPECT_TRUE(m_pDlg->IsJobLoaded());
    EXPECT_EQ(typesAsRun(), std::vector<int>(2, DLOAD_COMPARE_EMERGENCY));

    // A job of ports that are added later is loaded into them too.
    m_pDlg->SetPorts(QStringLiteral("COM3 COM4 COM5"));
    EXPECT_TRUE(m_pDlg->IsJobLoaded());
    EXPECT_EQ(typesAsRun(), std::vector<int>(3, DLOAD_COMPARE_EMERGENCY));
}

TEST_F(StationDlgTest, EnterAndEscapeNeitherStartNorCloseTheCloseBoxCloses)
{
    Open();
    m_pDlg->SetPorts(QStringLiteral("COM3"));
    m_pDlg->OpenNewImage(QString::fromStdString(Write("PHONE.bin", Image(4096, true))));
    ASSERT_TRUE(IsEnabled(IDC_BTN_RUN));
    QWidget* pPorts = m_pDlg->GetDlgItem(IDC_STATION_PORTS);
    pPorts->setFocus();
    for (const Qt::Key eKey : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(pPorts, eKey);
        QApplication::processEvents();
        EXPECT_TRUE(m_pDlg->isVisible()) << eKey;
        EXPECT_EQ(m_pDlg->Tile(0).StateText().toStdString(), kWaitingText) << eKey;
    }
    m_pDlg->close();
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_EQ(m_pDlg->TileCount(), 0);
}

TEST_F(StationDlgTest, TheJobAndThePortsAreThereAgainAtTheNextOpening)
{
    Open();
    // A station runs unattended: it answers the model-version question Yes until told otherwise.
    EXPECT_TRUE(IsChecked(IDC_STATION_ANSWER_YES));
    EXPECT_FALSE(IsChecked(IDC_STATION_START_ON_ARRIVAL));
    m_pDlg->SetPorts(QStringLiteral("COM3 COM5"));
    const std::string strImage = Write("PHONE.bin", Image(4096, true));
    const std::string strOld = Write("OLD.bin", Image(4096, true));
    m_pDlg->OpenNewImage(QString::fromStdString(strImage));
    m_pDlg->OpenOldImage(QString::fromStdString(strOld));
    EditFontAddress("8000");
    SetChecked(IDC_STATION_ANSWER_YES, false);
    SetChecked(IDC_STATION_START_ON_ARRIVAL, true);
    Edit(IDC_STATION_ON_UNIT, "lp -d labels \"$KESTREL_IMAGE_SHA256\"");
    ASSERT_TRUE(m_pDlg->IsJobLoaded());
    m_pDlg.reset();

    Open();
    EXPECT_EQ(Text(IDC_STATION_PORTS), "COM3 COM5");
    EXPECT_EQ(Text(IDC_BIN_PATH).toStdString(), strImage);
    EXPECT_EQ(Text(IDC_OLD_BIN_PATH).toStdString(), strOld);
    EXPECT_EQ(Text(IDC_COMBO_TYPE), "COMPARE(EMERGENCY)");
    EXPECT_EQ(Text(IDC_STATION_FONT_ADDRESS), "8000");
    EXPECT_FALSE(IsChecked(IDC_STATION_ANSWER_YES));
    EXPECT_TRUE(IsChecked(IDC_STATION_START_ON_ARRIVAL));
    EXPECT_EQ(Text(IDC_STATION_ON_UNIT), "lp -d labels \"$KESTREL_IMAGE_SHA256\"");
    EXPECT_TRUE(m_pDlg->IsJobLoaded());
    EXPECT_EQ(m_pDlg->TileCount(), 2);
    // Kept apart from the main window's settings.
    std::ifstream file(SettingsFilePath());
    const std::string strStore((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(strStore.find("[station]"), std::string::npos) << strStore;
}

TEST_F(StationDlgTest, APortsLogKeepsItsEarlierRuns)
{
    WriteText("COM3", m_dir.path().toStdString() + "/no-such-device");
    Open();
    m_pDlg->SetPorts(QStringLiteral("COM3"));
    m_pDlg->OpenNewImage(QString::fromStdString(Write("PHONE.bin", Image(4096, true))));
    const auto runOnce = [this] {
        QTest::mouseClick(m_pDlg->GetDlgItem(IDC_BTN_RUN), Qt::LeftButton);
        return QTest::qWaitFor([this] { return !m_pDlg->Station()->AnyRunning() && !m_pDlg->Station()->AnyBusy(); }, 30000);
    };
    ASSERT_TRUE(runOnce());
    const QString strFirst = m_pDlg->Log(0).toPlainText();
    ASSERT_FALSE(strFirst.isEmpty());
    ASSERT_TRUE(runOnce());
    // Each run's lines end with a line break; a blank line sets the next run apart.
    EXPECT_EQ(m_pDlg->Log(0).toPlainText().toStdString(), (strFirst + "\n" + strFirst).toStdString());
}

// Read from across the bench: no two states share a face, a bar shows only a running write,
// and a reason too long for the tile is cut with "…" and whole in its tooltip.
TEST_F(StationDlgTest, ATileSaysItsStateByItsWholeFace)
{
    using EState = CStationTile::EState;
    CStationTile tile(SStationPortId{3, "/dev/ttyACM0", {}});
    tile.show();
    struct Case {
        EState eState;
        const char* pszText;
        bool bBar;
    } cases[] = {
        {EState::Waiting, "waiting for handset", false}, {EState::Ready, "handset connected", false},
        {EState::Running, "Flash Programming", true},    {EState::Completed, "completed", false},
        {EState::Failed, "Flash error!!", false},        {EState::Stopped, "stopped", false},
    };
    std::set<QRgb> faces;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        tile.ShowState(c.eState, c.pszText);
        EXPECT_EQ(tile.State(), c.eState);
        EXPECT_EQ(tile.ShownStateText(), c.pszText);
        EXPECT_EQ(tile.IsBarShown(), c.bBar);
        faces.insert(tile.palette().color(QPalette::Window).rgb());
    }
    EXPECT_EQ(faces.size(), std::size(cases)) << "each state has a face of its own";

    const std::string reason = "모델 버전이 틀립니다. The handset answered NAK to the erase of 0x00E00000, length 0x00200000, "
                               "three times in a row; the run was ended";
    tile.ShowState(EState::Failed, reason);
    EXPECT_EQ(tile.StateText().toStdString(), reason);
    EXPECT_TRUE(tile.ShownStateText().endsWith(QChar(0x2026))) << tile.ShownStateText().toStdString();
    EXPECT_TRUE(reason.starts_with(tile.ShownStateText().chopped(1).toStdString()));
    bool bWholeInATooltip = false;
    for (const QLabel* pLabel : tile.findChildren<QLabel*>())
        bWholeInATooltip = bWholeInATooltip || pLabel->toolTip().toStdString() == reason;
    EXPECT_TRUE(bWholeInATooltip);
}

// Sixteen ports at 1280x800: every tile in sight without scrolling, the log under a splitter
// that folds away; a narrower window puts fewer tiles in a row.
TEST_F(StationDlgTest, SixteenTilesFitAt1280By800AndReflowToTheWidth)
{
    Open();
    m_pDlg->resize(1280, 800);
    m_pDlg->SetPorts(QStringLiteral("3-18"));
    ASSERT_EQ(m_pDlg->TileCount(), 16);
    QApplication::processEvents();
    const auto columns = [this] {
        std::set<int> xs;
        for (int i = 0; i < m_pDlg->TileCount(); ++i) xs.insert(m_pDlg->Tile(i).x());
        return xs.size();
    };
    for (int i = 0; i < m_pDlg->TileCount(); ++i) {
        const CStationTile& tile = m_pDlg->Tile(i);
        EXPECT_EQ(tile.visibleRegion().boundingRect(), tile.rect()) << "tile " << i;
    }
    const std::size_t nWide = columns();
    m_pDlg->resize(760, 800);
    QApplication::processEvents();
    EXPECT_LT(columns(), nWide);
    EXPECT_GE(columns(), 2u);

    auto* pSplitter = m_pDlg->findChild<QSplitter*>();
    ASSERT_NE(pSplitter, nullptr);
    EXPECT_TRUE(pSplitter->isCollapsible(1));
    EXPECT_FALSE(pSplitter->isCollapsible(0));
}

// A handset on the slot turns a waiting tile ready; gone, it waits again.
TEST_F(StationDlgTest, ATileSaysWhetherItsHandsetIsThere)
{
    const std::string strSlot = m_dir.path().toStdString() + "/handset0";
    Open();
    m_pDlg->SetPorts(QString::fromStdString(strSlot));
    ASSERT_EQ(m_pDlg->TileCount(), 1);
    EXPECT_EQ(m_pDlg->Tile(0).State(), CStationTile::EState::Waiting);
    std::ofstream(strSlot) << "";
    EXPECT_TRUE(QTest::qWaitFor([this] { return m_pDlg->Tile(0).State() == CStationTile::EState::Ready; }, 10000));
    EXPECT_EQ(m_pDlg->Tile(0).StateText().toStdString(), kReadyText);
    std::filesystem::remove(strSlot);
    EXPECT_TRUE(QTest::qWaitFor([this] { return m_pDlg->Tile(0).State() == CStationTile::EState::Waiting; }, 10000));
}

}  // namespace
}  // namespace kestrel::test
