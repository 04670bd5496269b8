#pragma once
// The protocol and the window speak of colours as Windows colour values 0x00BBGGRR
// (red in the low byte); this is the one place where they become QColor.

#include <QColor>
#include <cstdint>

namespace kestrel {

// The top byte carries no colour and is ignored.
inline QColor ColorFromRef(uint32_t clrRef)
{
    return QColor(static_cast<int>(clrRef & 0xFFu), static_cast<int>((clrRef >> 8) & 0xFFu),
                  static_cast<int>((clrRef >> 16) & 0xFFu));
}

}  // namespace kestrel
