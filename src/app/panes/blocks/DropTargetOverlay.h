#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

namespace quillbarrow {

// The highlight over a pane's table while a drag it accepts hovers over it: a dashed accent
// outline (radius 8, 2 pixels, 8 on and 5 off) around a faint accent fill, inset 10 pixels from
// the area it covers, with a centred card holding the tray symbol, a title and a subtitle. The
// area is its parent, or the widget given to cover(); the overlay follows its place and size. The
// rows and column titles stay in sight through the faint fill, so that a user can still check
// what the folder holds before dropping. It is hidden while not targeted, and never takes a
// click or a drop (both reach the pane below).
class DropTargetOverlay final : public QWidget {
    Q_OBJECT

public:
    static constexpr double fillOpacity = 0.08;
    static constexpr int inset = 10;

    DropTargetOverlay(const QString& title, const QString& subtitle, QWidget* parent);

    // Lies over `area`, a widget inside the parent (the pane's table), instead of the whole parent.
    void cover(QWidget* area);

    bool isTargeted() const { return m_isTargeted; }
    void setTargeted(bool targeted);
    const QString& title() const { return m_title; }
    const QString& subtitle() const { return m_subtitle; }
    void setTexts(const QString& title, const QString& subtitle);

    // The card's rectangle in the overlay, centred.
    QRect cardRect() const;
    // The outline's rectangle in the overlay: the area less the inset.
    QRect outlineRect() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void followArea();

    QPointer<QWidget> m_area;
    bool m_isTargeted = false;
    QString m_title;
    QString m_subtitle;
};

} // namespace quillbarrow
