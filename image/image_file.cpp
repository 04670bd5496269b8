#include "image_file.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "image/build_date_code.h"
#include "image/download_type.h"

namespace kestrel {
namespace {

constexpr const char* kMsgCannotOpen = "다음 파일을 열 수 없습니다. %s";
constexpr const char* kMsgNoFileInfo = " Fail to get file info from %s";
constexpr const char* kMsgCannotRead = " Fail to read from %s";
// Block offsets on the wire are 32-bit and the size is signed: 2 GiB and more cannot be sent.
constexpr const char* kMsgTooLarge = " %s is 2 GiB or larger and cannot be downloaded";
constexpr const char* kMsgSizeChanged = " %s has changed since it was loaded";
constexpr const char* kMsgCheckFile = "\n Please Check bin_file !";

constexpr std::array<uint8_t, 4> kBootMarker{'B', 'O', 'O', 'T'};

std::string WithPath(std::string_view format, const std::string& strPath, std::string_view suffix)
{
    const std::size_t at = format.find("%s");
    std::string text(format.substr(0, at));
    text += strPath;
    text += format.substr(at + 2);
    text += suffix;
    return text;
}

}  // namespace

bool CImageFile::Fail(const char* pszFormat, std::string_view suffix)
{
    m_file.Close();
    m_strLastError = WithPath(pszFormat, m_strPath, suffix);
    return false;
}

std::string CImageFile::ReadFailureMessage() const
{
    return WithPath(kMsgCannotRead, m_strPath, kMsgCheckFile);
}

bool CImageFile::Load(const std::string& strPath, int& nDloadType)
{
    Close();
    m_bLoaded = false;
    m_bBootImage = false;
    m_nVersionNumber = 0;
    m_nSize = 0;
    m_dwBaseOffset = 0;
    m_strBuildDateCode.clear();
    m_strLastError.clear();
    m_strPath = strPath;

    switch (m_file.Open(strPath)) {
    case CReadOnlyFile::OpenResult::kOpened: break;
    case CReadOnlyFile::OpenResult::kNoStatus: return Fail(kMsgNoFileInfo, kMsgCheckFile);
    case CReadOnlyFile::OpenResult::kCannotOpen:
    case CReadOnlyFile::OpenResult::kNotRegular:
        return Fail(kMsgCannotOpen, m_file.OpenFailure().empty() ? "" : " (" + m_file.OpenFailure() + ")");
    }
    uint64_t qwSize = 0;
    if (!m_file.CurrentSize(qwSize) || !m_file.Identity(m_identity)) return Fail(kMsgNoFileInfo, kMsgCheckFile);
    if (qwSize > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return Fail(kMsgTooLarge, kMsgCheckFile);

    std::array<uint8_t, 4> marker{};
    std::size_t got = 0;
    if (!m_file.ReadAt(kBootMarkerOffset, marker.data(), marker.size(), got)) return Fail(kMsgCannotRead, kMsgCheckFile);
    m_bBootImage = got == marker.size() && marker == kBootMarker;
    if (m_bBootImage) {
        if (!ReadVersionAndDate()) return Fail(kMsgCannotRead, kMsgCheckFile);
        if (nDloadType >= DLOAD_NORMAL && nDloadType <= DLOAD_FONT_EMERGENCY) nDloadType = DLOAD_CHANGE_EMERGENCY;
    } else if (!IsFontType(nDloadType)) {
        nDloadType = DLOAD_FONT_EMERGENCY;
    }
    m_dwBaseOffset = 0;
    m_nSize = static_cast<int32_t>(qwSize);
    m_bLoaded = true;
    Close();
    return true;
}

bool CImageFile::ReadVersionAndDate()
{
    m_strBuildDateCode.clear();
    m_nVersionNumber = 0;

    // A file that ends before the second version field reads as all 0xFF there.
    std::array<uint8_t, 4> second{0xFF, 0xFF, 0xFF, 0xFF};
    std::size_t got = 0;
    if (!m_file.ReadAt(kSecondVersionOffset, second.data(), second.size(), got)) return false;

    uint32_t dwDateOffset = kBuildDateOffset;
    if (std::all_of(second.begin(), second.end(), [](uint8_t b) { return b == 0xFF; })) {
        char digits[kVersionDigitsLength + 1] = {};
        if (!m_file.ReadAt(kVersionDigitsOffset, reinterpret_cast<uint8_t*>(digits), kVersionDigitsLength, got)) return false;
        m_nVersionNumber = static_cast<int32_t>(std::strtol(digits, nullptr, 10));
    } else {
        m_nVersionNumber = second[0] + 256 * second[1];
        dwDateOffset = kSecondBuildDateOffset;
    }

    std::array<char, kBuildStampLength> stamp{};
    if (!m_file.ReadAt(dwDateOffset, reinterpret_cast<uint8_t*>(stamp.data()), stamp.size(), got)) return false;
    // A stamp cut short by the end of the file is not recognised either.
    const auto code = got == stamp.size() ? MakeBuildDateCode(std::string_view(stamp.data(), stamp.size())) : std::nullopt;
    m_strBuildDateCode = code.value_or(std::string(kDefaultBuildDateCode));
    return true;
}

bool CImageFile::OpenForReading()
{
    m_strLastError.clear();
    if (m_file.Open(m_strPath) != CReadOnlyFile::OpenResult::kOpened) return Fail(kMsgCannotRead, kMsgCheckFile);
    return true;
}

bool CImageFile::ReadAt(uint64_t qwOffset, uint8_t* pData, std::size_t len, std::size_t& got)
{
    if (m_file.ReadAt(qwOffset, pData, len, got)) return true;
    return Fail(kMsgCannotRead, kMsgCheckFile);
}

bool CImageFile::ReadBlock(uint32_t dwBase, uint32_t dwIndex, BlockPacket& block, bool& bRetransmitPending)
{
    return ReadBlockAt(dwBase, dwIndex, block, bRetransmitPending, true);
}

bool CImageFile::ReadBlockUnbounded(uint32_t dwBase, uint32_t dwIndex, BlockPacket& block, bool& bRetransmitPending)
{
    return ReadBlockAt(dwBase, dwIndex, block, bRetransmitPending, false);
}

bool CImageFile::ReadBlockAt(uint32_t dwBase, uint32_t dwIndex, BlockPacket& block, bool& bRetransmitPending, bool bBounded)
{
    m_strLastError.clear();
    if (!m_file.IsOpen() && !OpenLoadedFile(kMsgCannotRead)) return false;
    const uint32_t dwOffset = dwBase + dwIndex * static_cast<uint32_t>(kBlockSize);
    block.dwOffset = dwOffset;
    const auto dwSize = static_cast<uint32_t>(m_nSize);
    if (bBounded && dwOffset >= dwSize) return false;
    // Only the bytes inside the size seen at load belong to the image; a file that has since
    // become shorter cannot deliver them and fails the read rather than sending padding.
    const std::size_t wanted = dwOffset < dwSize ? std::min<std::size_t>(kBlockSize, dwSize - dwOffset) : 0;
    std::size_t got = 0;
    if (!m_file.ReadAt(dwOffset, block.data.data(), wanted, got) || got < wanted) return Fail(kMsgCannotRead, kMsgCheckFile);
    std::fill(block.data.begin() + static_cast<std::ptrdiff_t>(got), block.data.end(), uint8_t{0xFF});
    block.wLength = static_cast<uint16_t>(kBlockSize);
    ApplySignatureRule(block, bRetransmitPending);
    return true;
}

bool CImageFile::OpenForRun()
{
    m_strLastError.clear();
    return OpenLoadedFile(kMsgSizeChanged);
}

// Opens the path and keeps it open only if it still leads to the loaded file, at its size.
bool CImageFile::OpenLoadedFile(const char* pszFailure)
{
    if (!OpenForReading()) return false;
    SFileIdentity identity;
    uint64_t qwSize = 0;
    if (!m_file.Identity(identity) || !m_file.CurrentSize(qwSize)) return Fail(kMsgNoFileInfo, kMsgCheckFile);
    if (identity != m_identity || qwSize != static_cast<uint64_t>(m_nSize)) return Fail(pszFailure, kMsgCheckFile);
    return true;
}

std::string CImageFile::VersionText() const
{
    return std::to_string(m_nVersionNumber) + "." + m_strBuildDateCode;
}

}  // namespace kestrel
