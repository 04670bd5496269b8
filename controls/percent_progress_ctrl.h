#pragma once
// Progress bar that draws a colour gradient from the left edge, revealed up to the
// position, and optionally the percentage centred on top. A frame style set through
// QFrame (the window's bars are bordered) is drawn around the bar.

#include <QColor>
#include <QFrame>

namespace kestrel {

class CPercentProgressCtrl : public QFrame {
    Q_OBJECT

public:
    explicit CPercentProgressCtrl(QWidget* pParent = nullptr);

    // Keeps both bounds as given and moves the position to the lower bound.
    void SetRange(int nLower, int nUpper);
    void SetPos(int nPos);

    int GetPos() const { return m_nPos; }

    // The owner sets these directly. Changing one does not repaint: it shows at the
    // next position change or repaint.
    QColor m_clrStart;
    QColor m_clrEnd;
    QColor m_clrBkgnd;  // right of the revealed gradient
    QColor m_clrText;
    bool m_bShowPercent = false;

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void DrawClient(QPainter& dc, const QRect& rcClient) const;
    void DrawGradient(QPainter& dc, const QRect& rcClient, double dRevealed) const;

    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
};

}  // namespace kestrel
