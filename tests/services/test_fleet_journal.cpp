// The fleet's journal on a real PostgreSQL server of the test's own: stations' rows meet on
// it, keyed so that nothing is counted twice; a server that goes away, cleanly or killed,
// loses and doubles nothing; its schema is made, brought forward and checked, never
// overwritten; and a password never shows.

#include <gtest/gtest.h>

#include <QDateTime>
#include <map>
#include <mutex>
#include <thread>

#include "services/fleet_forwarder.h"
#include "services/fleet_server.h"
#include "services/journal.h"
#include "tests/image/test_files.h"
#include "tests/support/pg_server.h"

namespace kestrel::test {
namespace {

constexpr auto kGenerous = std::chrono::seconds(20);

// What another thread does shows within kGenerous.
template <class Done>
bool WaitFor(Done done)
{
    for (const auto until = std::chrono::steady_clock::now() + kGenerous; !done();) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A station's journal of its own, and the rows it saves.
class CStationJournal {
public:
    explicit CStationJournal(const std::string& strFolder) : m_strPath(strFolder + "/journal.sqlite")
    {
        EXPECT_TRUE(m_journal.Open(m_strPath)) << m_journal.LastError();
    }
    // A run's start; returns its row.
    CJournalRow Start(int nPort)
    {
        CJournalRow row;
        row.Set(JournalField::StartedAt, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString());
        row.Set(JournalField::FrontEnd, std::string("station"));
        row.Set(JournalField::Port, int64_t{nPort});
        row.Set(JournalField::Outcome, std::string("running"));
        EXPECT_TRUE(m_journal.Save(row)) << m_journal.LastError();
        return row;
    }
    void End(CJournalRow& row, const char* pszOutcome)
    {
        row.Set(JournalField::Outcome, std::string(pszOutcome));
        row.Set(JournalField::EndedAt, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString());
        row.Set(JournalField::DurationMs, int64_t{1234});
        EXPECT_TRUE(m_journal.Save(row)) << m_journal.LastError();
    }
    const std::string& Path() const { return m_strPath; }
    CJournal& Journal() { return m_journal; }
    int64_t Waiting()
    {
        const auto optForwarding = m_journal.Forwarding();
        return optForwarding ? optForwarding->nWaiting : -1;
    }

private:
    std::string m_strPath;
    CJournal m_journal;
};

class FleetJournal : public testing::Test {
protected:
    void SetUp() override
    {
        m_server.CreateRole("station", "station-pw");
        m_strDb = m_server.CreateDatabase("fleet");
        m_strStationUri = m_server.Uri(m_strDb, "station", m_server.WritePassFile("station", "station-pw"));
    }
    // The schema made by the admin, and the grants a station needs, as README gives them.
    void PrepareAsAdmin()
    {
        const CPgInterrupt interrupt;
        CPgConnection pg(interrupt);
        ASSERT_TRUE(pg.Connect(m_server.AdminUri(m_strDb), Deadline())) << pg.LastError();
        std::string strError;
        ASSERT_TRUE(PrepareFleetSchema(pg, Deadline(), strError)) << strError;
        m_server.Sql("GRANT SELECT ON kestrel_schema TO station; GRANT SELECT, INSERT, UPDATE ON kestrel_runs TO station", m_strDb);
    }
    static PgClock::time_point Deadline() { return PgClock::now() + kGenerous; }
    // What the server has: "station_name|local_id|outcome|revision" per row, ordered.
    std::vector<std::string> ServerRows()
    {
        const CPgInterrupt interrupt;
        CPgConnection pg(interrupt);
        EXPECT_TRUE(pg.Connect(m_server.AdminUri(m_strDb), Deadline())) << pg.LastError();
        const auto optResult = pg.Exec("SELECT station_name || '|' || local_id || '|' || outcome || '|' || revision"
                                       " FROM kestrel_runs ORDER BY station_name, local_id",
                                       {}, Deadline());
        EXPECT_TRUE(optResult.has_value()) << pg.LastError();
        std::vector<std::string> rows;
        for (int n = 0; optResult && n < optResult->Rows(); ++n) rows.push_back(optResult->Text(n, 0));
        return rows;
    }
    // The same, from a station's journal.
    static std::vector<std::string> LocalRows(CStationJournal& station, const std::string& strName)
    {
        std::vector<std::string> rows;
        CSqliteDb db;
        EXPECT_EQ(db.Open(station.Path(), SQLITE_OPEN_READONLY), SQLITE_OK);
        CStatement query(db, "SELECT id, outcome, revision FROM runs ORDER BY id");
        while (query.Step() == SQLITE_ROW)
            rows.push_back(strName + "|" + std::to_string(query.Int(0)) + "|" + query.Text(1) + "|" + std::to_string(query.Int(2)));
        return rows;
    }

    CPgServer m_server;
    CTempDir m_dir;
    std::string m_strDb;
    std::string m_strStationUri;
};

// Notices, from the forwarder's thread.
struct SNotices {
    std::mutex mutex;
    std::vector<std::string> texts;
    CFleetForwarder::Notice Sink()
    {
        return [this](const std::string& strText) {
            const std::lock_guard lock(mutex);
            texts.push_back(strText);
        };
    }
    std::string All()
    {
        const std::lock_guard lock(mutex);
        std::string strAll;
        for (const std::string& strText : texts) strAll += strText + "\n";
        return strAll;
    }
};

TEST_F(FleetJournal, ThreeStationsMeetOnOneServerEachRowOnceWithItsEnd)
{
    ASSERT_NO_FATAL_FAILURE(PrepareAsAdmin());
    std::vector<std::unique_ptr<CStationJournal>> stations;
    std::vector<std::string> expected;
    for (int n = 0; n < 3; ++n) {
        std::filesystem::create_directories(m_dir.Path("station" + std::to_string(n)));
        stations.push_back(std::make_unique<CStationJournal>(m_dir.Path("station" + std::to_string(n))));
        CStationJournal& station = *stations.back();
        const std::string strName = "bench-" + std::to_string(n);
        CJournalRow first = station.Start(3);
        {
            // The start goes first; the end follows as an update of the same row.
            CFleetForwarder forwarder(station.Path(), m_strStationUri, strName, nullptr);
            forwarder.Wake();
            forwarder.Close(20000);
        }
        {
            CFleetForwarder forwarder(station.Path(), m_strStationUri, strName, nullptr);
            CJournalRow second = station.Start(4);
            station.End(first, "completed");
            station.End(second, n == 1 ? "handset-error" : "completed");
            forwarder.Wake();
            forwarder.Close(20000);
        }
        EXPECT_EQ(station.Waiting(), 0) << strName;
        for (const std::string& strRow : LocalRows(station, strName)) expected.push_back(strRow);
    }
    EXPECT_EQ(ServerRows(), expected);
    EXPECT_EQ(expected.size(), 6u);

    // Sent again from the start (a journal copied back, a lost acknowledgement): still one row each.
    CSqliteDb db;
    ASSERT_EQ(db.Open(stations[0]->Path(), SQLITE_OPEN_READWRITE), SQLITE_OK);
    ASSERT_EQ(db.Exec("UPDATE runs SET forwarded = 0"), SQLITE_OK);
    {
        CFleetForwarder forwarder(stations[0]->Path(), m_strStationUri, "bench-0", nullptr);
        forwarder.Close(20000);
    }
    EXPECT_EQ(stations[0]->Waiting(), 0);
    EXPECT_EQ(ServerRows(), expected);
}

// Rows saved while the server is stopped, then killed mid-series: none lost, none doubled, and
// every row on the server as its station last saved it.
TEST_F(FleetJournal, AServerThatGoesAwayLosesAndDoublesNothing)
{
    ASSERT_NO_FATAL_FAILURE(PrepareAsAdmin());
    CStationJournal station(m_dir.Folder());
    SNotices notices;
    auto pForwarder = std::make_unique<CFleetForwarder>(station.Path(), m_strStationUri, "bench-1", notices.Sink());
    const auto series = [&](int nRuns) {
        for (int n = 0; n < nRuns; ++n) {
            CJournalRow row = station.Start(3 + n % 4);
            pForwarder->Wake();
            station.End(row, n % 5 == 0 ? "no-response" : "completed");
            pForwarder->Wake();
        }
    };
    series(10);
    m_server.Stop();
    series(10);
    ASSERT_TRUE(WaitFor([&] { return notices.All().find("the runs wait in this station's journal") != std::string::npos; })) << notices.All();
    EXPECT_EQ(notices.All().find("station-pw"), std::string::npos);
    const auto optForwarding = station.Journal().Forwarding();
    ASSERT_TRUE(optForwarding.has_value());
    EXPECT_GT(optForwarding->nWaiting, 0);
    EXPECT_FALSE(optForwarding->strError.empty()) << "journal status says why";
    m_server.Start();
    series(10);
    m_server.Kill();
    series(10);
    m_server.Start();
    pForwarder->Close(20000);
    pForwarder.reset();
    EXPECT_EQ(station.Waiting(), 0) << notices.All();
    EXPECT_EQ(ServerRows(), LocalRows(station, "bench-1"));
    EXPECT_EQ(ServerRows().size(), 40u);
    EXPECT_NE(notices.All().find("the server takes runs again"), std::string::npos) << notices.All();
}

TEST_F(FleetJournal, TheSchemaIsMadeFromNothingAndFromTheVersionBefore)
{
    const CPgInterrupt interrupt;
    CPgConnection pg(interrupt);
    ASSERT_TRUE(pg.Connect(m_server.AdminUri(m_strDb), Deadline())) << pg.LastError();
    std::string strError;
    ASSERT_TRUE(PrepareFleetSchema(pg, Deadline(), strError, 1)) << strError;
    ASSERT_TRUE(pg.Exec("INSERT INTO kestrel_runs (station_id, local_id, revision, started_at, front_end, outcome)"
                        " VALUES ('old', 1, 1, now(), 'cli', 'completed')",
                        {}, Deadline()))
        << pg.LastError();
    ASSERT_TRUE(PrepareFleetSchema(pg, Deadline(), strError)) << strError;
    const auto optState = pg.Exec("SELECT (SELECT max(version) FROM kestrel_schema), (SELECT count(*) FROM kestrel_runs),"
                                  " (SELECT count(*) FROM pg_indexes WHERE tablename = 'kestrel_runs')",
                                  {}, Deadline());
    ASSERT_TRUE(optState.has_value()) << pg.LastError();
    EXPECT_EQ(optState->Text(0, 0), std::to_string(kFleetSchemaVersion));
    EXPECT_EQ(optState->Text(0, 1), "1") << "the row from before is kept";
    EXPECT_EQ(optState->Text(0, 2), "3") << "the key and the two lookups";
    // Made already: a second station changes nothing.
    ASSERT_TRUE(PrepareFleetSchema(pg, Deadline(), strError)) << strError;
}

TEST_F(FleetJournal, ATableOfAnotherShapeIsRefusedAndLeftAsItIs)
{
    struct Case {
        const char* name;
        const char* sql;
        const char* error;
    } cases[] = {
        {"another program's table", "CREATE TABLE kestrel_runs (id serial PRIMARY KEY, note text)", "that Kestrel did not make"},
        {"a column of another type",
         "CREATE TABLE kestrel_schema (version integer NOT NULL); INSERT INTO kestrel_schema VALUES (2);"
         "CREATE TABLE kestrel_runs (station_id text, local_id bigint, revision bigint, started_at text)",
         "column started_at is text, not timestamp with time zone"},
        {"a newer schema", "CREATE TABLE kestrel_schema (version integer NOT NULL); INSERT INTO kestrel_schema VALUES (99)",
         "version 99, from a newer Kestrel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string strDb = m_server.CreateDatabase(std::string("shape") + std::to_string(&c - cases));
        m_server.Sql(c.sql, strDb);
        const CPgInterrupt interrupt;
        CPgConnection pg(interrupt);
        ASSERT_TRUE(pg.Connect(m_server.AdminUri(strDb), Deadline())) << pg.LastError();
        std::string strError;
        EXPECT_FALSE(PrepareFleetSchema(pg, Deadline(), strError));
        EXPECT_NE(strError.find(c.error), std::string::npos) << strError;
        const auto optTables = pg.Exec("SELECT count(*) FROM information_schema.tables WHERE table_schema = 'public'", {}, Deadline());
        ASSERT_TRUE(optTables.has_value());
        EXPECT_EQ(optTables->Text(0, 0), std::string(c.sql).find("kestrel_runs") != std::string::npos &&
                                                 std::string(c.sql).find("kestrel_schema") != std::string::npos
                                             ? "2"
                                             : "1");
    }
}

TEST_F(FleetJournal, AWrongPasswordIsToldWithoutThePassword)
{
    const std::string strSecret = "wr0ng-Secret_42";
    const std::string strUri = "postgresql://station:" + strSecret + "@/" + m_strDb + "?host=" + m_server.Folder() +
                               "&port=" + std::to_string(CPgServer::kPort);
    const CPgInterrupt interrupt;
    CPgConnection pg(interrupt);
    EXPECT_FALSE(pg.Connect(strUri, Deadline()));
    EXPECT_NE(pg.LastError().find("password authentication failed"), std::string::npos) << pg.LastError();
    EXPECT_EQ(pg.LastError().find(strSecret), std::string::npos) << pg.LastError();
    const std::string strShown = RedactedConnection(strUri);
    EXPECT_EQ(strShown.find(strSecret), std::string::npos) << strShown;
    EXPECT_NE(strShown.find("user=station"), std::string::npos) << strShown;
    // A URI libpq cannot read may be quoted back by it: the quote goes.
    EXPECT_FALSE(pg.Connect("postgresql://station:" + strSecret + "%zz@/db", Deadline()));
    EXPECT_EQ(pg.LastError().find(strSecret), std::string::npos) << pg.LastError();
}

}  // namespace
}  // namespace kestrel::test
