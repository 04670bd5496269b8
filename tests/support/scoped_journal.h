#pragma once
// A journal of its own for as long as it lives, in a fresh XDG_DATA_HOME, four finished runs
// to fill it with, the runs a journal holds, and SQL from outside.

#include <filesystem>
#include <string>
#include <vector>

#include "services/journal.h"
#include "tests/support/scoped_xdg_dir.h"

namespace kestrel::test {

class CScopedJournal : public CScopedXdgDir {
public:
    CScopedJournal() : CScopedXdgDir("XDG_DATA_HOME") {}

    std::string Folder() const { return Path().toStdString(); }

    // Saves the rows in order; their ids count from 1.
    void Add(std::vector<CJournalRow> rows)
    {
        CJournal journal;
        ASSERT_TRUE(journal.Open(JournalFilePath())) << journal.LastError();
        for (CJournalRow& row : rows) ASSERT_TRUE(journal.Save(row)) << journal.LastError();
    }
};

// The runs the filter selects in the journal at JournalFilePath(); a journal that cannot be
// opened or read fails the test.
inline std::vector<CJournalRow> JournalRuns(const SJournalFilter& filter = {})
{
    CJournal journal;
    EXPECT_TRUE(journal.Open(JournalFilePath())) << journal.LastError();
    auto optRows = journal.Runs(filter);
    EXPECT_TRUE(optRows.has_value()) << journal.LastError();
    return optRows.value_or(std::vector<CJournalRow>{});
}

// Runs SQL on a database file as another program would.
inline void RunSql(const std::string& strPath, const char* pszSql)
{
    std::filesystem::create_directories(std::filesystem::path(strPath).parent_path());
    CSqliteDb db;
    ASSERT_EQ(db.Open(strPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    ASSERT_EQ(db.Exec(pszSql), SQLITE_OK) << db.Error();
}

struct SampleRun {
    const char* pszStarted;
    const char* pszFrontEnd;
    int nPort;  // 0: none
    const char* pszDevice;
    const char* pszOutcome;
    const char* pszImage;
    int64_t nBytes;
    const char* pszRedLine;  // nullptr: none
};

inline constexpr const char* kSampleStationId = "5a3c0de1b2c4d6e8f0a1b3c5d7e9f1a2";

// Oldest first: ids 1 to 4.
inline const SampleRun kSampleRuns[] = {
    {"2026-01-05T08:00:00.000Z", "cli", 3, "/dev/ttyACM0", "completed", "/img/a.bin", 262144, nullptr},
    {"2026-02-10T09:30:00.000Z", "window", 11, "/dev/ttyUSB0", "stopped", "/img/b.bin", 70656, nullptr},
    {"2026-03-01T12:00:00.000Z", "cli", 3, "/dev/ttyACM0", "handset-error", "/img/a.bin", 8192, "Flash failed, \"jump\" NAK"},
    {"2026-03-02T00:00:00.000Z", "station", 0, "/tmp/pts", "interrupted", "/img/c.bin", 0, nullptr},
};

inline CJournalRow SampleRow(const SampleRun& run)
{
    CJournalRow row;
    row.Set(JournalField::StartedAt, std::string(run.pszStarted));
    row.Set(JournalField::FrontEnd, std::string(run.pszFrontEnd));
    if (run.nPort > 0) row.Set(JournalField::Port, int64_t{run.nPort});
    row.Set(JournalField::Device, std::string(run.pszDevice));
    row.Set(JournalField::Image, std::string(run.pszImage));
    row.Set(JournalField::DownloadType, std::string("CHANGE(EMERGENCY)"));
    row.Set(JournalField::Outcome, std::string(run.pszOutcome));
    row.Set(JournalField::BytesWritten, run.nBytes);
    if (run.pszRedLine) row.Set(JournalField::LastRedLine, std::string(run.pszRedLine));
    // Given, so that what is read back is known: a journal otherwise gives its own.
    row.Set(JournalField::StationId, std::string(kSampleStationId));
    row.Set(JournalField::StationName, std::string("bench-1"));
    return row;
}

inline void AddSampleRuns(CScopedJournal& journal)
{
    std::vector<CJournalRow> rows;
    for (const SampleRun& run : kSampleRuns) rows.push_back(SampleRow(run));
    journal.Add(rows);
}

}  // namespace kestrel::test
