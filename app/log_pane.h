#pragma once
// The log pane of the windows: read-only rich text whose lines are bold at 10 points in the
// colour of its kind, a check mark after each finished step, and the newest line
// always in view.

#include <QTextCharFormat>
#include <QTextEdit>
#include <cstdint>
#include <string>

namespace kestrel {

class CLogPane final : public QTextEdit {
public:
    explicit CLogPane(QWidget* pParent = nullptr);

    // The text and a line break, in the colour of its kind of line.
    void WriteLog(int kind, const std::string& text);
    // "  √" in the check-mark colour, without a line break.
    void MarkStepDone();

private:
    void Append(uint32_t colour, const QString& strText);

    QTextCharFormat m_cfLog;
};

}  // namespace kestrel
