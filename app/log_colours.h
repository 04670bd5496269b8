#pragma once
// The colours of the window's log pane, as 0x00BBGGRR values, and which kind of line takes
// which: errors red, link and command status black, the rest blue.

#include <cstdint>

#include "serial/log_queue.h"

namespace kestrel {

inline constexpr uint32_t kColourBlue = 0xFF0000;
inline constexpr uint32_t kColourRed = 0x0000FF;
inline constexpr uint32_t kColourBlack = 0x000000;
inline constexpr uint32_t kColourCheckMark = 0xB4522E;

constexpr uint32_t LogColour(int kind)
{
    return kind == kLogError ? kColourRed : kind == kLogStatus ? kColourBlack : kColourBlue;
}

}  // namespace kestrel
