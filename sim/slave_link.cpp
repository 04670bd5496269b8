#include "slave_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel::sim {
namespace {

std::string ReadLink(const std::string& path)
{
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

bool CSlaveLink::Place(const std::string& target, std::string& error)
{
    struct stat st{};
    if (::lstat(m_strPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = m_strPath + " exists and is not a symlink; not replacing it";
        return false;
    }
    const std::string temp = m_strPath + ".new" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0 || std::rename(temp.c_str(), m_strPath.c_str()) != 0) {
        error = "cannot place the link " + m_strPath + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    m_strTarget = target;
    return true;
}

void CSlaveLink::Remove()
{
    if (m_strTarget.empty()) return;
    if (ReadLink(m_strPath) == m_strTarget) ::unlink(m_strPath.c_str());
    m_strTarget.clear();
}

}  // namespace kestrel::sim
