#pragma once
// Text from devices and settings, made safe to write to a terminal.

#include <string>
#include <string_view>

namespace kestrel {

// Printable characters as they are; every other (control and format characters, such as ESC
// or a right-to-left override) as \xHH below U+0100 and \uHHHH above; bytes that are not
// valid UTF-8 become U+FFFD.
std::string TerminalSafe(std::string_view text);

}  // namespace kestrel
