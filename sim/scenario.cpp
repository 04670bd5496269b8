#include "scenario.h"

#include <charconv>

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

std::optional<CScenario::Rule> CScenario::ParseRule(std::string_view line, std::string& error)
{
    const auto tokens = Tokens(line);
    Rule rule{};
    std::string_view trigger = tokens[0];
    rule.optOccurrence = 1;
    if (const std::size_t at = trigger.find('@'); at != std::string_view::npos) {
        const std::string_view occ = trigger.substr(at + 1);
        trigger = trigger.substr(0, at);
        if (occ == "*") {
            rule.optOccurrence.reset();
        } else {
            rule.optOccurrence = ParseNumber<unsigned>(occ);
            if (!rule.optOccurrence || *rule.optOccurrence == 0) {
                error = "occurrence \"" + std::string(occ) + "\" is not a number from 1 or *";
                return std::nullopt;
            }
        }
    }
    if (const std::size_t colon = trigger.find(':'); colon != std::string_view::npos) {
        rule.optIndex = ParseNumber<uint32_t>(trigger.substr(colon + 1));
        trigger = trigger.substr(0, colon);
        if (!rule.optIndex || trigger != "block") {
            error = "only block takes an index, as block:N";
            return std::nullopt;
        }
    }
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
    const std::string_view action = tokens[1];
    const std::vector<std::string_view> args(tokens.begin() + 2, tokens.end());

    auto bytes = [&](std::size_t min, std::size_t max) {
        if (args.size() < min || args.size() > max) return false;
        for (const auto a : args) {
            const auto b = ParseHexByte(a);
            if (!b) return false;
            rule.vecBytes.push_back(*b);
        }
        return true;
    };
    auto ms = [&](bool optional) {
        if (args.empty()) return optional;
        if (args.size() != 1) return false;
        rule.optMs = ParseMs(args[0]);
        return rule.optMs.has_value();
    };

    struct NakKind {
        std::string_view name;
        EReply code;
        uint8_t p1, p2;
    };
    static constexpr NakKind kNaks[] = {
        {"nak-bad-crc", EReply::NakBadCrc, 0x00, 0x00},
        {"nak-model", EReply::NakModelVersion, 0x00, 0x00},
        {"nak-invalid", EReply::NakInvalidCmd, 0x9E, 0x4C},
        {"nak-failed", EReply::NakFailed, 0x00, 0x00},
    };

    bool ok = false;
    std::string_view usage;
    if (action == "drop") {
        rule.eAction = EAction::Drop;
        ok = args.empty();
        usage = "drop";
    } else if (action == "code") {
        rule.eAction = EAction::Code;
        ok = bytes(1, 1);
        usage = "code HH";
    } else if (action == "params") {
        rule.eAction = EAction::Params;
        ok = bytes(2, 2);
        usage = "params HH HH";
    } else if (action == "late") {
        rule.eAction = EAction::Late;
        ok = ms(false);
        usage = "late MS";
    } else if (action == "split") {
        rule.eAction = EAction::Split;
        ok = ms(false);
        usage = "split MS";
    } else if (action == "unplug") {
        rule.eAction = EAction::Unplug;
        ok = ms(true);
        usage = "unplug [MS]";
    } else if (action == "reenumerate") {
        rule.eAction = EAction::Reenumerate;
        ok = ms(false);
        usage = "reenumerate MS";
    } else if (action == "garbage") {
        rule.eAction = EAction::Garbage;
        ok = bytes(1, kMaxGarbage);
        usage = "garbage HH... (1 to 256 bytes)";
    } else {
        for (const auto& nak : kNaks) {
            if (action != nak.name) continue;
            rule.eAction = EAction::Nak;
            rule.vecBytes.push_back(static_cast<uint8_t>(nak.code));
            ok = args.empty() || (args.size() == 2 && bytes(2, 2));
            if (args.empty()) rule.vecBytes.insert(rule.vecBytes.end(), {nak.p1, nak.p2});
            usage = "nak-... [HH HH]";
        }
        if (usage.empty()) {
            error = "unknown action \"" + std::string(action) + "\"";
            return std::nullopt;
        }
    }
    if (!ok) {
        error = "expected " + std::string(usage) + " (bytes in hexadecimal, times in ms up to " +
                std::to_string(kMaxMs) + ")";
        return std::nullopt;
    }
    const bool hasReply = rule.eTrigger != ETrigger::At;
    if (!hasReply && rule.eAction != EAction::Drop && rule.eAction != EAction::Late &&
        rule.eAction != EAction::Garbage && rule.eAction != EAction::Unplug) {
        error = std::string(action) + " does not apply to at: the handset does not answer it";
        return std::nullopt;
    }
    rule.strText = std::string(tokens[0]);
    for (std::size_t i = 1; i < tokens.size(); ++i) rule.strText += ' ' + std::string(tokens[i]);
    return rule;
}

ReplyPlan CScenario::Apply(ETrigger trigger, std::optional<uint32_t> blockIndex)
{
    const unsigned all = ++m_mapSeen[{trigger, -1}];
    const unsigned atIndex = blockIndex ? ++m_mapSeen[{trigger, *blockIndex}] : 0;

    ReplyPlan plan;
    for (const Rule& rule : m_vecRules) {
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
