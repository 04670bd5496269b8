// kestrel-cli compare NEW OLD: the comparison of a change download, as the "C" button logs
// it, followed by the runs that such a download would erase and write.

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "commands.h"
#include "protocol/exit_codes.h"
#include "image/download_type.h"
#include "image/image_compare.h"

namespace kestrel {
namespace {

// The bytes of a run, cut at the end of the new image as the download cuts them.
std::string RunText(const SRunEntry& run, int32_t nImageSize)
{
    const uint64_t qwStart = uint64_t{static_cast<uint32_t>(run.nStartBlock)} * kCompareBlockSize;
    const uint64_t qwEnd = std::min<uint64_t>(qwStart + uint64_t{static_cast<uint32_t>(run.nBlockCount)} * kCompareBlockSize,
                                              static_cast<uint64_t>(nImageSize));
    char buf[160];
    std::snprintf(buf, sizeof buf, "  start block %" PRId32 ", %" PRId32 " block(s): offset 0x%08" PRIX64 ", 0x%" PRIX64 " bytes",
                  run.nStartBlock, run.nBlockCount, qwStart, qwEnd - qwStart);
    return buf;
}

}  // namespace

int RunCompareCommand(CCliOutput& out, const CliArgs& args)
{
    if (args.size() != 2) {
        out.Error("usage: kestrel-cli compare NEW OLD");
        return kExitUsage;
    }
    CImageFile newImage;
    CImageFile oldImage;
    int nType = DLOAD_COMPARE_EMERGENCY;
    for (auto [pImage, strPath] : {std::pair{&newImage, args[0]}, std::pair{&oldImage, args[1]}}) {
        if (!pImage->Load(strPath, nType)) {
            out.Error(pImage->LastError());
            return kExitFileError;
        }
    }

    CRunTable table;
    std::string strError;
    const auto status =
        CompareImages(newImage, oldImage, table, [&out](int nKind, std::string_view text) { out.Log(nKind, text); }, strError);
    if (status != CompareStatus::kCompared) return kExitFileError;  // the red log line says why

    const int32_t nRunCount = table.RunCount();
    std::vector<std::pair<int64_t, int64_t>> runs;
    for (int32_t i = 0; i < nRunCount; ++i) runs.emplace_back(table.Run(i).nStartBlock, table.Run(i).nBlockCount);
    out.Object(CJsonObject()
                   .Add("event", "compare")
                   .Add("runs", runs)
                   .Add("run_count", nRunCount)
                   .Add("total_blocks", table.TotalDifferentBlocks(nRunCount))
                   .Add("same", nRunCount == 0));

    if (nRunCount == 0) {
        out.Text("The images are the same: nothing to download.");
        return kExitOk;
    }
    out.Text("Runs to download (128 KiB blocks):");
    for (int32_t i = 0; i < nRunCount; ++i) out.Text(RunText(table.Run(i), newImage.Size()));
    return kExitOk;
}

}  // namespace kestrel
