// kestrel-cli history and the journal's files: it reads a journal its user may not write and
// leaves it as it was, calls a missing journal no runs yet, refuses what is not a journal,
// and never writes its CSV over the journal or leaves a partial file behind.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "tests/cli/history_child.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scoped_journal.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::ListedColumn;
using test::RunHistory;

class CliHistoryFiles : public testing::Test {
protected:
    std::string Journal() const { return JournalFilePath(); }
    fs::path Folder() const { return fs::path(Journal()).parent_path(); }
    // The names in the journal's folder and their bytes: what must stay as it is.
    std::vector<std::pair<std::string, std::string>> FolderContent() const
    {
        std::vector<std::pair<std::string, std::string>> content;
        for (const auto& entry : fs::directory_iterator(Folder()))
            content.emplace_back(entry.path().filename(), entry.is_regular_file() ? test::FileBytes(entry.path()) : "");
        std::sort(content.begin(), content.end());
        return content;
    }

    test::CScopedJournal m_journal;
};

// Root may write anything: the reader becomes nobody. Any other user is already one.
std::optional<std::vector<std::string>> AnotherUser()
{
    if (geteuid() != 0) return std::vector<std::string>{};
    if (access("/usr/bin/setpriv", X_OK) != 0) return std::nullopt;
    return std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
}

TEST_F(CliHistoryFiles, AJournalItsUserMayNotWriteIsReadAndLeftAsItWas)
{
    const auto optLauncher = AnotherUser();
    if (!optLauncher) GTEST_SKIP() << "running as root without setpriv, the reader could write anything";
    ASSERT_NO_FATAL_FAILURE(test::AddSampleRuns(m_journal));
    // The reader must reach the folder, which QTemporaryDir makes for its owner alone.
    fs::permissions(m_journal.Folder(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                            fs::perms::others_read | fs::perms::others_exec);
    const fs::perms readable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const fs::perms folderOpen = fs::perms::all;
    const fs::perms folderClosed = readable | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;

    struct Case {
        const char* pszWhat;
        fs::perms file;
        fs::perms folder;
        std::function<void()> before;
        std::vector<std::string> ids;
        std::vector<std::string> outcomes;
    } cases[] = {
        {"a journal of mode 0444 in a folder it may write", readable, folderOpen, [] {}, {"4", "3", "2", "1"},
         {"interrupted", "handset-error", "stopped", "completed"}},
        {"a folder it may not write", readable | fs::perms::owner_write, folderClosed, [] {}, {"4", "3", "2", "1"},
         {"interrupted", "handset-error", "stopped", "completed"}},
        // A writer killed in a run leaves its write-ahead log, its index and a running row.
        {"the files of a writer that died, in a folder it may not write", readable | fs::perms::owner_write, folderClosed,
         [] {
             test::CChildProcess writer({KESTREL_JOURNAL_RUNS, "--hold", "5"});
             ASSERT_EQ(writer.ReadLine(20000), std::optional<std::string>("started"));
         },
         {"5", "4", "3", "2", "1"}, {"interrupted", "interrupted", "handset-error", "stopped", "completed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_NO_FATAL_FAILURE(c.before());
        fs::permissions(Journal(), c.file);
        fs::permissions(Folder(), c.folder);
        const auto before = FolderContent();
        const auto r = RunHistory({}, *optLauncher);
        EXPECT_EQ(r.nExitCode, 0) << r.strErr;
        EXPECT_EQ(r.strErr, "");
        EXPECT_EQ(ListedColumn(r.strOut), c.ids) << r.strOut;
        EXPECT_EQ(ListedColumn(r.strOut, 7), c.outcomes) << r.strOut;
        EXPECT_EQ(FolderContent(), before);
        // As a writer leaves them; a writer that comes gives its files the journal's mode.
        fs::permissions(Folder(), folderClosed | fs::perms::owner_write);
        fs::permissions(Journal(), readable | fs::perms::owner_write);
    }
}

TEST_F(CliHistoryFiles, NoJournalYetIsAListingWithoutRuns)
{
    const auto r = RunHistory({});
    EXPECT_EQ(r.nExitCode, 0);
    EXPECT_EQ(r.strOut.find('\n'), r.strOut.size() - 1) << "the header line alone: " << r.strOut;
    EXPECT_EQ(r.strErr, "There is no journal yet at " + Journal() + ".\n");
    EXPECT_FALSE(fs::exists(m_journal.Folder() + "/NORVALE")) << "a reader makes no folder";
    EXPECT_EQ(RunHistory({"--json"}).strOut, "");
}

TEST_F(CliHistoryFiles, AFileThatIsNotAJournalIsAnErrorAndLeftAsItWas)
{
    const auto sql = [this](const char* pszSql) { return [this, pszSql] { test::RunSql(Journal(), pszSql); }; };
    struct Case {
        const char* pszWhat;
        std::function<void()> make;
        const char* pszReason;
    } cases[] = {
        {"text", [this] { std::ofstream(Journal()) << "runs: 4, all of them completed, and some more text"; },
         "file is not a database"},
        {"a database of another program", sql("PRAGMA application_id = 0; CREATE TABLE contacts(name TEXT);"),
         "it is a database of another program (application id 0)"},
        {"another program's application id", sql("PRAGMA application_id = 1234;"),
         "it is a database of another program (application id 1234)"},
        {"a newer schema", sql("PRAGMA user_version = 99;"), "it was written by a newer Kestrel (schema version 99)"},
        {"no runs table", sql("DROP TABLE runs;"), "it has no runs table"},
        {"a column missing", sql("ALTER TABLE runs DROP COLUMN image;"), "its runs table has no column image"},
        {"the owner column missing", sql("ALTER TABLE runs DROP COLUMN owner;"), "its runs table has no column owner"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        fs::remove_all(m_journal.Folder() + "/NORVALE");
        ASSERT_NO_FATAL_FAILURE(test::AddSampleRuns(m_journal));
        ASSERT_NO_FATAL_FAILURE(c.make());
        const auto before = FolderContent();
        const auto r = RunHistory({});
        EXPECT_EQ(r.nExitCode, 3);
        EXPECT_EQ(r.strOut, "");
        EXPECT_EQ(r.strErr, Journal() + " cannot be read as a journal: " + c.pszReason + "\n");
        EXPECT_EQ(FolderContent(), before) << "nothing is moved aside or written";
    }
}

TEST_F(CliHistoryFiles, TheCsvNeverGoesOverTheJournalOrItsFiles)
{
    ASSERT_NO_FATAL_FAILURE(test::AddSampleRuns(m_journal));
    const std::string strLinks = m_journal.Folder() + "/links";
    fs::create_directories(strLinks);
    fs::create_symlink(Journal(), strLinks + "/to-journal");
    fs::create_symlink(Journal() + "-wal", strLinks + "/to-wal-not-there");
    fs::create_symlink(Folder(), strLinks + "/to-folder");
    fs::create_hard_link(Journal(), strLinks + "/hard-link");
    const std::string strName = fs::path(Journal()).filename();

    const std::string targets[] = {
        Journal(),
        Journal() + "-wal",
        Journal() + "-shm",
        Journal() + "-journal",
        Folder().string() + "/./" + strName,
        Folder().string() + "//" + strName,
        Folder().string() + "/../TIDEWELL/" + strName,
        fs::relative(Journal(), fs::current_path()).string(),
        strLinks + "/to-journal",
        strLinks + "/to-wal-not-there",
        strLinks + "/to-folder/" + strName + "-shm",
        strLinks + "/hard-link",
    };
    const auto before = FolderContent();
    for (const std::string& strTarget : targets) {
        SCOPED_TRACE(strTarget);
        const auto r = RunHistory({"--csv", strTarget});
        EXPECT_EQ(r.nExitCode, 2);
        EXPECT_EQ(r.strOut, "");
        EXPECT_EQ(r.strErr.rfind("--csv " + strTarget + " is the journal or one of its files;", 0), 0u) << r.strErr;
        EXPECT_EQ(FolderContent(), before);
    }
}

TEST_F(CliHistoryFiles, ACsvThroughALinkReplacesTheFileItLeadsTo)
{
    ASSERT_NO_FATAL_FAILURE(test::AddSampleRuns(m_journal));
    const std::string strFile = m_journal.Folder() + "/runs.csv";
    const std::string strLink = m_journal.Folder() + "/latest.csv";
    std::ofstream(strFile) << "old runs";
    fs::create_symlink("runs.csv", strLink);
    const auto r = RunHistory({"--limit", "1", "--csv", strLink});
    EXPECT_EQ(r.nExitCode, 0) << r.strErr;
    EXPECT_TRUE(fs::is_symlink(strLink));
    EXPECT_EQ(test::FileBytes(strFile).rfind("id,started_at,", 0), 0u) << test::FileBytes(strFile);
}

// Standard error says which step failed; the file keeps its old text and nothing is left beside it.
TEST_F(CliHistoryFiles, ACsvThatCannotBeWrittenWholeLeavesTheOldFile)
{
    std::vector<CJournalRow> rows;
    for (int n = 0; n < 20; ++n) rows.push_back(test::SampleRow(test::kSampleRuns[n % 4]));
    ASSERT_NO_FATAL_FAILURE(m_journal.Add(rows));
    const std::string strCsv = m_journal.Folder() + "/runs.csv";
    std::ofstream(strCsv) << "old runs";
    const auto entries = [this] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_journal.Folder())) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto before = entries();
    // The CSV of 20 runs is larger than the 1 KiB the shell lets it write.
    test::CChildProcess cli({"/bin/bash", "-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" history --csv \"$1\"", KESTREL_CLI_PATH, strCsv});
    const auto r = cli.Finish(20000);
    EXPECT_EQ(r.nExitCode, 3);
    EXPECT_EQ(r.strErr.rfind(strCsv + " cannot be written: cannot write ", 0), 0u) << r.strErr;
    EXPECT_EQ(test::FileBytes(strCsv), "old runs");
    EXPECT_EQ(entries(), before);
}

}  // namespace
}  // namespace kestrel
