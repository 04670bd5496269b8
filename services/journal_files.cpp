#include "services/journal_files.h"

#include <sys/stat.h>

#include <filesystem>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// The links the kernel follows at most on one path.
constexpr int kMaxLinks = 40;

}  // namespace

std::string ResolvedPath(const std::string& strPath)
{
    std::error_code error;
    fs::path path = fs::absolute(strPath, error);
    for (int nLink = 0; nLink < kMaxLinks && !error; ++nLink) {
        // Resolves the links of the leading part that exists; a dangling last link stays.
        path = fs::weakly_canonical(path, error);
        if (error || !fs::is_symlink(path, error)) break;
        const fs::path target = fs::read_symlink(path, error);
        path = path.parent_path() / target;
    }
    return path.string();
}

bool IsJournalFile(const std::string& strPath, const std::string& strJournal)
{
    const std::string strResolved = ResolvedPath(strPath);
    struct stat target {};
    const bool bExists = stat(strResolved.c_str(), &target) == 0;
    for (const char* pszSuffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string strFile = strJournal + pszSuffix;
        if (strResolved == ResolvedPath(strFile)) return true;
        struct stat file {};
        if (bExists && stat(strFile.c_str(), &file) == 0 && file.st_dev == target.st_dev && file.st_ino == target.st_ino) return true;
    }
    return false;
}

std::string JournalFileRefusal(const std::string& strPath)
{
    return strPath + " is the journal or one of its files; choose another file for the runs.";
}

}  // namespace kestrel
