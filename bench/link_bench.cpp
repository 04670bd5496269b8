// Throughput and CPU of a whole download: kestrel-cli flashing into kestrel-handset-sim.
//   1. unpaced pseudo-terminal, 4 MiB: blocks per second and the tool's CPU per block;
//   2. the simulator pacing the line at 115200 bit/s, 256 KiB: payload rate against the line;
//   3. a 60 s erase: the tool's CPU while it waits.
// Each figure is printed with its goal; a figure short of its goal is reported, not hidden.

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using kestrel::test::CChildProcess;
using namespace kestrel::bench;

struct RunFigures {
    bool bCompleted = false;
    int nBlocks = 0;
    double dBlockSeconds = 0;  // from the first to the last block sent
    double dWallSeconds = 0;
    double dToolCpuSeconds = 0;
};

// One flash; the simulator is started with the given extra options.
RunFigures Flash(const std::string& image, const std::vector<std::string>& simOptions)
{
    RunFigures f;
    std::vector<std::string> simArgs = {KESTREL_SIM_BIN, "--mode", "download", "--idle-exit", "300"};
    simArgs.insert(simArgs.end(), simOptions.begin(), simOptions.end());
    CChildProcess sim(simArgs);
    const auto slave = sim.ReadLine(5000);
    if (!slave) return f;

    const double cpuBefore = ChildrenCpuSeconds();
    const auto start = Clock::now();
    CChildProcess cli({KESTREL_CLI_BIN, "--port", *slave, "--baud", "115200", "--json", "flash", image, "--type",
                       "FONT(EMRGENCY)", "--font-address", "0"});
    static const std::regex progress(R"re("event":"progress".*"block":(\d+))re");
    Clock::time_point first{}, last{};
    while (auto line = cli.ReadLine(600000)) {
        std::smatch m;
        if (std::regex_search(*line, m, progress)) {
            last = Clock::now();
            if (f.nBlocks == 0) first = last;
            f.nBlocks = std::stoi(m[1]);
        }
        if (line->find(R"("result":"completed")") != std::string::npos) f.bCompleted = true;
    }
    cli.Wait(60000);
    f.dWallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.dToolCpuSeconds = ChildrenCpuSeconds() - cpuBefore;
    f.dBlockSeconds = std::chrono::duration<double>(last - first).count();
    sim.Signal(SIGTERM);
    sim.Wait(10000);
    return f;
}

}  // namespace

int main()
{
    const auto dir = std::filesystem::temp_directory_path() / ("kestrel-link-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "config");
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);

    const auto unpaced = Flash(MakeImage(dir, 4u << 20), {});
    if (!unpaced.bCompleted) std::printf("unpaced 4 MiB run did not complete\n");
    const double blocksPerSecond = unpaced.dBlockSeconds > 0 ? (unpaced.nBlocks - 1) / unpaced.dBlockSeconds : 0;
    Verdict("1. unpaced 4 MiB: blocks per second", blocksPerSecond, "blocks/s", 180, true);
    Verdict("1. unpaced 4 MiB: tool CPU per block", unpaced.dToolCpuSeconds / unpaced.nBlocks * 1e6, "us", 50, false);

    const auto paced = Flash(MakeImage(dir, 256u << 10), {"--pace"});
    if (!paced.bCompleted) std::printf("paced 256 KiB run did not complete\n");
    const double payloadRate = paced.dBlockSeconds > 0 ? (paced.nBlocks - 1) * 1024.0 / paced.dBlockSeconds : 0;
    Verdict("2. paced 115200: payload bytes per second", payloadRate, "B/s", 0.93 * 11520, true);
    Verdict("2. paced 115200: share of the line rate", 100.0 * payloadRate / 11520.0, "%", 93, true);

    const auto erase = Flash(MakeImage(dir, 4u << 10), {"--erase-ms", "60000"});
    if (!erase.bCompleted) std::printf("60 s erase run did not complete\n");
    Verdict("3. 60 s erase: tool CPU share of one core", 100.0 * erase.dToolCpuSeconds / erase.dWallSeconds, "%", 1,
            false);

    std::filesystem::remove_all(dir);
    return 0;
}
