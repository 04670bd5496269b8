#pragma once
// A file opened for reading only, with positioned reads. Opening never blocks: a FIFO or a
// device node chosen as an image would otherwise hang the caller, so only regular files open.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// Which file a descriptor refers to, whatever path leads to it now.
struct SFileIdentity {
    uint64_t qwDevice = 0;
    uint64_t qwInode = 0;
    bool operator==(const SFileIdentity&) const = default;
};

class CReadOnlyFile {
public:
    enum class OpenResult { kOpened, kCannotOpen, kNoStatus, kNotRegular };

    CReadOnlyFile() = default;
    CReadOnlyFile(const CReadOnlyFile&) = delete;
    CReadOnlyFile& operator=(const CReadOnlyFile&) = delete;
    ~CReadOnlyFile() { Close(); }

    OpenResult Open(const std::string& strPath);
    // Why the last Open failed, in a few words ("a folder", "Permission denied"); empty
    // after a success and for a file that does not exist, which says enough by itself.
    const std::string& OpenFailure() const { return m_strOpenFailure; }
    bool IsOpen() const { return m_nFd >= 0; }
    // Current length of the open file; false when the file system cannot tell.
    bool CurrentSize(uint64_t& qwSize) const;
    // False when the file system cannot tell.
    bool Identity(SFileIdentity& identity) const;
    // Reads up to len bytes at offset; got is less than len only at the end of the file.
    bool ReadAt(uint64_t qwOffset, uint8_t* pData, std::size_t len, std::size_t& got) const;
    void Close();

private:
    int m_nFd = -1;
    std::string m_strOpenFailure;
};

}  // namespace kestrel
