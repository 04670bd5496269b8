// kestrel-cli history on a journal of four known runs: the listing and its filters, JSON,
// CSV, one run in full, and what the command refuses; text that would steer a terminal, and
// --since under several time zones.

#include <gtest/gtest.h>

#include "tests/cli/history_child.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scoped_journal.h"

namespace kestrel {
namespace {

using test::ListedColumn;
using test::RunHistory;

class CliHistory : public testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::AddSampleRuns(m_journal)); }

    test::CScopedJournal m_journal;
};

TEST_F(CliHistory, ListsNewestFirstAndFilters)
{
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> ids;
    } cases[] = {
        {{}, {"4", "3", "2", "1"}},
        {{"--limit", "2"}, {"4", "3"}},
        {{"--port", "3"}, {"3", "1"}},
        {{"--port", "COM11"}, {"2"}},
        {{"--port", "/tmp/pts"}, {"4"}},
        {{"--since", "2026-03-01"}, {"4", "3"}},
        {{"--since", "2026-02-10T09:30"}, {"4", "3", "2"}},
        {{"--since", "2026-02-10T18:30:00+09:00"}, {"4", "3", "2"}},
        {{"--since", "2026-02-10T09:30:01Z"}, {"4", "3"}},
        {{"--outcome", "interrupted"}, {"4"}},
        {{"--port", "3", "--outcome", "handset-error"}, {"3"}},
        {{"--outcome", "no-response"}, {}},
    };
    for (const Case& c : cases) {
        const auto r = RunHistory(c.args);
        SCOPED_TRACE(testing::PrintToString(c.args));
        ASSERT_EQ(r.nExitCode, 0) << r.strErr;
        EXPECT_EQ(r.strOut.rfind("ID  Started (UTC)", 0), 0u) << r.strOut;
        EXPECT_EQ(ListedColumn(r.strOut), c.ids) << r.strOut;
    }
}

TEST_F(CliHistory, TheListingShowsTheListedFieldsAligned)
{
    const auto r = RunHistory({"--port", "COM11"});
    EXPECT_EQ(r.strOut,
              "ID  Started (UTC)             Front end  Port  Device        Type               Version  Outcome  Bytes written  Duration (ms)  Image\n"
              "2   2026-02-10T09:30:00.000Z  window     11    /dev/ttyUSB0  CHANGE(EMERGENCY)  -        stopped  70656          -              /img/b.bin\n");
}

TEST_F(CliHistory, JsonHasEveryFieldWithNullsWhereverTheGlobalOptionStands)
{
    const std::string strRun3 =
        R"({"event":"run","id":3,"started_at":"2026-03-01T12:00:00.000Z","ended_at":null,"front_end":"cli","port":3,)"
        R"("device":"/dev/ttyACM0","usb_serial":null,"usb_vendor_id":null,"usb_product_id":null,"image":"/img/a.bin",)"
        R"("image_size":null,"image_sha256":null,"image_version":null,"old_image":null,"old_image_sha256":null,)"
        R"j("download_type":"CHANGE(EMERGENCY)","outcome":"handset-error","retransmissions":null,"supervision_expiries":null,)j"
        R"("blocks_sent":null,"bytes_written":8192,"duration_ms":null,"bytes_per_second":null,)"
        R"("last_red_line":"Flash failed, \"jump\" NAK","slot":null,"slot_label":null,"opened":null,"hook_status":null,)"
        R"("station_id":"5a3c0de1b2c4d6e8f0a1b3c5d7e9f1a2","station_name":"bench-1"})"
        "\n";
    const auto after = RunHistory({"--outcome", "handset-error", "--json"});
    EXPECT_EQ(after.nExitCode, 0) << after.strErr;
    EXPECT_EQ(after.strOut, strRun3);
    test::CChildProcess before({KESTREL_CLI_PATH, "--json", "history", "show", "3"});
    EXPECT_EQ(before.Finish(20000).strOut, strRun3);
    EXPECT_EQ(RunHistory({"--json"}).strOut.find(R"({"event":"run","id":4,)"), 0u);
}

TEST_F(CliHistory, ShowGivesEveryFieldOfOneRun)
{
    const auto r = RunHistory({"show", "3"});
    ASSERT_EQ(r.nExitCode, 0) << r.strErr;
    EXPECT_EQ(r.strOut.rfind("ID:                3\n", 0), 0u) << r.strOut;
    for (const char* pszLine : {"\nFront end:         cli\n", "\nEnded (UTC):       -\n", "\nOutcome:           handset-error\n",
                                "\nLast red line:     Flash failed, \"jump\" NAK\n"})
        EXPECT_NE(r.strOut.find(pszLine), std::string::npos) << pszLine << r.strOut;
    EXPECT_EQ(std::count(r.strOut.begin(), r.strOut.end(), '\n'), 30);
}

TEST_F(CliHistory, CsvHasEveryFieldOfTheFilteredRuns)
{
    const std::string strCsv = m_journal.Folder() + "/runs.csv";
    const auto r = RunHistory({"--port", "3", "--csv", strCsv});
    ASSERT_EQ(r.nExitCode, 0) << r.strErr;
    EXPECT_EQ(r.strOut, "2 runs written to " + strCsv + "\n");
    EXPECT_EQ(test::FileBytes(strCsv),
              "id,started_at,ended_at,front_end,port,device,usb_serial,usb_vendor_id,usb_product_id,image,image_size,"
              "image_sha256,image_version,old_image,old_image_sha256,download_type,outcome,retransmissions,"
              "supervision_expiries,blocks_sent,bytes_written,duration_ms,bytes_per_second,last_red_line,slot,slot_label,opened,hook_status,station_id,station_name\r\n"
              "3,2026-03-01T12:00:00.000Z,,cli,3,/dev/ttyACM0,,,,/img/a.bin,,,,,,CHANGE(EMERGENCY),handset-error,,,,8192,,,"
              "\"Flash failed, \"\"jump\"\" NAK\",,,,,5a3c0de1b2c4d6e8f0a1b3c5d7e9f1a2,bench-1\r\n"
              "1,2026-01-05T08:00:00.000Z,,cli,3,/dev/ttyACM0,,,,/img/a.bin,,,,,,CHANGE(EMERGENCY),completed,,,,262144,,,,,,,,5a3c0de1b2c4d6e8f0a1b3c5d7e9f1a2,bench-1\r\n");
}

TEST_F(CliHistory, RefusesWhatItCannotDo)
{
    struct Case {
        std::vector<std::string> args;
        int nExitCode;
        const char* pszError;
    } cases[] = {
        {{"--outcome", "done"}, 2, "--outcome takes"},
        {{"--since", "yesterday"}, 2, "--since takes a date or a time in ISO 8601, such as 2026-12-10,"},
        {{"--since", ""}, 2, "--since takes"},
        {{"--since", "2026-12-10T99:99"}, 2, "--since takes"},
        {{"--since", "2026-12-10garbage"}, 2, "--since takes"},
        {{"--since", "2026-13-01"}, 2, "--since takes"},
        {{"--limit", "all"}, 2, "--limit takes"},
        {{"--port", "COM0"}, 2, "--port takes"},
        {{"--limit"}, 2, "--limit needs a value."},
        {{"--csv", ""}, 2, "--csv is empty."},
        {{"show", "x"}, 2, "ID is the number of a run"},
        {{"show"}, 2, "ID is required"},
        {{"show", "3", "--limit", "1"}, 2, "show excludes --limit"},
        {{"--outcome", "completed", "show", "1"}, 2, "show excludes --outcome"},
        {{"show", "9"}, 3, "There is no run 9"},
        {{"--csv", "/nonexistent-folder/runs.csv"}, 3, "/nonexistent-folder/runs.csv cannot be written"},
    };
    for (const Case& c : cases) {
        const auto r = RunHistory(c.args);
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(r.nExitCode, c.nExitCode);
        EXPECT_NE(r.strErr.find(c.pszError), std::string::npos) << r.strErr;
        EXPECT_EQ(r.strOut, "");
    }
}

// A run's text came from files and devices: on a terminal it must not steer it, in JSON and
// CSV it is exact.
TEST(CliHistoryText, ControlCharactersAreEscapedForTheTerminalOnly)
{
    test::CScopedJournal journal;
    CJournalRow row = test::SampleRow(test::kSampleRuns[2]);
    row.Set(JournalField::Image, std::string("/img/\x1b[2Jevil\nline.bin"));
    row.Set(JournalField::LastRedLine, std::string("NAK\r\x07\xC2\x9B" "31m"));
    ASSERT_NO_FATAL_FAILURE(journal.Add({row}));
    const std::string strCsv = journal.Folder() + "/runs.csv";

    const struct {
        std::vector<std::string> args;
        bool bTerminal;
        std::vector<std::string> says;
    } cases[] = {
        {{}, true, {"  /img/\\x1b[2Jevil\\x0aline.bin\n"}},
        {{"show", "1"}, true, {"Image:             /img/\\x1b[2Jevil\\x0aline.bin\n", "Last red line:     NAK\\x0d\\x07\\x9b31m\n"}},
        {{"--json"}, false, {R"("image":"/img/\u001b[2Jevil\nline.bin")", R"("last_red_line":"NAK\r\u0007)" "\xC2\x9B" "31m\""}},
        {{"--csv", strCsv}, false, {"1 runs written to " + strCsv + "\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto r = RunHistory(c.args);
        ASSERT_EQ(r.nExitCode, 0) << r.strErr;
        for (const std::string& strSays : c.says) EXPECT_NE(r.strOut.find(strSays), std::string::npos) << strSays << "\n" << r.strOut;
        if (!c.bTerminal) continue;
        for (const char* pszRaw : {"\x1b", "\r", "\x07", "\xC2\x9B", "\nline"})
            EXPECT_EQ(r.strOut.find(pszRaw), std::string::npos) << testing::PrintToString(pszRaw);
    }
    EXPECT_NE(test::FileBytes(strCsv).find("\"/img/\x1b[2Jevil\nline.bin\","), std::string::npos) << test::FileBytes(strCsv);
}

// --since names an instant: a time without an offset is UTC whatever TZ the caller has, also
// where that time does not exist locally (New York moves its clocks on 2026-03-08 at 02:00).
TEST(CliHistorySince, SelectsTheSameRunsUnderEveryTimeZone)
{
    test::CScopedJournal journal;
    std::vector<CJournalRow> rows;
    for (const char* pszStarted : {"2026-03-01T12:00:00.000Z", "2026-03-08T02:00:00.000Z", "2026-03-08T02:30:00.000Z",
                                   "2026-03-08T03:00:00.000Z", "2026-03-08T07:30:00.000Z", "2026-03-08T16:00:00.000Z"}) {
        rows.push_back(test::SampleRow(test::kSampleRuns[0]));
        rows.back().Set(JournalField::StartedAt, std::string(pszStarted));
    }
    ASSERT_NO_FATAL_FAILURE(journal.Add(rows));

    const struct {
        const char* pszSince;
        std::vector<std::string> ids;
    } cases[] = {
        {"2026-03-08", {"6", "5", "4", "3", "2"}},
        {"2026-03-08T02:30", {"6", "5", "4", "3"}},
        {"2026-03-08T02:30:00.001", {"6", "5", "4"}},
        {"2026-03-08T02:29:59.9991", {"6", "5", "4", "3"}},
        {"2026-03-08T16:00Z", {"6"}},
        {"2026-03-08T11:30+09:00", {"6", "5", "4", "3"}},
        {"2026-03-07T21:30-05:00", {"6", "5", "4", "3"}},
        {"2026-03-09", {}},
    };
    for (const char* pszZone : {"UTC", "Asia/Seoul", "America/New_York"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(pszZone) + " " + c.pszSince);
            const auto r = RunHistory({"--since", c.pszSince}, {"/usr/bin/env", std::string("TZ=") + pszZone});
            ASSERT_EQ(r.nExitCode, 0) << r.strErr;
            EXPECT_EQ(ListedColumn(r.strOut), c.ids) << r.strOut;
        }
    }
}

}  // namespace
}  // namespace kestrel
