// The History dialog offscreen on a journal of four known runs: the table, sorting by a
// column, the filter box, the export of what it shows (never over the journal), a journal that
// cannot be read, and the way to it from the window's context menu.

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/history_dlg.h"
#include "tests/app_window/window_test_support.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scoped_journal.h"

namespace kestrel::test {
namespace {

const auto* const g_pApp = ::testing::AddGlobalTestEnvironment(new CWindowAppEnvironment);

// The texts of one column, top to bottom.
std::vector<std::string> Column(const QTableView& table, const char* pszHeader)
{
    const QAbstractItemModel& model = *table.model();
    int nColumn = 0;
    while (nColumn < model.columnCount() && model.headerData(nColumn, Qt::Horizontal).toString() != pszHeader) ++nColumn;
    EXPECT_LT(nColumn, model.columnCount()) << pszHeader;
    std::vector<std::string> cells;
    for (int nRow = 0; nRow < model.rowCount(); ++nRow) cells.push_back(model.index(nRow, nColumn).data().toString().toStdString());
    return cells;
}

QPushButton* Button(const QDialog& dlg, const char* pszText)
{
    for (QPushButton* pButton : dlg.findChildren<QPushButton*>())
        if (pButton->text() == pszText) return pButton;
    ADD_FAILURE() << pszText;
    return nullptr;
}

class HistoryDlgTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(AddSampleRuns(m_journal));
        m_pDlg = std::make_unique<CHistoryDlg>();
        m_pDlg->show();
    }

    void ClickHeader(const char* pszHeader)
    {
        QHeaderView* pHeader = Table().horizontalHeader();
        for (int nColumn = 0; nColumn < pHeader->count(); ++nColumn) {
            if (Table().model()->headerData(nColumn, Qt::Horizontal).toString() != pszHeader) continue;
            const QPoint ptMiddle(pHeader->sectionViewportPosition(nColumn) + pHeader->sectionSize(nColumn) / 2, 3);
            QTest::mouseClick(pHeader->viewport(), Qt::LeftButton, {}, ptMiddle);
            return;
        }
        ADD_FAILURE() << pszHeader;
    }
    QTableView& Table() { return *m_pDlg->findChild<QTableView*>(); }
    QLineEdit& Filter() { return *m_pDlg->findChild<QLineEdit*>(); }
    std::string Status()
    {
        for (const QLabel* pLabel : m_pDlg->findChildren<QLabel*>())
            if (!pLabel->text().isEmpty()) return pLabel->text().toStdString();
        return {};
    }
    std::string ExportThroughTheButton()
    {
        const QString strPath = QString::fromStdString(m_journal.Folder() + "/export.csv");
        m_answerer.Then([strPath](QDialog& dlg) {
            dynamic_cast<QFileDialog&>(dlg).selectFile(strPath);
            dlg.accept();
        });
        QTest::mouseClick(Button(*m_pDlg, "Export CSV..."), Qt::LeftButton);
        return FileBytes(strPath.toStdString());
    }

    CScopedJournal m_journal;
    CDialogAnswerer m_answerer;
    std::unique_ptr<CHistoryDlg> m_pDlg;
};

TEST_F(HistoryDlgTest, ShowsTheListedColumnsNewestFirst)
{
    QStringList headers;
    for (int nColumn = 0; nColumn < Table().model()->columnCount(); ++nColumn)
        headers << Table().model()->headerData(nColumn, Qt::Horizontal).toString();
    EXPECT_EQ(headers, (QStringList{"ID", "Started (UTC)", "Front end", "Port", "Device", "Type", "Version", "Outcome",
                                    "Bytes written", "Duration (ms)", "Image"}));
    EXPECT_EQ(Column(Table(), "ID"), (std::vector<std::string>{"4", "3", "2", "1"}));
    EXPECT_EQ(Column(Table(), "Outcome"), (std::vector<std::string>{"interrupted", "handset-error", "stopped", "completed"}));
    EXPECT_EQ(Column(Table(), "Port"), (std::vector<std::string>{"", "3", "11", "3"}));
    EXPECT_EQ(Status(), "4 of 4 runs");
    EXPECT_EQ(m_pDlg->windowTitle(), "History");
}

TEST_F(HistoryDlgTest, AClickOnAHeaderSortsByItsValues)
{
    // As numbers: as text 262144 would come before 70656.
    ClickHeader("Bytes written");
    const std::vector<std::string> ascending{"0", "8192", "70656", "262144"};
    EXPECT_EQ(Column(Table(), "Bytes written"), ascending);
    ClickHeader("Bytes written");
    EXPECT_EQ(Column(Table(), "Bytes written"), std::vector<std::string>(ascending.rbegin(), ascending.rend()));
    ClickHeader("Started (UTC)");
    EXPECT_EQ(Column(Table(), "ID"), (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST_F(HistoryDlgTest, TheFilterKeepsRowsWithItsTextInAnyColumn)
{
    const struct {
        const char* pszText;
        std::vector<std::string> ids;
    } cases[] = {
        {"ttyACM", {"3", "1"}},
        {"CLI", {"3", "1"}},
        {"2026-02", {"2"}},
        {"c.bin", {"4"}},
        {"no such text", {}},
        {"", {"4", "3", "2", "1"}},
    };
    for (const auto& c : cases) {
        Filter().clear();
        QTest::keyClicks(&Filter(), c.pszText);
        EXPECT_EQ(Column(Table(), "ID"), c.ids) << c.pszText;
        EXPECT_EQ(Status(), std::to_string(c.ids.size()) + " of 4 runs") << c.pszText;
    }
}

TEST_F(HistoryDlgTest, ExportWritesTheRowsShownInTheirOrderWithEveryField)
{
    QTest::keyClicks(&Filter(), "ttyACM");
    ClickHeader("Started (UTC)");
    const std::string strCsv = ExportThroughTheButton();
    const std::string strHeader = "id,started_at,ended_at,front_end,port,device,usb_serial,usb_vendor_id,usb_product_id,image,"
                                  "image_size,image_sha256,image_version,old_image,old_image_sha256,download_type,outcome,"
                                  "retransmissions,supervision_expiries,blocks_sent,bytes_written,duration_ms,bytes_per_second,"
                                  "last_red_line,slot,slot_label,opened,hook_status,station_id,station_name\r\n";
    EXPECT_EQ(strCsv, strHeader +
                          "1,2026-01-05T08:00:00.000Z,,cli,3,/dev/ttyACM0,,,,/img/a.bin,,,,,,CHANGE(EMERGENCY),completed,,,,262144,,,,,,,,5a3c0de1b2c4d6e8f0a1b3c5d7e9f1a2,bench-1\r\n"
                          "3,2026-03-01T12:00:00.000Z,,cli,3,/dev/ttyACM0,,,,/img/a.bin,,,,,,CHANGE(EMERGENCY),handset-error,,,,8192,,,"
                          "\"Flash failed, \"\"jump\"\" NAK\",,,,,5a3c0de1b2c4d6e8f0a1b3c5d7e9f1a2,bench-1\r\n");
}

TEST_F(HistoryDlgTest, ExportRefusesTheJournalItself)
{
    const std::string strJournal = JournalFilePath();
    const std::string before = FileBytes(strJournal);
    m_answerer.Then(CDialogAnswerer::AnswerDefault);
    EXPECT_FALSE(m_pDlg->ExportCsv(QString::fromStdString(strJournal)));
    ASSERT_FALSE(m_answerer.Seen().empty());
    EXPECT_TRUE(m_answerer.Seen().back().contains("is the journal or one of its files")) << m_answerer.Seen().back().toStdString();
    EXPECT_EQ(FileBytes(strJournal), before);
}

// The dialog only reads: what it cannot read is said, and left where it is.
TEST(HistoryDlg, AJournalThatCannotBeReadIsSaidAndLeftAsItIs)
{
    const struct {
        const char* pszWhat;
        const char* pszFile;  // under XDG_DATA_HOME
        const char* pszSaid;
    } cases[] = {
        {"a file where the folder should be", "NORVALE", "cannot be read: Not a directory"},
        {"a file that is not a database", "NORVALE/TIDEWELL/journal.sqlite", "cannot be read as a journal: file is not a database"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CScopedJournal journal;
        const std::string strFile = journal.Folder() + "/" + c.pszFile;
        std::filesystem::create_directories(std::filesystem::path(strFile).parent_path());
        std::ofstream(strFile) << "some text, 1234567890 and more text to be sure it is no database at all";
        const std::string before = FileBytes(strFile);
        CHistoryDlg dlg;
        dlg.show();
        EXPECT_EQ(dlg.findChild<QTableView*>()->model()->rowCount(), 0);
        bool bSaid = false;
        for (const QLabel* pLabel : dlg.findChildren<QLabel*>()) bSaid |= pLabel->text().contains(c.pszSaid);
        EXPECT_TRUE(bSaid);
        EXPECT_EQ(FileBytes(strFile), before);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(std::filesystem::path(strFile).parent_path()), {}), 1);
    }
}

TEST(HistoryDlg, TheWindowsContextMenuOpensIt)
{
    CScopedStore store;
    CScopedJournal journal;
    ASSERT_NO_FATAL_FAILURE(AddSampleRuns(journal));
    CDialogAnswerer answerer;
    int nRows = -1;
    answerer.Then([&](QDialog& dlg) {
        nRows = dlg.findChild<QTableView*>()->model()->rowCount();
        dlg.accept();
    });
    CMainDlg window;
    window.show();
    const QStringList entries = ChooseFromContextMenu(window, 1);
    ASSERT_GE(entries.size(), 2);
    EXPECT_EQ(entries[1], "History(&H)...");
    EXPECT_TRUE(QTest::qWaitFor([&] { return nRows >= 0; }, 5000));
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0], "History");
    EXPECT_EQ(nRows, 4);
}

}  // namespace
}  // namespace kestrel::test
