#include "display_columns.h"

#include <locale.h>
#include <wchar.h>

namespace kestrel {
namespace {

// glibc's character widths, read through C.UTF-8 whatever LC_CTYPE the process was given: a
// factory script often runs with none, and in "C" wcwidth knows no character past ASCII.
// Debian's libc-bin always has C.UTF-8.
locale_t Utf8Locale()
{
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return utf8;
}

constexpr std::size_t kNotUtf8 = static_cast<std::size_t>(-1);
constexpr std::size_t kCutShort = static_cast<std::size_t>(-2);

}  // namespace

std::string ClipToColumns(std::string_view text, int columns)
{
    const locale_t utf8 = Utf8Locale();
    if (utf8 == locale_t{}) return std::string(text);  // no widths to go by
    const locale_t previous = uselocale(utf8);
    mbstate_t state{};
    std::size_t kept = 0;
    int used = 0;
    while (kept < text.size()) {
        wchar_t c = 0;
        std::size_t length = mbrtowc(&c, text.data() + kept, text.size() - kept, &state);
        int width = 1;
        if (length == kNotUtf8 || length == kCutShort) {
            length = 1;
            state = mbstate_t{};
        } else {
            length = length == 0 ? 1 : length;  // a NUL byte
            // A control character has no width of its own: counted as one, the line never runs over.
            const int own = wcwidth(c);
            width = own < 0 ? 1 : own;
        }
        if (used + width > columns) break;
        used += width;
        kept += length;
    }
    uselocale(previous);
    return std::string(text.substr(0, kept));
}

}  // namespace kestrel
