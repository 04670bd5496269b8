#pragma once
// What makes an image a boot image to the engine: a build date, version "12" and the BOOT
// marker in its header, and no second version field.

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrel::test {

inline void StampBootHeader(std::vector<uint8_t>& image)
{
    constexpr std::string_view kHeader = "Mar 15 200714:22:0512 BOOT";
    if (image.size() >= 0x3B) {
        std::copy(kHeader.begin(), kHeader.begin() + 19, image.begin() + 0x20);
        std::copy(kHeader.begin() + 19, kHeader.begin() + 21, image.begin() + 0x34);
        image[0x36] = ' ';
        std::copy(kHeader.begin() + 22, kHeader.end(), image.begin() + 0x37);
    }
    if (image.size() >= 0x20028) std::fill(image.begin() + 0x20024, image.begin() + 0x20028, uint8_t{0xFF});
}

}  // namespace kestrel::test
