#include "app/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace kestrel {
namespace {

// Rounded a * b / c, as dialog-unit conversions have always rounded.
int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    // The average width over both alphabets, rounded.
    const int nAlphabets = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseX = (nAlphabets / 26 + 1) / 2;
    m_nBaseY = metrics.height();
}

int CDialogUnits::X(int nUnits) const { return MulDiv(nUnits, m_nBaseX, 4); }

int CDialogUnits::Y(int nUnits) const { return MulDiv(nUnits, m_nBaseY, 8); }

QRect CDialogUnits::Rect(int x, int y, int cx, int cy) const
{
    // Both edges are converted, so neighbouring controls meet as they do in units.
    const int nLeft = X(x), nTop = Y(y);
    return {nLeft, nTop, X(x + cx) - nLeft, Y(y + cy) - nTop};
}

}  // namespace kestrel
