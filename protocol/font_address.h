#pragma once
// The flash address of a FONT download as the operator types it, in the window's dialog or
// on the command line. Only a whole address is taken, since a misread one would overwrite
// the boot area.

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel {

inline constexpr int kFontAddressMaxDigits = 8;

// 1 to 8 hexadecimal digits with an optional 0x, blanks around them ignored; none for an
// empty, partial or too long number.
std::optional<uint32_t> ParseFontAddress(std::string_view strText);

}  // namespace kestrel
