#pragma once

#include <QToolButton>

namespace quillbarrow {

// One component of a breadcrumb bar: its text (or symbol) in the secondary colour, in the accent
// colour while the pointer is over it (enabled or not), at 60% opacity while pressed.
class BreadcrumbButton final : public QToolButton {
    Q_OBJECT

public:
    static constexpr double pressedOpacity = 0.6;

    explicit BreadcrumbButton(const QString& text, QWidget* parent = nullptr);

    // Shows the symbol instead of the text (the path editor's pencil).
    void setSymbol(const QString& symbol);
    bool isHovering() const { return m_hovering; }
    // The colour the label is drawn in now.
    QColor labelColor() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString m_symbol;
    bool m_hovering = false;
};

} // namespace quillbarrow
