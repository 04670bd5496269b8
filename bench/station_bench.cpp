// Eight simulated handsets flashed at once by one kestrel-cli, against one handset alone:
//   1. unpaced pseudo-terminals: blocks per second of the eight together against one alone,
//      and the tool's CPU per block;
//   2. the simulators pacing their lines at 115200 bit/s: each port's payload rate against
//      the line rate one handset alone gets.
// Each figure is printed with its goal; a figure short of its goal is reported, not hidden.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using kestrel::test::CChildProcess;
using namespace kestrel::bench;

constexpr int kHandsets = 8;
constexpr double kLineBytesPerSecond = 115200.0 / 10.0;

struct PortFigures {
    bool bCompleted = false;
    int nBlocks = 0;
    Clock::time_point first{}, last{};
};

struct RunFigures {
    std::vector<PortFigures> ports;
    double dToolCpuSeconds = 0;

    int Blocks() const
    {
        int n = 0;
        for (const auto& p : ports) n += p.nBlocks;
        return n;
    }
    bool AllCompleted() const
    {
        return std::all_of(ports.begin(), ports.end(), [](const PortFigures& p) { return p.bCompleted; });
    }
    // Blocks per second of all ports together, from the first block anywhere to the last.
    double AggregateBlocksPerSecond() const
    {
        Clock::time_point first = ports.front().first, last = ports.front().last;
        for (const auto& p : ports) {
            first = std::min(first, p.first);
            last = std::max(last, p.last);
        }
        const double seconds = std::chrono::duration<double>(last - first).count();
        return seconds > 0 ? (Blocks() - static_cast<int>(ports.size())) / seconds : 0;
    }
    static double PayloadRate(const PortFigures& p)
    {
        const double seconds = std::chrono::duration<double>(p.last - p.first).count();
        return seconds > 0 ? (p.nBlocks - 1) * 1024.0 / seconds : 0;
    }
};

// One kestrel-cli flashing the image into `handsets` simulators started with the options.
RunFigures FlashAll(const std::string& image, int handsets, const std::vector<std::string>& simOptions)
{
    RunFigures f;
    std::vector<std::unique_ptr<CChildProcess>> sims;
    std::vector<std::string> cliArgs = {KESTREL_CLI_BIN, "--baud", "115200", "--json"};
    std::vector<std::string> slaves;
    for (int i = 0; i < handsets; ++i) {
        std::vector<std::string> simArgs = {KESTREL_SIM_BIN, "--mode", "download", "--idle-exit", "300"};
        simArgs.insert(simArgs.end(), simOptions.begin(), simOptions.end());
        sims.push_back(std::make_unique<CChildProcess>(simArgs));
        const auto slave = sims.back()->ReadLine(5000);
        if (!slave) return f;
        slaves.push_back(*slave);
        cliArgs.insert(cliArgs.end(), {"--port", *slave});
    }
    cliArgs.insert(cliArgs.end(), {"flash", image, "--type", "FONT(EMRGENCY)", "--font-address", "0"});
    f.ports.resize(static_cast<std::size_t>(handsets));

    const double cpuBefore = ChildrenCpuSeconds();
    CChildProcess cli(cliArgs);
    static const std::regex progress(R"re("event":"progress"(?:,"port":"([^"]+)")?.*"block":(\d+))re");
    static const std::regex end(R"re("event":"end"(?:,"port":"([^"]+)")?,"result":"completed")re");
    const auto portIndex = [&](const std::string& port) {
        if (port.empty()) return std::size_t{0};
        return static_cast<std::size_t>(std::find(slaves.begin(), slaves.end(), port) - slaves.begin());
    };
    while (auto line = cli.ReadLine(600000)) {
        std::smatch m;
        if (std::regex_search(*line, m, progress)) {
            const std::size_t i = portIndex(m[1]);
            if (i >= f.ports.size()) continue;
            PortFigures& p = f.ports[i];
            p.last = Clock::now();
            if (p.nBlocks == 0) p.first = p.last;
            p.nBlocks = std::stoi(m[2]);
        } else if (std::regex_search(*line, m, end)) {
            const std::size_t i = portIndex(m[1]);
            if (i < f.ports.size()) f.ports[i].bCompleted = true;
        }
    }
    cli.Wait(60000);
    f.dToolCpuSeconds = ChildrenCpuSeconds() - cpuBefore;
    for (auto& sim : sims) {
        sim->Signal(SIGTERM);
        sim->Wait(10000);
    }
    return f;
}

}  // namespace

int main()
{
    const auto dir = std::filesystem::temp_directory_path() / ("kestrel-station-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "config");
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);

    // Children count in getrusage once reaped: the CLI is reaped before its CPU is read, the
    // simulators only after, so the figure is the tool's alone.
    const std::string unpacedImage = MakeImage(dir, 2u << 20);
    const auto alone = FlashAll(unpacedImage, 1, {});
    const auto eight = FlashAll(unpacedImage, kHandsets, {});
    if (!alone.AllCompleted() || !eight.AllCompleted()) std::printf("an unpaced run did not complete\n");
    const double aloneRate = alone.AggregateBlocksPerSecond();
    std::printf("%-52s %10.2f blocks/s\n", "1. one handset alone, unpaced", aloneRate);
    Verdict("1. eight at once: blocks/s against one alone", eight.AggregateBlocksPerSecond() / aloneRate, "times", 6.5,
            true);
    Verdict("1. eight at once: tool CPU per block", eight.dToolCpuSeconds / eight.Blocks() * 1e6, "us", 60, false);
    Verdict("1. one alone: tool CPU per block", alone.dToolCpuSeconds / alone.Blocks() * 1e6, "us", 60, false);

    const std::string pacedImage = MakeImage(dir, 128u << 10);
    const auto pacedAlone = FlashAll(pacedImage, 1, {"--pace"});
    const auto pacedEight = FlashAll(pacedImage, kHandsets, {"--pace"});
    if (!pacedAlone.AllCompleted() || !pacedEight.AllCompleted()) std::printf("a paced run did not complete\n");
    const double aloneShare = 100.0 * RunFigures::PayloadRate(pacedAlone.ports.front()) / kLineBytesPerSecond;
    double worst = 100.0;
    for (const auto& p : pacedEight.ports) worst = std::min(worst, 100.0 * RunFigures::PayloadRate(p) / kLineBytesPerSecond);
    std::printf("%-52s %10.2f %%\n", "2. paced, one handset alone: share of the line", aloneShare);
    Verdict("2. paced, eight at once: the slowest port's share", worst, "%", 92, true);
    Verdict("2. paced: slowest port against one alone", worst - aloneShare, "points", -1, true);

    std::filesystem::remove_all(dir);
    return 0;
}
