#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "services/settings_store.h"

extern char** environ;

namespace kestrel {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_config.isValid());
        ::setenv("XDG_CONFIG_HOME", m_config.path().toUtf8().constData(), 1);
        m_strFile = m_config.path().toStdString() + "/NORVALE/TIDEWELL.ini";
    }

    void WriteFile(const std::string& content) const
    {
        std::filesystem::create_directories(std::filesystem::path(m_strFile).parent_path());
        std::ofstream(m_strFile, std::ios::binary | std::ios::trunc) << content;
    }

    std::string FileContent() const
    {
        std::ifstream in(m_strFile, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    QTemporaryDir m_config;
    std::string m_strFile;
};

TEST_F(SettingsStoreTest, TextsAreStoredInTheUserStore)
{
    EXPECT_EQ(SettingsFilePath(), m_strFile);
    EXPECT_EQ(ReadText(kSettingBinPath), "");
    ASSERT_TRUE(WriteText(kSettingBinPath, "/home/u/펌웨어 1,2/"));
    ASSERT_TRUE(WriteNumber(kSettingPort, 12));
    ASSERT_TRUE(WriteNumber(kSettingBaud, -3));
    EXPECT_EQ(ReadText(kSettingBinPath), "/home/u/펌웨어 1,2/");
    EXPECT_EQ(ReadText(kSettingPort), "12");  // numbers are their decimal text
    EXPECT_EQ(ReadText(kSettingBaud), "-3");
    EXPECT_NE(FileContent().find("PORT=12"), std::string::npos);

    // Written by replacing the file as a whole, never in place.
    struct stat before {};
    struct stat after {};
    ASSERT_EQ(::stat(m_strFile.c_str(), &before), 0);
    ASSERT_TRUE(WriteText("COM3", "/dev/ttyACM0"));
    ASSERT_EQ(::stat(m_strFile.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadText("COM3"), "/dev/ttyACM0");
}

TEST_F(SettingsStoreTest, NumbersReadAsAtolReadsThem)
{
    struct Case {
        const char* stored;  // nullptr: absent
        int32_t nValue;
    };
    const Case cases[] = {
        {nullptr, 7},  {"", 7},         {"12", 12},           {"abc", 0},         {" 42x", 42},
        {"\t8", 8},    {"-3", -3},      {"+5", 5},            {"0x10", 0},        {"3.9", 3},
        {"300", 300},  {"0", 0},        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"- 1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "absent");
        std::filesystem::remove(m_strFile);
        if (c.stored) {
            ASSERT_TRUE(WriteText(kSettingBaud, c.stored));
        }
        EXPECT_EQ(ReadNumber(kSettingBaud, 7), c.nValue);
    }
    // A port number the program cannot use reads as it is stored; the caller leaves it unused.
    ASSERT_TRUE(WriteNumber(kSettingPort, 300));
    EXPECT_EQ(ReadNumber(kSettingPort, 1), 300);
    EXPECT_FALSE(IsUsablePortNumber(300));
    EXPECT_FALSE(IsUsablePortNumber(0));
    EXPECT_TRUE(IsUsablePortNumber(255));
}

TEST_F(SettingsStoreTest, TextsOf128CharactersAreRefused)
{
    const std::string ascii127(127, 'a');
    std::string korean127;
    for (int i = 0; i < 127; ++i) korean127 += "한";
    ASSERT_TRUE(WriteText(kSettingBinPath, "/keep/"));
    EXPECT_FALSE(WriteText(kSettingBinPath, ascii127 + "b"));
    EXPECT_FALSE(WriteText(kSettingBinPath, korean127 + "한"));
    EXPECT_EQ(ReadText(kSettingBinPath), "/keep/");
    EXPECT_TRUE(WriteText(kSettingBinPath, ascii127));
    EXPECT_EQ(ReadText(kSettingBinPath), ascii127);
    EXPECT_TRUE(WriteText(kSettingBinPath2, korean127));
    EXPECT_EQ(ReadText(kSettingBinPath2), korean127);

    // A longer value put into the file by hand is read up to its 127th character.
    WriteFile("[General]\nBIN_PATH=" + std::string(200, 'x') + "\nBIN_PATH2=" + korean127 + "한한\n");
    EXPECT_EQ(ReadText(kSettingBinPath), std::string(127, 'x'));
    EXPECT_EQ(ReadText(kSettingBinPath2), korean127);
}

TEST_F(SettingsStoreTest, EditsByHandAreSeenAtOnce)
{
    ASSERT_TRUE(WriteNumber(kSettingDloadType, 1));
    EXPECT_EQ(ReadNumber(kSettingDloadType, 0), 1);
    WriteFile("[General]\nDLOAD_TYPE=5\nCOM3=/dev/serial/by-id/usb-a,b\n");
    EXPECT_EQ(ReadNumber(kSettingDloadType, 0), 5);
    EXPECT_EQ(ReadText("COM3"), "/dev/serial/by-id/usb-a,b");
}

TEST_F(SettingsStoreTest, AStoreThatCannotBeReadHasNoValues)
{
    struct Case {
        const char* name;
        std::string content;
    };
    const Case cases[] = {
        {"binary garbage", std::string("\x00\xff\xfe\x01[[[\n=\x80\n[General\nPORT=4\n", 27)},
        {"unterminated section", "[General\nPORT=4\n"},
    };
    EXPECT_EQ(SettingsFileProblem(), "");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(c.content);
        EXPECT_EQ(SettingsFileProblem(), "The settings file " + m_strFile +
                                             " cannot be read as settings: the defaults are in use, and the file is left as it is.");
        EXPECT_EQ(ReadText(kSettingPort), "");
        EXPECT_EQ(ReadNumber(kSettingPort, 1), 1);
        // Nothing is written over a file that may still hold someone's values.
        EXPECT_FALSE(WriteNumber(kSettingPort, 3));
        EXPECT_EQ(FileContent(), c.content);
    }

    std::filesystem::remove(m_strFile);
    std::filesystem::create_directories(m_strFile);  // a folder where the file belongs
    EXPECT_EQ(ReadNumber(kSettingPort, 1), 1);
    EXPECT_FALSE(WriteNumber(kSettingPort, 3));
    EXPECT_TRUE(std::filesystem::is_directory(m_strFile));
    EXPECT_NE(SettingsFileProblem(), "");
}

// A store in a file and folder the user may not change is still read, before and after a
// write that failed. File modes do not stop root, so as root the reads and writes run in a
// child that has become nobody.
TEST_F(SettingsStoreTest, AStoreThatCannotBeWrittenIsStillRead)
{
    WriteFile("[General]\nPORT=3\nDLOAD_TYPE=5\n");
    const std::string folder = std::filesystem::path(m_strFile).parent_path();
    ASSERT_EQ(::chmod(m_strFile.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(m_config.path().toUtf8().constData(), 0755), 0);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        const std::string seen = std::to_string(ReadNumber(kSettingPort, 1)) + " " +
                                 (WriteNumber(kSettingBaud, 0) ? "written" : "refused") + " " +
                                 std::to_string(ReadNumber(kSettingPort, 1)) + " " +
                                 std::to_string(ReadNumber(kSettingDloadType, 0));
        const bool bSent = ::write(fds[1], seen.data(), seen.size()) == static_cast<ssize_t>(seen.size());
        ::_exit(bSent ? 0 : 4);
    }
    ::close(fds[1]);
    char buf[128] = {};
    const ssize_t n = ::read(fds[0], buf, sizeof buf - 1);
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "3 refused 3 5");
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(FileContent(), "[General]\nPORT=3\nDLOAD_TYPE=5\n");
}

TEST_F(SettingsStoreTest, XdgConfigHomeMovesTheStore)
{
    ASSERT_TRUE(WriteNumber(kSettingPort, 4));
    QTemporaryDir other;
    ::setenv("XDG_CONFIG_HOME", other.path().toUtf8().constData(), 1);
    EXPECT_EQ(ReadNumber(kSettingPort, 1), 1);
    ASSERT_TRUE(WriteNumber(kSettingPort, 9));
    EXPECT_TRUE(std::filesystem::exists(other.path().toStdString() + "/NORVALE/TIDEWELL.ini"));
    ::setenv("XDG_CONFIG_HOME", m_config.path().toUtf8().constData(), 1);
    EXPECT_EQ(ReadNumber(kSettingPort, 1), 4);
    EXPECT_EQ(SettingsFileProblem(), "");
}

TEST_F(SettingsStoreTest, TwoInstancesWritingAtOnceLoseNothing)
{
    ASSERT_TRUE(WriteText(kSettingBinPath, "/keep/"));
    constexpr int kCount = 40;
    const std::string count = std::to_string(kCount);
    pid_t pids[2] = {};
    const char* prefixes[2] = {"A", "B"};
    for (int i = 0; i < 2; ++i) {
        char* argv[] = {const_cast<char*>(KESTREL_SETTINGS_WRITER), const_cast<char*>(prefixes[i]), const_cast<char*>(count.c_str()),
                        nullptr};
        ASSERT_EQ(::posix_spawn(&pids[i], KESTREL_SETTINGS_WRITER, nullptr, nullptr, argv, environ), 0);
    }
    for (const pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(ReadNumber("A" + std::to_string(i), -1), i);
        EXPECT_EQ(ReadNumber("B" + std::to_string(i), -1), i);
    }
    EXPECT_EQ(ReadText(kSettingBinPath), "/keep/");
}

}  // namespace
}  // namespace kestrel
