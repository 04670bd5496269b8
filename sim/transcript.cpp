#include "transcript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel::sim {

std::string JsonQuote(std::string_view text)
{
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            // Bytes that are not printable ASCII are not valid text here; keep them visible.
            if (c < 0x20 || c >= 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

CJsonLine::CJsonLine(std::string_view event) : m_strEvent(event) {}

void CJsonLine::Key(std::string_view key)
{
    if (!m_strFields.empty()) m_strFields += ',';
    m_strFields += JsonQuote(key);
    m_strFields += ':';
}

CJsonLine& CJsonLine::Text(std::string_view key, std::string_view value)
{
    Key(key);
    m_strFields += JsonQuote(value);
    return *this;
}

CJsonLine& CJsonLine::Number(std::string_view key, int64_t value)
{
    Key(key);
    m_strFields += std::to_string(value);
    return *this;
}

CJsonLine& CJsonLine::Flag(std::string_view key, bool value)
{
    Key(key);
    m_strFields += value ? "true" : "false";
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

CJsonLine& CJsonLine::Raw(std::string_view key, std::string_view json)
{
    Key(key);
    m_strFields += json;
    return *this;
}

std::string CJsonLine::Finish() const
{
    std::string out = "{\"event\":" + JsonQuote(m_strEvent);
    if (!m_strFields.empty()) out += ',' + m_strFields;
    return out + '}';
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
    char t[32];
    std::snprintf(t, sizeof t, "%.1f", ms);
    std::string text = line.Finish();
    text.insert(1, std::string("\"t\":") + t + ',');
    *m_pOut << text << '\n';
    m_pOut->flush();
}

}  // namespace kestrel::sim
