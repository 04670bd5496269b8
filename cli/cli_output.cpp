#include "cli_output.h"

#include <sys/ioctl.h>

#include <cerrno>

#include "display_columns.h"

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
    Put(m_out, m_bOutClosed, text, true);
}

void CCliOutput::Text(std::string_view line, bool endLine)
{
    if (m_json) return;
    Put(m_out, m_bOutClosed, line, endLine);
}

void CCliOutput::Object(const CJsonObject& object)
{
    if (!m_json) return;
    Put(m_out, m_bOutClosed, object.Str(), true);
}

void CCliOutput::Error(std::string_view line) { Put(m_err, m_bErrClosed, line, true); }

void CCliOutput::Status(std::string_view text) { Put(m_err, m_bErrClosed, text, false); }

std::string CCliOutput::FitToTerminal(std::string_view line) const
{
    winsize size{};
    if (ioctl(fileno(m_err), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return std::string(line);
    return ClipToColumns(line, size.ws_col);
}

void CCliOutput::Put(std::FILE* stream, bool& closed, std::string_view text, bool endLine)
{
    if (closed) return;
    std::fwrite(text.data(), 1, text.size(), stream);
    if (endLine) std::fputc('\n', stream);
    if (std::fflush(stream) == 0 && !std::ferror(stream)) return;
    // EPIPE from a pipe, EIO from a terminal that went away: nobody reads any more.
    if (errno == EPIPE || errno == EIO) closed = true;
    std::clearerr(stream);
}

}  // namespace kestrel
