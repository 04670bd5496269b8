// Several simulated handsets at once: kestrel-cli flash on several ports, and the station
// command that flashes handsets as they appear.

#include <algorithm>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "several_handsets.h"

namespace kestrel::test {
namespace {

class Station : public SeveralHandsets {
protected:
    static constexpr int kHandsets = 4;

    std::vector<std::string> PortArgs() const
    {
        std::vector<std::string> args = {KESTREL_CLI_BIN, "--baud", "115200", "--json"};
        for (int n = 0; n < kHandsets; ++n) args.insert(args.end(), {"--port", Link(n)});
        return args;
    }
    ChildResult FlashAll(const Bytes& image)
    {
        auto args = PortArgs();
        args.insert(args.end(), {"flash", WriteImage("image.bin", image), "--type", "CHANGE(EMERGENCY)"});
        return CChildProcess(args).Finish(60000);
    }
    static std::string EndOf(const std::string& port, const char* result, int exitCode)
    {
        return R"({"event":"end","port":")" + port + R"(","result":")" + result + R"(","exit_code":)" +
               std::to_string(exitCode) + R"(,"slot":")" + port + R"(")";
    }
};

TEST_F(Station, EveryHandsetGetsTheImage)
{
    for (int n = 0; n < kHandsets; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n));
    const Bytes image = BootImage(24 * 1024);
    const auto r = FlashAll(image);
    EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
    for (int n = 0; n < kHandsets; ++n) {
        EXPECT_NE(r.strOut.find(EndOf(Link(n), "completed", 0)), std::string::npos) << Link(n);
        EXPECT_EQ(FlashAt(FlashOf(n), 0, image.size()), image) << "handset " << n;
    }
    EXPECT_NE(r.strOut.find(R"({"event":"end","port":"all","result":"completed","exit_code":0})"), std::string::npos);

    // Every port's run is in the journal.
    const auto history = CChildProcess({KESTREL_CLI_BIN, "--json", "history"}).Finish(10000);
    for (int n = 0; n < kHandsets; ++n) {
        const std::regex row(R"re("front_end":"cli".*"outcome":"completed".*"slot":")re" + Link(n) + R"re(")re");
        EXPECT_TRUE(std::regex_search(history.strOut, row)) << Link(n) << "\n" << history.strOut;
    }
}

// `kestrel-cli ... | head -2`: the reader goes away mid-flash; the runs go on to their end,
// their journal rows and their exit code.
TEST_F(Station, AReaderThatGoesAwayEndsNoRun)
{
    for (int n = 0; n < kHandsets; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n));
    const Bytes image = BootImage(64 * 1024);
    auto args = PortArgs();
    args.insert(args.end(), {"flash", WriteImage("image.bin", image), "--type", "CHANGE(EMERGENCY)"});
    CChildProcess cli(args);
    ASSERT_TRUE(cli.ReadLineWith(R"("event":"progress")", 30000).has_value());
    cli.CloseOutput();
    EXPECT_EQ(cli.Wait(60000), 0);
    for (int n = 0; n < kHandsets; ++n) EXPECT_EQ(FlashAt(FlashOf(n), 0, image.size()), image) << "handset " << n;
    const auto history = CChildProcess({KESTREL_CLI_BIN, "--json", "history"}).Finish(10000);
    for (int n = 0; n < kHandsets; ++n) {
        const std::regex row(R"re("outcome":"completed".*"slot":")re" + Link(n) + R"re(")re");
        EXPECT_TRUE(std::regex_search(history.strOut, row)) << Link(n) << "\n" << history.strOut;
    }
}

// Another program holds the journal's write lock all along: the runs and the exit are not held
// up for it, and the log names every run that could not be recorded.
TEST_F(Station, AJournalLockedByAnotherProgramHoldsUpNoRun)
{
    CChildProcess lock({KESTREL_JOURNAL_RUNS, "--lock"});
    ASSERT_EQ(lock.ReadLine(10000), "locked");
    for (int n = 0; n < kHandsets; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n));
    const Bytes image = BootImage(16 * 1024);
    // Ends while the lock is still held: a close that waited for the journal would not.
    const auto r = FlashAll(image);
    EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
    const std::size_t nLost = r.strOut.find(std::to_string(kHandsets) + " runs are not recorded: ");
    ASSERT_NE(nLost, std::string::npos) << r.strOut;
    const std::string lost = r.strOut.substr(nLost, r.strOut.find('\n', nLost) - nLost);
    for (int n = 0; n < kHandsets; ++n) EXPECT_NE(lost.find("the run on slot " + Link(n) + " started "), std::string::npos) << lost;

    lock.Signal(SIGKILL);
    lock.Wait(10000);
    const auto history = CChildProcess({KESTREL_CLI_BIN, "--json", "history"}).Finish(10000);
    EXPECT_EQ(history.strOut.find(R"("event":"run")"), std::string::npos) << "dropped, as told: " << history.strOut;
}

TEST_F(Station, OneHandsetsFaultLeavesTheOthersToComplete)
{
    struct Case {
        const char* name;
        const char* scenario;
        const char* result;
        int exitCode;
    } cases[] = {{"handset_error", "erase nak-failed\n", "error", 5}, {"unplugged", "block:3 unplug\n", "error", 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_sims.clear();
        for (int n = 0; n < kHandsets; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, n == 2 ? c.scenario : ""));
        const Bytes image = BootImage(16 * 1024, static_cast<uint8_t>(c.exitCode));
        const auto r = FlashAll(image);
        EXPECT_EQ(r.nExitCode, c.exitCode) << r.strOut << r.strErr;
        EXPECT_NE(r.strOut.find(EndOf(Link(2), c.result, c.exitCode)), std::string::npos) << r.strOut;
        for (int n : {0, 1, 3}) {
            EXPECT_NE(r.strOut.find(EndOf(Link(n), "completed", 0)), std::string::npos) << Link(n);
            EXPECT_EQ(FlashAt(FlashOf(n), 0, image.size()), image) << "handset " << n;
        }
    }
}

TEST_F(Station, CtrlCStopsEveryPort)
{
    for (int n = 0; n < kHandsets; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, "block@* late 40\n"));
    auto args = PortArgs();
    args.insert(args.end(), {"flash", WriteImage("image.bin", BootImage(200 * 1024)), "--type", "CHANGE(EMERGENCY)"});
    CChildProcess cli(args);
    ASSERT_TRUE(cli.ReadLineWith(R"("block":3,)", 30000).has_value());
    cli.Signal(SIGINT);
    const auto r = cli.Finish(30000);
    EXPECT_EQ(r.nExitCode, 130) << r.strOut << r.strErr;
    for (int n = 0; n < kHandsets; ++n)
        EXPECT_NE(r.strOut.find(EndOf(Link(n), "stopped", 130)), std::string::npos) << Link(n) << "\n" << r.strOut;
}

TEST_F(Station, HandsetsAreFlashedAsTheyAppearUntilTheCount)
{
    const Bytes image = BootImage(8 * 1024);
    std::vector<std::string> args = {KESTREL_CLI_BIN, "--baud", "115200", "--port", Link(0), "--port", Link(1),
                                     "station", WriteImage("image.bin", image), "--type", "CHANGE(EMERGENCY)",
                                     "--count", "2"};
    CChildProcess cli(args);
    ASSERT_TRUE(cli.ReadLineWith("Waiting for handsets", 10000).has_value());
    ASSERT_NO_FATAL_FAILURE(StartHandset(1));
    ASSERT_TRUE(cli.ReadLineWith(Link(1) + ": completed", 30000).has_value());
    ASSERT_NO_FATAL_FAILURE(StartHandset(0));
    const auto r = cli.Finish(30000);
    EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find(Link(0) + ": completed"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("units: 2 completed, 0 failed"), std::string::npos) << r.strOut;
    const auto history = CChildProcess({KESTREL_CLI_BIN, "--json", "history"}).Finish(10000);
    EXPECT_EQ(std::count(history.strOut.begin(), history.strOut.end(), '\n'), 2) << history.strOut;
    EXPECT_NE(history.strOut.find(R"("front_end":"station")"), std::string::npos) << history.strOut;
    for (int n : {0, 1}) EXPECT_EQ(FlashAt(FlashOf(n), 0, image.size()), image) << "handset " << n;
}

TEST_F(Station, CountUnitsAreExactlyThatManyWithMoreHandsetsPresent)
{
    for (int n = 0; n < 3; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n));
    std::vector<std::string> args = {KESTREL_CLI_BIN, "--baud", "115200", "--json"};
    for (int n = 0; n < 3; ++n) args.insert(args.end(), {"--port", Link(n)});
    args.insert(args.end(), {"station", WriteImage("image.bin", BootImage(8 * 1024)), "--type", "CHANGE(EMERGENCY)", "--count", "1"});
    const auto r = CChildProcess(args).Finish(30000);
    EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find(R"({"event":"summary","units":1,"completed":1,"failed":0,)"), std::string::npos) << r.strOut;
    const auto history = CChildProcess({KESTREL_CLI_BIN, "--json", "history"}).Finish(10000);
    EXPECT_EQ(std::count(history.strOut.begin(), history.strOut.end(), '\n'), 1) << history.strOut;
}

TEST_F(Station, ASlotWhoseFolderAppearsLaterIsFlashedAsItsHandsetArrives)
{
    // As /dev/serial/by-path before the first USB serial device is plugged in.
    const std::string slot = Path("by-path/hub-port-1");
    const Bytes image = BootImage(8 * 1024);
    CChildProcess cli({KESTREL_CLI_BIN, "--baud", "115200", "--port", slot, "station", WriteImage("image.bin", image),
                       "--type", "CHANGE(EMERGENCY)", "--count", "1"});
    ASSERT_TRUE(cli.ReadLineWith("Waiting for handsets", 10000).has_value());
    std::filesystem::create_directories(Path("by-path"));
    auto sim = std::make_unique<CChildProcess>(std::vector<std::string>{
        KESTREL_SIM_BIN, "--mode", "download", "--slot-link", slot, "--flash-out", Flash(0), "--idle-exit", "120"});
    ASSERT_TRUE(sim->ReadLine(5000).has_value());
    m_sims[0] = std::move(sim);
    const auto r = cli.Finish(30000);
    EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("units: 1 completed, 0 failed"), std::string::npos) << r.strOut;
    EXPECT_EQ(FlashAt(FlashOf(0), 0, image.size()), image);
}

TEST_F(Station, SlotsFollowTheirHandsetsOntoNewNodes)
{
    // Eight handsets switch into download mode and come back under new node names at about
    // the same moment, in an order of their own; each slot is the link udev would keep.
    constexpr int kSlots = 8;
    std::vector<int> order(kSlots);
    for (int n = 0; n < kSlots; ++n) order[static_cast<std::size_t>(n)] = n;
    std::shuffle(order.begin(), order.end(), std::mt19937(std::random_device{}()));
    std::vector<std::string> firstNodes(kSlots);
    for (int n = 0; n < kSlots; ++n) {
        const std::string slot = Path("slot" + std::to_string(n));
        auto sim = std::make_unique<CChildProcess>(std::vector<std::string>{
            KESTREL_SIM_BIN, "--mode", "normal", "--reenumerate", "--switch-ms",
            std::to_string(300 + 40 * order[static_cast<std::size_t>(n)]), "--slot-link", slot, "--flash-out", Flash(n),
            "--idle-exit", "120"});
        const auto first = sim->ReadLine(5000);
        ASSERT_TRUE(first.has_value()) << "handset " << n << " did not start";
        firstNodes[static_cast<std::size_t>(n)] = *first;
        m_sims[n] = std::move(sim);
    }
    std::vector<std::string> args = {KESTREL_CLI_BIN, "--baud", "115200", "--json"};
    for (int n = 0; n < kSlots; ++n) args.insert(args.end(), {"--port", Path("slot" + std::to_string(n))});
    const Bytes image = BootImage(16 * 1024);
    args.insert(args.end(), {"flash", WriteImage("image.bin", image), "--type", "CHANGE(NORMAL)"});
    const auto r = CChildProcess(args).Finish(90000);
    EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;

    const auto history = CChildProcess({KESTREL_CLI_BIN, "--json", "history"}).Finish(10000);
    for (int n = 0; n < kSlots; ++n) {
        const std::string slot = Path("slot" + std::to_string(n));
        // The node the handset came back on, as the simulator printed it.
        const auto back = m_sims[n]->ReadLine(5000);
        ASSERT_TRUE(back.has_value()) << "handset " << n << " never came back";
        EXPECT_NE(*back, firstNodes[static_cast<std::size_t>(n)]);
        // Its run opened the node before the switch, then the one it came back on (again for the
        // speed change): never another's.
        std::string row;
        std::istringstream rows(history.strOut);
        for (std::string line; std::getline(rows, line);)
            if (line.find(R"("slot":")" + slot + R"(")") != std::string::npos) row = line;
        ASSERT_FALSE(row.empty()) << slot << "\n" << history.strOut;
        EXPECT_NE(row.find(R"("opened":")" + firstNodes[static_cast<std::size_t>(n)] + "; " + *back + "; " + *back + R"(")"),
                  std::string::npos)
            << row;
        EXPECT_NE(row.find(R"("outcome":"completed")"), std::string::npos) << row;
        EXPECT_EQ(FlashAt(FlashOf(n), 0, image.size()), image) << "handset " << n;
    }
}

}  // namespace
}  // namespace kestrel::test
