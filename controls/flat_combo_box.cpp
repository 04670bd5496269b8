#include "controls/flat_combo_box.h"

#include <QAbstractItemView>
#include <QCursor>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionComboBox>

namespace kestrel {

namespace {

constexpr int kHoverPollMs = 10;

// A one-pixel 3-D outline: top and left edges in the first colour, bottom and right edges
// in the second; the top-right and bottom-left corners take the second colour.
void Draw3dRect(QPainter& dc, const QRect& rc, const QColor& clrTopLeft, const QColor& clrBottomRight)
{
    const int x = rc.x(), y = rc.y(), cx = rc.width(), cy = rc.height();
    dc.fillRect(x, y, cx - 1, 1, clrTopLeft);
    dc.fillRect(x, y, 1, cy - 1, clrTopLeft);
    dc.fillRect(x + cx - 1, y, 1, cy, clrBottomRight);
    dc.fillRect(x, y + cy - 1, cx, 1, clrBottomRight);
}

// Alt with a character key: what would otherwise reach the window as a mnemonic. Alt
// with a key that types nothing (Alt+Down opens the list) and Ctrl+Alt are left alone.
bool IsAltCharacter(const QKeyEvent& key)
{
    const Qt::KeyboardModifiers mods = key.modifiers();
    return (mods & Qt::AltModifier) && !(mods & Qt::ControlModifier) && !key.text().isEmpty() &&
           key.text().front().isPrint();
}

}  // namespace

CFlatComboBox::CFlatComboBox(QWidget* pParent) : QComboBox(pParent)
{
    setMouseTracking(true);  // moves without a button pressed start the hover polling
}

bool CFlatComboBox::event(QEvent* pEvent)
{
    // Accepting the override keeps the shortcut map from firing a mnemonic; the key press
    // that follows is then dropped here.
    const QEvent::Type type = pEvent->type();
    if ((type == QEvent::ShortcutOverride || type == QEvent::KeyPress) &&
        IsAltCharacter(*static_cast<QKeyEvent*>(pEvent))) {
        pEvent->accept();
        return true;
    }
    return QComboBox::event(pEvent);
}

void CFlatComboBox::mouseMoveEvent(QMouseEvent* pEvent)
{
    m_timerHover.start(kHoverPollMs, this);
    CheckHover();
    QComboBox::mouseMoveEvent(pEvent);
}

void CFlatComboBox::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() == Qt::LeftButton) m_bLButtonDown = true;
    QComboBox::mousePressEvent(pEvent);
}

void CFlatComboBox::mouseReleaseEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() == Qt::LeftButton) EndPress();
    QComboBox::mouseReleaseEvent(pEvent);
}

void CFlatComboBox::hidePopup()
{
    QComboBox::hidePopup();
    // The open list takes the mouse, so the release of a press that opened it never
    // reaches this control: closing the list ends the press.
    if (m_bLButtonDown) EndPress();
}

void CFlatComboBox::timerEvent(QTimerEvent* pEvent)
{
    if (pEvent->timerId() == m_timerHover.timerId())
        CheckHover();
    else
        QComboBox::timerEvent(pEvent);
}

void CFlatComboBox::focusInEvent(QFocusEvent* pEvent)
{
    // While the list is open Qt's focus moves to it and back; in the operator's eyes the
    // control keeps the focus.
    if (!view()->isVisible()) {
        m_bHasFocus = true;
        DrawLook(ELook::Raised);
    }
    QComboBox::focusInEvent(pEvent);
}

void CFlatComboBox::focusOutEvent(QFocusEvent* pEvent)
{
    if (!view()->isVisible()) {
        m_bHasFocus = false;
        // Still under the mouse: stay raised (the hover check would not redraw it).
        DrawLook(IsHot() ? ELook::Raised : ELook::Normal);
    }
    QComboBox::focusOutEvent(pEvent);
}

void CFlatComboBox::paintEvent(QPaintEvent* pEvent)
{
    QComboBox::paintEvent(pEvent);
    QPainter dc(this);
    DrawFrames(dc);
}

void CFlatComboBox::CheckHover()
{
    if (m_bLButtonDown) {
        m_timerHover.stop();
        if (m_bDrawnRaised) {
            DrawLook(ELook::Pressed);
            m_bDrawnRaised = false;
        }
        return;
    }
    if (IsHot() || m_bHasFocus) {
        // While the control has the focus the polling goes on.
        if (!m_bDrawnRaised) {
            m_bDrawnRaised = true;
            DrawLook(ELook::Raised);
        }
        return;
    }
    m_timerHover.stop();
    if (m_bDrawnRaised) {
        DrawLook(ELook::Normal);
        m_bDrawnRaised = false;
    }
}

void CFlatComboBox::EndPress()
{
    m_bLButtonDown = false;
    DrawLook(RestingLook());
    // The press stopped the polling; resume it, or a mouse that now leaves without
    // another move over the control would leave it raised.
    m_timerHover.start(kHoverPollMs, this);
    CheckHover();
}

bool CFlatComboBox::IsHot() const
{
    // The open list is not part of the control.
    return rect().contains(mapFromGlobal(QCursor::pos()));
}

CFlatComboBox::ELook CFlatComboBox::RestingLook() const
{
    return IsHot() || m_bHasFocus ? ELook::Raised : ELook::Normal;
}

void CFlatComboBox::DrawLook(ELook eLook)
{
    if (eLook == m_eLook) return;
    m_eLook = eLook;
    update();
}

void CFlatComboBox::DrawFrames(QPainter& dc) const
{
    // The system's 3-D colours: button highlight, button shadow and button face.
    const QColor clrHighlight = palette().color(QPalette::Light);
    const QColor clrShadow = palette().color(QPalette::Dark);
    const QColor clrFace = palette().color(QPalette::Button);

    QRect rc = rect();
    if (m_eLook == ELook::Normal)
        Draw3dRect(dc, rc, clrFace, clrFace);
    else
        Draw3dRect(dc, rc, clrShadow, clrHighlight);

    rc.adjust(1, 1, -1, -1);
    const QColor clrInner = isEnabled() ? clrFace : clrHighlight;
    Draw3dRect(dc, rc, clrInner, clrInner);

    rc.adjust(1, 1, -1, -1);
    rc.setLeft(rc.x() + rc.width() - ButtonWidth());
    Draw3dRect(dc, rc, clrFace, clrFace);
    rc.adjust(1, 1, -1, -1);
    Draw3dRect(dc, rc, clrFace, clrFace);

    if (!isEnabled()) return;
    rc.adjust(0, -1, 0, 1);
    switch (m_eLook) {
    case ELook::Normal:
        Draw3dRect(dc, rc, clrHighlight, clrHighlight);
        rc.adjust(-1, 0, 0, 0);
        Draw3dRect(dc, rc, clrHighlight, clrHighlight);
        break;
    case ELook::Raised:
        Draw3dRect(dc, rc, clrHighlight, clrShadow);
        break;
    case ELook::Pressed:
        rc.translate(1, 1);
        Draw3dRect(dc, rc, clrShadow, clrHighlight);
        break;
    }
}

int CFlatComboBox::ButtonWidth() const
{
    // The frames go around the drop-down button the style draws.
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    return style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxArrow, this).width();
}

}  // namespace kestrel
