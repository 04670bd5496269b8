// Faults of the handset and of the line, injected by the simulator's scenarios.

#include <cstring>
#include <thread>

#include "e2e_fixture.h"

namespace kestrel::test {
namespace {

struct FaultCase {
    const char* name;
    const char* scenario;
    std::vector<std::string> extraArgs;
    int exitCode;
    const char* logLine;    // a line the run must have logged
    const char* received;   // a unit the handset must have seen ("" for none)
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class Fault : public EndToEnd, public testing::WithParamInterface<FaultCase> {};

TEST_P(Fault, RunRecoversOrStopsAsTheReplyDemands)
{
    const FaultCase& c = GetParam();
    const Bytes image = BootImage(8 * 1024);
    const std::string path = WriteImage("image.bin", image);
    StartSim("download", c.scenario);
    std::vector<std::string> args = {path, "--type", "CHANGE(EMERGENCY)"};
    args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
    const auto r = Flash(args);
    EXPECT_EQ(r.nExitCode, c.exitCode) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find(c.logLine), std::string::npos) << c.logLine << "\n" << r.strOut;
    if (*c.received) {
        EXPECT_GT(CountTranscript(c.received), 0) << c.received;
    }
    const Bytes flash = StopSimAndReadFlash();
    if (c.exitCode == 0) {
        EXPECT_EQ(FlashAt(flash, 0, image.size()), image) << "a run that recovered must leave the whole image";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, Fault,
    testing::Values(
        FaultCase{"damaged_ack_starts_the_retransmit_cycle", "block:2 params 00 00\n", {}, 0,
                  "CRC Calc result Error at 0x800, (00,00)", R"("unit":"retry-request")"},
        FaultCase{"dropped_block_reply_recovered_by_the_block_timer", "block:3 drop\n", {}, 0,
                  "No response, retry at 0xc00", R"("unit":"retry-request")"},
        FaultCase{"dropped_request_reply_is_sent_again", "jump drop\n", {}, 0, "패킷 재전송합니다.", ""},
        FaultCase{"nak_bad_crc_on_a_block", "block:1 nak-bad-crc\n", {}, 0, "NAK_BAD_CRC received!!",
                  R"("unit":"retry-request")"},
        FaultCase{"nak_invalid_command", "erase nak-invalid\n", {}, 5, "Invalid command!!", ""},
        FaultCase{"nak_invalid_command_damaged", "erase nak-invalid 00 00\n", {}, 0,
                  "NAK_INVALID_CMD, but crc error. Retry", ""},
        FaultCase{"nak_failed", "block:2 nak-failed\n", {}, 5, "Flash error!!", ""},
        FaultCase{"nak_failed_damaged", "block:2 nak-failed 01 02\n", {}, 0, "NAK_FAILED, but crc error. Retry", ""},
        FaultCase{"damaged_retry_ack_while_pending", "block:2 params 00 00\nretry params 03 04\n", {}, 5,
                  "Unknown Reason  rspCmd 3, crcMSB 3, crcLSB 4", ""},
        FaultCase{"model_version_answered_yes", "start@2 nak-model\n", {"--yes"}, 0, "모델 버전이 틀립니다. 계속 할까요?", ""},
        FaultCase{"model_version_answered_no", "start@2 nak-model\n", {}, 5, "모델 버전이 틀립니다. 계속 할까요?", ""},
        FaultCase{"garbage_before_a_reply", "block:4 garbage 55 aa 7e\n", {}, 0, R"("result":"completed")", ""},
        FaultCase{"reply_split_across_bursts_is_lost", "block:5 split 40\n", {}, 0, "No response, retry at 0x1400",
                  R"("unit":"retry-request")"},
        FaultCase{"request_timer_gives_up_after_three_expiries", "jump@* drop\n", {}, 6, "응답이 없습니다.", ""},
        FaultCase{"block_timer_gives_up_after_three_expiries", "block:2@* drop\nretry@* drop\n", {}, 6,
                  "응답없음. 처음부터 다시 해주시기 바랍니다. 지송..", ""},
        FaultCase{"damaged_ack_of_the_last_block_is_retransmitted", "block:7 params 12 34\n", {}, 0,
                  "CRC Calc result Error at 0x1c00, (12,34)", R"("unit":"retry-request")"},
        FaultCase{"block_that_never_passes_its_check_stops", "block:3@* params 12 34\n", {}, 5,
                  "The block at 0xc00 failed 10 retransmissions: download stopped.", ""},
        FaultCase{"unplug_during_the_erase_ends_the_run_at_once", "erase unplug\n", {}, 4, "download stopped.", ""}),
    [](const testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.name); });

TEST_F(EndToEnd, UnplugInTheMiddleEndsTheRunWithoutBurningCpu)
{
    const std::string path = WriteImage("image.bin", BootImage(16 * 1024));
    StartSim("download", "block:5 unplug\n");
    const double cpuBefore = ChildrenCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    CChildProcess cli(CliArgs({path, "--type", "CHANGE(EMERGENCY)"}));
    const auto r = cli.Finish(30000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.nExitCode, 4) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("[RX]The port was disconnected"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("download stopped."), std::string::npos) << r.strOut;
    EXPECT_LT(seconds, 5.0) << "a lost handset ends the run at once";
    EXPECT_LT(ChildrenCpuSeconds() - cpuBefore, 1.0) << "the tool spun while the handset was gone";
}

TEST_F(EndToEnd, AHandsetThatReenumeratesAfterTheJumpIsWaitedFor)
{
    // At 115200 the speed change finds the device gone; at 57600 the port is not reopened
    // and the run learns of it from the hang-up.
    for (const char* baud : {"115200", "57600"}) {
        SCOPED_TRACE(baud);
        m_pSim.reset();
        const Bytes image = BootImage(8 * 1024);
        const std::string path = WriteImage("image.bin", image);
        StartSim("download", "jump reenumerate 1500\n", Path("handset"));
        auto args = CliArgs({path, "--type", "CHANGE(EMERGENCY)"});
        args[4] = baud;
        const auto r = CChildProcess(args).Finish(60000);
        EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
        const std::string waiting = "Waiting up to 5 s for the handset to come back on " + Path("handset");
        const std::size_t first = r.strOut.find(waiting);
        EXPECT_NE(first, std::string::npos) << r.strOut;
        EXPECT_EQ(r.strOut.find(waiting, first + 1), std::string::npos) << "one line for the whole wait";
        const std::string at = std::string("@") + baud;
        EXPECT_EQ(Requests(), (std::vector<std::string>{"START_REQ@57600", "JUMP_REQ@57600", "START_REQ" + at,
                                                        "ERASE_REQ" + at, "JUMP_REQ" + at}));
        EXPECT_EQ(FlashAt(StopSimAndReadFlash(), 0, image.size()), image);
    }
}

TEST_F(EndToEnd, AnImageReplacedDuringTheRunIsNotMixedIn)
{
    const Bytes image = BootImage(16 * 1024);
    const std::string path = WriteImage("image.bin", image);
    const std::string other = WriteImage("other.bin", BootImage(16 * 1024, 99));
    StartSim("download", "block:4 late 1000\n");
    CChildProcess cli(CliArgs({path, "--type", "CHANGE(EMERGENCY)"}));
    ASSERT_TRUE(cli.ReadLineWith("\"block\":5,", 30000).has_value());
    std::filesystem::rename(other, path);
    const auto r = cli.Finish(60000);
    EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
    EXPECT_EQ(FlashAt(StopSimAndReadFlash(), 0, image.size()), image) << "every block comes from the file that was loaded";
}

class StopByInterrupt : public EndToEnd {
protected:
    // A FONT run of 80 blocks whose handset answers one block late, so that Ctrl+C (or the
    // signal given) lands while `heldAt` blocks have been sent.
    ChildResult InterruptAt(int heldAt, int signal = SIGINT)
    {
        const std::string path = WriteImage("font.bin", FontImage(80 * 1024));
        StartSim("download", "block:" + std::to_string(heldAt - 1) + " late 2000\n");
        CChildProcess cli(CliArgs({path, "--type", "FONT(EMRGENCY)", "--font-address", "0"}));
        EXPECT_TRUE(cli.ReadLineWith("\"block\":" + std::to_string(heldAt) + ",", 30000).has_value());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cli.Signal(signal);
        return cli.Finish(60000);
    }
};

TEST_F(StopByInterrupt, RefusedAtBlock64AndTheRunGoesOn)
{
    const auto r = InterruptAt(64);
    EXPECT_NE(r.strOut.find("can't stop downloading"), std::string::npos) << r.strOut;
    EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
}

// A closed terminal (SIGHUP) stops the run as Ctrl+C does.
TEST_F(StopByInterrupt, AcceptedAtBlock65)
{
    for (const int signal : {SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        const auto r = InterruptAt(65, signal);
        EXPECT_NE(r.strOut.find("Tidewell stopped!!"), std::string::npos) << r.strOut;
        EXPECT_NE(r.strOut.find(R"({"event":"end","result":"stopped","exit_code":130})"), std::string::npos) << r.strOut;
        EXPECT_EQ(r.nExitCode, 130);
        m_pSim.reset();
    }
}

}  // namespace
}  // namespace kestrel::test
