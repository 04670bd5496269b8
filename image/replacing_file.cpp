#include "image/replacing_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "image/image_path.h"

namespace kestrel {
namespace {

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

CReplacingFile::CReplacingFile(std::string strDestination) : m_strDestination(std::move(strDestination))
{
    m_fd = CreateTemporary(m_strDestination, m_strTemp);
    if (m_fd < 0) Fail("cannot create a file in " + FolderOf(m_strDestination));
}

CReplacingFile::~CReplacingFile()
{
    if (m_fd >= 0) ::close(m_fd);
    if (!m_bCommitted && !m_strTemp.empty()) ::unlink(m_strTemp.c_str());
}

bool CReplacingFile::Fail(const std::string& strStep)
{
    m_strFailure = strStep + ": " + std::strerror(errno);
    return false;
}

bool CReplacingFile::Write(const void* pData, std::size_t nSize)
{
    if (m_fd < 0) return false;
    const auto* pBytes = static_cast<const char*>(pData);
    while (nSize > 0) {
        const ssize_t n = ::write(m_fd, pBytes, nSize);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail("cannot write " + m_strTemp);
        }
        pBytes += n;
        nSize -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CReplacingFile::Commit()
{
    if (m_fd < 0) return false;
    if (::fsync(m_fd) != 0) return Fail("cannot write " + m_strTemp);
    const int nClosed = ::close(m_fd);
    m_fd = -1;
    if (nClosed != 0) return Fail("cannot write " + m_strTemp);
    if (::rename(m_strTemp.c_str(), m_strDestination.c_str()) != 0)
        return Fail("cannot rename " + m_strTemp + " to " + m_strDestination);
    m_bCommitted = true;
    SyncFolder(m_strDestination);
    return true;
}

}  // namespace kestrel
