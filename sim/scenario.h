#pragma once
// Faults to inject, read from a scenario file. One rule a line:
//
//   TRIGGER ACTION [ARGUMENT...]        # comment
//
// TRIGGER is at, start, jump, erase, retry or block, optionally block:INDEX, then optionally
// @N (the N-th occurrence, counted from 1; default 1) or @* (every occurrence).
// ACTION is drop, code, params, nak-bad-crc, nak-model, nak-invalid, nak-failed, late,
// garbage, split, unplug or reenumerate (docs/simulator.md describes each).

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::sim {

enum class ETrigger : uint8_t { At, Start, Jump, Erase, Retry, Block };

std::string_view TriggerName(ETrigger trigger);

// What the rules that fired do to one answer of the handset.
struct SReplyPlan {
    bool bDrop = false;
    std::optional<uint8_t> optCode;                     // replaces the reply code
    std::optional<std::array<uint8_t, 2>> optParams;    // replaces p1, p2
    bool bOwnCheck = false;  // a NAK the handset chose: its check value covers the new content
    unsigned nLateMs = 0;
    std::vector<uint8_t> vecGarbage;  // written just before the answer
    std::optional<unsigned> optSplitMs;
    bool bUnplug = false;
    std::optional<unsigned> optReappearMs;
    std::optional<unsigned> optReenumerateMs;  // after the answer: gone, back this much later, same stage
    std::vector<std::string> vecFired;  // the rules that fired, as written in the file
};

class CScenario {
public:
    // Parses a whole scenario; on a bad line returns nullopt and says which line and why.
    static std::optional<CScenario> Parse(std::string_view text, std::string& error);

    // Counts one occurrence of the trigger (and of the block index, when there is one) and
    // returns what the rules matching this occurrence do to the answer.
    SReplyPlan Apply(ETrigger trigger, std::optional<uint32_t> blockIndex);

private:
    enum class EAction : uint8_t { Drop, Code, Params, Nak, Late, Garbage, Split, Unplug, Reenumerate };
    struct SRule {
        ETrigger eTrigger;
        std::optional<uint32_t> optIndex;
        std::optional<unsigned> optOccurrence;  // nullopt: every occurrence
        EAction eAction;
        std::vector<uint8_t> vecBytes;  // code, params, NAK code and parameters, garbage
        std::optional<unsigned> optMs;
        std::string strText;
    };

    static std::optional<SRule> ParseRule(std::string_view line, std::string& error);
    // Reads the action and its arguments into a rule whose trigger is already read.
    static bool ParseAction(std::string_view action, std::span<const std::string_view> args, SRule& rule, std::string& error);

    std::vector<SRule> m_vecRules;
    std::map<std::pair<ETrigger, int64_t>, unsigned> m_mapSeen;  // index -1: any index
};

}  // namespace kestrel::sim
