#include "chrome/ChromeStyle.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QWidget>

namespace quillbarrow {

namespace {

QFont scaled(const QFont& base, double factor, bool bold)
{
    QFont font = base;
    const double points = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    font.setPointSizeF(points * factor);
    font.setBold(bold);
    return font;
}

} // namespace

QFont ChromeStyle::headline(const QFont& base) { return scaled(base, 1.0, true); }
QFont ChromeStyle::title2(const QFont& base) { return scaled(base, 1.5, false); }
QFont ChromeStyle::title3(const QFont& base) { return scaled(base, 1.3, false); }
QFont ChromeStyle::callout(const QFont& base) { return scaled(base, 0.95, false); }
QFont ChromeStyle::caption(const QFont& base) { return scaled(base, 0.85, false); }
QFont ChromeStyle::caption2(const QFont& base) { return scaled(base, 0.8, false); }

QColor ChromeStyle::secondaryText(const QPalette& palette)
{
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.6f);
    return colour;
}

void ChromeStyle::setText(QWidget* widget, const QFont& font, bool secondary)
{
    widget->setFont(font);
    if (secondary) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, secondaryText(palette));
        palette.setColor(QPalette::Text, secondaryText(palette));
        widget->setPalette(palette);
    }
}

QString ChromeStyle::buttonTitle(const QString& text)
{
    QString escaped = text;
    return escaped.replace(u'&', QStringLiteral("&&"));
}

void ChromeStyle::widen(QMessageBox* alert, int width)
{
    if (auto* grid = qobject_cast<QGridLayout*>(alert->layout())) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
}

} // namespace quillbarrow
