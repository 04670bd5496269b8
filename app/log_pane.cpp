#include "app/log_pane.h"

#include <QScrollBar>
#include <QTextCursor>

#include "controls/color_ref.h"
#include "protocol/download_view.h"

namespace kestrel {

CLogPane::CLogPane(QWidget* pParent) : QTextEdit(pParent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    m_cfLog.setFontWeight(QFont::Bold);
    m_cfLog.setFontPointSize(10);
}

void CLogPane::WriteLog(uint32_t colour, const std::string& text)
{
    Append(colour, QString::fromStdString(text) + QLatin1Char('\n'));
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
