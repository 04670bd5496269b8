#pragma once
// What the serial link tells its owner. Every call is a post: it may come from the receive
// thread, must not block, and is handled later in the owner's own thread.

#include "frame_codec.h"

namespace kestrel {

class IRxOwner {
public:
    virtual ~IRxOwner() = default;
    // A frame was accepted; its content travels with the notice.
    virtual void PostRxPacket(const RxPacket& packet) = 0;
    // One more line waits in the log queue.
    virtual void PostLogMessage() = 0;
    // The receive thread of the given link has ended.
    virtual void PostRxThreadEnd(int linkId) = 0;
};

}  // namespace kestrel
