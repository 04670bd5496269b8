#pragma once
// Everything the handset saw and answered, one JSON object per line, for tests to read back.
// Each line carries "t" (milliseconds since the simulator started) and "event".

#include <chrono>
#include <cstdint>
#include <fstream>
#include <optional>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::sim {

class CJsonLine {
public:
    explicit CJsonLine(std::string_view event);
    CJsonLine& Text(std::string_view key, std::string_view value);
    CJsonLine& Number(std::string_view key, int64_t value);
    CJsonLine& Flag(std::string_view key, bool value);
    // Bytes as lower-case hexadecimal pairs separated by spaces.
    CJsonLine& Hex(std::string_view key, std::span<const uint8_t> bytes);
    // Lists of numbers: [[a,b],[c,d]] or [a,b].
    CJsonLine& Pairs(std::string_view key, const std::vector<std::pair<int64_t, int64_t>>& pairs);
    CJsonLine& Numbers(std::string_view key, const std::vector<int64_t>& numbers);
    // The finished object, without a line end; "t" first when given. Texts that are not UTF-8
    // get U+FFFD for each bad byte.
    std::string Finish(std::optional<double> t = std::nullopt) const;

private:
    nlohmann::ordered_json m_fields = nlohmann::ordered_json::object();
};

class CTranscript {
public:
    // A transcript that records nothing.
    CTranscript();
    // Opens (truncates) the file; false with a reason when it cannot be written.
    bool Open(const std::string& path, std::string& error);
    // Writes into a stream the caller keeps alive (tests).
    void Attach(std::ostream& out);
    // Takes "t" from this clock (milliseconds) instead: a handset on a virtual clock.
    void SetClock(std::function<double()> clock) { m_clock = std::move(clock); }
    // Adds "t", writes the line and flushes it, so a reader sees it at once.
    void Write(const CJsonLine& line);

private:
    std::chrono::steady_clock::time_point m_tOrigin;
    std::ofstream m_file;
    std::ostream* m_pOut = nullptr;
    std::function<double()> m_clock;
};

}  // namespace kestrel::sim
