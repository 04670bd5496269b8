// kestrel-cli request and todm against a pseudo-terminal playing the handset.

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/pty_pair.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;

class CliRequest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_pty.Ok()); }

    test::CChildProcess Start(std::vector<std::string> args)
    {
        args.insert(args.begin(), {KESTREL_CLI_PATH, "--port", m_pty.SlavePath()});
        return test::CChildProcess(args);
    }
    // Waits for one framed request and answers it.
    Bytes AnswerWith(const Bytes& reply)
    {
        const Bytes request = ReceiveFrame();
        if (!reply.empty()) m_pty.Send(reply);
        return request;
    }
    Bytes ReceiveFrame()
    {
        Bytes got;
        while (std::count(got.begin(), got.end(), 0x7E) < 2) {
            const Bytes more = m_pty.Receive(1, 3000);
            if (more.empty()) break;
            got.insert(got.end(), more.begin(), more.end());
        }
        return got;
    }

    test::CPtyPair m_pty;
};

TEST_F(CliRequest, RepliesAreNamedAndDecideTheExitCode)
{
    struct Case {
        const char* name;
        Bytes reply;
        int exitCode;
        const char* printed;
    } cases[] = {
        {"ack", {0x7E, 0x02, 0x12, 0x34, 0xAA, 0xBB, 0x7E}, 0, "ACK p1=0x12 p2=0x34"},
        {"retry ack", {0x7E, 0x03, 0x03, 0x03, 0x7E}, 5, "RETRY_ACK p1=0x03 p2=0x03"},
        {"invalid command", {0x7E, 0xA3, 0x9E, 0x4C, 0x7E}, 5, "NAK_INVALID_CMD p1=0x9e p2=0x4c"},
        {"unknown code", {0x7E, 0x55, 0x00, 0x01, 0x7E}, 5, "UNKNOWN(0x55) p1=0x00 p2=0x01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto cli = Start({"request", "start"});
        EXPECT_EQ(AnswerWith(c.reply), (Bytes{0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00}));
        const auto r = cli.Finish(5000);
        EXPECT_EQ(r.nExitCode, c.exitCode);
        EXPECT_NE(r.strOut.find("다운로드 시작 요청\n"), std::string::npos) << r.strOut;
        EXPECT_NE(r.strOut.find(c.printed), std::string::npos) << r.strOut;
    }
}

TEST_F(CliRequest, EraseSendsItsAddressesAndJsonHasTheFixedKeys)
{
    auto cli = Start({"--json", "request", "erase", "0x10000", "131072"});
    const Bytes request = AnswerWith({0x7E, 0x02, 0x00, 0x00, 0x7E});
    ASSERT_GE(request.size(), 10u);
    EXPECT_EQ(Bytes(request.begin() + 1, request.begin() + 10), (Bytes{0xEE, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00}));
    const auto r = cli.Finish(5000);
    EXPECT_EQ(r.nExitCode, 0);
    EXPECT_NE(r.strOut.find(R"({"event":"log","kind":4,"colour":"black","text":"Flash erase 중.. 잠시만 기다리세요"})"),
              std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find(R"({"event":"reply","code":2,"name":"ACK","p1":0,"p2":0})"), std::string::npos) << r.strOut;
}

TEST_F(CliRequest, SilenceIsNoReply)
{
    auto cli = Start({"--json", "request", "jump"});
    const auto r = cli.Finish(8000);
    EXPECT_EQ(r.nExitCode, 6);
    EXPECT_NE(r.strOut.find(R"({"event":"reply","code":null,"name":"no reply","p1":null,"p2":null})"), std::string::npos)
        << r.strOut;
}

TEST_F(CliRequest, SpeedIsSetBeforeTheRequestGoesOut)
{
    auto cli = Start({"--baud", "115200", "request", "start"});
    ReceiveFrame();
    termios t = m_pty.SLineSettings();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    m_pty.Send({0x7E, 0x02, 0x00, 0x00, 0x7E});
    EXPECT_EQ(cli.Finish(5000).nExitCode, 0);
}

TEST_F(CliRequest, TodmWritesTheModeSwitchCommand)
{
    auto cli = Start({"todm"});
    EXPECT_EQ(m_pty.Receive(10, 3000), (Bytes{'A', 'T', '$', 'Z', 'Q', 'K', 'V', 'M', 'W', '\r'}));
    const auto r = cli.Finish(5000);
    EXPECT_EQ(r.nExitCode, 0);
    EXPECT_NE(r.strOut.find("단말기를 DM 상태로 바꿈"), std::string::npos);
}

TEST(CliUsage, BadInvocationsAndMissingPorts)
{
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* says;  // on stdout or stderr
    } cases[] = {
        {{}, 2, "usage"},
        {{"frobnicate"}, 2, "unknown command"},
        {{"--port"}, 2, "needs a value"},
        {{"--port", "COM0", "request", "start"}, 2, "--port"},
        {{"--port", "21", "--port", "22", "flash", "PHONE.bin"}, 2, "no device is mapped to COM21"},
        {{"--port", "/dev/null", "--baud", "9600", "request", "start"}, 2, "--baud"},
        {{"--port", "/dev/null", "request", "erase", "1"}, 2, "usage"},
        {{"--port", "/dev/null", "request", "erase", "-1", "2"}, 2, "START and LENGTH"},
        {{"--port", "/dev/null", "request", "erase", "0x100000000", "2"}, 2, "START and LENGTH"},
        {{"--port", "/dev/kestrel-absent", "request", "start"}, 4, "/dev/kestrel-absent does not exist"},
        {{"--port", "/dev/null", "request", "start"}, 4, "USB 연결 상태를 확인하세요."},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {KESTREL_CLI_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(c.args));
        test::CChildProcess cli(argv);
        const auto r = cli.Finish(5000);
        EXPECT_EQ(r.nExitCode, c.exitCode);
        EXPECT_NE((r.strOut + r.strErr).find(c.says), std::string::npos) << r.strOut << r.strErr;
    }
}

}  // namespace
}  // namespace kestrel
