#include "app/bitmap_button.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include "app/button_pictures.h"

namespace kestrel {

CBitmapButton::CBitmapButton(const QString& strText, QWidget* pParent) : QAbstractButton(pParent)
{
    setText(strText);
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
}

bool CBitmapButton::LoadBitmaps(std::string_view strName)
{
    m_strName.clear();
    const std::string strBase(strName);
    for (const char cState : {'U', 'D', 'F'})
        if (LoadButtonPicture(strBase + cState, QSize(25, 25), 1.0).isNull()) return false;
    m_strName = strBase;
    update();
    return true;
}

QSize CBitmapButton::sizeHint() const { return {25, 25}; }

void CBitmapButton::paintEvent(QPaintEvent*)
{
    if (m_strName.empty()) return;
    const char cState = isDown() ? 'D' : hasFocus() ? 'F' : 'U';
    QPixmap pm = LoadButtonPicture(m_strName + (isEnabled() ? cState : 'U'), size(), devicePixelRatioF());
    if (!isEnabled()) {
        QStyleOption opt;
        opt.initFrom(this);
        pm = style()->generatedIconPixmap(QIcon::Disabled, pm, &opt);
    }
    QPainter(this).drawPixmap(0, 0, pm);
}

}  // namespace kestrel
