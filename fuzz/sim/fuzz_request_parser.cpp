// libFuzzer target: the simulator's request parser, alone and behind the handset rules,
// fed in reads of varying size at varying line speeds.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "handset.h"
#include "request_parser.h"

namespace {

using namespace kestrel::sim;

void Check(bool ok)
{
    if (!ok) __builtin_trap();
}

void FuzzParser(std::span<const uint8_t> data, std::size_t chunk)
{
    CRequestParser parser;
    while (!data.empty()) {
        const std::size_t n = std::min(chunk, data.size());
        std::span<const uint8_t> rest = data.first(n);
        data = data.subspan(n);
        while (!rest.empty()) {
            std::optional<SParsedUnit> unit;
            const std::size_t used = parser.Feed(rest, unit);
            Check(used > 0 && used <= rest.size());
            if (unit) Check(unit->vecWire.size() <= unit->nWireBytes);
            rest = rest.subspan(used);
        }
    }
    parser.Flush();
    Check(!parser.HasPending());
}

void FuzzHandset(std::span<const uint8_t> data, uint8_t control)
{
    static constexpr uint32_t kSpeeds[] = {57600, 115200, 38400, 9600};
    CFlashModel flash(64 * 1024);
    CTranscript transcript;
    CHandset handset(flash, transcript, 0);
    handset.EnterDownloadMode();
    if (control & 0x80) {
        // Begin in the block stage, where raw blocks and requests share the line.
        static constexpr uint8_t kOpen[] = {
            0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00,  // start at 57600
            0x7E, 0xC0, 0x74, 0x36, 0x7E, 0x00, 0x00, 0x00,  // jump
        };
        static constexpr uint8_t kRestart[] = {0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00};
        static constexpr uint8_t kErase[] = {0x7E, 0xEE, 0, 0, 0, 0, 0, 0x08, 0, 0, 0x7D, 0x5D, 0x79, 0x7E, 0, 0};
        handset.OnBytes(kOpen, 57600);
        handset.OnBytes(kRestart, 115200);
        handset.OnBytes(kErase, 115200);
    }
    std::size_t i = 0;
    while (i < data.size()) {
        // Each read: one byte says how long it is, at which speed, and whether the line then goes quiet.
        const uint8_t head = data[i++];
        const std::size_t n = std::min<std::size_t>((head & 0x0F) * 97 + 1, data.size() - i);
        handset.OnBytes(data.subspan(i, n), kSpeeds[(head >> 4) & 3]);
        i += n;
        if (head & 0x40) handset.OnQuiet();
    }
    handset.OnQuiet();
    Check(!handset.HasPendingInput());
    Check(flash.End() <= flash.Size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::span<const uint8_t> rest(data + 1, size - 1);
    FuzzParser(rest, (data[0] & 0x3F) + 1);
    FuzzHandset(rest, data[0]);
    return 0;
}
