#include "build_date_code.h"

#include <array>

namespace kestrel {
namespace {

constexpr std::array<std::string_view, 12> kMonths{
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char Printable(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return (b >= 0x20 && b < 0x7F) ? c : '?';
}

}  // namespace

std::optional<std::string> MakeBuildDateCode(std::string_view stamp)
{
    if (stamp.size() < kBuildStampLength) return std::nullopt;
    int month = -1;
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (stamp.substr(0, 3) == kMonths[m]) {
            month = static_cast<int>(m);
            break;
        }
    }
    if (month < 0) return std::nullopt;

    // Two-digit year from 1981 on; a non-digit gives some letter, but always a capital one.
    int yy = 10 * (static_cast<unsigned char>(stamp[9]) - '0') + (static_cast<unsigned char>(stamp[10]) - '0');
    if (yy < 81) yy += 100;
    const int yearLetter = ((yy - 81) % 26 + 26) % 26;

    std::string code;
    code.reserve(15);
    code += static_cast<char>('A' + yearLetter);
    code += static_cast<char>('A' + month);
    code += Printable(stamp[4]);
    code += Printable(stamp[5]);
    code += " [";
    for (std::size_t i = 0; i < kBuildTimeLength; ++i) code += Printable(stamp[kBuildDateLength + i]);
    code += ']';
    return code;
}

}  // namespace kestrel
