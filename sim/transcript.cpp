#include "transcript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel::sim {
namespace {

// Bytes of the well-formed UTF-8 character that text starts with, after the table of
// RFC 3629 (no overlong forms, no surrogates, nothing above U+10FFFF); 0 when it is none.
std::size_t Utf8CharLength(std::string_view text)
{
    const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // bounds of the second byte
    std::size_t length = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string JsonQuote(std::string_view text)
{
    std::string out = "\"";
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.front());
        // Text such as a path keeps its characters; a byte that is no UTF-8 becomes U+FFFD.
        const std::size_t length = Utf8CharLength(text);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
        } else if (length > 1) {
            out.append(text.substr(0, length));
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
        text.remove_prefix(length == 0 ? 1 : length);
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
