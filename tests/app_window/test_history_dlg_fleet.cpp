// The History dialog with a fleet server set: the switch to all stations reads them from a
// real PostgreSQL server on a thread of its own, and a server that cannot be reached is told
// without its password.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QTableView>
#include <QTest>

#include "app/history_dlg.h"
#include "services/fleet_forwarder.h"
#include "tests/app_window/window_test_support.h"
#include "tests/image/test_files.h"
#include "tests/support/pg_server.h"
#include "tests/support/scoped_journal.h"

namespace kestrel::test {
namespace {

const auto* const g_pApp = ::testing::AddGlobalTestEnvironment(new CWindowAppEnvironment);

// KESTREL_JOURNAL_URL for as long as it lives.
class CScopedFleetUrl {
public:
    explicit CScopedFleetUrl(const std::string& strUrl) { setenv("KESTREL_JOURNAL_URL", strUrl.c_str(), 1); }
    ~CScopedFleetUrl() { unsetenv("KESTREL_JOURNAL_URL"); }
};

std::vector<std::string> Column(const QTableView& table, const char* pszHeader)
{
    const QAbstractItemModel& model = *table.model();
    std::vector<std::string> cells;
    for (int nColumn = 0; nColumn < model.columnCount(); ++nColumn) {
        if (model.headerData(nColumn, Qt::Horizontal).toString() != pszHeader) continue;
        for (int nRow = 0; nRow < model.rowCount(); ++nRow) cells.push_back(model.index(nRow, nColumn).data().toString().toStdString());
    }
    return cells;
}

std::string Status(const QDialog& dlg)
{
    std::string strStatus;
    for (const QLabel* pLabel : dlg.findChildren<QLabel*>()) strStatus += pLabel->text().toStdString();
    return strStatus;
}

TEST(HistoryDlgFleet, AllStationsComeFromTheServerAndThisStationFromItsJournal)
{
    CPgServer server;
    const std::string strDb = server.CreateDatabase("fleet");
    CScopedJournal journal;
    ASSERT_NO_FATAL_FAILURE(AddSampleRuns(journal));
    CTempDir other;
    {
        CJournal otherJournal;
        ASSERT_TRUE(otherJournal.Open(other.Path("journal.sqlite"))) << otherJournal.LastError();
        CJournalRow row = SampleRow(kSampleRuns[0]);
        row.Set(JournalField::StationId, JournalValue());
        row.Set(JournalField::StationName, std::string("bench-2"));
        ASSERT_TRUE(otherJournal.Save(row)) << otherJournal.LastError();
    }
    for (const std::string& strPath : {JournalFilePath(), other.Path("journal.sqlite")}) {
        CFleetForwarder forwarder(strPath, server.AdminUri(strDb), "unnamed", nullptr);
        forwarder.Close(20000);
    }

    {
        CHistoryDlg plain;
        EXPECT_EQ(plain.ScopeSwitch(), nullptr) << "no server, no switch";
    }
    const CScopedFleetUrl url(server.AdminUri(strDb));
    CHistoryDlg dlg;
    dlg.show();
    const QTableView& table = *dlg.findChild<QTableView*>();
    ASSERT_NE(dlg.ScopeSwitch(), nullptr);
    EXPECT_EQ(table.model()->rowCount(), 4);
    dlg.ScopeSwitch()->setCurrentIndex(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.IsReading(); }, 20000));
    std::vector<std::string> stations = Column(table, "Station");
    std::sort(stations.begin(), stations.end());
    EXPECT_EQ(stations, (std::vector<std::string>{"bench-1", "bench-1", "bench-1", "bench-1", "bench-2"})) << Status(dlg);
    EXPECT_EQ(Column(table, "Started (UTC)").front(), kSampleRuns[3].pszStarted) << "newest first";
    dlg.ScopeSwitch()->setCurrentIndex(0);
    EXPECT_EQ(table.model()->rowCount(), 4);
    EXPECT_TRUE(Column(table, "Station").empty());
}

TEST(HistoryDlgFleet, AServerThatCannotBeReachedIsToldWithoutItsPassword)
{
    CScopedJournal journal;
    CTempDir nowhere;
    const CScopedFleetUrl url("postgresql://station:Pa55-word@/fleet?host=" + nowhere.Folder());
    CHistoryDlg dlg;
    dlg.ScopeSwitch()->setCurrentIndex(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.IsReading(); }, 20000));
    EXPECT_NE(Status(dlg).find("cannot be reached"), std::string::npos) << Status(dlg);
    EXPECT_EQ(Status(dlg).find("Pa55-word"), std::string::npos) << Status(dlg);
    EXPECT_EQ(dlg.findChild<QTableView*>()->model()->rowCount(), 0);
}

}  // namespace
}  // namespace kestrel::test
