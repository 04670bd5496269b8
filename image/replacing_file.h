#pragma once
// A file written beside its destination and renamed over it only once it is whole, so that a
// failure leaves neither a partial file nor a lost earlier one.

#include <cstddef>
#include <string>

namespace kestrel {

class CReplacingFile {
public:
    // Creates the temporary file in the destination's folder; IsOpen() says whether it could.
    explicit CReplacingFile(std::string strDestination);
    // The temporary file goes unless Commit() has renamed it.
    ~CReplacingFile();
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    bool Write(const void* pData, std::size_t nSize);
    // Puts the file on the disk and renames it over the destination.
    bool Commit();
    // Which step failed and why: "cannot create a file in FOLDER: ...", "cannot write ...",
    // "cannot rename TEMP to DESTINATION: ...".
    const std::string& Failure() const { return m_strFailure; }

private:
    bool Fail(const std::string& strStep);

    std::string m_strDestination;
    std::string m_strTemp;
    std::string m_strFailure;
    int m_fd = -1;
    bool m_bCommitted = false;
};

}  // namespace kestrel
