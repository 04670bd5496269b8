#pragma once
// What the serial link tells its owner. Every call is a post: it may come from the receive
// thread, must not block, and is handled later in the owner's own thread.

#include <cstdint>

#include "frame_codec.h"

namespace kestrel {

// How a link that was open stopped working.
enum class LinkFault {
    HangUp,       // the device went away
    WriteFailed,  // the device stopped taking bytes
};

class IRxOwner {
public:
    virtual ~IRxOwner() = default;
    // A frame was accepted; its content travels with the notice, and with the generation of
    // the port (one per open) its bytes were read on.
    virtual void PostRxPacket(const SRxPacket& packet, uint64_t generation) = 0;
    // One more line waits in the log queue.
    virtual void PostLogMessage() = 0;
    // The receive thread of the given link has ended.
    virtual void PostRxThreadEnd(int linkId) = 0;
    // The port of that generation failed; at most once per kind and generation.
    virtual void PostLinkFault(LinkFault fault, uint64_t generation) = 0;
};

}  // namespace kestrel
