#include "app/button_pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <array>
#include <utility>

namespace kestrel {
namespace {

// Glyphs are drawn on a 25 x 25 grid, the size of the original pictures.
constexpr qreal kGrid = 25.0;

void Fill(QPainter& dc, const QPainterPath& path, const QColor& clrFace, const QColor& clrEdge)
{
    dc.setPen(QPen(clrEdge, 1.0));
    dc.setBrush(clrFace);
    dc.drawPath(path);
}

QPainterPath Polygon(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

void DrawOpen(QPainter& dc)
{
    Fill(dc, Polygon({{4, 7}, {10, 7}, {12, 9}, {21, 9}, {21, 19}, {4, 19}}), QColor(0xE0, 0xB0, 0x30), QColor(0x80, 0x60, 0x10));
    Fill(dc, Polygon({{4, 19}, {7.5, 12}, {23, 12}, {20.5, 19}}), QColor(0xF8, 0xD8, 0x60), QColor(0x80, 0x60, 0x10));
}

void DrawRun(QPainter& dc)
{
    Fill(dc, Polygon({{8, 5.5}, {19.5, 12.5}, {8, 19.5}}), QColor(0x2E, 0xA0, 0x40), QColor(0x18, 0x58, 0x22));
}

void DrawStop(QPainter& dc)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(7, 7, 11, 11), 1.5, 1.5);
    Fill(dc, path, QColor(0xD0, 0x30, 0x30), QColor(0x78, 0x10, 0x10));
}

void DrawInfo(QPainter& dc)
{
    QPainterPath disc;
    disc.addEllipse(QPointF(12.5, 12.5), 7.5, 7.5);
    Fill(dc, disc, QColor(0x30, 0x70, 0xD0), QColor(0x14, 0x34, 0x70));
    dc.setPen(Qt::NoPen);
    dc.setBrush(Qt::white);
    dc.drawEllipse(QPointF(12.5, 8.8), 1.3, 1.3);
    dc.drawRect(QRectF(11.4, 11, 2.2, 6.5));
}

void DrawToDm(QPainter& dc)
{
    const QColor clrFace(0x80, 0x50, 0xB0), clrEdge(0x40, 0x20, 0x60);
    Fill(dc, Polygon({{11, 4.5}, {14, 4.5}, {14, 11}, {18, 11}, {12.5, 17}, {7, 11}, {11, 11}}), clrFace, clrEdge);
    QPainterPath base;
    base.addRect(QRectF(6.5, 18.5, 12, 2.5));
    Fill(dc, base, clrFace, clrEdge);
}

using GlyphPainter = void (*)(QPainter&);

constexpr std::array<std::pair<std::string_view, GlyphPainter>, 5> kGlyphs{{
    {"OPEN", DrawOpen},
    {"RUN", DrawRun},
    {"STOP", DrawStop},
    {"INFO", DrawInfo},
    {"TODM", DrawToDm},
}};

GlyphPainter FindGlyph(std::string_view strName)
{
    for (const auto& [strKey, pDraw] : kGlyphs)
        if (strKey == strName) return pDraw;
    return nullptr;
}

// A button face with a 3-D edge: raised for up and focused, sunken for down.
void DrawFace(QPainter& dc, const QRectF& rc, bool bDown)
{
    QLinearGradient gradient(rc.topLeft(), rc.bottomLeft());
    gradient.setColorAt(0, bDown ? QColor(0xD4, 0xD4, 0xD4) : QColor(0xF6, 0xF6, 0xF6));
    gradient.setColorAt(1, bDown ? QColor(0xE6, 0xE6, 0xE6) : QColor(0xD6, 0xD6, 0xD6));
    dc.fillRect(rc, gradient);

    const QColor clrLight(0xFF, 0xFF, 0xFF), clrShadow(0x80, 0x80, 0x80), clrDark(0x40, 0x40, 0x40);
    const QColor& clrTopLeft = bDown ? clrDark : clrLight;
    const QColor& clrBottomRight = bDown ? clrLight : clrDark;
    const qreal l = rc.left() + 0.5, t = rc.top() + 0.5, r = rc.right() - 0.5, b = rc.bottom() - 0.5;
    dc.setPen(QPen(clrTopLeft, 1.0));
    dc.drawLine(QPointF(l, b), QPointF(l, t));
    dc.drawLine(QPointF(l, t), QPointF(r, t));
    dc.setPen(QPen(clrBottomRight, 1.0));
    dc.drawLine(QPointF(r, t), QPointF(r, b));
    dc.drawLine(QPointF(r, b), QPointF(l, b));
    dc.setPen(QPen(clrShadow, 1.0));
    if (bDown) {
        dc.drawLine(QPointF(l + 1, b - 1), QPointF(l + 1, t + 1));
        dc.drawLine(QPointF(l + 1, t + 1), QPointF(r - 1, t + 1));
    } else {
        dc.drawLine(QPointF(r - 1, t + 1), QPointF(r - 1, b - 1));
        dc.drawLine(QPointF(r - 1, b - 1), QPointF(l + 1, b - 1));
    }
}

}  // namespace

QPixmap LoadButtonPicture(std::string_view strResource, const QSize& size, qreal dRatio)
{
    if (strResource.size() < 2 || size.isEmpty()) return {};
    const char cState = strResource.back();
    const GlyphPainter pDraw = FindGlyph(strResource.substr(0, strResource.size() - 1));
    if (pDraw == nullptr || (cState != 'U' && cState != 'D' && cState != 'F')) return {};

    QPixmap pm(size * dRatio);
    pm.setDevicePixelRatio(dRatio);
    pm.fill(Qt::transparent);
    QPainter dc(&pm);
    dc.setRenderHint(QPainter::Antialiasing);
    const QRectF rcFace(QPointF(0, 0), QSizeF(size));
    DrawFace(dc, rcFace, cState == 'D');

    // The glyph keeps its proportions in a centred square; pressed, it moves down and right.
    const qreal dSide = std::min(rcFace.width(), rcFace.height());
    dc.save();
    dc.translate((rcFace.width() - dSide) / 2, (rcFace.height() - dSide) / 2);
    if (cState == 'D') dc.translate(1, 1);
    dc.scale(dSide / kGrid, dSide / kGrid);
    pDraw(dc);
    dc.restore();

    if (cState == 'F') {
        dc.setRenderHint(QPainter::Antialiasing, false);
        dc.setPen(QPen(Qt::black, 1, Qt::DotLine));
        dc.setBrush(Qt::NoBrush);
        dc.drawRect(rcFace.adjusted(3, 3, -4, -4));
    }
    return pm;
}

}  // namespace kestrel
