#pragma once
// Bounds the engine puts on a run beyond the handset's own timings.

namespace kestrel {

// The supervision of an erase request, first sent or sent again.
inline constexpr int kEraseSupervisionMs = 500000;
// After the reply to a request that went out more than once, what arrives within this
// quiet interval is a second answer to it and is dropped; each one dropped starts it again.
inline constexpr int kResendSettleMs = 500;
// Retransmissions of one request or block (timeouts, NAKs and check-value mismatches
// together) before the run gives up on it.
inline constexpr int kMaxRetransmissions = 10;
// A handset that drops off the bus on entering its loader is waited for this long, looking
// for its device every poll interval.
inline constexpr int kReenumerationWaitMs = 5000;
inline constexpr int kReenumerationPollMs = 250;

}  // namespace kestrel
