#include "flash_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel::sim {

CFlashModel::CFlashModel(std::size_t size) : m_vecBytes(size, 0xFF) {}

bool CFlashModel::Contains(uint64_t addr, uint64_t length) const
{
    return addr <= m_vecBytes.size() && length <= m_vecBytes.size() - addr;
}

void CFlashModel::Erase(uint32_t addr, uint32_t length)
{
    std::fill_n(m_vecBytes.begin() + addr, length, 0xFF);
    RemoveRange(addr, addr + length);
}

void CFlashModel::Write(uint32_t addr, std::span<const uint8_t> data)
{
    std::copy(data.begin(), data.end(), m_vecBytes.begin() + addr);
    uint32_t start = addr;
    uint32_t end = addr + static_cast<uint32_t>(data.size());
    // Merge with every range that overlaps or touches [start, end).
    auto it = m_mapWritten.upper_bound(start);
    if (it != m_mapWritten.begin() && std::prev(it)->second >= start) --it;
    while (it != m_mapWritten.end() && it->first <= end) {
        start = std::min(start, it->first);
        end = std::max(end, it->second);
        it = m_mapWritten.erase(it);
    }
    m_mapWritten.emplace(start, end);
}

void CFlashModel::RemoveRange(uint32_t start, uint32_t end)
{
    auto it = m_mapWritten.upper_bound(start);
    if (it != m_mapWritten.begin()) --it;
    while (it != m_mapWritten.end() && it->first < end) {
        const uint32_t s = it->first;
        const uint32_t e = it->second;
        if (e <= start) {
            ++it;
            continue;
        }
        it = m_mapWritten.erase(it);
        if (s < start) m_mapWritten.emplace(s, start);
        if (e > end) m_mapWritten.emplace(end, e);
    }
}

std::vector<std::pair<uint32_t, uint32_t>> CFlashModel::WrittenRanges() const
{
    return {m_mapWritten.begin(), m_mapWritten.end()};
}

uint64_t CFlashModel::WrittenBytes() const
{
    uint64_t total = 0;
    for (const auto& [start, end] : m_mapWritten) total += end - start;
    return total;
}

uint32_t CFlashModel::End() const
{
    return m_mapWritten.empty() ? 0 : m_mapWritten.rbegin()->second;
}

bool CFlashModel::Dump(const std::string& path, std::string& error) const
{
    const std::string temp = path + ".part";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + temp + ": " + std::strerror(errno);
        return false;
    }
    const uint8_t* p = m_vecBytes.data();
    std::size_t left = End();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write " + temp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!synced || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace kestrel::sim
