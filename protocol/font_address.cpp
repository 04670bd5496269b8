#include "protocol/font_address.h"

#include <cctype>

namespace kestrel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<uint32_t> ParseFontAddress(std::string_view strText)
{
    while (!strText.empty() && IsBlank(strText.front())) strText.remove_prefix(1);
    while (!strText.empty() && IsBlank(strText.back())) strText.remove_suffix(1);
    if (strText.size() > 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X')) strText.remove_prefix(2);
    if (strText.empty() || strText.size() > static_cast<std::size_t>(kFontAddressMaxDigits)) return std::nullopt;
    uint32_t dwAddress = 0;
    for (const char c : strText) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        const int nDigit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        dwAddress = dwAddress << 4 | static_cast<uint32_t>(nDigit);
    }
    return dwAddress;
}

}  // namespace kestrel
