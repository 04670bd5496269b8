#include "run_table.h"

#include <algorithm>

namespace kestrel {

void CRunTable::Reset()
{
    m_aRuns.fill(SRunEntry{});
    m_nRunCount = 0;
    m_nCurrentRun = 0;
    m_nBlockCursor = 0;
}

bool CRunTable::AddRun(int32_t nStartBlock, int32_t nBlockCount)
{
    if (m_nRunCount < kMaxRuns) {
        m_aRuns[static_cast<std::size_t>(m_nRunCount++)] = SRunEntry{nStartBlock, nBlockCount};
        return true;
    }
    SRunEntry& last = m_aRuns.back();
    last.nBlockCount = nStartBlock + nBlockCount - last.nStartBlock;
    return false;
}

SRunEntry CRunTable::Run(int32_t nIndex) const
{
    if (nIndex < 0 || nIndex >= m_nRunCount) return SRunEntry{};
    return m_aRuns[static_cast<std::size_t>(nIndex)];
}

int32_t CRunTable::TotalDifferentBlocks(int32_t nRunCount) const
{
    int32_t nTotal = 0;
    const int32_t nEnd = std::clamp(nRunCount, int32_t{0}, kMaxRuns);
    for (int32_t i = 0; i < nEnd; ++i) nTotal += m_aRuns[static_cast<std::size_t>(i)].nBlockCount;
    return nTotal;
}

}  // namespace kestrel
