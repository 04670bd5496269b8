#pragma once
// SHA-256 of image files, computed once per load of an image: a file unchanged since it was
// last hashed is not read again.

#include <cstdint>
#include <map>
#include <string>

namespace kestrel {

// Lowercase hexadecimal; empty when the file cannot be read to its end.
std::string Sha256OfFile(const std::string& strPath);

class CImageDigests {
public:
    // Hashes the file at the path unless it is the same, unchanged, file as last time.
    void Update(const std::string& strPath);
    // The digest of the file as it is now; empty when it changed since it was hashed.
    std::string Find(const std::string& strPath) const;

private:
    struct SStamp {
        uint64_t qwDevice = 0;
        uint64_t qwInode = 0;
        int64_t nSize = -1;
        int64_t nModifiedNs = 0;
        bool operator==(const SStamp&) const = default;
    };
    struct SDigest {
        SStamp stamp;
        std::string strSha256;
    };
    static SStamp StampOf(const std::string& strPath);

    std::map<std::string, SDigest> m_digests;
};

}  // namespace kestrel
