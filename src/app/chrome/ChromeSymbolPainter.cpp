#include "chrome/ChromeSymbolPainter.h"

#include <QPainter>
#include <QPainterPath>
#include <QSet>

namespace quillbarrow {

namespace {

const QSet<QString>& drawnSymbols()
{
    static const QSet<QString> symbols{
        QStringLiteral("arrow.down.circle"), QStringLiteral("arrow.up.circle"),   QStringLiteral("eye.circle"),
        QStringLiteral("xmark.circle"),      QStringLiteral("eye"),               QStringLiteral("arrow.clockwise"),
        QStringLiteral("arrow.left.arrow.right"), QStringLiteral("arrow.up.arrow.down"), QStringLiteral("envelope"),
        QStringLiteral("cable.connector"),   QStringLiteral("lock.open"),         QStringLiteral("folder"),
        QStringLiteral("checkmark.shield"),  QStringLiteral("exclamationmark.triangle.fill"),
        QStringLiteral("doc.on.doc"),        QStringLiteral("iphone.gen3"),
    };
    return symbols;
}

// A vertical arrow centred on x from y1 to y2 (the head at y2).
void arrow(QPainterPath& path, qreal x, qreal y1, qreal y2, qreal head)
{
    path.moveTo(x, y1);
    path.lineTo(x, y2);
    const qreal back = y2 > y1 ? -head : head;
    path.moveTo(x - head, y2 + back);
    path.lineTo(x, y2);
    path.lineTo(x + head, y2 + back);
}

void horizontalArrow(QPainterPath& path, qreal y, qreal x1, qreal x2, qreal head)
{
    path.moveTo(x1, y);
    path.lineTo(x2, y);
    const qreal back = x2 > x1 ? -head : head;
    path.moveTo(x2 + back, y - head);
    path.lineTo(x2, y);
    path.lineTo(x2 + back, y + head);
}

void eye(QPainterPath& path, qreal cx, qreal cy, qreal halfWidth)
{
    const qreal h = halfWidth * 0.62;
    path.moveTo(cx - halfWidth, cy);
    path.quadTo(cx, cy - h * 1.6, cx + halfWidth, cy);
    path.quadTo(cx, cy + h * 1.6, cx - halfWidth, cy);
    path.addEllipse(QPointF(cx, cy), halfWidth * 0.32, halfWidth * 0.32);
}

} // namespace

bool ChromeSymbolPainter::canDraw(const QString& symbolName)
{
    return drawnSymbols().contains(symbolName);
}

bool ChromeSymbolPainter::draw(QPainter& painter, const QRectF& box, const QString& symbolName, const QColor& colour)
{
    if (!canDraw(symbolName)) {
        return false;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 24-unit grid.
    painter.translate(box.topLeft());
    painter.scale(box.width() / 24.0, box.height() / 24.0);
    QPen pen(colour, 1.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPainterPath path;

    if (symbolName.endsWith(QStringLiteral(".circle"))) {
        painter.drawEllipse(QPointF(12, 12), 10, 10);
    }
    if (symbolName == QStringLiteral("arrow.down.circle")) {
        arrow(path, 12, 6.5, 17, 4);
    } else if (symbolName == QStringLiteral("arrow.up.circle")) {
        arrow(path, 12, 17.5, 7, 4);
    } else if (symbolName == QStringLiteral("eye.circle")) {
        eye(path, 12, 12, 6.5);
    } else if (symbolName == QStringLiteral("xmark.circle")) {
        path.moveTo(8.5, 8.5);
        path.lineTo(15.5, 15.5);
        path.moveTo(15.5, 8.5);
        path.lineTo(8.5, 15.5);
    } else if (symbolName == QStringLiteral("eye")) {
        eye(path, 12, 12, 10);
    } else if (symbolName == QStringLiteral("arrow.clockwise")) {
        path.arcMoveTo(QRectF(4, 4, 16, 16), 70);
        path.arcTo(QRectF(4, 4, 16, 16), 70, -300);
        path.moveTo(14, 2.5);
        path.lineTo(17.5, 6);
        path.lineTo(13.5, 8.5);
    } else if (symbolName == QStringLiteral("arrow.left.arrow.right")) {
        horizontalArrow(path, 8, 4, 20, 3.5);
        horizontalArrow(path, 16, 20, 4, 3.5);
    } else if (symbolName == QStringLiteral("arrow.up.arrow.down")) {
        arrow(path, 8, 20, 4, 3.5);
        arrow(path, 16, 4, 20, 3.5);
    } else if (symbolName == QStringLiteral("envelope")) {
        path.addRoundedRect(QRectF(3, 6, 18, 13), 2, 2);
        path.moveTo(3.5, 7);
        path.lineTo(12, 13.5);
        path.lineTo(20.5, 7);
    } else if (symbolName == QStringLiteral("cable.connector")) {
        path.addRoundedRect(QRectF(7, 7, 10, 9), 1.5, 1.5);
        path.moveTo(9.5, 7);
        path.lineTo(9.5, 3);
        path.moveTo(14.5, 7);
        path.lineTo(14.5, 3);
        path.moveTo(12, 16);
        path.lineTo(12, 18.5);
        path.quadTo(12, 22, 16, 22);
    } else if (symbolName == QStringLiteral("lock.open")) {
        path.addRoundedRect(QRectF(4, 11, 12, 10), 1.5, 1.5);
        path.moveTo(13, 11);
        path.lineTo(13, 7);
        path.arcTo(QRectF(13, 2.5, 8, 9), 180, -180);
        path.lineTo(21, 9);
    } else if (symbolName == QStringLiteral("folder")) {
        path.moveTo(3, 7);
        path.lineTo(3, 19);
        path.lineTo(21, 19);
        path.lineTo(21, 8.5);
        path.lineTo(11.5, 8.5);
        path.lineTo(9.5, 5.5);
        path.lineTo(3.5, 5.5);
        path.closeSubpath();
    } else if (symbolName == QStringLiteral("checkmark.shield")) {
        path.moveTo(12, 2.5);
        path.lineTo(20, 5.5);
        path.cubicTo(20, 13, 17, 18.5, 12, 21.5);
        path.cubicTo(7, 18.5, 4, 13, 4, 5.5);
        path.closeSubpath();
        path.moveTo(8.5, 12);
        path.lineTo(11, 14.5);
        path.lineTo(15.5, 9);
    } else if (symbolName == QStringLiteral("exclamationmark.triangle.fill")) {
        QPainterPath triangle;
        triangle.moveTo(12, 2.5);
        triangle.lineTo(22, 20.5);
        triangle.lineTo(2, 20.5);
        triangle.closeSubpath();
        painter.setBrush(colour);
        painter.drawPath(triangle);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(40, 40, 40), 2.2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(12, 8.5), QPointF(12, 13.5));
        painter.drawPoint(QPointF(12, 17));
    } else if (symbolName == QStringLiteral("doc.on.doc")) {
        painter.drawRoundedRect(QRectF(3, 2.5, 12, 15), 1.5, 1.5);
        // The front page hides the back one where they overlap.
        painter.setBrush(QColor(255, 255, 255));
        path.addRoundedRect(QRectF(9, 6.5, 12, 15), 1.5, 1.5);
    } else if (symbolName == QStringLiteral("iphone.gen3")) {
        path.addRoundedRect(QRectF(6.5, 2, 11, 20), 2.5, 2.5);
        path.moveTo(10.5, 19);
        path.lineTo(13.5, 19);
    }
    painter.drawPath(path);
    painter.restore();
    return true;
}

} // namespace quillbarrow
