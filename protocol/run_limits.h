#pragma once
// The timings of a run, in milliseconds: those of the handset's protocol, then the bounds
// the engine puts on a run beyond them.

namespace kestrel {

// How long a framed request or a data block is watched for its reply.
inline constexpr int kReplySupervisionMs = 3000;
// How long the final jump is watched: the handset restarts before it answers.
inline constexpr int kFinalJumpSupervisionMs = 5000;
// The supervision of an erase request, first sent or sent again.
inline constexpr int kEraseSupervisionMs = 500000;
// The elapsed-time and erase-time texts are brought up to date this often.
inline constexpr int kClockTickMs = 1000;

// The mode switch of the NORMAL types: the port is let go before it is opened again, the
// line settles before the AT command, and the handset gets two waits to restart in its
// download mode, one before and one after the step is marked done.
inline constexpr int kPortReleaseWaitMs = 100;
inline constexpr int kModeSwitchSettleMs = 500;
inline constexpr int kModeSwitchRestartMs = 5000;
inline constexpr int kModeSwitchReadyMs = 5000;
// A port opened again (after a speed change, or for a handset that came back) is let
// settle before anything is sent on it.
inline constexpr int kReopenSettleMs = 500;
// Ending a link: the wait after its port is closed, the time the receive thread is given to
// end between wake-ups, and a last short wait for its end notice.
inline constexpr int kLinkCloseWaitMs = 1000;
inline constexpr int kThreadEndWaitMs = 1000;
inline constexpr int kThreadEndNoticeMs = 10;
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
