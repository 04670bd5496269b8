// One download of every download type, from kestrel-cli into the simulated handset.

#include "e2e_fixture.h"

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

}  // namespace
}  // namespace kestrel::test
