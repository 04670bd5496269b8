#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "cli_output.h"
#include "commands.h"
#include "protocol/exit_codes.h"
#include "image/image_file.h"
#include "test_files.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::CTempDir;
using test::Put;

struct CommandResult {
    int nExit;
    std::string strOut;
    std::string strErr;
};

std::string Drain(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

CommandResult RunCommand(int (*command)(CCliOutput&, const CliArgs&), const CliArgs& args, bool bJson)
{
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    CCliOutput output(out, err, bJson);
    const int nExit = command(output, args);
    return {nExit, Drain(out), Drain(err)};
}

class ImageCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Bytes boot(0x50000, 0xFF);
        Put(boot, kBuildDateOffset, "Mar 15 200714:22:05");
        Put(boot, kVersionDigitsOffset, "123");
        Put(boot, kBootMarkerOffset, "BOOT");
        m_strNew = m_dir.Write("new.bin", boot);
        boot[0x20000 + 9] = 0;
        m_strOld = m_dir.Write("old.bin", boot);
        m_strFont = m_dir.Write("font.bin", Bytes(3000, 0));
        m_strFifo = m_dir.Path("fifo.bin");
        ASSERT_EQ(mkfifo(m_strFifo.c_str(), 0600), 0);
    }

    CTempDir m_dir;
    std::string m_strNew;
    std::string m_strOld;
    std::string m_strFont;
    std::string m_strFifo;
};

TEST_F(ImageCommandsTest, InfoGivesTheFixedKeys)
{
    const auto boot = RunCommand(RunInfoCommand, {m_strNew}, true);
    EXPECT_EQ(boot.nExit, kExitOk);
    EXPECT_EQ(boot.strOut, "{\"event\":\"info\",\"path\":\"" + m_strNew +
                               "\",\"size\":327680,\"version\":123,\"build_date_code\":\"AC15 [14:22:05]\","
                               "\"version_text\":\"123.AC15 [14:22:05]\",\"boot\":true}\n");
    const auto font = RunCommand(RunInfoCommand, {m_strFont}, false);
    EXPECT_EQ(font.nExit, kExitOk);
    EXPECT_NE(font.strOut.find("Version: 0.\n"), std::string::npos);
    EXPECT_NE(font.strOut.find("font image"), std::string::npos);
}

TEST_F(ImageCommandsTest, CompareLogsThenGivesTheRuns)
{
    const auto differ = RunCommand(RunCompareCommand, {m_strNew, m_strOld}, true);
    EXPECT_EQ(differ.nExit, kExitOk);
    EXPECT_EQ(differ.strOut,
              "{\"event\":\"log\",\"kind\":2,\"colour\":\"blue\",\"text\":\"Different Start Block Index is 1 &&& Count is 1\"}\n"
              "{\"event\":\"log\",\"kind\":2,\"colour\":\"blue\",\"text\":\"다운로드 반복 횟수 1\"}\n"
              "{\"event\":\"log\",\"kind\":2,\"colour\":\"blue\",\"text\":\"Total Different Download Blocks: 1\"}\n"
              "{\"event\":\"log\",\"kind\":3,\"colour\":\"red\",\"text\":\"Compare Complete\"}\n"
              "{\"event\":\"compare\",\"runs\":[[1,1]],\"run_count\":1,\"total_blocks\":1,\"same\":false}\n");
    const auto text = RunCommand(RunCompareCommand, {m_strNew, m_strOld}, false);
    EXPECT_NE(text.strOut.find("start block 1, 1 block(s): offset 0x00020000, 0x20000 bytes"), std::string::npos);
    const auto same = RunCommand(RunCompareCommand, {m_strNew, m_strNew}, true);
    EXPECT_EQ(same.nExit, kExitOk);
    EXPECT_NE(same.strOut.find("{\"event\":\"compare\",\"runs\":[],\"run_count\":0,\"total_blocks\":0,\"same\":true}"),
              std::string::npos);
}

TEST_F(ImageCommandsTest, FileAndUsageErrors)
{
    const std::string missing = m_dir.Path("missing.bin");
    struct Case {
        int (*command)(CCliOutput&, const CliArgs&);
        CliArgs args;
        int nExit;
        std::string strErr;
    };
    const Case cases[] = {
        {RunInfoCommand, {missing}, kExitFileError, "다음 파일을 열 수 없습니다. " + missing + "\n"},
        {RunInfoCommand, {m_dir.Folder()}, kExitFileError, "다음 파일을 열 수 없습니다. " + m_dir.Folder() + " (a folder, not a file)\n"},
        {RunInfoCommand, {m_strFifo}, kExitFileError, "다음 파일을 열 수 없습니다. " + m_strFifo + " (a FIFO, not a file)\n"},
        {RunInfoCommand, {}, kExitUsage, "usage: kestrel-cli info IMAGE\n"},
        {RunCompareCommand, {m_strNew, missing}, kExitFileError, "다음 파일을 열 수 없습니다. " + missing + "\n"},
        {RunCompareCommand, {missing, m_strOld}, kExitFileError, "다음 파일을 열 수 없습니다. " + missing + "\n"},
        {RunCompareCommand, {m_strNew}, kExitUsage, "usage: kestrel-cli compare NEW OLD\n"},
    };
    for (const auto& c : cases) {
        const auto result = RunCommand(c.command, c.args, true);
        EXPECT_EQ(result.nExit, c.nExit);
        EXPECT_EQ(result.strErr, c.strErr);
        EXPECT_EQ(result.strOut, "");
    }
}

}  // namespace
}  // namespace kestrel
