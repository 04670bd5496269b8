#pragma once
// printf-style texts as the program shows them.

#include <cstdarg>
#include <cstdio>
#include <string>

namespace kestrel {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string Format(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n) : sizeof buffer - 1);
}

}  // namespace kestrel
