#pragma once

#include <QString>
#include <QWidget>

namespace quillbarrow {

// The highlight over a pane's table while a drag it accepts hovers over it: a dashed accent
// outline (radius 8, 2 pixels, 8 on and 5 off) over a faint accent fill, inset 10 pixels, with a
// centred card holding the tray symbol, a title and a subtitle. It covers its parent and follows
// its size; it is hidden while not targeted, and never takes a click or a drop (both reach the
// pane below).
class DropTargetOverlay final : public QWidget {
    Q_OBJECT

public:
    static constexpr double fillOpacity = 0.08;

    DropTargetOverlay(const QString& title, const QString& subtitle, QWidget* parent);

    bool isTargeted() const { return m_isTargeted; }
    void setTargeted(bool targeted);
    const QString& title() const { return m_title; }
    const QString& subtitle() const { return m_subtitle; }
    void setTexts(const QString& title, const QString& subtitle);

    // The card's rectangle in the overlay, centred.
    QRect cardRect() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_isTargeted = false;
    QString m_title;
    QString m_subtitle;
};

} // namespace quillbarrow
