#include "image_backup.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "image/image_path.h"
#include "image/read_only_file.h"

namespace kestrel {
namespace {

bool IsSafeNameByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool WriteAll(int fd, const uint8_t* pData, std::size_t len)
{
    while (len > 0) {
        const ssize_t n = ::write(fd, pData, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        pData += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

// A new file beside the destination, created exclusively so no other file is ever reused.
int CreateTemporary(const std::string& strDestination, std::string& strTempPath)
{
    const std::string strFolder = FolderOf(strDestination);
    const std::string strName = strDestination.substr(strFolder.size());
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        strTempPath = strFolder + "." + strName + "." + std::to_string(random() % 1000000000u) + ".tmp";
        const int fd = ::open(strTempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

void SyncFolder(const std::string& strPath)
{
    const std::string strFolder = FolderOf(strPath);
    const int fd = ::open(strFolder.empty() ? "." : strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

std::string BackupFileName(std::string_view strImagePath, std::string_view strBuildDateCode)
{
    const std::size_t nameStart = FolderOf(strImagePath).size();
    const std::size_t dot = strImagePath.rfind('.');
    std::string name(strImagePath);
    if (dot != std::string_view::npos && dot >= nameStart)
        name.resize(dot + 1);  // the extension goes, its full stop stays
    else
        name += '.';

    const std::size_t codeStart = name.size();
    name += strBuildDateCode;
    for (std::size_t i = codeStart; i < name.size(); ++i) {
        if (!IsSafeNameByte(name[i])) name[i] = '_';
    }
    if (name.back() == '_')
        name.back() = '.';
    else
        name += '.';
    name += "bin";
    return name;
}

bool CopyImageFile(const std::string& strSource, const std::string& strDestination, std::string* pstrReason)
{
    const auto fail = [pstrReason](const std::string& step, const std::string& why) {
        if (pstrReason != nullptr) *pstrReason = step + (why.empty() ? "" : ": " + why);
        return false;
    };
    CReadOnlyFile source;
    if (source.Open(strSource) != CReadOnlyFile::OpenResult::kOpened)
        return fail("cannot read " + strSource, source.OpenFailure());
    std::string strTemp;
    const int fd = CreateTemporary(strDestination, strTemp);
    if (fd < 0) return fail("cannot create a file in " + FolderOf(strDestination), std::strerror(errno));

    constexpr std::size_t kChunk = 64 * 1024;
    const auto buffer = std::make_unique<uint8_t[]>(kChunk);
    uint64_t qwOffset = 0;
    std::string strFailure;
    const auto writeFailure = [&strTemp] { return "cannot write " + strTemp + ": " + std::strerror(errno); };
    for (;;) {
        std::size_t got = 0;
        if (!source.ReadAt(qwOffset, buffer.get(), kChunk, got)) {
            strFailure = "cannot read " + strSource + ": " + std::strerror(errno);
            break;
        }
        if (!WriteAll(fd, buffer.get(), got)) {
            strFailure = writeFailure();
            break;
        }
        if (got == 0) break;
        qwOffset += got;
    }
    if (strFailure.empty() && ::fsync(fd) != 0) strFailure = writeFailure();
    if (::close(fd) != 0 && strFailure.empty()) strFailure = writeFailure();
    if (strFailure.empty() && ::rename(strTemp.c_str(), strDestination.c_str()) != 0)
        strFailure = "cannot rename " + strTemp + " to " + strDestination + ": " + std::strerror(errno);
    if (strFailure.empty()) {
        SyncFolder(strDestination);
        return true;
    }
    ::unlink(strTemp.c_str());
    return fail(strFailure, "");
}

}  // namespace kestrel
