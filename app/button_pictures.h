#pragma once
// The pictures of the bitmap buttons, drawn by the program itself. Each button has three,
// named after its text in capitals with a suffix: U (up), D (down) and F (focused), for
// example "RUNU". They are drawn at the size asked for, so they stay sharp at any scale.

#include <QPixmap>
#include <QSize>
#include <string_view>

namespace kestrel {

// A null pixmap for a name that has no picture.
QPixmap LoadButtonPicture(std::string_view strResource, const QSize& size, qreal dRatio);

}  // namespace kestrel
