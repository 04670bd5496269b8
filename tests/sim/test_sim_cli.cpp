// The tool's command line against the simulator over a real pseudo-terminal: the mode
// switch, single requests and their replies, at the right and the wrong line speed.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>

#include "sim_process.h"

namespace kestrel::test {
namespace {

const std::string kSim = KESTREL_SIM_BIN;
const std::string kCli = KESTREL_CLI_BIN;

struct CliResult {
    std::optional<int> exitCode;
    std::string out;
};

CliResult RunCli(std::vector<std::string> args)
{
    args.insert(args.begin(), kCli);
    CChildProcess cli(args);
    CliResult r;
    r.out = cli.ReadRest(10000);
    r.exitCode = cli.Wait(10000);
    return r;
}

bool WaitForTranscript(const std::string& path, const std::string& text, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto lines = ReadLines(path);
        if (std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; }))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(SimWithCli, RequestsGetTheHandsetsReplies)
{
    CTempDir dir;
    const std::string link = dir / "handset", transcript = dir / "t.jsonl";
    CChildProcess sim({kSim, "--link", link, "--transcript", transcript, "--erase-ms", "200", "--idle-exit", "20"});
    ASSERT_TRUE(sim.ReadLine(5000));

    const CliResult todm = RunCli({"--port", link, "todm"});
    EXPECT_EQ(todm.exitCode, 0) << todm.out;
    ASSERT_TRUE(WaitForTranscript(transcript, "\"stage\":\"boot\"", 3000));

    struct Step {
        std::vector<std::string> args;
        int exitCode;
        const char* expected;  // part of standard output
    };
    const Step steps[] = {
        {{"--baud", "57600", "request", "start"}, 0, "ACK"},
        {{"--baud", "57600", "request", "erase", "0", "2048"}, 5, "NAK_INVALID_CMD p1=0x9e p2=0x4c"},
        {{"--baud", "57600", "--json", "request", "jump"}, 0, "\"event\":\"reply\",\"code\":2,\"name\":\"ACK\""},
        {{"--baud", "115200", "request", "start"}, 0, "ACK"},
        {{"--baud", "115200", "request", "erase", "0", "0x800"}, 0, "ACK"},
        // The handset now listens at 115200 only.
        {{"--baud", "57600", "--json", "request", "start"}, 6, "\"code\":null"},
    };
    for (const auto& step : steps) {
        std::vector<std::string> args{"--port", link};
        args.insert(args.end(), step.args.begin(), step.args.end());
        const CliResult r = RunCli(args);
        EXPECT_EQ(r.exitCode, step.exitCode) << step.args.back() << ": " << r.out;
        EXPECT_NE(r.out.find(step.expected), std::string::npos) << step.args.back() << ": " << r.out;
    }

    kill(sim.Pid(), SIGTERM);
    EXPECT_EQ(sim.Wait(5000), 0);
    const auto lines = ReadLines(transcript);
    auto logged = [&](const std::string& text) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(logged("\"unit\":\"at-command\""));
    EXPECT_TRUE(logged("\"unit\":\"ERASE_REQ\",\"baud\":115200,\"start\":0,\"length\":2048"));
    EXPECT_TRUE(logged("\"kind\":\"wrong-speed\",\"unit\":\"START_REQ\",\"baud\":57600,\"expected\":115200"));
}

}  // namespace
}  // namespace kestrel::test
