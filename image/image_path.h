#pragma once
// What the Open buttons decide from a chosen path alone: whether it names an image file, and
// which folder to remember for the next choice.

#include <string>
#include <string_view>

namespace kestrel {

inline constexpr std::string_view kNotNewImageMessage = "다운로드용 파일이 아닙니다. 확장자가 .bin이어야 합니다.";
inline constexpr std::string_view kNotOldImageMessage = "다운로드용 파일이 아닙니다.";

// True when the extension of the file name (the text after its last full stop) is "bin" in
// any letter case; a full stop in a folder name does not count.
bool HasImageExtension(std::string_view strPath);

// The path without its file name, keeping the final '/'; empty for a bare file name.
std::string FolderOf(std::string_view strPath);

}  // namespace kestrel
