#pragma once

#include <QPointF>
#include <QWidget>

#include <optional>

namespace quillbarrow {

class DragGrip;

// A one-pixel separator line with a wider, invisible grip centred over it that takes the mouse:
// the pane split's vertical line (grip 10 wide) and the line above the transfer panel (grip 8
// high). The grip lives beside the line in the same parent and follows it; it takes no room in
// any layout, so the line alone separates its neighbours. Hovering the grip shows the resize
// cursor of its direction, and leaving it restores the previous cursor.
class Divider final : public QWidget {
    Q_OBJECT

public:
    // `lineOrientation`: Qt::Vertical for a line between side-by-side neighbours (dragged left and
    // right), Qt::Horizontal for a line between stacked ones (dragged up and down).
    Divider(Qt::Orientation lineOrientation, int gripThickness, QWidget* parent);

    DragGrip* grip() const { return m_grip; }

Q_SIGNALS:
    // Each change of a drag of the grip: how far the mouse has moved since the press.
    void dragged(QPointF translation);
    void dragFinished();

protected:
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void placeGrip();

    Qt::Orientation m_lineOrientation;
    int m_gripThickness;
    DragGrip* m_grip;
};

// The mouse area of a Divider: transparent, with the resize cursor; reports a drag from its
// press (translation zero) to its release.
class DragGrip final : public QWidget {
    Q_OBJECT

public:
    DragGrip(Qt::Orientation lineOrientation, QWidget* parent);

Q_SIGNALS:
    void dragged(QPointF translation);
    void dragFinished();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::optional<QPointF> m_pressPosition;
};

} // namespace quillbarrow
