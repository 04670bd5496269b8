#include "json_writer.h"

#include <cstdio>

namespace kestrel {
namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t n;
    uint32_t min;
    if (b0 < 0x80) return 1;
    if ((b0 & 0xE0) == 0xC0) { n = 2; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { n = 3; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { n = 4; min = 0x10000; }
    else return 0;
    if (i + n > s.size()) return 0;
    uint32_t cp = b0 & (0x7Fu >> n);
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

std::string JsonQuote(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text.substr(i, n));
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
        i += n;
    }
    out += '"';
    return out;
}

void CJsonObject::Key(std::string_view key)
{
    if (!m_body.empty()) m_body += ',';
    m_body += JsonQuote(key);
    m_body += ':';
}

CJsonObject& CJsonObject::Add(std::string_view key, std::string_view value)
{
    Key(key);
    m_body += JsonQuote(value);
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, int64_t value)
{
    Key(key);
    m_body += std::to_string(value);
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, double value)
{
    Key(key);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", value);
    m_body += buf;
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, bool value)
{
    Key(key);
    m_body += value ? "true" : "false";
    return *this;
}

CJsonObject& CJsonObject::AddNull(std::string_view key)
{
    Key(key);
    m_body += "null";
    return *this;
}

CJsonObject& CJsonObject::AddRaw(std::string_view key, std::string_view json)
{
    Key(key);
    m_body += json;
    return *this;
}

std::string CJsonObject::Str() const { return "{" + m_body + "}"; }

}  // namespace kestrel
