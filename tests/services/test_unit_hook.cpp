// The after-unit command on real processes: how each way of ending is told, what it is given,
// what is kept of its output, and that its whole process group goes when it is ended.

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QTest>
#include <fstream>
#include <sstream>

#include "services/unit_hook.h"
#include "services/unit_hook_environment.h"
#include "tests/image/test_files.h"

namespace kestrel::test {
namespace {

class UnitHookTest : public testing::Test {
protected:
    // Runs the command and waits, through the event loop, for its end.
    SHookEnd Run(CUnitHookRunner& runner, const std::string& command, const HookEnvironment& environment = {})
    {
        std::optional<SHookEnd> optEnd;
        runner.Start(command, environment, [&](const SHookEnd& end) { optEnd = end; });
        EXPECT_FALSE(optEnd.has_value()) << "told from within Start";
        EXPECT_TRUE(QTest::qWaitFor([&] { return optEnd.has_value(); }, 20000)) << command;
        return optEnd.value_or(SHookEnd{});
    }

    static bool Gone(pid_t pid)
    {
        if (::kill(pid, 0) != 0) return true;
        // An orphan nobody has reaped yet is dead too.
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string strLine;
        std::getline(stat, strLine);
        const std::size_t nParen = strLine.rfind(')');
        return nParen != std::string::npos && strLine.compare(nParen + 2, 1, "Z") == 0;
    }

    int m_argc = 1;
    char m_name[5] = "test";
    char* m_argv[2] = {m_name, nullptr};
    QCoreApplication m_app{m_argc, m_argv};
    CTempDir m_dir;
};

TEST_F(UnitHookTest, EachWayOfEndingIsToldAsTheJournalKeepsIt)
{
    struct Case {
        const char* command;
        const char* status;
        const char* output;
        bool succeeded;
    } cases[] = {
        {"echo printed", "exit 0", "printed\n", true},
        {"echo failed >&2; exit 3", "exit 3", "failed\n", false},
        {"kill -TERM $$", "signal 15", "", false},
        {"read line; echo \"[$line]\"", "exit 0", "[]\n", true},  // nothing to read: it never waits on the terminal
        {"printf '%s|%s' \"$KESTREL_PORT\" \"$KESTREL_EMPTY\"", "exit 0", "COM3|", true},
        {"sleep 30", "timed out", "", false},
    };
    CUnitHookRunner runner(500);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const SHookEnd end = Run(runner, c.command, {{"KESTREL_PORT", "COM3"}, {"KESTREL_EMPTY", ""}});
        EXPECT_EQ(end.strStatus, c.status);
        EXPECT_EQ(end.strOutput, c.output);
        EXPECT_EQ(end.Succeeded(), c.succeeded);
        EXPECT_EQ(end.LogLine(), "After-unit command: " + std::string(c.status) + ".");
    }
    EXPECT_EQ(runner.Running(), 0);
}

TEST_F(UnitHookTest, WhatTheCommandStartedGoesWithItWhenItIsEnded)
{
    const std::string pidFile = m_dir.Path("pid");
    const std::string command = "sleep 60 & echo $! > " + pidFile + "; wait";
    CUnitHookRunner timingOut(500);
    EXPECT_EQ(Run(timingOut, command).strStatus, "timed out");
    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Gone(pid); }, 5000)) << "the command's child outlived it";

    // Stopped at a window's close: told at once, before StopAll returns.
    std::filesystem::remove(pidFile);
    CUnitHookRunner runner;
    std::optional<SHookEnd> optEnd;
    runner.Start(command, {}, [&](const SHookEnd& end) { optEnd = end; });
    ASSERT_TRUE(QTest::qWaitFor([&] {
        std::error_code error;
        return std::filesystem::file_size(pidFile, error) > 0 && !error;
    }, 5000));
    std::ifstream(pidFile) >> pid;
    runner.StopAll();
    ASSERT_TRUE(optEnd.has_value());
    EXPECT_EQ(optEnd->strStatus, "stopped");
    EXPECT_EQ(runner.Running(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Gone(pid); }, 5000));
}

TEST_F(UnitHookTest, OnlyTheEndOfALongOutputIsKeptFromALineStart)
{
    CUnitHookRunner runner;
    const SHookEnd end = Run(runner, "i=0; while [ $i -lt 2000 ]; do echo \"line $i\"; i=$((i+1)); done");
    EXPECT_EQ(end.strStatus, "exit 0");
    EXPECT_LE(end.strOutput.size(), static_cast<std::size_t>(kUnitHookOutputBytes));
    EXPECT_GT(end.strOutput.size(), static_cast<std::size_t>(kUnitHookOutputBytes) / 2);
    EXPECT_TRUE(end.strOutput.ends_with("line 1999\n"));
    std::istringstream lines(end.strOutput);
    for (std::string strLine; std::getline(lines, strLine);) EXPECT_TRUE(strLine.starts_with("line ")) << strLine;
}

TEST_F(UnitHookTest, SeveralRunAtOnce)
{
    CUnitHookRunner runner;
    const std::string fifo = m_dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> statuses;
    // The first waits for the second, which could never come if they ran one after another.
    runner.Start("read line < " + fifo + "; echo \"$line\"", {}, [&](const SHookEnd& end) { statuses.push_back(end.strOutput); });
    runner.Start("echo second > " + fifo, {}, [&](const SHookEnd& end) { statuses.push_back("writer " + end.strStatus); });
    EXPECT_EQ(runner.Running(), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return statuses.size() == 2; }, 10000));
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "second\n"), statuses.end());
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "writer exit 0"), statuses.end());
}

TEST(UnitHookEnvironment, EveryVariableComesFromTheUnitsRow)
{
    using enum JournalField;
    CJournalRow full;
    full.Set(Id, int64_t{42});
    full.Set(Slot, std::string("/dev/serial/by-path/hub-1"));
    full.Set(Device, std::string("/dev/ttyACM3"));
    full.Set(Outcome, std::string("handset-error"));
    full.Set(DurationMs, int64_t{12345});
    full.Set(Image, std::string("/srv/images/phone.bin"));
    full.Set(ImageSha256, std::string(64, 'a'));
    full.Set(UsbSerial, std::string("SN0001"));
    CJournalRow waiting;  // not taken by the journal yet, from a COM port, no USB device
    waiting.Set(Device, std::string("/dev/ttyS0"));
    waiting.Set(Outcome, std::string("completed"));
    waiting.Set(DurationMs, int64_t{7});

    struct Case {
        const char* name;
        const CJournalRow& row;
        std::string port;
        int exitCode;
        HookEnvironment expected;
    } cases[] = {
        {"full row", full, "bench 1", 5,
         {{"KESTREL_PORT", "bench 1"}, {"KESTREL_SLOT", "/dev/serial/by-path/hub-1"}, {"KESTREL_DEVICE", "/dev/ttyACM3"},
          {"KESTREL_OUTCOME", "handset-error"}, {"KESTREL_EXIT_CODE", "5"}, {"KESTREL_SECONDS", "12.345"},
          {"KESTREL_IMAGE", "/srv/images/phone.bin"}, {"KESTREL_IMAGE_SHA256", std::string(64, 'a')},
          {"KESTREL_USB_SERIAL", "SN0001"}, {"KESTREL_RUN_ID", "42"}}},
        {"row still waiting", waiting, "COM1", 0,
         {{"KESTREL_PORT", "COM1"}, {"KESTREL_SLOT", ""}, {"KESTREL_DEVICE", "/dev/ttyS0"}, {"KESTREL_OUTCOME", "completed"},
          {"KESTREL_EXIT_CODE", "0"}, {"KESTREL_SECONDS", "0.007"}, {"KESTREL_IMAGE", ""}, {"KESTREL_IMAGE_SHA256", ""},
          {"KESTREL_USB_SERIAL", ""}, {"KESTREL_RUN_ID", ""}}},
        {"no row at all", CJournalRow{}, "COM2", 130,
         {{"KESTREL_PORT", "COM2"}, {"KESTREL_SLOT", ""}, {"KESTREL_DEVICE", ""}, {"KESTREL_OUTCOME", ""},
          {"KESTREL_EXIT_CODE", "130"}, {"KESTREL_SECONDS", ""}, {"KESTREL_IMAGE", ""}, {"KESTREL_IMAGE_SHA256", ""},
          {"KESTREL_USB_SERIAL", ""}, {"KESTREL_RUN_ID", ""}}},
    };
    for (const Case& c : cases) EXPECT_EQ(UnitHookEnvironment(c.row, c.port, c.exitCode), c.expected) << c.name;
}

}  // namespace
}  // namespace kestrel::test
