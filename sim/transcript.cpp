#include "transcript.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kestrel::sim {

CJsonLine::CJsonLine(std::string_view event) { m_fields["event"] = std::string(event); }

CJsonLine& CJsonLine::Text(std::string_view key, std::string_view value)
{
    m_fields[std::string(key)] = std::string(value);
    return *this;
}

CJsonLine& CJsonLine::Number(std::string_view key, int64_t value)
{
    m_fields[std::string(key)] = value;
    return *this;
}

CJsonLine& CJsonLine::Flag(std::string_view key, bool value)
{
    m_fields[std::string(key)] = value;
    return *this;
}

CJsonLine& CJsonLine::Hex(std::string_view key, std::span<const uint8_t> bytes)
{
    std::string hex;
    hex.reserve(bytes.size() * 3);
    for (const uint8_t b : bytes) {
        char buf[4];
        std::snprintf(buf, sizeof buf, hex.empty() ? "%02x" : " %02x", b);
        hex += buf;
    }
    return Text(key, hex);
}

CJsonLine& CJsonLine::Pairs(std::string_view key, const std::vector<std::pair<int64_t, int64_t>>& pairs)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& [first, second] : pairs) list.push_back({first, second});
    m_fields[std::string(key)] = std::move(list);
    return *this;
}

CJsonLine& CJsonLine::Numbers(std::string_view key, const std::vector<int64_t>& numbers)
{
    m_fields[std::string(key)] = numbers;
    return *this;
}

std::string CJsonLine::Finish(std::optional<double> t) const
{
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    if (t) line["t"] = *t;
    for (const auto& [key, value] : m_fields.items()) line[key] = value;
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

CTranscript::CTranscript() : m_tOrigin(std::chrono::steady_clock::now()) {}

bool CTranscript::Open(const std::string& path, std::string& error)
{
    m_file.open(path, std::ios::out | std::ios::trunc);
    if (!m_file) {
        error = "cannot write the transcript " + path + ": " + std::strerror(errno);
        return false;
    }
    m_pOut = &m_file;
    return true;
}

void CTranscript::Attach(std::ostream& out)
{
    m_pOut = &out;
}

void CTranscript::Write(const CJsonLine& line)
{
    if (m_pOut == nullptr) return;
    const double ms = m_clock ? m_clock()
                              : std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_tOrigin).count();
    // Tenths of a millisecond are as fine as a reader needs.
    *m_pOut << line.Finish(std::round(ms * 10.0) / 10.0) << '\n';
    m_pOut->flush();
}

}  // namespace kestrel::sim
