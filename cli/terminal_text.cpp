#include "terminal_text.h"

#include <QChar>
#include <QList>
#include <QString>
#include <cstdio>

namespace kestrel {

std::string TerminalSafe(std::string_view text)
{
    QString safe;
    for (const char32_t c : QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUcs4()) {
        if (QChar::isPrint(c)) {
            safe += QString::fromUcs4(&c, 1);
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, c < 0x100 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(c));
        safe += QLatin1String(escape);
    }
    return safe.toStdString();
}

}  // namespace kestrel
