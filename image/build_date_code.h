#pragma once
// The build date and time a boot image stores as text, turned into the short build-date code.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr std::size_t kBuildDateLength = 11;  // "Mar 15 2007"
inline constexpr std::size_t kBuildTimeLength = 8;   // "14:22:05"
inline constexpr std::size_t kBuildStampLength = kBuildDateLength + kBuildTimeLength;
inline constexpr std::string_view kDefaultBuildDateCode = "0000 [00:00:00]";

// Code of the 19 date and time bytes, for example "AC15 [14:22:05]"; nullopt when the month
// is not recognised. Bytes copied from the image that are not printable ASCII become '?',
// so the code is always 15 characters of valid text.
std::optional<std::string> MakeBuildDateCode(std::string_view stamp);

}  // namespace kestrel
