#pragma once
// Dialog layouts are given in dialog units: a quarter of the dialog font's average character
// width across and an eighth of its height down, so a window keeps its proportions with
// whatever font the system renders it in.

#include <QFont>
#include <QRect>
#include <QSize>

namespace kestrel {

class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    int X(int nUnits) const;
    int Y(int nUnits) const;
    QRect Rect(int x, int y, int cx, int cy) const;
    QSize Size(int cx, int cy) const { return {X(cx), Y(cy)}; }

    int BaseX() const { return m_nBaseX; }
    int BaseY() const { return m_nBaseY; }

private:
    int m_nBaseX;  // average character width in pixels
    int m_nBaseY;  // character height in pixels
};

}  // namespace kestrel
