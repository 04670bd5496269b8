#include "services/image_digest.h"

#include <sys/stat.h>

#include <QCryptographicHash>
#include <vector>

#include "image/read_only_file.h"

namespace kestrel {

std::string Sha256OfFile(const std::string& strPath)
{
    CReadOnlyFile file;
    if (file.Open(strPath) != CReadOnlyFile::OpenResult::kOpened) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<uint8_t> buffer(1 << 20);
    uint64_t qwOffset = 0;
    for (;;) {
        std::size_t got = 0;
        if (!file.ReadAt(qwOffset, buffer.data(), buffer.size(), got)) return {};
        hash.addData(QByteArrayView(buffer.data(), static_cast<qsizetype>(got)));
        qwOffset += got;
        if (got < buffer.size()) break;
    }
    return hash.result().toHex().toStdString();
}

CImageDigests::SStamp CImageDigests::StampOf(const std::string& strPath)
{
    struct stat info {};
    if (stat(strPath.c_str(), &info) != 0) return {};
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), static_cast<int64_t>(info.st_size),
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

void CImageDigests::Update(const std::string& strPath)
{
    const SStamp stamp = StampOf(strPath);
    const auto it = m_digests.find(strPath);
    if (it != m_digests.end() && it->second.stamp == stamp) return;
    std::string strSha256 = Sha256OfFile(strPath);
    // A file changed while it was read has no digest.
    if (StampOf(strPath) != stamp) strSha256.clear();
    m_digests[strPath] = {stamp, std::move(strSha256)};
}

std::string CImageDigests::Find(const std::string& strPath) const
{
    const auto it = m_digests.find(strPath);
    if (it == m_digests.end() || it->second.stamp != StampOf(strPath)) return {};
    return it->second.strSha256;
}

}  // namespace kestrel
