// kestrel's own command line: help and version without a display, usage errors with exit 2.

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/child_process.h"

namespace kestrel {
namespace {

TEST(WindowCommandLine, HelpAndVersionNeedNoDisplayAndMistakesAreUsageErrors)
{
    // No display to connect to: the window could not open, so only an answer before it passes.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    struct Case {
        std::vector<std::string> args;
        const char* platform;
        int exitCode;
        const char* out;
        const char* err;
    } cases[] = {
        {{"--help"}, "xcb", 0, "-v, --version", ""},
        {{"-h"}, "xcb", 0, "Usage: ", ""},
        {{"--version"}, "xcb", 0, "kestrel " KESTREL_PROJECT_VERSION, ""},
        {{"--station", "--help"}, "xcb", 0, "--station", ""},
        {{"--station", "--version"}, "xcb", 0, "kestrel " KESTREL_PROJECT_VERSION, ""},
        {{"--bogus"}, "offscreen", 2, "", "kestrel: Unknown option 'bogus'.\nTry 'kestrel --help' for more information.\n"},
        {{"-style", "fusion", "PHONE.bin"}, "offscreen", 2, "", "kestrel: unexpected argument PHONE.bin\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        setenv("QT_QPA_PLATFORM", c.platform, 1);
        std::vector<std::string> argv = {KESTREL_WINDOW_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto r = test::CChildProcess(argv).Finish(10000);
        EXPECT_EQ(r.nExitCode, c.exitCode) << r.strErr;
        EXPECT_NE(r.strOut.find(c.out), std::string::npos) << r.strOut;
        EXPECT_NE(r.strErr.find(c.err), std::string::npos) << r.strErr;
    }
}

}  // namespace
}  // namespace kestrel
