// The throwaway PostgreSQL server the journal's forwarding is tested against: committed rows
// outlive a clean stop and a crash, every role but the admin must give its password, and
// nothing of the server outlives the fixture.

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/pg_server.h"

namespace kestrel::test {
namespace {

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;
using Values = std::vector<std::string>;

Connection Connect(const std::string& uri) { return Connection(PQconnectdb(uri.c_str()), &PQfinish); }

// The first column of the rows the last statement returns; a failed query fails the test.
Values Column(PGconn* conn, const char* sql)
{
    const Result result(PQexec(conn, sql), &PQclear);
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << sql << "\n" << PQerrorMessage(conn);
    Values values;
    for (int row = 0; row < PQntuples(result.get()); ++row) values.emplace_back(PQgetvalue(result.get(), row, 0));
    return values;
}

// The processes working below the folder: every process of a server whose data is there.
std::vector<pid_t> ProcessesIn(const std::string& folder)
{
    std::vector<pid_t> pids;
    std::error_code listError;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", listError)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code linkError;
        const std::string cwd = std::filesystem::read_symlink(entry.path() / "cwd", linkError).string();
        if (!linkError && cwd.starts_with(folder + "/")) pids.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return pids;
}

struct SGoingDown {
    const char* pszName;
    void (CPgServer::*pfnDown)();
    bool bRecovers;  // whether the next start replays the WAL
};
void PrintTo(const SGoingDown& down, std::ostream* pOut) { *pOut << down.pszName; }

class PgServerDownTest : public testing::TestWithParam<SGoingDown> {};

TEST_P(PgServerDownTest, CommittedRowsOutliveItAndAnOpenTransactionDoesNot)
{
    CPgServer server;
    server.Sql("CREATE TABLE runs (id integer PRIMARY KEY, outcome text NOT NULL);"
               "INSERT INTO runs VALUES (1, 'completed')");
    const Connection client = Connect(server.AdminUri());
    ASSERT_EQ(PQstatus(client.get()), CONNECTION_OK) << PQerrorMessage(client.get());
    ASSERT_EQ(Column(client.get(), "BEGIN; INSERT INTO runs VALUES (2, 'open') RETURNING outcome"), Values{"open"});

    (server.*GetParam().pfnDown)();
    EXPECT_FALSE(server.Running());
    const Result commit(PQexec(client.get(), "COMMIT"), &PQclear);
    EXPECT_NE(PQresultStatus(commit.get()), PGRES_COMMAND_OK) << "the transaction outlived its server";

    server.Start();
    ASSERT_TRUE(server.Running());
    const Connection again = Connect(server.AdminUri());
    EXPECT_EQ(Column(again.get(), "SELECT outcome FROM runs ORDER BY id"), Values{"completed"});
    const std::string log = server.ServerLog();
    EXPECT_EQ(log.find("automatic recovery in progress") != std::string::npos, GetParam().bRecovers) << log;
}

INSTANTIATE_TEST_SUITE_P(Ways, PgServerDownTest,
                         testing::Values(SGoingDown{"Stop", &CPgServer::Stop, false},
                                         SGoingDown{"Kill", &CPgServer::Kill, true}),
                         [](const testing::TestParamInfo<SGoingDown>& param) { return std::string(param.param.pszName); });

TEST(PgServerTest, AStationRoleGetsInWithItsOwnPasswordOnly)
{
    CPgServer server;
    // A password file escapes ':' and '\'.
    const std::string password = "s3cret:with\\escapes";
    server.CreateRole("station", password);
    const std::string db = server.CreateDatabase("journal", "station");

    const Connection admin = Connect(server.AdminUri(db));
    ASSERT_EQ(PQstatus(admin.get()), CONNECTION_OK) << PQerrorMessage(admin.get());
    EXPECT_FALSE(PQconnectionUsedPassword(admin.get()));

    struct Case {
        const char* pszName;
        std::string strPassFile;
        const char* pszRefusal;  // nullptr: it gets in
    } cases[] = {
        {"its password", server.WritePassFile("station", password), nullptr},
        {"a wrong password", server.WritePassFile("station", "s3cret"), "password authentication failed for user \"station\""},
        {"only another role's password", server.WritePassFile("kestrel_other", password), "no password supplied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        const Connection conn = Connect(server.Uri(db, "station", c.strPassFile));
        const std::string error = PQerrorMessage(conn.get());
        if (c.pszRefusal == nullptr) {
            ASSERT_EQ(PQstatus(conn.get()), CONNECTION_OK) << error;
            EXPECT_TRUE(PQconnectionUsedPassword(conn.get()));
            // The database is its own, public schema and all.
            EXPECT_EQ(Column(conn.get(), "CREATE TABLE runs (id integer);"
                                         "SELECT tableowner FROM pg_tables WHERE tablename = 'runs'"),
                      Values{"station"});
        } else {
            EXPECT_EQ(PQstatus(conn.get()), CONNECTION_BAD);
            EXPECT_NE(error.find(c.pszRefusal), std::string::npos) << error;
        }
    }
}

struct SLeftAs {
    const char* pszName;
    void (*pfnLeave)(CPgServer&);
};
void PrintTo(const SLeftAs& left, std::ostream* pOut) { *pOut << left.pszName; }

class PgServerEndTest : public testing::TestWithParam<SLeftAs> {};

TEST_P(PgServerEndTest, NoProcessAndNoFolderOutliveIt)
{
    std::string folder;
    Connection client(nullptr, &PQfinish);
    {
        CPgServer server;
        folder = server.Folder();
        client = Connect(server.AdminUri());
        ASSERT_EQ(PQstatus(client.get()), CONNECTION_OK) << PQerrorMessage(client.get());
        GetParam().pfnLeave(server);
        EXPECT_EQ(ProcessesIn(folder).empty(), !server.Running());
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(ProcessesIn(folder), std::vector<pid_t>{});
    EXPECT_EQ(ChildrenOf(getpid()), std::vector<pid_t>{}) << "exited but not reaped";
}

INSTANTIATE_TEST_SUITE_P(Server, PgServerEndTest,
                         testing::Values(SLeftAs{"RunningWithAClient", [](CPgServer&) {}},
                                         SLeftAs{"Killed", [](CPgServer& server) { server.Kill(); }}),
                         [](const testing::TestParamInfo<SLeftAs>& param) { return std::string(param.param.pszName); });

}  // namespace
}  // namespace kestrel::test
