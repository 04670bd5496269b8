#pragma once
// The comparison of a change download: the new image against the old one in 128 KiB blocks,
// the differing stretches recorded in a CRunTable and reported as log lines.

#include <functional>
#include <string>
#include <string_view>

#include "image/image_file.h"
#include "image/run_table.h"

namespace kestrel {

// Receives each log line with its kind (2 notice in blue, 3 error in red).
using LogSink = std::function<void(int nKind, std::string_view text)>;

enum class CompareStatus {
    kNotRun,    // a path is empty: nothing changed, nothing logged
    kFailed,    // an image could not be read; the table is reset and must not be used
    kCompared,  // the table holds the runs (none when the images are the same)
};

// Compares up to the new image's size from its last load. A final block shorter than 128 KiB
// is equal only when the old image has every byte the new one has there. On kFailed the
// message for the operator is in strError and has been logged in red.
CompareStatus CompareImages(CImageFile& newImage, CImageFile& oldImage, CRunTable& table, const LogSink& log,
                            std::string& strError);

}  // namespace kestrel
