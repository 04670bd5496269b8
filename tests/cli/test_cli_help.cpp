// kestrel-cli's help, version and usage errors as a newcomer meets them.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/child_process.h"

namespace kestrel {
namespace {

test::ChildResult RunCli(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {KESTREL_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::CChildProcess(argv).Finish(5000);
}

TEST(CliHelp, EveryLevelPrintsItsHelpOnStandardOutput)
{
    struct Case {
        std::vector<std::string> args;
        std::vector<const char*> says;
    } cases[] = {
        {{"--help"}, {"Usage: kestrel-cli [OPTIONS] COMMAND", "--port", "--baud", "--json", "station", "todm", "list the serial ports", "Exit codes"}},
        {{"-h"}, {"Usage: kestrel-cli [OPTIONS] COMMAND"}},
        {{"flash", "--help"}, {"Usage: kestrel-cli flash [OPTIONS] IMAGE", "--type NAME|0-6", "--font-address HEX", "--yes"}},
        {{"--port", "3", "station", "-h"}, {"Usage: kestrel-cli station [OPTIONS] IMAGE", "--count N"}},
        {{"info", "--help"}, {"Usage: kestrel-cli info [OPTIONS] IMAGE"}},
        {{"compare", "--help"}, {"Usage: kestrel-cli compare [OPTIONS] NEW OLD"}},
        {{"request", "--help"}, {"Usage: kestrel-cli request [OPTIONS] REQUEST", "erase START LENGTH"}},
        {{"todm", "--help"}, {"Usage: kestrel-cli todm"}},
        {{"ports", "--help"}, {"Usage: kestrel-cli ports", "--json"}},
        {{"history", "--help"}, {"Usage: kestrel-cli history [OPTIONS] [COMMAND]", "--limit N", "--port N|COMn|/dev/PATH",
                                  "--since DATE", "--outcome O", "--csv FILE", "show", "--json goes before or after"}},
        {{"history", "show", "-h"}, {"Usage: kestrel-cli history show [OPTIONS] ID"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto r = RunCli(c.args);
        EXPECT_EQ(r.nExitCode, 0);
        EXPECT_EQ(r.strErr, "");
        for (const char* text : c.says) EXPECT_NE(r.strOut.find(text), std::string::npos) << text << "\n" << r.strOut;
    }
}

TEST(CliHelp, VersionIsTheProjectVersion)
{
    const auto r = RunCli({"--version"});
    EXPECT_EQ(r.nExitCode, 0);
    EXPECT_EQ(r.strOut.rfind(std::string("kestrel-cli ") + KESTREL_PROJECT_VERSION, 0), 0u) << r.strOut;
    EXPECT_EQ(r.strOut.find('\n'), r.strOut.size() - 1) << r.strOut;
}

// A usage error is one line of reason on standard error, then where help is.
TEST(CliHelp, UsageErrorsGiveAReasonAndPointAtHelp)
{
    struct Case {
        std::vector<std::string> args;
        const char* reason;
        const char* hint;
    } cases[] = {
        {{}, "kestrel-cli: a command is missing", "Try 'kestrel-cli --help'"},
        {{"todm", "--bogus"}, "--bogus", "Try 'kestrel-cli todm --help'"},
        {{"flash"}, "IMAGE is required", "Try 'kestrel-cli flash --help'"},
        {{"flash", "x.bin", "--type", "9"}, "--type takes a type name", "Try 'kestrel-cli flash --help'"},
        {{"station", "x.bin", "--count", "0"}, "--count takes a number", "Try 'kestrel-cli station --help'"},
        {{"--port", "3", "--port", "4", "todm"}, "todm takes one port.", "Try 'kestrel-cli todm --help'"},
        {{"todm", "now"}, "now", "Try 'kestrel-cli todm --help'"},
        // An unset variable in a script is an empty word, never the default port or no file.
        {{"--port", "", "flash", "x.bin"}, "--port is empty", "Try 'kestrel-cli flash --help'"},
        {{"--port", " ", "--port", "3", "flash", "x.bin"}, "--port is empty", "Try 'kestrel-cli flash --help'"},
        {{"flash", ""}, "IMAGE is empty", "Try 'kestrel-cli flash --help'"},
        {{"flash", "x.bin", "--old", ""}, "--old is empty", "Try 'kestrel-cli flash --help'"},
        {{"flash", "x.bin", "--type", ""}, "--type takes a type name", "Try 'kestrel-cli flash --help'"},
        {{"history", "--since", "2026-12-10T99:99"}, "such as 2026-12-10,", "Try 'kestrel-cli history --help'"},
        {{"history", "--bogus"}, "--bogus", "Try 'kestrel-cli history --help'"},
        // Before the command --port is a port to open; history opens none.
        {{"--port", "3", "history"}, "history takes --port after its name", "Try 'kestrel-cli history --help'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto r = RunCli(c.args);
        EXPECT_EQ(r.nExitCode, 2);
        EXPECT_EQ(r.strOut, "");
        const std::size_t firstLineEnd = r.strErr.find('\n');
        ASSERT_NE(firstLineEnd, std::string::npos) << r.strErr;
        EXPECT_NE(r.strErr.substr(0, firstLineEnd).find(c.reason), std::string::npos) << r.strErr;
        EXPECT_EQ(r.strErr.substr(firstLineEnd + 1).rfind(c.hint, 0), 0u) << r.strErr;
    }
}

TEST(CliSettings, ASettingsFileThatCannotBeReadIsNamedOnceAndKept)
{
    char dir[] = "/tmp/kestrel-cli-settings-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string folder = std::string(dir) + "/NORVALE";
    const std::string file = folder + "/TIDEWELL.ini";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string content = "[General\nPORT=4\n";
    FILE* pFile = std::fopen(file.c_str(), "w");
    ASSERT_NE(pFile, nullptr);
    std::fputs(content.c_str(), pFile);
    std::fclose(pFile);
    setenv("XDG_CONFIG_HOME", dir, 1);

    const auto r = RunCli({"--port", "/dev/kestrel-absent", "request", "start"});
    EXPECT_EQ(r.nExitCode, 4);
    const std::string said = "The settings file " + file + " cannot be read as settings";
    const std::size_t at = r.strErr.find(said);
    EXPECT_NE(at, std::string::npos) << r.strErr;
    EXPECT_EQ(r.strErr.find(said, at + 1), std::string::npos) << r.strErr;
    char kept[64] = {};
    pFile = std::fopen(file.c_str(), "r");
    ASSERT_NE(pFile, nullptr);
    EXPECT_EQ(std::string(kept, std::fread(kept, 1, sizeof kept, pFile)), content);
    std::fclose(pFile);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kestrel
