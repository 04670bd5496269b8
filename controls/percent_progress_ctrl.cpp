#include "controls/percent_progress_ctrl.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "controls/color_ref.h"

namespace kestrel {

CPercentProgressCtrl::CPercentProgressCtrl(QWidget* pParent)
    : QFrame(pParent),
      m_clrStart(ColorFromRef(0x0000FF)),
      m_clrEnd(ColorFromRef(0xFF0000)),
      m_clrBkgnd(palette().color(QPalette::Button)),  // the button face as it is now
      m_clrText(ColorFromRef(0xFFFFFF))
{
}

void CPercentProgressCtrl::SetRange(int nLower, int nUpper)
{
    m_nLower = nLower;
    m_nUpper = nUpper;
    m_nPos = nLower;
    update();
}

void CPercentProgressCtrl::SetPos(int nPos)
{
    m_nPos = nPos;
    update();
}

void CPercentProgressCtrl::paintEvent(QPaintEvent*)
{
    // The whole bar is composed off-screen and put on the widget in one step, so a bar
    // whose position changes many times a second never shows half drawn.
    const qreal dRatio = devicePixelRatioF();
    QPixmap pmBar(size() * dRatio);
    pmBar.setDevicePixelRatio(dRatio);
    pmBar.fill(Qt::transparent);
    {
        QPainter dc(&pmBar);
        dc.setFont(font());
        const QRect rcClient = contentsRect();
        dc.translate(rcClient.topLeft());
        DrawClient(dc, QRect(QPoint(0, 0), rcClient.size()));
        dc.resetTransform();
        drawFrame(&dc);
    }
    QPainter(this).drawPixmap(0, 0, pmBar);
}

void CPercentProgressCtrl::DrawClient(QPainter& dc, const QRect& rcClient) const
{
    // An upper bound of 0 leaves no fraction to show (the range lies below zero).
    if (m_nPos <= m_nLower || m_nPos >= m_nUpper || m_nUpper == 0) {
        // At either bound the bar is empty, also when full.
        dc.fillRect(rcClient, palette().color(QPalette::Button));
        return;
    }
    // The lower bound takes no part: both values are fractions of the upper bound. Kept
    // in double, so an extreme range cannot overflow an int.
    const double dFraction = static_cast<double>(m_nPos) / m_nUpper;
    DrawGradient(dc, rcClient, std::trunc(dFraction * rcClient.width()));
    if (m_bShowPercent) {
        dc.setPen(m_clrText);
        dc.drawText(rcClient, Qt::AlignCenter | Qt::TextSingleLine,
                    QString::asprintf("%.0f%%", m_nPos * 100.0 / m_nUpper));
    }
}

void CPercentProgressCtrl::DrawGradient(QPainter& dc, const QRect& rcClient, double dRevealed) const
{
    const int nWidth = rcClient.width();
    const int nRs = m_clrStart.red(), nGs = m_clrStart.green(), nBs = m_clrStart.blue();
    const int nDr = m_clrEnd.red() - nRs, nDg = m_clrEnd.green() - nGs, nDb = m_clrEnd.blue() - nBs;
    // One band per step of the component that changes most, so neighbouring bands differ
    // by at most one step. Equal colours get one band per pixel, so that such a bar
    // still shows how far it got.
    int nBands = std::max({std::abs(nDr), std::abs(nDg), std::abs(nDb)});
    if (nBands == 0) nBands = std::max(nWidth, 1);

    const float fBand = static_cast<float>(nWidth) / static_cast<float>(nBands);
    const float fIncR = static_cast<float>(nDr) / static_cast<float>(nBands);
    const float fIncG = static_cast<float>(nDg) / static_cast<float>(nBands);
    const float fIncB = static_cast<float>(nDb) / static_cast<float>(nBands);
    auto component = [](int nStart, float fInc, int i) {
        return static_cast<int>(static_cast<float>(nStart) + static_cast<float>(i) * fInc) & 0xFF;
    };

    // The background goes first; the bands then cover it up to the band that crosses the
    // revealed width, which is drawn whole.
    dc.fillRect(rcClient, m_clrBkgnd);
    for (int i = 0; i < nBands; ++i) {
        const int nLeft = static_cast<int>(static_cast<float>(i) * fBand);
        const int nRight = static_cast<int>(static_cast<float>(i + 1) * fBand);
        const QColor clrBand(component(nRs, fIncR, i), component(nGs, fIncG, i),
                             component(nBs, fIncB, i));
        dc.fillRect(QRect(nLeft, 0, nRight - nLeft, rcClient.height()), clrBand);
        if (nRight > dRevealed) break;
    }
}

}  // namespace kestrel
