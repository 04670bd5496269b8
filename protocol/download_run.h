#pragma once
// The one record every part of a download run shares.

#include <cstdint>
#include <string>

#include "serial/command_packets.h"

namespace kestrel {

enum class RunStep : int {
    Idle = 0,
    WaitStart = 1,
    WaitJump = 4,
    WaitRestart = 5,
    WaitEraseBoot = 6,
    BootWrite = 7,
    WaitFlash = 8,
    FlashWrite = 9,
    WaitReset = 11,
    RangeEnd = 12,
};

// Timer ids.
inline constexpr int kTimerRequest = 0;
inline constexpr int kTimerBlock = 2;
inline constexpr int kTimerClock = 4;
// The quiet interval after a reply to a request that went out more than once.
inline constexpr int kTimerSettle = 6;
inline constexpr int kTimerCount = 7;

struct DownloadRun {
    RunStep eStep = RunStep::Idle;
    uint8_t byRetryCount = 0;
    int nTimerId = kTimerRequest;
    int nTimerPeriod = 0;
    uint32_t dwBaseOffset = 0;
    uint32_t dwEraseStart = 0;
    uint32_t dwLength = 0;
    int32_t nTotalBlocks = 0;
    int32_t nBlockIndex = 0;
    int32_t nLastBlockIndex = 0;
    BlockPacket currentBlock;
    BlockPacket lastTrackedBlock;
    int64_t nStartTimeMs = 0;
    bool bModeSwitch = false;

    // File offset of a block of the current range, in 32-bit arithmetic as the handset's
    // addresses are (block -1 of a range at 0 is 0xFFFFFC00).
    uint32_t BlockAddress(int32_t index) const { return dwBaseOffset + static_cast<uint32_t>(index) * 1024u; }
    // Image bytes in a block of the current range (the last one may be short).
    uint32_t BlockBytes(int32_t index) const
    {
        const uint32_t start = static_cast<uint32_t>(index) * 1024u;
        return start >= dwLength ? 0u : (dwLength - start < 1024u ? dwLength - start : 1024u);
    }
};

// What one run did, for records kept beyond the log pane.
struct SRunStatistics {
    int64_t nStartMs = 0;           // scheduler clock when Run was pressed
    int nRetransmissions = 0;       // requests, blocks and retransmit requests sent again
    int nSupervisionExpiries = 0;   // timeouts of the request and block supervision
    int nBlocksSent = 0;            // data blocks put on the line, resends included
    uint64_t qwBytesWritten = 0;    // image bytes whose block the handset acknowledged
    std::string strLastRedLine;     // the last error line of the log
    std::string strBackupFailure;   // what went wrong with the backup of the new image; empty if nothing
    int64_t nEndMs = -1;            // scheduler clock when its work ended, before a closing message box
};

// Steps in which the last thing sent was a data block (the last block of a COMPARE range
// included), so a lost reply is recovered with the retransmit request block.
constexpr bool IsBlockInFlight(RunStep step)
{
    return step == RunStep::BootWrite || step == RunStep::FlashWrite || step == RunStep::RangeEnd;
}

}  // namespace kestrel
