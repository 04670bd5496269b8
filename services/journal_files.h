#pragma once
// The journal's own files, which an export must never overwrite: the database and the files
// SQLite keeps beside it (its write-ahead log, that log's index and a rollback journal).

#include <string>

namespace kestrel {

// The absolute path with every symbolic link on its way resolved, a last link whose target is
// not there yet too.
std::string ResolvedPath(const std::string& strPath);

// True when the path names the journal at strJournal or one of its companion files: the same
// file under another name or link, or a name that resolves to one of theirs (also when that
// file is not there now).
bool IsJournalFile(const std::string& strPath, const std::string& strJournal);

// "PATH is the journal or one of its files; ...": why such a path is refused.
std::string JournalFileRefusal(const std::string& strPath);

}  // namespace kestrel
