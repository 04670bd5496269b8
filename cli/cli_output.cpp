#include "cli_output.h"

#include <string>

namespace kestrel {

std::string_view LogKindColour(int kind)
{
    switch (kind) {
    case 3: return "red";
    case 4: return "black";
    default: return "blue";
    }
}

void CCliOutput::Log(int kind, std::string_view text)
{
    if (m_json) {
        Object(CJsonObject().Add("event", "log").Add("kind", kind).Add("colour", LogKindColour(kind)).Add("text", text));
        return;
    }
    // The log pane shows the text followed by a line break; leading and trailing breaks are kept.
    std::fwrite(text.data(), 1, text.size(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void CCliOutput::Text(std::string_view line, bool endLine)
{
    if (m_json) return;
    std::fwrite(line.data(), 1, line.size(), m_out);
    if (endLine) std::fputc('\n', m_out);
    std::fflush(m_out);
}

void CCliOutput::Object(const CJsonObject& object)
{
    if (!m_json) return;
    const std::string s = object.Str();
    std::fwrite(s.data(), 1, s.size(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void CCliOutput::Error(std::string_view line)
{
    std::fwrite(line.data(), 1, line.size(), m_err);
    std::fputc('\n', m_err);
    std::fflush(m_err);
}

}  // namespace kestrel
