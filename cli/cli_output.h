#pragma once
// Where every kestrel-cli command writes: log lines as the window shows them, human text,
// or with --json one JSON object per line on standard output.

#include <cstdio>
#include <string>
#include <string_view>

#include "json_writer.h"

namespace kestrel {

class CCliOutput {
public:
    CCliOutput(std::FILE* out, std::FILE* err, bool json) : m_out(out), m_err(err), m_json(json) {}

    bool Json() const { return m_json; }
    // A log line of the given kind (3 red, 4 black, other blue); the text as the window shows it.
    void Log(int kind, std::string_view text);
    // Human-readable text on standard output, ended with a line break unless endLine is
    // false; nothing with --json.
    void Text(std::string_view line, bool endLine = true);
    // One JSON object on standard output; nothing without --json.
    void Object(const CJsonObject& object);
    // A problem of the command line itself, always on standard error.
    void Error(std::string_view line);
    // Status lines redrawn in place on standard error (a terminal), with the cursor moves
    // that place them, as they are.
    void Status(std::string_view text);
    // A status line cut to the width of the terminal standard error is on, read now so that a
    // resized terminal is followed; whole when the width is not known. A line that ran past
    // the edge would wrap, and the next redraw would leave its tail behind.
    std::string FitToTerminal(std::string_view line) const;

private:
    // Writes and flushes; a stream whose reader has gone (a closed pipe or terminal) is written
    // no more, and the run it reports on goes on.
    void Put(std::FILE* stream, bool& closed, std::string_view text, bool endLine);

    std::FILE* m_out;
    std::FILE* m_err;
    bool m_json;
    bool m_bOutClosed = false;
    bool m_bErrClosed = false;
};

// Colour name of a log kind, as the log pane paints it.
std::string_view LogKindColour(int kind);

}  // namespace kestrel
