#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>

#include "image/image_backup.h"
#include "image/image_path.h"
#include "test_files.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::CTempDir;
using test::Pattern;
using test::ReadAll;

TEST(BackupFileName, FromPathAndBuildDateCode)
{
    struct Case {
        std::string_view path;
        std::string_view code;
        std::string_view backup;
    };
    const Case cases[] = {
        {"/fw/PHONE.bin", "AC15 [14:22:05]", "/fw/PHONE.AC15__14_22_05.bin"},
        {"/fw/PHONE.BIN", "BA 5 [09:03:01]", "/fw/PHONE.BA_5__09_03_01.bin"},
        {"/fw/PHONE.bin", "0000 [00:00:00]", "/fw/PHONE.0000__00_00_00.bin"},
        {"/fw/PHONE.bin", "", "/fw/PHONE..bin"},
        {"/my fw/PHONE 2.bin", "AC15 [14:22:05]", "/my fw/PHONE 2.AC15__14_22_05.bin"},  // blanks of the path stay
        {"PHONE.bin", "AC15 [14:22:05]", "PHONE.AC15__14_22_05.bin"},
        {"/fw.v2/PHONE", "AC15 [14:22:05]", "/fw.v2/PHONE.AC15__14_22_05.bin"},
        // Codes made of bytes from the image.
        {"/fw/PHONE.bin", "AC/../../etc/x", "/fw/PHONE.AC_.._.._etc_x.bin"},
        {"/fw/PHONE.bin", "AB\\1 [\n\t:\x7f]", "/fw/PHONE.AB_1______.bin"},
        {"/fw/PHONE.bin", "AB?? [??:?*:\"|]", "/fw/PHONE.AB____________.bin"},
        {"/fw/PHONE.bin", "AC\xc3\xa9\xff [00:00:00]", "/fw/PHONE.AC_____00_00_00.bin"},
        {"/fw/PHONE.bin", "..", "/fw/PHONE....bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.code));
        const std::string backup = BackupFileName(c.path, c.code);
        EXPECT_EQ(backup, c.backup);
        EXPECT_EQ(FolderOf(backup), FolderOf(c.path));
    }
}

TEST(ImagePath, ExtensionAndFolder)
{
    struct Case {
        std::string_view path;
        bool bImage;
        std::string_view folder;
    };
    const Case cases[] = {
        {"/home/u/fw/PHONE.bin", true, "/home/u/fw/"},
        {"/home/u/fw/PHONE.BIN", true, "/home/u/fw/"},
        {"/home/u/fw/PHONE.bIn", true, "/home/u/fw/"},
        {"/home/u/fw/PHONE.bin2", false, "/home/u/fw/"},
        {"/home/u/fw/PHONE.txt", false, "/home/u/fw/"},
        {"/home/u/fw/PHONE", false, "/home/u/fw/"},
        {"/home/u/fw.bin/PHONE", false, "/home/u/fw.bin/"},
        {"/home/u/a.b/PHONE.old.bin", true, "/home/u/a.b/"},
        {"/PHONE.bin", true, "/"},
        {"PHONE.bin", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path));
        EXPECT_EQ(HasImageExtension(c.path), c.bImage);
        EXPECT_EQ(FolderOf(c.path), c.folder);
    }
}

class CopyImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strSource = m_dir.Write("PHONE.bin", Pattern(2500));
        m_strBackup = m_dir.Path("PHONE.AC15__14_22_05.bin");
    }

    // Only the image and its backup: no temporary file is ever left behind.
    void ExpectNoStrayFiles() const
    {
        for (const auto& name : m_dir.Names()) EXPECT_TRUE(name == "PHONE.bin" || name == "PHONE.AC15__14_22_05.bin") << name;
    }

    CTempDir m_dir;
    std::string m_strSource;
    std::string m_strBackup;
};

TEST_F(CopyImageTest, ASecondBackupReplacesTheFirst)
{
    ASSERT_TRUE(CopyImageFile(m_strSource, m_strBackup));
    EXPECT_EQ(ReadAll(m_strBackup), Pattern(2500));
    const Bytes changed(1024 * 1024 + 1, 0x42);
    m_dir.Write("PHONE.bin", changed);
    ASSERT_TRUE(CopyImageFile(m_strSource, m_strBackup));
    EXPECT_EQ(ReadAll(m_strBackup), changed);
    m_dir.Write("PHONE.bin", {});
    ASSERT_TRUE(CopyImageFile(m_strSource, m_strBackup));
    EXPECT_EQ(std::filesystem::file_size(m_strBackup), 0u);
    ExpectNoStrayFiles();
}

TEST_F(CopyImageTest, AFailedCopyKeepsTheEarlierBackup)
{
    ASSERT_TRUE(CopyImageFile(m_strSource, m_strBackup));
    m_dir.Write("PHONE.bin", Bytes(300 * 1024, 0x42));

    EXPECT_FALSE(CopyImageFile(m_dir.Path("missing.bin"), m_strBackup));
    EXPECT_FALSE(CopyImageFile(m_dir.Folder(), m_strBackup));
    EXPECT_FALSE(CopyImageFile(m_strSource, m_dir.Path("no/such/folder.bin")));

    // A write that fails in the middle of the copy: the file size limit stops it at 100 KiB.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 100 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool bCopied = CopyImageFile(m_strSource, m_strBackup);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(bCopied);

    EXPECT_EQ(ReadAll(m_strBackup), Pattern(2500));
    ExpectNoStrayFiles();
}

TEST_F(CopyImageTest, AFailedCopySaysWhichStepFailedAndWhy)
{
    const std::string missing = m_dir.Path("missing.bin");
    const std::string nowhere = m_dir.Path("no/such/folder.bin");
    const struct {
        const char* name;
        std::string source, destination, reason;
    } cases[] = {
        {"missing source", missing, m_strBackup, "cannot read " + missing},
        {"source is a folder", m_dir.Folder(), m_strBackup, "cannot read " + m_dir.Folder() + ": a folder, not a file"},
        {"no such folder", m_strSource, nowhere, "cannot create a file in " + m_dir.Path("no/such/") + ": No such file or directory"},
        {"folder in the way", m_strSource, m_strBackup, "cannot rename "},
    };
    std::filesystem::create_directory(m_strBackup);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string reason;
        EXPECT_FALSE(CopyImageFile(c.source, c.destination, &reason));
        EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    }
    std::string reason;
    EXPECT_FALSE(CopyImageFile(m_strSource, m_strBackup, &reason));
    EXPECT_NE(reason.find(" to " + m_strBackup + ": Is a directory"), std::string::npos) << reason;
    ExpectNoStrayFiles();
}

TEST_F(CopyImageTest, AFolderInTheWayIsLeftAlone)
{
    std::filesystem::create_directory(m_strBackup);
    EXPECT_FALSE(CopyImageFile(m_strSource, m_strBackup));
    EXPECT_TRUE(std::filesystem::is_directory(m_strBackup));
    ExpectNoStrayFiles();
}

}  // namespace
}  // namespace kestrel
