#include "image_backup.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "image/image_path.h"
#include "image/read_only_file.h"
#include "image/replacing_file.h"

namespace kestrel {
namespace {

bool IsSafeNameByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

}  // namespace

std::string BackupFileName(std::string_view strImagePath, std::string_view strBuildDateCode)
{
    const std::size_t nameStart = FolderOf(strImagePath).size();
    const std::size_t dot = strImagePath.rfind('.');
    std::string name(strImagePath);
    if (dot != std::string_view::npos && dot >= nameStart)
        name.resize(dot + 1);  // the extension goes, its full stop stays
    else
        name += '.';

    const std::size_t codeStart = name.size();
    name += strBuildDateCode;
    for (std::size_t i = codeStart; i < name.size(); ++i) {
        if (!IsSafeNameByte(name[i])) name[i] = '_';
    }
    if (name.back() == '_')
        name.back() = '.';
    else
        name += '.';
    name += "bin";
    return name;
}

bool CopyImageFile(const std::string& strSource, const std::string& strDestination, std::string* pstrReason)
{
    const auto fail = [pstrReason](const std::string& step, const std::string& why) {
        if (pstrReason != nullptr) *pstrReason = step + (why.empty() ? "" : ": " + why);
        return false;
    };
    CReadOnlyFile source;
    if (source.Open(strSource) != CReadOnlyFile::OpenResult::kOpened)
        return fail("cannot read " + strSource, source.OpenFailure());
    CReplacingFile copy(strDestination);
    if (!copy.IsOpen()) return fail(copy.Failure(), "");

    constexpr std::size_t kChunk = 64 * 1024;
    const auto buffer = std::make_unique<uint8_t[]>(kChunk);
    uint64_t qwOffset = 0;
    for (;;) {
        std::size_t got = 0;
        if (!source.ReadAt(qwOffset, buffer.get(), kChunk, got)) return fail("cannot read " + strSource, std::strerror(errno));
        if (!copy.Write(buffer.get(), got)) return fail(copy.Failure(), "");
        if (got == 0) break;
        qwOffset += got;
    }
    return copy.Commit() || fail(copy.Failure(), "");
}

}  // namespace kestrel
