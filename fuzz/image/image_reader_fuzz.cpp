// Feeds arbitrary image content to the image reader: load, version and build-date code,
// block reads, backup name and the comparison. The first byte picks the selected download
// type and how long the old image is; the next 0x60 bytes are the start of the image and the
// rest is placed at 0x20000, where the second version field and build date live.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/download_type.h"
#include "image/image_backup.h"
#include "image/image_compare.h"
#include "image/image_file.h"
#include "image/image_path.h"

namespace {

constexpr std::size_t kHeadLength = 0x60;
constexpr std::size_t kSecondPartOffset = 0x20000;

void Check(bool condition)
{
    if (!condition) __builtin_trap();
}

bool IsPrintable(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// A file in memory that the reader opens by path like any other.
struct MemoryFile {
    explicit MemoryFile(const char* name) : fd(memfd_create(name, MFD_CLOEXEC)), path("/proc/self/fd/" + std::to_string(fd)) {}
    void Fill(const std::vector<uint8_t>& content) const
    {
        Check(ftruncate(fd, 0) == 0);
        Check(pwrite(fd, content.data(), content.size(), 0) == static_cast<ssize_t>(content.size()));
    }
    int fd;
    std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace kestrel;
    if (size == 0) return 0;
    static const MemoryFile newFile("new.bin");
    static const MemoryFile oldFile("old.bin");

    std::vector<uint8_t> content(data + 1, data + std::min(size, 1 + kHeadLength));
    if (size > 1 + kHeadLength) {
        content.resize(kSecondPartOffset, 0xFF);
        content.insert(content.end(), data + 1 + kHeadLength, data + size);
    }
    newFile.Fill(content);
    std::vector<uint8_t> old = content;
    old.resize(std::min(old.size(), std::size_t{data[0]} * 1200));
    oldFile.Fill(old);

    CImageFile image;
    int nType = data[0] % 9;
    const int nSelected = nType;
    Check(image.Load(newFile.path, nType));
    Check(image.Size() == static_cast<int32_t>(content.size()));
    const std::string code = image.BuildDateCode();
    if (image.IsBootImage()) {
        Check(code.size() == 15 && IsPrintable(code));
        Check(nType == ((nSelected <= DLOAD_FONT_EMERGENCY) ? DLOAD_CHANGE_EMERGENCY : nSelected));
    } else {
        Check(code.empty() && image.VersionNumber() == 0);
        Check(nType == (IsFontType(nSelected) ? nSelected : DLOAD_FONT_EMERGENCY));
    }
    Check(IsPrintable(image.VersionText()));

    const std::string backup = BackupFileName(newFile.path, code);
    Check(FolderOf(backup) == FolderOf(newFile.path));

    BlockPacket block;
    bool bPending = false;
    const auto nSize = static_cast<uint32_t>(image.Size());
    for (uint32_t index = 0;; ++index) {
        const bool bRead = image.ReadBlock(0, index, block, bPending);
        Check(bRead == (index * kBlockSize < nSize));
        if (!bRead) break;
        // The flag is set after a read exactly when that read met the retransmit signature,
        // whose byte 7 it changed (in the padding too, for a short image).
        const bool bSignature = bPending;
        for (std::size_t i = 0; i < kBlockSize; ++i) {
            const std::size_t at = index * kBlockSize + i;
            if (i == 7 && bSignature) Check(block.data[i] == 0x02);
            else if (at >= nSize) Check(block.data[i] == 0xFF);
            else Check(block.data[i] == content[at]);
        }
    }
    Check(image.ReadBlockUnbounded(0, (nSize + 1023) / 1024, block, bPending));

    CImageFile oldImage;
    Check(oldImage.Load(oldFile.path, nType));
    CRunTable table;
    std::string strError;
    Check(CompareImages(image, oldImage, table, [](int, std::string_view) {}, strError) == CompareStatus::kCompared);
    int32_t nEnd = -1;
    for (int32_t i = 0; i < table.RunCount(); ++i) {
        const SRunEntry run = table.Run(i);
        Check(run.nBlockCount >= 1 && run.nStartBlock > nEnd);
        nEnd = run.nStartBlock + run.nBlockCount;
    }
    Check(static_cast<uint64_t>(std::max(nEnd, 0)) * kCompareBlockSize < nSize + uint64_t{kCompareBlockSize});
    return 0;
}
