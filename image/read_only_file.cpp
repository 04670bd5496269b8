#include "read_only_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

CReadOnlyFile::OpenResult CReadOnlyFile::Open(const std::string& strPath)
{
    Close();
    m_strOpenFailure.clear();
    // O_NONBLOCK keeps the open of a FIFO without writer from waiting; it changes nothing for
    // the regular files that are accepted afterwards.
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT) m_strOpenFailure = std::strerror(errno);
        return OpenResult::kCannotOpen;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        m_strOpenFailure = std::strerror(errno);
        ::close(fd);
        return OpenResult::kNoStatus;
    }
    if (!S_ISREG(st.st_mode)) {
        m_strOpenFailure = S_ISDIR(st.st_mode) ? "a folder, not a file" : S_ISFIFO(st.st_mode) ? "a FIFO, not a file" : "not a regular file";
        ::close(fd);
        return OpenResult::kNotRegular;
    }
    m_nFd = fd;
    return OpenResult::kOpened;
}

bool CReadOnlyFile::CurrentSize(uint64_t& qwSize) const
{
    struct stat st {};
    if (m_nFd < 0 || ::fstat(m_nFd, &st) != 0 || st.st_size < 0) return false;
    qwSize = static_cast<uint64_t>(st.st_size);
    return true;
}

bool CReadOnlyFile::Identity(SFileIdentity& identity) const
{
    struct stat st {};
    if (m_nFd < 0 || ::fstat(m_nFd, &st) != 0) return false;
    identity = SFileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool CReadOnlyFile::ReadAt(uint64_t qwOffset, uint8_t* pData, std::size_t len, std::size_t& got) const
{
    got = 0;
    if (m_nFd < 0) return false;
    while (got < len) {
        const ssize_t n = ::pread(m_nFd, pData + got, len - got, static_cast<off_t>(qwOffset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

void CReadOnlyFile::Close()
{
    if (m_nFd >= 0) {
        ::close(m_nFd);
        m_nFd = -1;
    }
}

}  // namespace kestrel
