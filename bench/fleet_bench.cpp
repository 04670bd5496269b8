// The fleet journal on a throwaway PostgreSQL server:
//   1. forwarding 10,000 finished runs from a station's journal: rows per second;
//   2. eight simulated handsets flashed by one kestrel-cli with no server set, with the
//      server down, and with it up: the flashes take no longer with a server, up or down,
//      than without one.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "services/fleet_forwarder.h"
#include "services/journal.h"
#include "services/sqlite_db.h"
#include "tests/support/child_process.h"
#include "tests/support/pg_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using kestrel::test::CChildProcess;
using kestrel::test::CPgServer;
using namespace kestrel;
using namespace kestrel::bench;

constexpr int kRuns = 10000;
constexpr int kHandsets = 8;
constexpr int kRepeats = 3;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double ForwardingRowsPerSecond(CPgServer& server, const std::filesystem::path& dir)
{
    const std::string strJournal = (dir / "forwarding.sqlite").string();
    {
        CJournal journal;
        if (!journal.Open(strJournal)) return 0;
    }
    CSqliteDb db;
    db.Open(strJournal, SQLITE_OPEN_READWRITE);
    const std::string strFill =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kRuns) +
        ") INSERT INTO runs (owner, started_at, ended_at, front_end, port, device, image, image_size, image_sha256, download_type,"
        " outcome, bytes_written, duration_ms, station_id, station_name, revision)"
        " SELECT 'bench', strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), 'station', 3 + i % 8,"
        " '/dev/ttyACM' || (i % 8), '/srv/PHONE.bin', 4194304, hex(randomblob(32)), 'CHANGE(EMERGENCY)',"
        " CASE WHEN i % 20 = 0 THEN 'handset-error' ELSE 'completed' END, 4194304, 60000 + i, (SELECT id FROM station), 'bench', 2"
        " FROM n";
    if (db.Exec(strFill.c_str()) != SQLITE_OK) {
        std::printf("the journal cannot be filled: %s\n", db.Error().c_str());
        return 0;
    }
    const std::string strDb = server.CreateDatabase("forwarding");
    const Clock::time_point start = Clock::now();
    CFleetForwarder forwarder(strJournal, server.AdminUri(strDb), "bench", nullptr);
    forwarder.Close(600000);
    const double dSeconds = Seconds(start);
    CJournal journal;
    journal.OpenReadOnly(strJournal);
    const auto optForwarding = journal.Forwarding();
    const int64_t nLeft = optForwarding ? optForwarding->nWaiting : -1;
    if (nLeft != 0) std::printf("%lld rows were not forwarded\n", static_cast<long long>(nLeft));
    return dSeconds > 0 ? kRuns / dSeconds : 0;
}

// Seconds from the start of one kestrel-cli flashing every handset to its exit; -1 when a
// port did not complete.
double FlashSeconds(const std::string& image, const std::string& strUrl)
{
    if (strUrl.empty()) unsetenv("KESTREL_JOURNAL_URL");
    else setenv("KESTREL_JOURNAL_URL", strUrl.c_str(), 1);
    std::vector<std::unique_ptr<CChildProcess>> sims;
    std::vector<std::string> args = {KESTREL_CLI_BIN, "--baud", "115200", "--json"};
    for (int i = 0; i < kHandsets; ++i) {
        sims.push_back(std::make_unique<CChildProcess>(
            std::vector<std::string>{KESTREL_SIM_BIN, "--mode", "download", "--pace", "--idle-exit", "300"}));
        const auto slave = sims.back()->ReadLine(5000);
        if (!slave) return -1;
        args.insert(args.end(), {"--port", *slave});
    }
    args.insert(args.end(), {"flash", image, "--type", "FONT(EMRGENCY)", "--font-address", "0"});
    const Clock::time_point start = Clock::now();
    const auto result = CChildProcess(args).Finish(600000);
    const double dSeconds = Seconds(start);
    for (auto& sim : sims) {
        sim->Signal(SIGTERM);
        sim->Wait(10000);
    }
    return result.nExitCode == 0 ? dSeconds : -1;
}

// The median of kRepeats.
double MedianFlashSeconds(const std::string& image, const std::string& strUrl)
{
    std::vector<double> seconds;
    for (int n = 0; n < kRepeats; ++n) seconds.push_back(FlashSeconds(image, strUrl));
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

}  // namespace

int main()
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kestrel-fleet-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    {
        CPgServer server;
        std::printf("1. forwarding %d finished runs to the server\n", kRuns);
        Verdict("rows per second", ForwardingRowsPerSecond(server, dir), "rows/s", 1000, true);

        std::printf("2. %d handsets at 115200 bit/s, 64 KiB each, median of %d flashes\n", kHandsets, kRepeats);
        const std::string image = MakeImage(dir, 64 * 1024);
        const std::string strDb = server.CreateDatabase("flashes");
        const std::string strUrl = server.AdminUri(strDb);
        const double dNone = MedianFlashSeconds(image, "");
        std::printf("%-52s %10.2f s\n", "no server set", dNone);
        server.Stop();
        const double dDown = MedianFlashSeconds(image, strUrl);
        server.Start();
        const double dUp = MedianFlashSeconds(image, strUrl);
        // A second's jitter either way is the pacing's, not the server's.
        Verdict("server set but down", dDown, "s", dNone + 1.0, false);
        Verdict("server set and up (the rows of the down runs too)", dUp, "s", dNone + 1.0, false);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
