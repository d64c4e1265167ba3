#include "Palette.h"

namespace quillbarrow {

namespace {

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

} // namespace

QColor Palette::secondary(const QPalette& palette, double opacity)
{
    return withOpacity(palette.color(QPalette::WindowText), opacity);
}

QColor Palette::primary(const QPalette& palette, double opacity)
{
    return withOpacity(palette.color(QPalette::WindowText), opacity);
}

QColor Palette::accent(const QPalette& palette, double opacity)
{
    return withOpacity(palette.color(QPalette::Highlight), opacity);
}

QColor Palette::systemBlue()
{
    return QColor(0, 122, 255);
}

QColor Palette::storageUsed()
{
    return QColor::fromRgbF(0.965f, 0.48f, 0.48f, 0.58f);
}

QColor Palette::storageFree()
{
    return QColor::fromRgbF(0.54f, 0.82f, 0.58f, 0.68f);
}

} // namespace quillbarrow
