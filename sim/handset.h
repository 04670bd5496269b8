#pragma once
// The handset's protocol rules, free of time and I/O: bytes in, answers out. The simulator
// owns the timing (erase time, pacing, injected delays) and the line.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "flash_model.h"
#include "request_parser.h"
#include "scenario.h"
#include "transcript.h"

namespace kestrel::sim {

// What the handset does after one unit of input.
struct SAnswer {
    std::optional<ETrigger> optTrigger;         // what a scenario rule can attach to
    std::optional<uint32_t> optBlockIndex;      // block index within the erased range
    std::optional<std::array<uint8_t, 3>> optReply;  // code, p1, p2; nullopt: silence
    unsigned nBusyMs = 0;                       // work before the reply (erasing)
    bool bModeSwitch = false;                   // the AT command: switch to download mode
};

struct SHandsetStats {
    uint64_t nBlocks = 0;           // data blocks written, rewrites included
    uint64_t nRetransmissions = 0;  // retransmit request blocks answered
    uint64_t nSignatureBlocks = 0;
    uint64_t nFaults = 0;           // faults of the tool's traffic that the handset noticed
};

class CHandset {
public:
    static constexpr uint32_t kBootBaud = 57600;
    static constexpr uint32_t kFastBaud = 115200;

    CHandset(CFlashModel& flash, CTranscript& transcript, unsigned eraseMs);

    // As after the mode switch: the loader waits for START_REQ at 57600 bit/s.
    void EnterDownloadMode();
    // As after power-up: only the AT command matters.
    void EnterNormalMode();
    bool InDownloadMode() const { return m_eStage != EStage::Normal; }

    // Bytes read from the line, with the speed the tool had set when they were read.
    std::vector<SAnswer> OnBytes(std::span<const uint8_t> bytes, uint32_t baud);
    // The line has been quiet for a while: settle what is pending (see HasPendingInput).
    std::vector<SAnswer> OnQuiet();
    // True while bytes wait for the line to go quiet before they can be judged.
    bool HasPendingInput() const;

    const SHandsetStats& Stats() const { return m_stats; }

private:
    enum class EStage : uint8_t {
        Normal,   // normal firmware: only the AT command
        Boot,     // download mode, nothing accepted yet (57600 bit/s)
        Started,  // START_REQ accepted; JUMP_REQ next (57600 bit/s)
        Jumped,   // the loader runs; its first START_REQ sets the line speed
        Loader,   // speed set: ERASE_REQ, START_REQ, or the final JUMP_REQ
        Blocks,   // erased: raw blocks, the retransmit request, or a request
    };
    // Where the next data block goes.
    enum class ENext : uint8_t {
        New,      // after the furthest block taken
        Replace,  // over the last block taken (after a retransmit request)
        Discard,  // nowhere: the tool resends a block of which this range holds no copy
    };

    void TakeNormalInput(std::span<const uint8_t> in, std::vector<SAnswer>& out);
    void FinishNormalLine(std::vector<SAnswer>& out);
    void TakeBlockBytes(std::span<const uint8_t> in, uint32_t baud, std::vector<SAnswer>& out);
    void SettleBurst(std::vector<SAnswer>& out);
    void HandleUnit(const SParsedUnit& unit, uint32_t baud, std::vector<SAnswer>& out);
    void HandleRequest(const SParsedUnit& unit, uint32_t baud, std::vector<SAnswer>& out);
    void HandleErase(const SParsedUnit& unit, SAnswer& answer);
    void HandleBlock(std::span<const uint8_t> block, uint32_t baud, std::vector<SAnswer>& out);
    void HandleRetryRequest(uint32_t baud, std::vector<SAnswer>& out);
    std::optional<uint32_t> TargetAddress() const;
    bool BlocksComplete() const { return m_dwHigh == m_dwEraseEnd; }
    bool SpeedAccepted(uint32_t baud) const;
    void WrongSpeed(std::string_view unit, uint32_t baud);
    void BlockCountFault();
    void SetStage(EStage stage);
    void Fault(const CJsonLine& line);

    CFlashModel& m_flash;
    CTranscript& m_transcript;
    unsigned m_nEraseMs;
    EStage m_eStage = EStage::Normal;
    uint32_t m_dwSessionBaud = 0;      // adopted with the first START_REQ after the jump
    uint32_t m_dwLastBaud = 0;         // speed of the last bytes read
    CRequestParser m_parser;
    std::string m_strLine;             // normal mode: the command line being typed
    std::vector<uint8_t> m_vecBurst;   // block stage: bytes not yet judged
    uint32_t m_dwBurstBaud = 0;
    uint32_t m_dwEraseStart = 0;
    uint32_t m_dwEraseEnd = 0;
    uint32_t m_dwHigh = 0;             // one past the furthest block taken in this range
    std::optional<uint32_t> m_optLastData;  // address of the last image block taken
    uint32_t m_dwReplace = 0;
    ENext m_eNext = ENext::New;
    bool m_bLost = false;              // a block went missing since the last one taken
    SHandsetStats m_stats;
};

}  // namespace kestrel::sim
