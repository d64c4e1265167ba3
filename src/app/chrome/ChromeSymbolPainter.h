#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

namespace quillbarrow {

// Line drawings of the chrome's symbols, for machines without an icon theme: a tinted standard
// icon loses its shape (an arrow in a circle becomes a disc), a drawing keeps it in any colour.
class ChromeSymbolPainter final {
public:
    static bool canDraw(const QString& symbolName);
    // Draws the symbol into `box` (square) in `colour`; false for an unknown symbol.
    static bool draw(QPainter& painter, const QRectF& box, const QString& symbolName, const QColor& colour);
};

} // namespace quillbarrow
