#pragma once
// One firmware image file. It is opened for one operation or one run and never written.
// What the operator must be told about a failure is left in LastError().

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "image/read_only_file.h"
#include "serial/command_packets.h"

namespace kestrel {

// Offsets of the facts stored inside an image.
inline constexpr uint32_t kBuildDateOffset = 0x20;
inline constexpr uint32_t kVersionDigitsOffset = 0x34;
inline constexpr std::size_t kVersionDigitsLength = 3;
inline constexpr uint32_t kBootMarkerOffset = 0x37;
inline constexpr uint32_t kSecondVersionOffset = 0x20024;
inline constexpr uint32_t kSecondBuildDateOffset = 0x2003C;

class CImageFile {
public:
    CImageFile() = default;
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // Reads size, boot marker, version and build-date code, and adapts the selected download
    // type to the image: a boot image turns 0-3 into CHANGE(EMERGENCY), an image without the
    // marker turns every type but the FONT types into FONT(EMRGENCY).
    bool Load(const std::string& strPath, int& nDloadType);

    // The 1024 bytes at base + index * 1024, padded with 0xFF, then the signature-block rule.
    // False when the offset is not below the size (LastError() empty) or the read fails. The
    // file stays open for the next block; a closed one is opened again only if it is still
    // the file that was loaded.
    bool ReadBlock(uint32_t dwBase, uint32_t dwIndex, BlockPacket& block, bool& bRetransmitPending);
    // The same for offsets past the end of the image, which read as 0xFF.
    bool ReadBlockUnbounded(uint32_t dwBase, uint32_t dwIndex, BlockPacket& block, bool& bRetransmitPending);

    // Opens the file for the caller's own reads with ReadAt; Close ends them.
    bool OpenForReading();
    bool ReadAt(uint64_t qwOffset, uint8_t* pData, std::size_t len, std::size_t& got);
    void Close() { m_file.Close(); }
    bool IsOpen() const { return m_file.IsOpen(); }

    // Opens the loaded file for a run, to be read from start to end whatever happens to its
    // path meanwhile; Close ends it. False, with a message, when the path no longer leads to
    // the file that was loaded or its size changed.
    bool OpenForRun();

    const std::string& Path() const { return m_strPath; }
    int32_t Size() const { return m_nSize; }
    int32_t VersionNumber() const { return m_nVersionNumber; }
    uint32_t BaseOffset() const { return m_dwBaseOffset; }
    bool IsLoaded() const { return m_bLoaded; }
    bool IsBootImage() const { return m_bBootImage; }
    std::string BuildDateCode() const { return m_strBuildDateCode; }
    // As the window shows it: the version number, a full stop and the build-date code.
    std::string VersionText() const;
    // The message for an image that cannot be read, as block reads report it.
    std::string ReadFailureMessage() const;
    // Message of the last failed operation; empty after a success.
    const std::string& LastError() const { return m_strLastError; }

private:
    bool ReadBlockAt(uint32_t dwBase, uint32_t dwIndex, BlockPacket& block, bool& bRetransmitPending, bool bBounded);
    bool ReadVersionAndDate();
    bool OpenLoadedFile(const char* pszFailure);
    bool Fail(const char* pszFormat, std::string_view suffix = {});

    std::string m_strPath;
    CReadOnlyFile m_file;
    SFileIdentity m_identity;
    int32_t m_nSize = 0;
    int32_t m_nVersionNumber = 0;
    uint32_t m_dwBaseOffset = 0;
    bool m_bLoaded = false;
    bool m_bBootImage = false;
    std::string m_strBuildDateCode;
    std::string m_strLastError;
};

}  // namespace kestrel
