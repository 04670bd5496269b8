#include "scenario.h"

#include <algorithm>
#include <charconv>
#include <span>

#include "wire.h"

namespace kestrel::sim {
namespace {

constexpr unsigned kMaxMs = 600000;
constexpr std::size_t kMaxGarbage = 256;

std::vector<std::string_view> Tokens(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

template <typename T>
std::optional<T> ParseNumber(std::string_view text, int base = 10)
{
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::optional<uint8_t> ParseHexByte(std::string_view text)
{
    if (text.size() > 2 && (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")) text.remove_prefix(2);
    if (text.empty() || text.size() > 2) return std::nullopt;
    return ParseNumber<uint8_t>(text, 16);
}

std::optional<unsigned> ParseMs(std::string_view text)
{
    const auto ms = ParseNumber<unsigned>(text);
    if (!ms || *ms > kMaxMs) return std::nullopt;
    return ms;
}

std::optional<ETrigger> TriggerByName(std::string_view name)
{
    for (const ETrigger t : {ETrigger::At, ETrigger::Start, ETrigger::Jump, ETrigger::Erase, ETrigger::Retry, ETrigger::Block})
        if (TriggerName(t) == name) return t;
    return std::nullopt;
}

// Takes the trigger's @N or @* off: the occurrence the rule fires on, nullopt for every one,
// the first when none is written.
bool TakeOccurrence(std::string_view& trigger, std::optional<unsigned>& occurrence, std::string& error)
{
    occurrence = 1;
    const std::size_t at = trigger.find('@');
    if (at == std::string_view::npos) return true;
    const std::string_view occ = trigger.substr(at + 1);
    trigger = trigger.substr(0, at);
    if (occ == "*") {
        occurrence.reset();
        return true;
    }
    occurrence = ParseNumber<unsigned>(occ);
    if (occurrence && *occurrence != 0) return true;
    error = "occurrence \"" + std::string(occ) + "\" is not a number from 1 or *";
    return false;
}

// Takes block's :N off: the one block index the rule is kept to.
bool TakeBlockIndex(std::string_view& trigger, std::optional<uint32_t>& index, std::string& error)
{
    const std::size_t colon = trigger.find(':');
    if (colon == std::string_view::npos) return true;
    index = ParseNumber<uint32_t>(trigger.substr(colon + 1));
    trigger = trigger.substr(0, colon);
    if (index && trigger == "block") return true;
    error = "only block takes an index, as block:N";
    return false;
}

using ActionArgs = std::span<const std::string_view>;
// Reads an action's arguments into the rule's bytes or time; false when they do not fit.
using ArgsParser = bool (*)(ActionArgs args, std::vector<uint8_t>& bytes, std::optional<unsigned>& ms);

bool NoArgs(ActionArgs args, std::vector<uint8_t>&, std::optional<unsigned>&)
{
    return args.empty();
}

// Min to Max bytes in hexadecimal.
template <std::size_t Min, std::size_t Max>
bool HexBytes(ActionArgs args, std::vector<uint8_t>& bytes, std::optional<unsigned>&)
{
    if (args.size() < Min || args.size() > Max) return false;
    for (const auto a : args) {
        const auto b = ParseHexByte(a);
        if (!b) return false;
        bytes.push_back(*b);
    }
    return true;
}

// One time in ms; none at all too when the time is Optional.
template <bool Optional>
bool Milliseconds(ActionArgs args, std::vector<uint8_t>&, std::optional<unsigned>& ms)
{
    if (args.empty()) return Optional;
    if (args.size() != 1) return false;
    ms = ParseMs(args[0]);
    return ms.has_value();
}

// The NAK's code, then the two parameters given or else the ones it usually carries.
template <EReply Code, uint8_t P1, uint8_t P2>
bool Nak(ActionArgs args, std::vector<uint8_t>& bytes, std::optional<unsigned>& ms)
{
    bytes.push_back(static_cast<uint8_t>(Code));
    if (!args.empty()) return HexBytes<2, 2>(args, bytes, ms);
    bytes.insert(bytes.end(), {P1, P2});
    return true;
}

}  // namespace

std::string_view TriggerName(ETrigger trigger)
{
    switch (trigger) {
    case ETrigger::At: return "at";
    case ETrigger::Start: return "start";
    case ETrigger::Jump: return "jump";
    case ETrigger::Erase: return "erase";
    case ETrigger::Retry: return "retry";
    case ETrigger::Block: return "block";
    }
    return "?";
}

std::optional<CScenario> CScenario::Parse(std::string_view text, std::string& error)
{
    CScenario scenario;
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        if (Tokens(line).empty()) continue;
        std::string why;
        auto rule = ParseRule(line, why);
        if (!rule) {
            error = "scenario line " + std::to_string(lineNo) + ": " + why;
            return std::nullopt;
        }
        scenario.m_vecRules.push_back(std::move(*rule));
    }
    return scenario;
}

std::optional<CScenario::SRule> CScenario::ParseRule(std::string_view line, std::string& error)
{
    const auto tokens = Tokens(line);
    SRule rule{};
    std::string_view trigger = tokens[0];
    if (!TakeOccurrence(trigger, rule.optOccurrence, error) || !TakeBlockIndex(trigger, rule.optIndex, error))
        return std::nullopt;
    const auto eTrigger = TriggerByName(trigger);
    if (!eTrigger) {
        error = "unknown trigger \"" + std::string(trigger) + "\" (at, start, jump, erase, retry, block)";
        return std::nullopt;
    }
    rule.eTrigger = *eTrigger;
    if (tokens.size() < 2) {
        error = "a trigger needs an action";
        return std::nullopt;
    }
    if (!ParseAction(tokens[1], ActionArgs(tokens).subspan(2), rule, error)) return std::nullopt;
    rule.strText = std::string(tokens[0]);
    for (std::size_t i = 1; i < tokens.size(); ++i) rule.strText += ' ' + std::string(tokens[i]);
    return rule;
}

bool CScenario::ParseAction(std::string_view action, ActionArgs args, SRule& rule, std::string& error)
{
    // One row a keyword: how its arguments are read, how the error message writes them, and
    // whether it also applies to at, which the handset does not answer.
    struct SActionSyntax {
        std::string_view name;
        EAction action;
        ArgsParser parse;
        std::string_view usage;
        bool atToo;
    };
    static constexpr std::string_view kNakUsage = "nak-... [HH HH]";
    static constexpr SActionSyntax kActions[] = {
        {"drop", EAction::Drop, NoArgs, "drop", true},
        {"code", EAction::Code, HexBytes<1, 1>, "code HH", false},
        {"params", EAction::Params, HexBytes<2, 2>, "params HH HH", false},
        {"late", EAction::Late, Milliseconds<false>, "late MS", true},
        {"split", EAction::Split, Milliseconds<false>, "split MS", false},
        {"unplug", EAction::Unplug, Milliseconds<true>, "unplug [MS]", true},
        {"reenumerate", EAction::Reenumerate, Milliseconds<false>, "reenumerate MS", false},
        {"garbage", EAction::Garbage, HexBytes<1, kMaxGarbage>, "garbage HH... (1 to 256 bytes)", true},
        {"nak-bad-crc", EAction::Nak, Nak<EReply::NakBadCrc, 0x00, 0x00>, kNakUsage, false},
        {"nak-model", EAction::Nak, Nak<EReply::NakModelVersion, 0x00, 0x00>, kNakUsage, false},
        {"nak-invalid", EAction::Nak, Nak<EReply::NakInvalidCmd, 0x9E, 0x4C>, kNakUsage, false},
        {"nak-failed", EAction::Nak, Nak<EReply::NakFailed, 0x00, 0x00>, kNakUsage, false},
    };

    const auto* syntax = std::ranges::find(kActions, action, &SActionSyntax::name);
    if (syntax == std::end(kActions)) {
        error = "unknown action \"" + std::string(action) + "\"";
        return false;
    }
    rule.eAction = syntax->action;
    if (!syntax->parse(args, rule.vecBytes, rule.optMs)) {
        error = "expected " + std::string(syntax->usage) + " (bytes in hexadecimal, times in ms up to " +
                std::to_string(kMaxMs) + ")";
        return false;
    }
    if (rule.eTrigger == ETrigger::At && !syntax->atToo) {
        error = std::string(action) + " does not apply to at: the handset does not answer it";
        return false;
    }
    return true;
}

SReplyPlan CScenario::Apply(ETrigger trigger, std::optional<uint32_t> blockIndex)
{
    const unsigned all = ++m_mapSeen[{trigger, -1}];
    const unsigned atIndex = blockIndex ? ++m_mapSeen[{trigger, *blockIndex}] : 0;

    SReplyPlan plan;
    for (const SRule& rule : m_vecRules) {
        if (rule.eTrigger != trigger) continue;
        if (rule.optIndex && rule.optIndex != blockIndex) continue;
        const unsigned seen = rule.optIndex ? atIndex : all;
        if (rule.optOccurrence && *rule.optOccurrence != seen) continue;

        switch (rule.eAction) {
        case EAction::Drop: plan.bDrop = true; break;
        case EAction::Code: plan.optCode = rule.vecBytes[0]; break;
        case EAction::Params: plan.optParams = {rule.vecBytes[0], rule.vecBytes[1]}; break;
        case EAction::Nak:
            plan.optCode = rule.vecBytes[0];
            plan.optParams = {rule.vecBytes[1], rule.vecBytes[2]};
            plan.bOwnCheck = true;
            break;
        case EAction::Late: plan.nLateMs += *rule.optMs; break;
        case EAction::Garbage: plan.vecGarbage.insert(plan.vecGarbage.end(), rule.vecBytes.begin(), rule.vecBytes.end()); break;
        case EAction::Split: plan.optSplitMs = rule.optMs; break;
        case EAction::Unplug:
            plan.bUnplug = true;
            plan.optReappearMs = rule.optMs;
            break;
        case EAction::Reenumerate: plan.optReenumerateMs = rule.optMs; break;
        }
        plan.vecFired.push_back(rule.strText);
    }
    return plan;
}

}  // namespace kestrel::sim
