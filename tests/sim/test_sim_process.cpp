// kestrel-handset-sim as the tool meets it: a process behind a pseudo-terminal that the tool
// opens, closes and reopens.

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "serial/crc.h"
#include "sim_process.h"

namespace kestrel::test {
namespace {

const std::string kSim = KESTREL_SIM_BIN;

// Requests as they leave the tool.
const Bytes kStart{0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00};
const Bytes kJump{0x7E, 0xC0, 0x74, 0x36, 0x7E, 0x00, 0x00, 0x00};
const Bytes kErase0For3072{0x7E, 0xEE, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x1C, 0x1A, 0x7E, 0x00, 0x00, 0x00};
const Bytes kAck{0x7E, 0x02, 0x00, 0x00, 0x74, 0x73, 0x7E};

Bytes BlockAck(const Bytes& block)
{
    const auto crc = kCrc16Mcrf4xx.Compute(block.data(), block.size());
    const uint8_t hi = static_cast<uint8_t>(crc >> 8), lo = static_cast<uint8_t>(crc & 0xFF);
    const auto check = kCrc16X25.Compute(std::array<uint8_t, 3>{0x02, hi, lo}.data(), 3);
    Bytes out{0x7E};
    for (const uint8_t b : {uint8_t{0x02}, hi, lo, static_cast<uint8_t>(check & 0xFF), static_cast<uint8_t>(check >> 8)}) {
        if (b >= 0x7D && b <= 0x7F) {
            out.push_back(0x7D);
            out.push_back(b ^ 0x20);
        } else {
            out.push_back(b);
        }
    }
    out.push_back(0x7E);
    return out;
}

// Three image blocks; the last holds 100 file bytes padded with 0xFF, as the tool sends it.
std::vector<Bytes> ImageBlocks()
{
    std::vector<Bytes> blocks(3, Bytes(1024));
    for (std::size_t b = 0; b < blocks.size(); ++b)
        for (std::size_t i = 0; i < 1024; ++i) blocks[b][i] = static_cast<uint8_t>(i * 13 + b * 101 + 7);
    std::fill(blocks[2].begin() + 100, blocks[2].end(), 0xFF);
    return blocks;
}

bool Contains(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

// The transcript's events in order, from the first line that holds `from` on.
std::vector<std::string> EventsFrom(const std::vector<std::string>& lines, const std::string& from)
{
    const std::string key = "\"event\":\"";
    std::vector<std::string> events;
    bool started = false;
    for (const std::string& line : lines) {
        started = started || line.find(from) != std::string::npos;
        const std::size_t at = line.find(key);
        if (!started || at == std::string::npos) continue;
        const std::size_t begin = at + key.size();
        events.push_back(line.substr(begin, line.find('"', begin) - begin));
    }
    return events;
}

// The text of `key` in each transcript line of the event, in order.
std::vector<std::string> TextFields(const std::vector<std::string>& lines, const std::string& event, const std::string& key)
{
    const std::string tag = "\"event\":\"" + event + "\"", field = "\"" + key + "\":\"";
    std::vector<std::string> values;
    for (const std::string& line : lines) {
        const std::size_t at = line.find(field);
        if (line.find(tag) == std::string::npos || at == std::string::npos) continue;
        const std::size_t begin = at + field.size();
        values.push_back(line.substr(begin, line.find('"', begin) - begin));
    }
    return values;
}

// Blocks until the tool's end of the line hangs up; false if it has not by the deadline.
bool HangsUp(int fd, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(std::max<int64_t>(left, 0)));
        if (n > 0) return (p.revents & POLLHUP) != 0;
        if (n == 0 || errno != EINTR) return false;
    }
}

// Blocks until a line of the file holds the text; false if none does by the deadline.
bool WaitForLineWith(const std::string& path, const std::string& text, int timeoutMs)
{
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, path.c_str(), IN_MODIFY) < 0) {
        if (watch >= 0) close(watch);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool found = false;
    while (!(found = Contains(ReadLines(path), text))) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{watch, POLLIN, 0};
        if (left <= 0 || (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR)) break;
        alignas(inotify_event) char events[4096];
        if (p.revents & POLLIN) (void)!read(watch, events, sizeof events);
    }
    close(watch);
    return found;
}

bool IsSymlink(const std::string& path)
{
    return std::filesystem::is_symlink(std::filesystem::symlink_status(path));
}

// Where the symlink points; empty when there is none.
std::string LinkTarget(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::read_symlink(path, ec).string();
}

// Start, jump and start again at 115200, each on a freshly opened port as the tool does it.
void ToLoader(const std::string& port)
{
    {
        CToolPort p(port, B57600);
        ASSERT_TRUE(p.Ok());
        p.Send(kStart);
        ASSERT_EQ(p.Reply(), kAck);
    }
    {
        CToolPort p(port, B57600);
        ASSERT_TRUE(p.Ok());
        p.Send(kJump);
        ASSERT_EQ(p.Reply(), kAck);
    }
}

TEST(SimProcess, FlashesAcrossReopensThenDumpsOnIdleExit)
{
    CTempDir dir;
    const std::string link = dir / "handset", flash = dir / "flash.bin", transcript = dir / "t.jsonl";
    CChildProcess sim({kSim, "--mode", "download", "--link", link, "--flash-out", flash, "--transcript", transcript,
                       "--idle-exit", "1", "--erase-ms", "100"});
    const auto slave = sim.ReadLine(5000);
    ASSERT_TRUE(slave);
    EXPECT_EQ(std::filesystem::read_symlink(link), *slave);

    ToLoader(link);
    const auto blocks = ImageBlocks();
    {
        CToolPort p(link, B115200);
        ASSERT_TRUE(p.Ok());
        p.Send(kStart);
        EXPECT_EQ(p.Reply(), kAck);
        p.Send(kErase0For3072);
        EXPECT_EQ(p.Reply(), kAck);
        for (const auto& block : blocks) {
            p.Send(block);
            EXPECT_EQ(p.Reply(), BlockAck(block));
        }
        p.Send(kJump);
        EXPECT_EQ(p.Reply(), kAck);
    }
    EXPECT_EQ(sim.Wait(10000), 0);
    const std::string rest = sim.ReadRest(1000);
    EXPECT_NE(rest.find("summary: written=3072 ranges=0x0-0xc00 blocks=3 retransmissions=0"), std::string::npos) << rest;
    EXPECT_NE(rest.find("end=idle"), std::string::npos) << rest;

    Bytes image;
    for (const auto& b : blocks) image.insert(image.end(), b.begin(), b.end());
    EXPECT_EQ(ReadFile(flash), image);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));

    const auto lines = ReadLines(transcript);
    EXPECT_TRUE(Contains(lines, "\"event\":\"speed\",\"baud\":115200"));
    EXPECT_TRUE(Contains(lines, "\"unit\":\"ERASE_REQ\",\"baud\":115200,\"start\":0,\"length\":3072"));
    EXPECT_TRUE(Contains(lines, "\"unit\":\"block\",\"baud\":115200,\"index\":2,\"address\":2048"));
    EXPECT_TRUE(Contains(lines, "\"event\":\"end\",\"reason\":\"idle\",\"written\":3072"));
    EXPECT_FALSE(Contains(lines, "\"event\":\"fault\""));
}

TEST(SimProcess, ToolCanReopenTheLineItMadeExclusive)
{
    CChildProcess sim({kSim, "--mode", "download", "--idle-exit", "5"});
    const auto slave = sim.ReadLine(5000);
    ASSERT_TRUE(slave);
    // Root may open an exclusive terminal anyway, so the tool's part runs as an ordinary user.
    if (geteuid() == 0) {
        ASSERT_EQ(chmod(slave->c_str(), 0666), 0);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        int code = 0;
        for (int round = 0; round < 3 && code == 0; ++round) {
            {
                CToolPort p(*slave, B57600);
                if (!p.Ok()) code = 1;
                p.Send(kStart);
                if (p.Ok() && p.Reply() != kAck) code = 2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the tool's pause before reopening
        }
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reopen refused, 2: no reply, 3: could not drop root";
}

TEST(SimProcess, SigtermWritesTheDumpAndEndsCleanly)
{
    CTempDir dir;
    const std::string flash = dir / "flash.bin";
    CChildProcess sim({kSim, "--mode", "download", "--flash-out", flash});
    const auto slave = sim.ReadLine(5000);
    ASSERT_TRUE(slave);
    ToLoader(*slave);
    const Bytes block = ImageBlocks()[0];
    {
        CToolPort p(*slave, B57600);
        p.Send(kStart);
        EXPECT_EQ(p.Reply(), kAck);
        p.Send(kErase0For3072);
        EXPECT_EQ(p.Reply(), kAck);
        p.Send(block);
        EXPECT_EQ(p.Reply(), BlockAck(block));
    }
    kill(sim.Pid(), SIGTERM);
    EXPECT_EQ(sim.Wait(5000), 0);
    EXPECT_NE(sim.ReadRest(1000).find("written=1024 ranges=0x0-0x400 blocks=1"), std::string::npos);
    EXPECT_EQ(ReadFile(flash), block);
}

struct FaultCase {
    const char* rule;
    int quietMs;   // nothing may arrive this long after the request
    Bytes wire;    // then this arrives (empty: nothing at all)
};

TEST(SimProcess, ScenarioFaultsReachTheLine)
{
    const FaultCase cases[] = {
        {"start drop", 500, {}},
        {"start late 300", 150, kAck},
        {"start nak-invalid", 0, {0x7E, 0xA3, 0x9E, 0x4C, 0x5A, 0x2D, 0x7E}},
        {"start nak-failed 12 34", 0, {0x7E, 0xA4, 0x12, 0x34, 0xFC, 0x7B, 0x7E}},
        {"start code 05", 0, {0x7E, 0x05, 0x00, 0x00, 0x74, 0x73, 0x7E}},
        {"start params 01 02", 0, {0x7E, 0x02, 0x01, 0x02, 0x74, 0x73, 0x7E}},
        {"start garbage 11 7e 22", 0, {0x11, 0x7E, 0x22, 0x7E, 0x02, 0x00, 0x00, 0x74, 0x73, 0x7E}},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        const std::string scenario = dir / "s.txt";
        std::ofstream(scenario) << c.rule << '\n';
        CChildProcess sim({kSim, "--mode", "download", "--scenario", scenario, "--idle-exit", "5"});
        const auto slave = sim.ReadLine(5000);
        ASSERT_TRUE(slave) << c.rule;
        CToolPort p(*slave, B57600);
        p.Send(kStart);
        if (c.quietMs > 0) {
            EXPECT_TRUE(p.ReadFor(c.quietMs).empty()) << c.rule;
        }
        EXPECT_EQ(p.ReadFor(c.wire.empty() ? 300 : 700), c.wire) << c.rule;
        // The rule fired once: the next request is answered normally.
        p.Send(kStart);
        EXPECT_EQ(p.Reply(), kAck) << c.rule;
    }
}

TEST(SimProcess, SplitReplyComesInTwoParts)
{
    CTempDir dir;
    const std::string scenario = dir / "s.txt";
    std::ofstream(scenario) << "start split 300\n";
    CChildProcess sim({kSim, "--mode", "download", "--scenario", scenario, "--idle-exit", "5"});
    const auto slave = sim.ReadLine(5000);
    ASSERT_TRUE(slave);
    CToolPort p(*slave, B57600);
    p.Send(kStart);
    const Bytes first = p.ReadFor(150);
    EXPECT_EQ(first, Bytes(kAck.begin(), kAck.begin() + 3));
    const Bytes second = p.ReadFor(700);
    EXPECT_EQ(second, Bytes(kAck.begin() + 3, kAck.end()));
}

TEST(SimProcess, UnplugHangsUpAndTheHandsetComesBackInNormalMode)
{
    CTempDir dir;
    const std::string link = dir / "handset", scenario = dir / "s.txt";
    std::ofstream(scenario) << "start unplug 300\n";
    CChildProcess sim({kSim, "--mode", "download", "--link", link, "--scenario", scenario, "--idle-exit", "5"});
    const auto first = sim.ReadLine(5000);
    ASSERT_TRUE(first);
    {
        CToolPort p(link, B57600);
        p.Send(kStart);
        pollfd fd{p.Fd(), POLLIN, 0};
        ASSERT_EQ(poll(&fd, 1, 2000), 1);
        EXPECT_TRUE(fd.revents & POLLHUP);
    }
    const auto second = sim.ReadLine(3000);
    ASSERT_TRUE(second);
    EXPECT_EQ(std::filesystem::read_symlink(link), *second);
    {
        CToolPort p(link, B57600);
        ASSERT_TRUE(p.Ok());
        p.Send(kStart);
        EXPECT_TRUE(p.ReadFor(300).empty());  // a fresh handset listens only for the AT command
        for (const char ch : std::string("AT$ZQKVMW\r")) p.Send({static_cast<uint8_t>(ch)});
    }
    // The tool waits before it opens the port again, and flushes it on opening: bytes the
    // handset had not read by then would be lost.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CToolPort p(link, B57600);
    p.Send(kStart);
    EXPECT_EQ(p.Reply(), kAck);
}

TEST(SimProcess, UnplugForGoodEndsTheSimulator)
{
    CTempDir dir;
    const std::string scenario = dir / "s.txt";
    std::ofstream(scenario) << "start@2 unplug\n";
    CChildProcess sim({kSim, "--mode", "download", "--scenario", scenario});
    const auto slave = sim.ReadLine(5000);
    ASSERT_TRUE(slave);
    CToolPort p(*slave, B57600);
    p.Send(kStart);
    EXPECT_EQ(p.Reply(), kAck);
    p.Send(kStart);
    EXPECT_EQ(sim.Wait(5000), 0);
    EXPECT_NE(sim.ReadRest(1000).find("end=unplugged"), std::string::npos);
}

TEST(SimProcess, ReenumerateAnswersHangsUpAndTheLoaderReturnsJumped)
{
    CTempDir dir;
    const std::string link = dir / "handset", scenario = dir / "s.txt", transcript = dir / "t.jsonl";
    std::ofstream(scenario) << "jump late 200\njump reenumerate 300\n";
    CChildProcess sim({kSim, "--mode", "download", "--link", link, "--scenario", scenario, "--transcript", transcript,
                       "--idle-exit", "5"});
    ASSERT_TRUE(sim.ReadLine(5000));
    {
        CToolPort p(link, B57600);
        ASSERT_TRUE(p.Ok());
        p.Send(kStart);
        ASSERT_EQ(p.Reply(), kAck);
        p.Send(kJump);
        EXPECT_EQ(p.Reply(), kAck);  // late, and still before the hang-up
        pollfd fd{p.Fd(), POLLIN, 0};
        ASSERT_EQ(poll(&fd, 1, 2000), 1);
        EXPECT_TRUE(fd.revents & POLLHUP);
    }
    const auto second = sim.ReadLine(3000);
    ASSERT_TRUE(second && second->starts_with("/dev/")) << second.value_or("nothing");
    EXPECT_EQ(std::filesystem::read_symlink(link), *second);
    {
        // Only a handset that kept its jump takes START_REQ at 115200.
        CToolPort p(link, B115200);
        ASSERT_TRUE(p.Ok());
        p.Send(kStart);
        EXPECT_EQ(p.Reply(), kAck);
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(5000), 0);
    // Answered, gone, back on a new line with no stage of its own, then on to the loader.
    const auto lines = ReadLines(transcript);
    const std::vector<std::string> expected{"inject", "inject", "tx", "unplug", "pty", "rx", "speed", "stage", "tx", "end"};
    EXPECT_EQ(EventsFrom(lines, "\"rule\":\"jump late 200\""), expected);
    EXPECT_TRUE(Contains(lines, "\"event\":\"inject\",\"rule\":\"jump reenumerate 300\""));
}

TEST(SimProcess, ModeSwitchByTheAtCommand)
{
    struct Case {
        std::vector<std::string> extra;
        bool newPath;
    };
    const Case cases[] = {{{"--switch-ms", "200"}, false}, {{"--reenumerate", "--switch-ms", "300"}, true}};
    for (const auto& c : cases) {
        CTempDir dir;
        const std::string link = dir / "handset";
        std::vector<std::string> args{kSim, "--link", link, "--idle-exit", "5"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        CChildProcess sim(args);
        const auto first = sim.ReadLine(5000);
        ASSERT_TRUE(first);
        {
            CToolPort p(link, B115200);
            for (const char ch : std::string("AT$ZQKVMW\r")) p.Send({static_cast<uint8_t>(ch)});
        }
        if (c.newPath) {
            const auto second = sim.ReadLine(3000);
            ASSERT_TRUE(second);
            EXPECT_NE(*second, *first);
            EXPECT_EQ(std::filesystem::read_symlink(link), *second);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
        CToolPort p(link, B57600);
        ASSERT_TRUE(p.Ok());
        p.Send(kStart);
        EXPECT_EQ(p.Reply(), kAck);
    }
}

TEST(SimProcess, SlotLinkFollowsTheHandsetOntoANewNode)
{
    // Long enough that the test looks at the gap and lets go of the old node before the
    // handset is back; the transcript tells when it was not.
    constexpr int kGapMs = 2000;
    const Bytes atCommand{'A', 'T', '$', 'Z', 'Q', 'K', 'V', 'M', 'W', '\r'};
    struct Case {
        const char* name;
        std::vector<std::string> extra;
        std::string scenario;                          // empty: none
        std::vector<std::pair<Bytes, Bytes>> leaving;  // requests on the old node and their replies (empty: none)
        speed_t backSpeed;                             // at which the handset that came back takes START_REQ
    };
    const Case cases[] = {
        {"mode switch with --reenumerate", {"--reenumerate", "--switch-ms", std::to_string(kGapMs)}, "", {{atCommand, {}}}, B57600},
        {"loader re-enumerating after the jump", {"--mode", "download"}, "jump reenumerate " + std::to_string(kGapMs),
         {{kStart, kAck}, {kJump, kAck}}, B115200},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        const std::string slot = dir / "by-path", link = dir / "handset", transcript = dir / "t.jsonl", scenario = dir / "s.txt";
        std::vector<std::string> args{kSim, "--slot-link", slot, "--link", link, "--transcript", transcript, "--idle-exit", "20"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        if (!c.scenario.empty()) {
            std::ofstream(scenario) << c.scenario << '\n';
            args.insert(args.end(), {"--scenario", scenario});
        }
        CChildProcess sim(args);
        const auto first = sim.ReadLine(5000);
        ASSERT_TRUE(first) << c.name;
        EXPECT_EQ(LinkTarget(slot), *first) << c.name;
        {
            CToolPort old(slot, B57600);
            ASSERT_TRUE(old.Ok()) << c.name;
            for (const auto& [request, reply] : c.leaving) {
                old.Send(request);
                if (!reply.empty()) {
                    EXPECT_EQ(old.Reply(), reply) << c.name;
                }
            }
            ASSERT_TRUE(HangsUp(old.Fd(), 5000)) << c.name;
            uint8_t byte = 0;
            EXPECT_EQ(read(old.Fd(), &byte, 1), 0) << c.name << ": a hung-up line reads as ended";
            ASSERT_TRUE(WaitForLineWith(transcript, "\"event\":\"unplug\"", 5000)) << c.name;
            // Off the bus the slot link stays on the node that went.
            EXPECT_EQ(LinkTarget(slot), *first) << c.name;
            EXPECT_FALSE(std::filesystem::exists(*first)) << c.name;
        }
        // The tool has closed the old node, so only the simulator can still keep its name from
        // being handed out again.
        ASSERT_EQ(TextFields(ReadLines(transcript), "pty", "slave"), std::vector<std::string>{*first})
            << c.name << ": the handset came back before the gap could be looked at";

        const auto second = sim.ReadLine(kGapMs + 5000);
        ASSERT_TRUE(second) << c.name;
        EXPECT_NE(*second, *first) << c.name;
        EXPECT_EQ(LinkTarget(slot), *second) << c.name;
        EXPECT_EQ(LinkTarget(link), *second) << c.name;
        {
            CToolPort back(slot, c.backSpeed);
            ASSERT_TRUE(back.Ok()) << c.name;
            back.Send(kStart);
            EXPECT_EQ(back.Reply(), kAck) << c.name;
        }
        sim.Signal(SIGTERM);
        EXPECT_EQ(sim.Wait(5000), 0) << c.name;
        EXPECT_FALSE(IsSymlink(slot)) << c.name;

        const auto lines = ReadLines(transcript);
        EXPECT_EQ(TextFields(lines, "pty", "slave"), (std::vector<std::string>{*first, *second})) << c.name;
        EXPECT_EQ(TextFields(lines, "pty", "slot_link"), (std::vector<std::string>{slot, slot})) << c.name;
        EXPECT_EQ(TextFields(lines, "unplug", "slave"), std::vector<std::string>{*first}) << c.name;
    }
}

TEST(SimProcess, SlotLinkGoesWithTheSimulatorHoweverItEnds)
{
    enum class EEnd { Signal, SignalWhileAway, Unplugged, Idle };
    struct Case {
        EEnd eEnd;
        const char* name;
        std::vector<std::string> extra;
        std::string scenario;  // empty: none
    };
    const Case cases[] = {
        {EEnd::Signal, "signal on the bus", {}, ""},
        {EEnd::SignalWhileAway, "signal off the bus", {}, "start reenumerate 60000"},
        {EEnd::Unplugged, "unplugged for good", {}, "start unplug"},
        {EEnd::Idle, "idle", {"--idle-exit", "1.5"}, ""},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        const std::string slot = dir / "by-path", scenario = dir / "s.txt", transcript = dir / "t.jsonl";
        std::vector<std::string> args{kSim, "--mode", "download", "--slot-link", slot, "--transcript", transcript};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        if (!c.scenario.empty()) {
            std::ofstream(scenario) << c.scenario << '\n';
            args.insert(args.end(), {"--scenario", scenario});
        }
        CChildProcess sim(args);
        const auto slave = sim.ReadLine(5000);
        ASSERT_TRUE(slave) << c.name;
        EXPECT_EQ(LinkTarget(slot), *slave) << c.name;
        const bool away = c.eEnd == EEnd::SignalWhileAway;
        if (away || c.eEnd == EEnd::Unplugged) {
            CToolPort p(slot, B57600);
            ASSERT_TRUE(p.Ok()) << c.name;
            p.Send(kStart);
            if (away) {
                EXPECT_EQ(p.Reply(), kAck) << c.name;  // a re-enumerating handset answers first
            }
            ASSERT_TRUE(HangsUp(p.Fd(), 5000)) << c.name;
        }
        if (away) {
            ASSERT_TRUE(WaitForLineWith(transcript, "\"event\":\"unplug\"", 5000)) << c.name;
            EXPECT_EQ(LinkTarget(slot), *slave) << c.name << ": the slot link left with the handset";
        }
        if (away || c.eEnd == EEnd::Signal) sim.Signal(SIGTERM);
        EXPECT_EQ(sim.Wait(5000), 0) << c.name;
        EXPECT_FALSE(IsSymlink(slot)) << c.name;
    }
}

TEST(SimProcess, PacedBlockIsAnsweredNoSoonerThanTheLineCarriesIt)
{
    CChildProcess sim({kSim, "--mode", "download", "--pace", "--idle-exit", "5"});
    const auto slave = sim.ReadLine(5000);
    ASSERT_TRUE(slave);
    ToLoader(*slave);
    CToolPort p(*slave, B57600);
    p.Send(kStart);
    ASSERT_EQ(p.Reply(), kAck);
    p.Send(kErase0For3072);
    ASSERT_EQ(p.Reply(), kAck);
    const Bytes block = ImageBlocks()[0];
    const auto sent = std::chrono::steady_clock::now();
    p.Send(block);
    EXPECT_EQ(p.Reply(), BlockAck(block));
    // 1024 bytes in and 7 out at ten bits a byte and 57600 bit/s.
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::microseconds((1024 + 7) * 10 * 1000000LL / 57600));
}

TEST(SimProcess, WaitingUsesNoProcessorTimeAlsoAfterTheToolLeft)
{
    CChildProcess sim({kSim, "--mode", "download", "--idle-exit", "30"});
    const auto slave = sim.ReadLine(5000);
    ASSERT_TRUE(slave);
    {
        CToolPort p(*slave, B57600);
        p.Send({0x7E, 0xA0});  // half a frame, then the tool goes away
    }
    auto cpuTicks = [&] {
        std::ifstream stat("/proc/" + std::to_string(sim.Pid()) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::stol(field);
            if (i == 15) stime = std::stol(field);
        }
        return utime + stime;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long before = cpuTicks();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LE(cpuTicks() - before, 2) << "the simulator spins while nothing happens";
}

TEST(SimProcess, RefusesBadStartsWithAReason)
{
    CTempDir dir;
    const std::string scenario = dir / "s.txt", file = dir / "occupied", folder = dir / "folder", link = dir / "handset";
    std::ofstream(scenario) << "start drop\nblock:1@2 late\n";
    std::ofstream(file) << "keep me\n";
    std::filesystem::create_directory(folder);
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string said;  // on standard error
    };
    const std::string notLink = " exists and is not a symlink; not replacing it";
    const Case cases[] = {
        {{kSim, "--mode", "emergency"}, 2, "bad or missing value for --mode"},
        {{kSim, "--scenario", scenario}, 2, "scenario line 2"},
        {{kSim, "--scenario", dir / "missing.txt"}, 2, "cannot read the scenario"},
        {{kSim, "--link", file, "--idle-exit", "1"}, 1, file + notLink},
        {{kSim, "--slot-link", file, "--idle-exit", "1"}, 1, file + notLink},
        {{kSim, "--slot-link", folder, "--idle-exit", "1"}, 1, folder + notLink},
        {{kSim, "--link", link, "--slot-link", file, "--idle-exit", "1"}, 1, file + notLink},
    };
    for (const auto& c : cases) {
        CChildProcess sim(c.args);
        const ChildResult result = sim.Finish(5000);
        EXPECT_EQ(result.nExitCode, c.code) << c.args.back();
        EXPECT_NE(result.strErr.find(c.said), std::string::npos) << result.strErr;
        // Nothing a script could take for a slave path.
        EXPECT_EQ(result.strOut, "") << c.args.back();
    }
    EXPECT_EQ(ReadLines(file), std::vector<std::string>{"keep me"});
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::symlink_status(folder)));
    EXPECT_FALSE(IsSymlink(link)) << "the link placed before the refused one stayed";
}

}  // namespace
}  // namespace kestrel::test
