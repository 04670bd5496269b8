#pragma once
// Combo box with a flat look: a flat frame in the button face colour while idle, a sunken
// frame and a raised drop-down button while the mouse is over it or it has the focus,
// and a pressed button while the left button is held on it. The combo box draws its
// content and list itself; this class draws only the frames over it.
//
// The mouse is followed by polling the cursor every 10 ms, only from the first move
// over the control until a check finds it gone and the focus elsewhere. Alt+character
// typed into the control is swallowed, so it neither triggers a mnemonic of the window
// nor selects an entry.

#include <QBasicTimer>
#include <QComboBox>

namespace kestrel {

class CFlatComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit CFlatComboBox(QWidget* pParent = nullptr);

    void hidePopup() override;

protected:
    bool event(QEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    enum class ELook { Normal = 1, Raised, Pressed };

    void CheckHover();
    void EndPress();
    bool IsHot() const;
    ELook RestingLook() const;
    void DrawLook(ELook eLook);
    void DrawFrames(QPainter& dc) const;
    int ButtonWidth() const;

    QBasicTimer m_timerHover;
    bool m_bLButtonDown = false;
    bool m_bDrawnRaised = false;  // the hover check has shown the raised look
    bool m_bHasFocus = false;
    ELook m_eLook = ELook::Normal;  // the look the frames show
};

}  // namespace kestrel
