#pragma once
// The runs of differing 128 KiB blocks found by the comparison of a new and an old image,
// in ascending order; the download of a COMPARE run erases and writes them one by one.

#include <array>
#include <cstdint>

namespace kestrel {

inline constexpr uint32_t kCompareBlockSize = 0x20000;

struct SRunEntry {
    int32_t nStartBlock = 0;
    int32_t nBlockCount = 0;
};

class CRunTable {
public:
    static constexpr int32_t kMaxRuns = 128;

    void Reset();
    // Appends a run. With the table full the run is merged into the last one, which then
    // reaches to its end; false tells that this happened.
    bool AddRun(int32_t nStartBlock, int32_t nBlockCount);

    // The entry at index; (0, 0) from RunCount() on and outside the table.
    SRunEntry Run(int32_t nIndex) const;
    int32_t RunCount() const { return m_nRunCount; }
    int32_t TotalDifferentBlocks(int32_t nRunCount) const;

    int32_t CurrentRun() const { return m_nCurrentRun; }
    void SetCurrentRun(int32_t nRun) { m_nCurrentRun = nRun; }
    int32_t BlockCursor() const { return m_nBlockCursor; }
    void SetBlockCursor(int32_t nBlock) { m_nBlockCursor = nBlock; }

private:
    std::array<SRunEntry, kMaxRuns> m_aRuns{};
    int32_t m_nRunCount = 0;
    int32_t m_nCurrentRun = 0;
    int32_t m_nBlockCursor = 0;
};

}  // namespace kestrel
