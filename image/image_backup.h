#pragma once
// The dated copy of a new image that a change download leaves next to it.

#include <string>
#include <string_view>

namespace kestrel {

// What the operator is told when the backup could not be written.
inline constexpr std::string_view kBackupFailMessage = " Fail to create TempFile";

// The backup name in the image's folder: the image's name with its extension replaced by the
// build-date code and ".bin", for example PHONE.AC15__14_22_05.bin. The code comes from the
// image, so every byte of it other than letters, digits, '-' and '.' becomes '_': the result
// is always a plain file name beside the image.
std::string BackupFileName(std::string_view strImagePath, std::string_view strBuildDateCode);

// Copies the whole source file over destination. The copy is written to a temporary file in
// the destination's folder and renamed over it at the end, so a failure leaves neither a
// partial file nor a lost earlier copy. On failure, pstrReason (when given) says which step
// failed and why.
bool CopyImageFile(const std::string& strSource, const std::string& strDestination, std::string* pstrReason = nullptr);

}  // namespace kestrel
