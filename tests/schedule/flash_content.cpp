#include "flash_content.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace kestrel::test {
namespace {

// The written byte at an address; nullopt where the flash is erased.
std::optional<uint8_t> WrittenAt(const FlashContent& content, uint32_t address)
{
    auto it = content.upper_bound(address);
    if (it == content.begin()) return std::nullopt;
    --it;
    const uint32_t offset = address - it->first;
    if (offset >= it->second.size()) return std::nullopt;
    return it->second[offset];
}

std::string Describe(std::optional<uint8_t> byte)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", byte.value_or(0xFF));
    return byte ? text : std::string("nothing (erased)");
}

// Addresses where a difference may start: the edges of every range of either side.
std::vector<uint32_t> Edges(const FlashContent& a, const FlashContent& b)
{
    std::vector<uint32_t> edges;
    for (const FlashContent* content : {&a, &b})
        for (const auto& [start, bytes] : *content) {
            edges.push_back(start);
            edges.push_back(start + static_cast<uint32_t>(bytes.size()));
        }
    std::sort(edges.begin(), edges.end());
    return edges;
}

}  // namespace

FlashContent CaptureFlash(const sim::CFlashModel& flash)
{
    FlashContent content;
    const auto bytes = flash.Bytes();
    for (const auto& [start, end] : flash.WrittenRanges())
        content.emplace(start, std::vector<uint8_t>(bytes.begin() + start, bytes.begin() + end));
    return content;
}

void Overwrite(FlashContent& content, uint32_t address, const std::vector<uint8_t>& bytes)
{
    const uint32_t end = address + static_cast<uint32_t>(bytes.size());
    uint32_t start = address;
    std::vector<uint8_t> merged = bytes;
    // Ranges that overlap or touch the new one keep only their bytes outside it, joined to it.
    auto it = content.upper_bound(address);
    if (it != content.begin() && std::prev(it)->first + std::prev(it)->second.size() >= address) --it;
    while (it != content.end() && it->first <= end) {
        const uint32_t s = it->first;
        const std::vector<uint8_t>& old = it->second;
        if (s < start) {
            merged.insert(merged.begin(), old.begin(), old.begin() + (start - s));
            start = s;
        }
        if (s + old.size() > end) merged.insert(merged.end(), old.begin() + (end - s), old.end());
        it = content.erase(it);
    }
    content.emplace(start, std::move(merged));
}

std::string FirstDifference(const FlashContent& actual, const FlashContent& expected)
{
    if (actual == expected) return {};
    // Between two edges either side is written throughout or erased throughout.
    const std::vector<uint32_t> edges = Edges(actual, expected);
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        if (!WrittenAt(actual, edges[i]) && !WrittenAt(expected, edges[i])) continue;
        for (uint32_t a = edges[i]; a < edges[i + 1]; ++a) {
            const auto held = WrittenAt(actual, a);
            const auto wanted = WrittenAt(expected, a);
            if (held == wanted) continue;
            char at[16];
            std::snprintf(at, sizeof at, "0x%x", a);
            return std::string("first difference at ") + at + ": the flash holds " + Describe(held) +
                   ", the run had to leave " + Describe(wanted);
        }
    }
    return {};
}

}  // namespace kestrel::test
