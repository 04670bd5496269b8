// The command run after each unit, from the real kestrel-cli over simulated handsets: what it
// is told of each unit, that its end reaches the log and the journal without touching the
// unit's, and that a command still at work holds up no port.

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

#include "services/journal.h"
#include "several_handsets.h"
#include "tests/support/scoped_journal.h"

namespace kestrel::test {
namespace {

using Variables = std::map<std::string, std::string>;

class UnitHook : public SeveralHandsets {
protected:
    // A command that leaves the KESTREL_* variables it got in a file per port.
    std::string RecordingCommand(const std::string& tail) const
    {
        return "env | grep '^KESTREL_' > \"" + Path("env-") + "$(basename \"$KESTREL_SLOT\")\"; " + tail;
    }
    Variables RecordedFor(int n) const
    {
        Variables variables;
        std::ifstream in(Path("env-handset" + std::to_string(n)));
        for (std::string line; std::getline(in, line);)
            if (const std::size_t nEquals = line.find('='); nEquals != std::string::npos)
                variables[line.substr(0, nEquals)] = line.substr(nEquals + 1);
        return variables;
    }
    static std::string Sha256Sum(const std::string& path)
    {
        const auto r = CChildProcess({"/usr/bin/sha256sum", path}).Finish(10000);
        return r.strOut.substr(0, 64);
    }
};

TEST_F(UnitHook, EachUnitsCommandIsToldOfThatUnitAndNeverChangesIt)
{
    struct Case {
        const char* scenario;
        const char* outcome;
        const char* exitCode;
        const char* hookStatus;
    } cases[] = {
        {"", "completed", "0", "exit 7"},  // the command fails; the unit stays completed
        {"erase nak-failed\n", "handset-error", "5", "exit 0"},
        {"block:3 unplug\n", "port-error", "4", "exit 0"},
    };
    constexpr int kCases = static_cast<int>(std::size(cases));
    for (int n = 0; n < kCases; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, cases[n].scenario));
    const std::string image = WriteImage("image.bin", BootImage(16 * 1024));
    std::vector<std::string> args = {KESTREL_CLI_BIN, "--baud", "115200", "--json"};
    for (int n = 0; n < kCases; ++n) args.insert(args.end(), {"--port", Link(n)});
    args.insert(args.end(), {"flash", image, "--type", "CHANGE(EMERGENCY)", "--on-unit",
                             RecordingCommand("[ \"$KESTREL_OUTCOME\" = completed ] && exit 7; exit 0")});
    const auto r = CChildProcess(args).Finish(60000);
    EXPECT_EQ(r.nExitCode, 4) << "the most severe unit's, as without a command\n" << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("After-unit command: exit 7."), std::string::npos) << r.strOut;

    const std::string sha256 = Sha256Sum(image);
    ASSERT_EQ(sha256.size(), 64u);
    const std::vector<CJournalRow> rows = JournalRuns();
    ASSERT_EQ(rows.size(), std::size(cases));
    for (int n = 0; n < kCases; ++n) {
        SCOPED_TRACE(Link(n));
        const Case& c = cases[n];
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const CJournalRow& each) { return each.Text(JournalField::Slot) == Link(n); });
        ASSERT_NE(row, rows.end());
        EXPECT_EQ(row->Text(JournalField::Outcome), c.outcome);
        EXPECT_EQ(row->Text(JournalField::HookStatus), c.hookStatus);
        const int64_t nMs = row->Number(JournalField::DurationMs).value_or(-1);
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%lld.%03lld", static_cast<long long>(nMs / 1000), static_cast<long long>(nMs % 1000));
        const Variables expected = {
            {"KESTREL_PORT", Link(n)},
            {"KESTREL_SLOT", Link(n)},
            {"KESTREL_DEVICE", row->Text(JournalField::Device)},
            {"KESTREL_OUTCOME", c.outcome},
            {"KESTREL_EXIT_CODE", c.exitCode},
            {"KESTREL_SECONDS", seconds},
            {"KESTREL_IMAGE", image},
            {"KESTREL_IMAGE_SHA256", sha256},
            {"KESTREL_USB_SERIAL", ""},  // a pseudo-terminal has none
            {"KESTREL_RUN_ID", row->Text(JournalField::Id)},
        };
        EXPECT_EQ(RecordedFor(n), expected);
        EXPECT_FALSE(row->Text(JournalField::Device).empty());
        EXPECT_FALSE(row->Text(JournalField::Id).empty());
    }
}

// A command that waits (a printer out of paper) keeps no other handset from being flashed; the
// station ends only once it has ended too, and after its --count units.
TEST_F(UnitHook, ACommandAtWorkHoldsUpNoPort)
{
    const std::string fifo = Path("go-on");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string command = "case \"$KESTREL_SLOT\" in *handset0) read line < \"" + fifo + "\"; echo \"printed $line\";; esac";
    CChildProcess cli({KESTREL_CLI_BIN, "--baud", "115200", "--port", Link(0), "--port", Link(1), "station",
                       WriteImage("image.bin", BootImage(8 * 1024)), "--type", "CHANGE(EMERGENCY)", "--count", "2",
                       "--on-unit", command});
    ASSERT_TRUE(cli.ReadLineWith("Waiting for handsets", 10000).has_value());
    ASSERT_NO_FATAL_FAILURE(StartHandset(0));
    ASSERT_TRUE(cli.ReadLineWith(Link(0) + ": completed", 30000).has_value());
    // Handset 0's command now waits for the test.
    ASSERT_NO_FATAL_FAILURE(StartHandset(1));
    ASSERT_TRUE(cli.ReadLineWith(Link(1) + ": completed", 30000).has_value());
    EXPECT_FALSE(cli.Wait(300).has_value()) << "ended while a command was still at work";
    std::ofstream(fifo) << "label 1\n";
    const auto r = cli.Finish(30000);
    EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("printed label 1"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("units: 2 completed, 0 failed"), std::string::npos) << r.strOut;
    const std::vector<CJournalRow> rows = JournalRuns();
    ASSERT_EQ(rows.size(), 2u);
    for (const CJournalRow& row : rows) EXPECT_EQ(row.Text(JournalField::HookStatus), "exit 0");
}

}  // namespace
}  // namespace kestrel::test
