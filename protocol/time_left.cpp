#include "protocol/time_left.h"

#include <cmath>

namespace kestrel {

void CTimeLeft::OnBlock(int64_t nowMs, int block, int total)
{
    if (block <= 1 || total != m_nTotal) m_samples.clear();
    // A block sent again moves nothing on.
    if (!m_samples.empty() && block <= m_samples.back().nBlock) return;
    m_nTotal = total;
    m_samples.push_back({nowMs, block});
    // The oldest sample kept is the last one at least a window old, so that the rate is taken
    // over the whole window.
    while (m_samples.size() > 2 && nowMs - m_samples[1].nMs >= kWindowMs) m_samples.pop_front();
}

std::optional<double> CTimeLeft::MsPerBlock() const
{
    if (m_samples.size() < 2 || m_samples.back().nBlock < kMinBlocks) return std::nullopt;
    const SSample& first = m_samples.front();
    const SSample& last = m_samples.back();
    const int64_t spanMs = last.nMs - first.nMs;
    if (spanMs <= 0) return std::nullopt;
    return static_cast<double>(spanMs) / static_cast<double>(last.nBlock - first.nBlock);
}

std::optional<int> CTimeLeft::Seconds() const
{
    const std::optional<double> msPerBlock = MsPerBlock();
    if (!msPerBlock) return std::nullopt;
    const double leftMs = *msPerBlock * static_cast<double>(m_nTotal - m_samples.back().nBlock);
    return static_cast<int>(std::ceil(leftMs / 1000.0));
}

std::optional<int64_t> CTimeLeft::BytesPerSecond() const
{
    const std::optional<double> msPerBlock = MsPerBlock();
    if (!msPerBlock) return std::nullopt;
    return static_cast<int64_t>(1024.0 * 1000.0 / *msPerBlock);
}

std::string TimeLeftText(const CTimeLeft& left)
{
    const std::optional<int> seconds = left.Seconds();
    if (!seconds) return {};
    return std::to_string(*seconds / 60) + ":" + (*seconds % 60 < 10 ? "0" : "") + std::to_string(*seconds % 60) + " left";
}

}  // namespace kestrel
