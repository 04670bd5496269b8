#include "image_compare.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kestrel {
namespace {

constexpr int kLogNotice = 2;
constexpr int kLogError = 3;

std::string Format(const char* pszFormat, int32_t a, int32_t b = 0)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, pszFormat, a, b);
    return buf;
}

// Both images stay open for the whole comparison; two buffers of one block each.
class CBlockComparer {
public:
    CBlockComparer(CImageFile& newImage, CImageFile& oldImage)
        : m_newImage(newImage), m_oldImage(oldImage), m_dwSize(static_cast<uint32_t>(newImage.Size())),
          m_pNew(new uint8_t[kCompareBlockSize]), m_pOld(new uint8_t[kCompareBlockSize])
    {
    }

    int32_t BlockCount() const { return static_cast<int32_t>((uint64_t{m_dwSize} + kCompareBlockSize - 1) / kCompareBlockSize); }

    // False with the message in strError when a block cannot be read.
    bool Differs(int32_t nBlock, bool& bDiffers, std::string& strError)
    {
        const uint64_t qwOffset = uint64_t{static_cast<uint32_t>(nBlock)} * kCompareBlockSize;
        const std::size_t len = static_cast<std::size_t>(std::min<uint64_t>(kCompareBlockSize, m_dwSize - qwOffset));
        std::size_t gotNew = 0;
        std::size_t gotOld = 0;
        if (!m_newImage.ReadAt(qwOffset, m_pNew.get(), len, gotNew)) {
            strError = m_newImage.LastError();
            return false;
        }
        if (gotNew < len) {
            // The new image has become shorter than at its load.
            strError = m_newImage.ReadFailureMessage();
            return false;
        }
        if (!m_oldImage.ReadAt(qwOffset, m_pOld.get(), len, gotOld)) {
            strError = m_oldImage.LastError();
            return false;
        }
        bDiffers = gotOld < len || std::memcmp(m_pNew.get(), m_pOld.get(), len) != 0;
        return true;
    }

private:
    CImageFile& m_newImage;
    CImageFile& m_oldImage;
    uint32_t m_dwSize;
    std::unique_ptr<uint8_t[]> m_pNew;
    std::unique_ptr<uint8_t[]> m_pOld;
};

}  // namespace

CompareStatus CompareImages(CImageFile& newImage, CImageFile& oldImage, CRunTable& table, const LogSink& log,
                            std::string& strError)
{
    strError.clear();
    if (newImage.Path().empty() || oldImage.Path().empty()) return CompareStatus::kNotRun;
    table.Reset();

    auto fail = [&](std::string strMessage) {
        newImage.Close();
        oldImage.Close();
        table.Reset();
        strError = std::move(strMessage);
        log(kLogError, strError);
        return CompareStatus::kFailed;
    };
    if (!newImage.IsLoaded()) return fail(newImage.ReadFailureMessage());
    if (!newImage.OpenForReading()) return fail(newImage.LastError());
    if (!oldImage.OpenForReading()) return fail(oldImage.LastError());

    CBlockComparer comparer(newImage, oldImage);
    const int32_t nBlocks = comparer.BlockCount();
    bool bMerged = false;
    int32_t nCursor = 0;
    std::string strReadError;
    while (nCursor < nBlocks) {
        bool bDiffers = false;
        if (!comparer.Differs(nCursor, bDiffers, strReadError)) return fail(strReadError);
        if (!bDiffers) {
            ++nCursor;
            continue;
        }
        const int32_t nStart = nCursor++;
        while (nCursor < nBlocks) {
            if (!comparer.Differs(nCursor, bDiffers, strReadError)) return fail(strReadError);
            ++nCursor;  // an equal block ends the run and is not compared again
            if (!bDiffers) break;
        }
        const int32_t nCount = (bDiffers ? nCursor : nCursor - 1) - nStart;
        bMerged = !table.AddRun(nStart, nCount) || bMerged;
        // The last entry may still grow by merging, so its line waits for the end.
        if (table.RunCount() < CRunTable::kMaxRuns)
            log(kLogNotice, Format("Different Start Block Index is %d &&& Count is %d", nStart, nCount));
    }
    table.SetBlockCursor(nCursor);
    newImage.Close();
    oldImage.Close();

    const int32_t nRunCount = table.RunCount();
    if (nRunCount == CRunTable::kMaxRuns) {
        const SRunEntry last = table.Run(nRunCount - 1);
        if (bMerged)
            log(kLogNotice, Format("More than 128 different ranges: Block Index %d to %d are downloaded as one range",
                                   last.nStartBlock, last.nStartBlock + last.nBlockCount - 1));
        log(kLogNotice, Format("Different Start Block Index is %d &&& Count is %d", last.nStartBlock, last.nBlockCount));
    }
    table.SetCurrentRun(nRunCount);
    log(kLogNotice, Format("다운로드 반복 횟수 %d", nRunCount));
    log(kLogNotice, Format("Total Different Download Blocks: %d", table.TotalDifferentBlocks(nRunCount)));
    log(kLogError, "Compare Complete");
    return CompareStatus::kCompared;
}

}  // namespace kestrel
