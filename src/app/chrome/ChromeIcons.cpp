#include "chrome/ChromeIcons.h"

#include "chrome/ChromeSymbolPainter.h"
#include "style/SymbolIcons.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPainter>

namespace quillbarrow {

QIcon ChromeIcons::icon(const QString& symbolName)
{
    // One mapping of symbols to icons for the whole window: the themed names it picks are the
    // one-colour ones, which sit with the drawn glyphs.
    return SymbolIcons::icon(symbolName);
}

QPixmap ChromeIcons::tinted(const QString& symbolName, const QColor& colour, int size)
{
    if (ChromeSymbolPainter::canDraw(symbolName)) {
        // Tinted symbols are drawn: a one-colour theme icon would lose its inner shape.
        QPixmap drawn(size, size);
        drawn.fill(Qt::transparent);
        QPainter painter(&drawn);
        ChromeSymbolPainter::draw(painter, QRectF(0, 0, size, size), symbolName,
                                  colour.isValid() ? colour : QApplication::palette().color(QPalette::WindowText));
        return drawn;
    }
    QPixmap pixmap = icon(symbolName).pixmap(size, size);
    if (!colour.isValid() || pixmap.isNull()) {
        return pixmap;
    }
    // Keep the icon's shape (its alpha) and paint it in the one colour.
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), colour);
    return pixmap;
}

void ChromeIcons::apply(QAbstractButton* button, const QString& symbolName)
{
    button->setIcon(icon(symbolName));
    button->setProperty("symbolName", symbolName);
}

void ChromeIcons::apply(QLabel* label, const QString& symbolName, int size, const QColor& colour)
{
    label->setPixmap(tinted(symbolName, colour, size));
    label->setProperty("symbolName", symbolName);
}

} // namespace quillbarrow
