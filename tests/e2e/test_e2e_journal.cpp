// The journal of real kestrel-cli runs into the simulated handset: the row of a completed, a
// stopped and a failed run, and a run killed in the middle, then the next start.

#include <QCryptographicHash>
#include <thread>

#include "e2e_fixture.h"
#include "services/journal.h"
#include "tests/support/scoped_journal.h"

namespace kestrel::test {
namespace {

struct JournalCase {
    const char* name;
    const char* scenario;
    int interruptAtBlock;  // 0: never
    const char* outcome;
    bool whole;            // every byte acknowledged
    const char* redLine;   // the run's last red line ("" for none)
};

void PrintTo(const JournalCase& c, std::ostream* os) { *os << c.name; }

class JournalOfRuns : public EndToEnd, public testing::WithParamInterface<JournalCase> {
protected:
    static std::vector<CJournalRow> Rows() { return test::JournalRuns(); }
};

TEST_P(JournalOfRuns, TheRunHasItsRow)
{
    const JournalCase& c = GetParam();
    const Bytes image = FontImage(80 * 1024);
    const std::string path = WriteImage("font.bin", image);
    StartSim("download", c.scenario);
    CChildProcess cli(CliArgs({path, "--type", "FONT(EMRGENCY)", "--font-address", "0"}));
    if (c.interruptAtBlock > 0) {
        ASSERT_TRUE(cli.ReadLineWith("\"block\":" + std::to_string(c.interruptAtBlock) + ",", 30000).has_value());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cli.Signal(SIGINT);
    }
    const auto r = cli.Finish(60000);
    ASSERT_NE(r.nExitCode, -1) << r.strErr;

    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    const CJournalRow& row = rows[0];
    EXPECT_EQ(row.Text(JournalField::Outcome), c.outcome);
    EXPECT_EQ(row.Text(JournalField::FrontEnd), "cli");
    EXPECT_EQ(row.Number(JournalField::Port), std::nullopt) << "given as a device path";
    EXPECT_EQ(row.Text(JournalField::Device), m_strSlave);
    EXPECT_EQ(row.Text(JournalField::DownloadType), "FONT(EMRGENCY)");
    EXPECT_EQ(row.Text(JournalField::Image), path);
    EXPECT_EQ(row.Number(JournalField::ImageSize), static_cast<int64_t>(image.size()));
    EXPECT_EQ(row.Text(JournalField::ImageSha256),
              QCryptographicHash::hash(QByteArrayView(image.data(), static_cast<qsizetype>(image.size())), QCryptographicHash::Sha256)
                  .toHex()
                  .toStdString());
    const int64_t bytes = row.Number(JournalField::BytesWritten).value_or(-1);
    if (c.whole) {
        EXPECT_EQ(bytes, static_cast<int64_t>(image.size()));
    } else {
        EXPECT_GT(bytes, 0);
        EXPECT_LT(bytes, static_cast<int64_t>(image.size()));
    }
    EXPECT_GE(row.Number(JournalField::BlocksSent).value_or(0), bytes / 1024);
    EXPECT_EQ(row.Text(JournalField::LastRedLine), c.redLine);
    if (*c.redLine) {
        EXPECT_NE(r.strOut.find("\"kind\":3,\"colour\":\"red\",\"text\":\"" + std::string(c.redLine) + "\""), std::string::npos) << r.strOut;
    }
    EXPECT_GT(row.Number(JournalField::DurationMs).value_or(0), 0);
    EXPECT_GE(row.Text(JournalField::EndedAt), row.Text(JournalField::StartedAt));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, JournalOfRuns,
    testing::Values(JournalCase{"Completed", "", 0, "completed", true, ""},
                    JournalCase{"Stopped", "block:64 late 2000\n", 65, "stopped", false, ""},
                    JournalCase{"Failed", "block:30 nak-failed\n", 0, "handset-error", false, "Flash error!!"}),
    [](const testing::TestParamInfo<JournalCase>& param) { return std::string(param.param.name); });

TEST_F(EndToEnd, ARunKilledInTheMiddleIsInterruptedAtTheNextStart)
{
    const std::string path = WriteImage("image.bin", BootImage(16 * 1024));
    StartSim("download");
    ASSERT_EQ(Flash({path, "--type", "CHANGE(EMERGENCY)"}).nExitCode, 0);

    StartSim("download", "block:4 late 20000\n");
    CChildProcess cli(CliArgs({path, "--type", "CHANGE(EMERGENCY)"}));
    ASSERT_TRUE(cli.ReadLineWith("\"block\":5,", 30000).has_value());
    cli.Signal(SIGKILL);
    ASSERT_EQ(cli.Wait(10000), -SIGKILL);

    CChildProcess history({KESTREL_CLI_BIN, "--json", "history"});
    const auto r = history.Finish(20000);
    ASSERT_EQ(r.nExitCode, 0) << r.strErr;
    const auto second = r.strOut.find(R"({"event":"run","id":2,)");
    const auto first = r.strOut.find(R"({"event":"run","id":1,)");
    ASSERT_EQ(second, 0u) << r.strOut;
    ASSERT_NE(first, std::string::npos) << r.strOut;
    const std::string secondRun = r.strOut.substr(second, first - second);
    EXPECT_NE(secondRun.find(R"("ended_at":null,)"), std::string::npos) << secondRun;
    EXPECT_NE(secondRun.find(R"("outcome":"interrupted",)"), std::string::npos) << secondRun;
    EXPECT_NE(r.strOut.substr(first).find(R"("outcome":"completed",)"), std::string::npos) << "the earlier run stays as it was";
}

}  // namespace
}  // namespace kestrel::test
