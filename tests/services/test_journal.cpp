// The journal on a real database file: rows written and read back, the history's filters,
// files that are not a journal, a journal of an older or a newer schema, rows left running by
// processes that died, and a reader that writes nothing.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <set>

#include "services/journal.h"
#include "services/process_owner.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scoped_journal.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::kSampleRuns;
using test::RunSql;

void WriteBytes(const std::string& strPath, const std::string& bytes)
{
    fs::create_directories(fs::path(strPath).parent_path());
    std::ofstream(strPath, std::ios::binary | std::ios::trunc) << bytes;
}

std::string RandomBytes(std::size_t nSize)
{
    std::mt19937 random(11);
    std::string bytes(nSize, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

int64_t QueryNumber(const std::string& strPath, const char* pszSql)
{
    CSqliteDb db;
    EXPECT_EQ(db.Open(strPath, SQLITE_OPEN_READONLY), SQLITE_OK);
    CStatement query(db, pszSql);
    EXPECT_EQ(query.Step(), SQLITE_ROW) << db.Error();
    return query.Int(0);
}

// The one run with the id; a journal that cannot be read fails the test.
std::optional<CJournalRow> RunById(CJournal& journal, int64_t nId)
{
    SJournalFilter filter;
    filter.optId = nId;
    const auto optRows = journal.Runs(filter);
    EXPECT_TRUE(optRows.has_value()) << journal.LastError();
    if (!optRows || optRows->empty()) return std::nullopt;
    EXPECT_EQ(optRows->size(), 1u);
    return optRows->front();
}

std::vector<int64_t> Ids(const std::optional<std::vector<CJournalRow>>& optRows)
{
    EXPECT_TRUE(optRows.has_value());
    std::vector<int64_t> ids;
    for (const CJournalRow& row : optRows.value_or(std::vector<CJournalRow>{})) ids.push_back(row.Number(JournalField::Id).value_or(-1));
    return ids;
}

class JournalFile : public testing::Test {
protected:
    std::string Path() const { return m_dir.path().toStdString() + "/NORVALE/TIDEWELL/journal.sqlite"; }
    // Every file and folder under the temporary folder, as paths below it.
    std::vector<std::string> TreeEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir.path().toStdString()))
            names.push_back(fs::relative(entry.path(), m_dir.path().toStdString()));
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> FolderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(Path()).parent_path())) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    QTemporaryDir m_dir;
};

TEST_F(JournalFile, ARowIsInsertedThenCompletedWithEveryField)
{
    CJournal journal;
    ASSERT_TRUE(journal.Open(Path())) << journal.LastError();
    EXPECT_TRUE(journal.MovedAside().empty());

    // Numbers where the journal keeps numbers, text with a quote, a line break and Hangul elsewhere.
    const std::set<JournalField> numbers{JournalField::Port,          JournalField::ImageSize,
                                         JournalField::Retransmissions, JournalField::SupervisionExpiries,
                                         JournalField::BlocksSent,    JournalField::BytesWritten,
                                         JournalField::DurationMs,    JournalField::BytesPerSecond};
    CJournalRow row;
    int64_t nNumber = 1;
    for (const SJournalFieldInfo& info : JournalFields()) {
        if (info.eField == JournalField::Id) continue;
        if (numbers.contains(info.eField))
            row.Set(info.eField, nNumber++);
        else
            row.Set(info.eField, std::string(info.strColumn) + " 'x'\n한");
    }
    CJournalRow started = row;
    started.Set(JournalField::EndedAt, {});
    started.Set(JournalField::Outcome, std::string(kOutcomeRunning));
    ASSERT_TRUE(journal.Save(started)) << journal.LastError();
    const auto optId = started.Number(JournalField::Id);
    ASSERT_TRUE(optId.has_value());

    const auto optRunning = RunById(journal, *optId);
    ASSERT_TRUE(optRunning.has_value());
    EXPECT_EQ(optRunning->Text(JournalField::Outcome), "running");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(optRunning->Get(JournalField::EndedAt)));

    row.Set(JournalField::Id, *optId);
    ASSERT_TRUE(journal.Save(row)) << journal.LastError();
    const auto optDone = RunById(journal, *optId);
    ASSERT_TRUE(optDone.has_value());
    for (const SJournalFieldInfo& info : JournalFields())
        EXPECT_EQ(optDone->Get(info.eField), row.Get(info.eField)) << info.strColumn;
    EXPECT_EQ(Ids(journal.Runs({})), std::vector<int64_t>{*optId}) << "the end updates the row of the start";
}

TEST_F(JournalFile, FiltersPickRunsNewestFirst)
{
    test::CScopedJournal scoped;
    test::AddSampleRuns(scoped);
    CJournal journal;
    ASSERT_TRUE(journal.Open(JournalFilePath())) << journal.LastError();

    struct Case {
        const char* pszWhat;
        std::function<void(SJournalFilter&)> set;
        std::vector<int64_t> ids;
    } cases[] = {
        {"none", [](SJournalFilter&) {}, {4, 3, 2, 1}},
        {"limit", [](SJournalFilter& f) { f.nLimit = 2; }, {4, 3}},
        {"port", [](SJournalFilter& f) { f.optPort = 3; }, {3, 1}},
        {"device", [](SJournalFilter& f) { f.strDevice = "/tmp/pts"; }, {4}},
        {"since a day", [](SJournalFilter& f) { f.strSince = "2026-03-01"; }, {4, 3}},
        {"since a time, inclusive", [](SJournalFilter& f) { f.strSince = "2026-02-10T09:30:00.000Z"; }, {4, 3, 2}},
        {"outcome", [](SJournalFilter& f) { f.strOutcome = "completed"; }, {1}},
        {"port and outcome", [](SJournalFilter& f) { f.optPort = 3; f.strOutcome = "handset-error"; }, {3}},
        {"nothing matches", [](SJournalFilter& f) { f.optPort = 4; }, {}},
    };
    for (const Case& c : cases) {
        SJournalFilter filter;
        c.set(filter);
        EXPECT_EQ(Ids(journal.Runs(filter)), c.ids) << c.pszWhat;
    }
}

// A journal in WAL mode with enough rows for several pages, all of it in the main file.
std::string MakeJournalBytes(const std::string& strPath)
{
    CJournal journal;
    EXPECT_TRUE(journal.Open(strPath)) << journal.LastError();
    for (int n = 0; n < 200; ++n) {
        CJournalRow row = test::SampleRow(kSampleRuns[n % 4]);
        EXPECT_TRUE(journal.Save(row));
    }
    journal.Close();
    return test::FileBytes(strPath);
}

TEST_F(JournalFile, AFileThatIsNotAJournalIsMovedAsideAndANewOneStarted)
{
    const std::string strPath = Path();
    const std::string journalBytes = MakeJournalBytes(Path() + ".model");
    ASSERT_GT(journalBytes.size(), 3 * 4096u);

    struct Case {
        const char* pszWhat;
        std::function<void()> make;
    } cases[] = {
        {"random bytes", [&] { WriteBytes(strPath, RandomBytes(20000)); }},
        {"a truncated journal", [&] { WriteBytes(strPath, journalBytes.substr(0, journalBytes.size() / 2)); }},
        {"a journal with a page overwritten", [&] { WriteBytes(strPath, std::string(journalBytes).replace(2 * 4096, 4096, RandomBytes(4096))); }},
        {"a database of another program", [&] { RunSql(strPath, "CREATE TABLE contacts(name TEXT); INSERT INTO contacts VALUES('x');"); }},
        {"another program's application id", [&] { RunSql(strPath, "PRAGMA application_id = 1234;"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        fs::remove_all(fs::path(strPath).parent_path());
        c.make();
        const std::string before = test::FileBytes(strPath);

        CJournal journal;
        ASSERT_TRUE(journal.Open(strPath)) << journal.LastError();
        ASSERT_FALSE(journal.MovedAside().empty());
        EXPECT_FALSE(journal.MovedAsideReason().empty());
        EXPECT_EQ(test::FileBytes(journal.MovedAside()), before) << "the file is kept as it was";
        EXPECT_NE(fs::path(journal.MovedAside()).filename().string().find("journal.unreadable-"), std::string::npos);
        EXPECT_EQ(Ids(journal.Runs({})), std::vector<int64_t>{});
        CJournalRow row = test::SampleRow(kSampleRuns[0]);
        EXPECT_TRUE(journal.Save(row)) << "the new journal takes runs";
        journal.Close();
        EXPECT_EQ(QueryNumber(strPath, "PRAGMA application_id"), kJournalApplicationId);
    }
}

TEST_F(JournalFile, AnEmptyFileIsStartedAndANewerJournalLeftAlone)
{
    WriteBytes(Path(), "");
    CJournal journal;
    ASSERT_TRUE(journal.Open(Path())) << journal.LastError();
    EXPECT_TRUE(journal.MovedAside().empty());
    journal.Close();
    EXPECT_EQ(QueryNumber(Path(), "PRAGMA user_version"), kJournalSchemaVersion);

    RunSql(Path(), "PRAGMA user_version = 99;");
    const std::string before = test::FileBytes(Path());
    EXPECT_FALSE(journal.Open(Path()));
    EXPECT_NE(journal.LastError().find("newer Kestrel"), std::string::npos) << journal.LastError();
    EXPECT_EQ(test::FileBytes(Path()), before);
    for (const std::string& strName : FolderEntries()) EXPECT_EQ(strName.find("unreadable"), std::string::npos) << strName;
}

TEST_F(JournalFile, AJournalOfVersionOneIsReadAsItIsThenMigratedKeepingItsRows)
{
    // The first schema as it was released, with a finished run.
    RunSql(Path(),
           "CREATE TABLE runs (id INTEGER PRIMARY KEY AUTOINCREMENT, owner TEXT NOT NULL, started_at TEXT NOT NULL,"
           " ended_at TEXT, front_end TEXT NOT NULL, port INTEGER, device TEXT, usb_serial TEXT, usb_vendor_id TEXT,"
           " usb_product_id TEXT, image TEXT, image_size INTEGER, image_sha256 TEXT, image_version TEXT, old_image TEXT,"
           " old_image_sha256 TEXT, download_type TEXT, outcome TEXT NOT NULL, retransmissions INTEGER,"
           " supervision_expiries INTEGER, blocks_sent INTEGER, bytes_written INTEGER, duration_ms INTEGER,"
           " bytes_per_second INTEGER, last_red_line TEXT);"
           "INSERT INTO runs (owner, started_at, front_end, port, outcome, bytes_written)"
           " VALUES ('gone/1/1', '2025-11-30T10:00:00.000Z', 'window', 3, 'completed', 4096);"
           "PRAGMA application_id = 1263752274; PRAGMA user_version = 1;");

    // A reader may not migrate: the columns of later versions read as absent.
    const std::string before = test::FileBytes(Path());
    CJournal reader;
    ASSERT_TRUE(reader.OpenReadOnly(Path())) << reader.LastError();
    const auto optRead = RunById(reader, 1);
    ASSERT_TRUE(optRead.has_value());
    EXPECT_EQ(optRead->Number(JournalField::BytesWritten), 4096);
    for (const JournalField eField : {JournalField::Slot, JournalField::SlotLabel, JournalField::Opened})
        EXPECT_TRUE(std::holds_alternative<std::monostate>(optRead->Get(eField))) << FieldInfo(eField).strColumn;
    reader.Close();
    EXPECT_EQ(test::FileBytes(Path()), before);

    CJournal journal;
    ASSERT_TRUE(journal.Open(Path())) << journal.LastError();
    EXPECT_TRUE(journal.MovedAside().empty());
    SJournalFilter completed;
    completed.strOutcome = "completed";
    const auto rows = journal.Runs(completed).value_or(std::vector<CJournalRow>{});
    ASSERT_EQ(rows.size(), 1u) << journal.LastError();
    EXPECT_EQ(rows[0].Text(JournalField::StartedAt), "2025-11-30T10:00:00.000Z");
    EXPECT_EQ(rows[0].Number(JournalField::BytesWritten), 4096);
    CJournalRow row = test::SampleRow(kSampleRuns[1]);
    EXPECT_TRUE(journal.Save(row));
    EXPECT_EQ(row.Number(JournalField::Id), 2);
    journal.Close();
    EXPECT_EQ(QueryNumber(Path(), "PRAGMA user_version"), kJournalSchemaVersion);
    EXPECT_EQ(QueryNumber(Path(), "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name LIKE 'runs_by_%'"), 2);
}

// A reader of an older journal takes the fields it has by the version that brought them.
TEST_F(JournalFile, EachFieldsColumnComesWithTheVersionItNames)
{
    for (int nVersion = 1; nVersion <= kJournalSchemaVersion; ++nVersion) {
        const std::string strPath = Path() + ".v" + std::to_string(nVersion);
        fs::create_directories(fs::path(strPath).parent_path());
        CSqliteDb db;
        ASSERT_EQ(db.Open(strPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
        std::string strError;
        ASSERT_TRUE(MigrateJournal(db, nVersion, strError)) << strError;
        std::set<std::string> columns;
        CStatement table(db, "SELECT name FROM pragma_table_info('runs')");
        while (table.Step() == SQLITE_ROW) columns.insert(table.Text(0));
        for (const SJournalFieldInfo& info : JournalFields())
            EXPECT_EQ(columns.contains(std::string(info.strColumn)), info.nSchemaVersion <= nVersion)
                << info.strColumn << " in version " << nVersion;
    }
}

TEST_F(JournalFile, RunningRowsOfProcessesThatDiedReadAsInterruptedAndAWriterMarksThem)
{
    const std::string strSelf = ThisProcessOwner();
    const std::string strBoot = strSelf.substr(0, strSelf.find('/'));
    const std::string strPid = std::to_string(getpid());
    struct Case {
        const char* pszWhat;
        std::string strOwner;
        const char* pszAfter;
    } cases[] = {
        {"this process", strSelf, "running"},
        {"the same id given to a later process", strBoot + "/" + strPid + "/1", "interrupted"},
        {"before the machine restarted", "00000000-0000-0000-0000-000000000000" + strSelf.substr(strBoot.size()), "interrupted"},
        {"an owner that names nothing", "?", "interrupted"},
    };
    {
        CJournal journal;
        ASSERT_TRUE(journal.Open(Path()));
        for ([[maybe_unused]] const Case& c : cases) {
            CJournalRow row = test::SampleRow(kSampleRuns[0]);
            row.Set(JournalField::Outcome, std::string(kOutcomeRunning));
            ASSERT_TRUE(journal.Save(row));
        }
    }
    for (std::size_t n = 0; n < std::size(cases); ++n) {
        const std::string strSql =
            "UPDATE runs SET owner = '" + cases[n].strOwner + "' WHERE id = " + std::to_string(n + 1) + ";";
        RunSql(Path(), strSql.c_str());
    }

    // A reader shows what the next writer will mark, and writes nothing.
    const std::string before = test::FileBytes(Path());
    CJournal reader;
    ASSERT_TRUE(reader.OpenReadOnly(Path())) << reader.LastError();
    for (std::size_t n = 0; n < std::size(cases); ++n) {
        const auto optRow = RunById(reader, static_cast<int64_t>(n + 1));
        ASSERT_TRUE(optRow.has_value());
        EXPECT_EQ(optRow->Text(JournalField::Outcome), cases[n].pszAfter) << cases[n].pszWhat;
    }
    for (const auto& [pszOutcome, ids] : {std::pair<const char*, std::vector<int64_t>>{"interrupted", {4, 3, 2}}, {"running", {1}}}) {
        SJournalFilter filter;
        filter.strOutcome = pszOutcome;
        EXPECT_EQ(Ids(reader.Runs(filter)), ids) << pszOutcome;
    }
    reader.Close();
    EXPECT_EQ(test::FileBytes(Path()), before);

    CJournal journal;
    ASSERT_TRUE(journal.Open(Path()));
    journal.Close();
    for (std::size_t n = 0; n < std::size(cases); ++n) {
        const std::string strSql = "SELECT outcome = '" + std::string(cases[n].pszAfter) + "' FROM runs WHERE id = " + std::to_string(n + 1);
        EXPECT_EQ(QueryNumber(Path(), strSql.c_str()), 1) << cases[n].pszWhat;
    }
}

TEST_F(JournalFile, AReadOnlyOpenOfNoJournalYetMakesNothing)
{
    const fs::path folder = fs::path(Path()).parent_path();
    struct Case {
        const char* pszWhat;
        std::function<void()> make;
    } cases[] = {
        {"no folder", [] {}},
        {"an empty folder", [&] { fs::create_directories(folder); }},
        {"an empty file, as a writer makes it first", [&] { WriteBytes(Path(), ""); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        fs::remove_all(m_dir.path().toStdString() + "/NORVALE");
        c.make();
        const std::vector<std::string> before = TreeEntries();
        CJournal reader;
        ASSERT_TRUE(reader.OpenReadOnly(Path())) << reader.LastError();
        EXPECT_TRUE(reader.NoJournalYet());
        EXPECT_EQ(Ids(reader.Runs({})), std::vector<int64_t>{});
        reader.Close();
        EXPECT_EQ(TreeEntries(), before);
    }
}

// With no program holding the journal, a reader reads the file alone; a writer that comes and
// goes meanwhile changes the file under it, and the reader reads it again.
TEST_F(JournalFile, AReaderSeesTheRunsAWriterAddedSinceItOpened)
{
    const auto save = [this](const test::SampleRun& run) {
        CJournal writer;
        ASSERT_TRUE(writer.Open(Path())) << writer.LastError();
        CJournalRow row = test::SampleRow(run);
        ASSERT_TRUE(writer.Save(row)) << writer.LastError();
    };
    ASSERT_NO_FATAL_FAILURE(save(kSampleRuns[0]));
    ASSERT_FALSE(fs::exists(Path() + "-shm"));
    CJournal reader;
    ASSERT_TRUE(reader.OpenReadOnly(Path())) << reader.LastError();
    EXPECT_EQ(Ids(reader.Runs({})), std::vector<int64_t>{1});
    for (int n = 1; n < 4; ++n) ASSERT_NO_FATAL_FAILURE(save(kSampleRuns[n]));
    EXPECT_EQ(Ids(reader.Runs({})), (std::vector<int64_t>{4, 3, 2, 1}));
}

TEST_F(JournalFile, AFolderThatCannotBeMadeIsReported)
{
    WriteBytes(m_dir.path().toStdString() + "/NORVALE", "a file where the folder should be");
    CJournal journal;
    EXPECT_FALSE(journal.Open(Path()));
    EXPECT_NE(journal.LastError().find("folder"), std::string::npos) << journal.LastError();
}

}  // namespace
}  // namespace kestrel
