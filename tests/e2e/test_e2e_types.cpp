// One download of every download type, from kestrel-cli into the simulated handset.

#include "e2e_fixture.h"

#include <chrono>
#include <cstdlib>

#include "protocol/time_left.h"

namespace kestrel::test {
namespace {

struct TypeCase {
    const char* name;
    const char* askedType;
    bool bootImage;
    const char* runsAs;         // the type in effect after the image was loaded
    bool adapted;               // loading the image changed the type
    bool modeSwitch;            // reached through the AT command
    const char* fontAddress;    // nullptr: not a FONT type
    uint32_t address;           // where the image lands in the flash
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }

class EveryType : public EndToEnd, public testing::WithParamInterface<TypeCase> {};

TEST_P(EveryType, ImageArrivesWhole)
{
    const TypeCase& c = GetParam();
    const Bytes image = c.bootImage ? BootImage(10 * 1024 + 321) : FontImage(6 * 1024 + 5);
    const std::string path = WriteImage("image.bin", image);
    StartSim(c.modeSwitch ? "normal" : "download");

    std::vector<std::string> args = {path, "--type", c.askedType};
    if (c.fontAddress) args.insert(args.end(), {"--font-address", c.fontAddress});
    const auto r = Flash(args);
    EXPECT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find(R"({"event":"end","result":"completed","exit_code":0})"), std::string::npos) << r.strOut;
    EXPECT_EQ(r.strOut.find(std::string("The image runs as ") + c.runsAs) != std::string::npos, c.adapted) << r.strOut;
    EXPECT_EQ(r.strOut.find("- Normal Download") != std::string::npos, c.modeSwitch) << r.strOut;

    const Bytes flash = StopSimAndReadFlash();
    EXPECT_EQ(FlashAt(flash, c.address, image.size()), image) << "the handset does not hold the image";
    EXPECT_EQ(CountTranscript(R"("unit":"at-command")"), c.modeSwitch ? 1 : 0);

    // START at 57600, the jump, and only then the download speed.
    const std::vector<std::string> requests = Requests();
    const std::vector<std::string> expected = {"START_REQ@57600", "JUMP_REQ@57600", "START_REQ@115200",
                                               "ERASE_REQ@115200", "JUMP_REQ@115200"};
    std::vector<std::string> withoutAt;
    for (const auto& q : requests)
        if (q.rfind("at-command", 0) != 0) withoutAt.push_back(q);
    EXPECT_EQ(withoutAt, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Types, EveryType,
    testing::Values(TypeCase{"NORMAL", "NORMAL", true, "CHANGE(EMERGENCY)", true, false, nullptr, 0},
                    TypeCase{"EMERGENCY", "EMERGENCY", false, "FONT(EMRGENCY)", true, false, nullptr, 0xE00000},
                    TypeCase{"FONT_NORMAL", "FONT(NORMAL)", false, "FONT(NORMAL)", false, true, "0x10000", 0x10000},
                    TypeCase{"FONT_EMERGENCY", "3", false, "FONT(EMRGENCY)", false, false, "20000", 0x20000},
                    TypeCase{"CHANGE_NORMAL", "CHANGE(NORMAL)", true, "CHANGE(NORMAL)", false, true, nullptr, 0},
                    TypeCase{"CHANGE_EMERGENCY", "5", true, "CHANGE(EMERGENCY)", false, false, nullptr, 0}),
    [](const testing::TestParamInfo<TypeCase>& param) { return std::string(param.param.name); });

TEST_F(EndToEnd, CompareWritesTheDifferingRangesAndKeepsABackup)
{
    const std::size_t block = 0x20000;
    const Bytes oldImage = BootImage(4 * block + 1000);
    Bytes newImage = oldImage;
    newImage[1 * block + 17] ^= 0x5A;
    newImage[3 * block + 999] ^= 0x5A;
    newImage[4 * block + 10] ^= 0x5A;
    const std::string oldPath = WriteImage("old.bin", oldImage);
    const std::string newPath = WriteImage("new.bin", newImage);
    StartSim("download");

    // The handset first holds the old image, then is put back into download mode.
    ASSERT_EQ(Flash({oldPath, "--type", "CHANGE(EMERGENCY)"}).nExitCode, 0);
    CChildProcess todm({KESTREL_CLI_BIN, "--port", m_strSlave, "todm"});
    ASSERT_EQ(todm.Finish(10000).nExitCode, 0);

    const auto r = Flash({newPath, "--type", "COMPARE(EMERGENCY)", "--old", oldPath}, 120000);
    ASSERT_EQ(r.nExitCode, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("Different Start Block Index is 1 &&& Count is 1"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("Different Start Block Index is 3 &&& Count is 2"), std::string::npos) << r.strOut;

    const Bytes flash = StopSimAndReadFlash();
    EXPECT_EQ(FlashAt(flash, 0, newImage.size()), newImage);
    const Bytes backup = ReadFile(Path("new.AC15__14_22_05.bin"));
    EXPECT_EQ(backup, newImage);

    // Each range: START, ERASE and its blocks; one final JUMP.
    int erases = 0;
    for (const auto& q : Requests()) erases += q.rfind("ERASE_REQ", 0) == 0;
    EXPECT_EQ(erases, 1 + 2);  // the old image's erase and the two ranges
}


TEST_F(EndToEnd, TheTimeLeftComesAfterAFewBlocksAndMeetsTheEnd)
{
    // A line paced at its speed: the time left must meet the moment the last block goes.
    for (const char* baud : {"57600", "115200"}) {
        SCOPED_TRACE(baud);
        const Bytes image = FontImage(48 * 1024);
        const std::string path = WriteImage("image.bin", image);
        CChildProcess sim({KESTREL_SIM_BIN, "--mode", "download", "--pace", "--idle-exit", "60"});
        const auto slave = sim.ReadLine(5000);
        ASSERT_TRUE(slave.has_value());
        CChildProcess cli({KESTREL_CLI_BIN, "--port", *slave, "--baud", baud, "--json", "flash", path, "--type",
                           "FONT(EMRGENCY)", "--font-address", "0"});
        using Clock = std::chrono::steady_clock;
        std::vector<std::pair<Clock::time_point, std::string>> progress;
        while (auto line = cli.ReadLine(60000)) {
            if (line->find(R"("event":"progress")") != std::string::npos) progress.emplace_back(Clock::now(), *line);
            if (line->find(R"("event":"end")") != std::string::npos) break;
        }
        ASSERT_EQ(progress.size(), std::size_t{48});
        for (std::size_t i = 0; i + 1 < CTimeLeft::kMinBlocks; ++i)
            EXPECT_EQ(progress[i].second.find("eta_seconds"), std::string::npos) << progress[i].second;
        // Halfway, the figure is the rest of the write to within the rounding and a second of slack.
        const auto& [at, half] = progress[24];
        const std::size_t key = half.find(R"("eta_seconds":)");
        ASSERT_NE(key, std::string::npos) << half;
        const int eta = std::atoi(half.c_str() + key + 14);
        const double rest = std::chrono::duration<double>(progress.back().first - at).count();
        EXPECT_NEAR(eta, rest, 2.0) << half;
        EXPECT_EQ(cli.Finish(30000).nExitCode, 0);
        sim.Signal(SIGTERM);
        sim.Wait(10000);
    }
}

}  // namespace
}  // namespace kestrel::test
