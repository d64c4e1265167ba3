#pragma once

#include <QColor>
#include <QIcon>
#include <QIconEngine>

namespace quillbarrow {

// Draws another icon's shape in one colour: every pixel keeps its coverage and takes the colour,
// the way the window tints one-colour symbols (blue folders, secondary-text file glyphs).
// Selected pixmaps (a selected table row) take the selection's text colour; disabled ones are
// drawn at 40% of the colour's opacity.
class TintedIconEngine final : public QIconEngine {
public:
    TintedIconEngine(QIcon shape, QColor color, QColor selectedColor);

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override;
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QIconEngine* clone() const override;
    QString key() const override;

private:
    QColor colorFor(QIcon::Mode mode) const;

    QIcon m_shape;
    QColor m_color;
    QColor m_selectedColor;
};

} // namespace quillbarrow
