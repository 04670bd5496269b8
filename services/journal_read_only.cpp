// The journal opened for reading only: for the history, also by a user who may not write the
// journal or its folder, and without a trace in either.

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "services/journal.h"
#include "services/journal_columns.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

bool Exists(const std::string& strPath)
{
    struct stat info {};
    return lstat(strPath.c_str(), &info) == 0;
}

// A "file:" URI of the path that tells SQLite nothing changes the file, so that it neither
// locks it nor makes a -shm file beside it.
std::string ImmutableUri(const std::string& strPath)
{
    std::string strUri = "file://";
    for (const unsigned char c : fs::absolute(strPath).string()) {
        if (std::isalnum(c) || std::strchr("/-._~", c) != nullptr) {
            strUri += static_cast<char>(c);
        } else {
            char szEscape[4];
            std::snprintf(szEscape, sizeof szEscape, "%%%02X", c);
            strUri += szEscape;
        }
    }
    return strUri + "?immutable=1";
}

}  // namespace

bool CJournal::OpenReadOnly(const std::string& strPath)
{
    Reset(strPath);
    const auto optStamp = StampOf(strPath);
    if (!optStamp) {
        if (errno != ENOENT) return Fail(strPath + " cannot be read: " + std::strerror(errno));
        m_bNoJournalYet = true;
        return true;
    }
    m_openedStamp = *optStamp;
    // Without a -wal and a -shm no program has the journal open, and all of it is in the file:
    // reading it as immutable makes neither (where a reader that may write the folder would
    // leave them behind, and one that may not could not read at all). A writer that comes
    // meanwhile is caught by ReadWasSound. With them, the reader shares the writers' index.
    m_bImmutable = !Exists(strPath + "-wal") && !Exists(strPath + "-shm");
    const int nOpened = m_bImmutable ? m_db.Open(ImmutableUri(strPath), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI)
                                     : m_db.Open(strPath, SQLITE_OPEN_READONLY);
    if (nOpened != SQLITE_OK) return Fail(strPath + " cannot be opened", nOpened);
    sqlite3_busy_handler(m_db.Get(), &CJournal::OnBusy, this);
    return CheckReadable();
}

// The file is Kestrel's journal of a schema this program knows, with every column of it.
bool CJournal::CheckReadable()
{
    const std::string strNotAJournal = m_strPath + " cannot be read as a journal: ";
    CStatement header(m_db,
                      "SELECT application_id, user_version, (SELECT count(*) FROM sqlite_master)"
                      " FROM pragma_application_id, pragma_user_version");
    if (header.Step() != SQLITE_ROW) return Fail(strNotAJournal + m_db.Error());
    const int64_t nApplicationId = header.Int(0);
    const int64_t nVersion = header.Int(1);
    // What a writer makes before the schema is in.
    if (nApplicationId == 0 && header.Int(2) == 0) {
        m_db.Close();
        m_bNoJournalYet = true;
        return true;
    }
    if (nApplicationId != kJournalApplicationId)
        return Fail(strNotAJournal + "it is a database of another program (application id " + std::to_string(nApplicationId) + ")");
    if (nVersion > kJournalSchemaVersion)
        return Fail(strNotAJournal + "it was written by a newer Kestrel (schema version " + std::to_string(nVersion) + ")");
    std::string strError;
    if (!JournalSelectList(m_db, static_cast<int>(nVersion), m_strColumns, strError)) return Fail(strNotAJournal + strError);
    m_nVersion = static_cast<int>(nVersion);
    return true;
}

std::optional<CJournal::SFileStamp> CJournal::StampOf(const std::string& strPath)
{
    struct stat info {};
    if (stat(strPath.c_str(), &info) != 0) return std::nullopt;
    return SFileStamp{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), static_cast<int64_t>(info.st_size),
                      static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// An immutable read is sound as long as the file is the one it was when opened.
bool CJournal::ReadWasSound() const { return !m_bImmutable || StampOf(m_strPath) == m_openedStamp; }

}  // namespace kestrel
