#include "app/log_pane.h"

#include <QScrollBar>
#include <QTextCursor>

#include "app/log_colours.h"
#include "controls/color_ref.h"

namespace kestrel {

CLogPane::CLogPane(QWidget* pParent) : QTextEdit(pParent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    m_cfLog.setFontWeight(QFont::Bold);
    m_cfLog.setFontPointSize(10);
}

void CLogPane::WriteLog(int kind, const std::string& text)
{
    Append(LogColour(kind), QString::fromStdString(text) + QLatin1Char('\n'));
}

void CLogPane::MarkStepDone() { Append(kColourCheckMark, QStringLiteral("  \u221A")); }

void CLogPane::Append(uint32_t colour, const QString& strText)
{
    m_cfLog.setForeground(ColorFromRef(colour));
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(strText, m_cfLog);
    // The caret follows the newest line, and the pane scrolls down to it.
    setTextCursor(cursor);
    ensureCursorVisible();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace kestrel
