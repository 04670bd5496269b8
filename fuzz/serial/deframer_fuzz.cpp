// Feeds arbitrary bursts to the deframer in both framings. The first byte picks the framing
// and how the rest is cut into chunks.

#include <cstddef>
#include <cstdint>

#include "serial/frame_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const kestrel::Framing framing = (data[0] & 1) ? kestrel::Framing::Dm : kestrel::Framing::Download;
    const std::size_t chunk = 1 + (data[0] >> 1);
    kestrel::CDeframer deframer;
    for (std::size_t i = 1; i < size; i += chunk) {
        const std::size_t n = i + chunk <= size ? chunk : size - i;
        const auto status = deframer.Feed({data + i, n}, framing);
        if (status == kestrel::DeframeStatus::Good && deframer.Packet().length > kestrel::kRxPacketSize) __builtin_trap();
        if (status == kestrel::DeframeStatus::Overflow) deframer.Reset();
    }
    return 0;
}
