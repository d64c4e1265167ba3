#include "Fonts.h"

#include <QApplication>

namespace quillbarrow {

namespace {

QFont scaled(double factor, QFont::Weight weight = QFont::Normal)
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else {
        font.setPixelSize(qRound(font.pixelSize() * factor));
    }
    font.setWeight(weight);
    return font;
}

} // namespace

QFont Fonts::body()
{
    return QApplication::font();
}

QFont Fonts::caption()
{
    return scaled(0.85);
}

QFont Fonts::callout()
{
    return scaled(0.93);
}

QFont Fonts::headline()
{
    return scaled(1.0, QFont::Bold);
}

QFont Fonts::title2()
{
    return scaled(1.35);
}

QFont Fonts::title3Semibold()
{
    return scaled(1.2, QFont::DemiBold);
}

} // namespace quillbarrow
