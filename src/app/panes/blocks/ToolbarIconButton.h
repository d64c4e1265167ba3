#pragma once

#include <QToolButton>

namespace quillbarrow {

// A pane header's toolbar button: its symbol (and text, if any) with 6 pixels of padding left
// and right and 4 above and below, all of it clickable. A rounded fill (radius 5) of the text
// colour shows 16% while pressed, 8% while the pointer is over an enabled button, nothing
// otherwise; a disabled button is drawn at 40% opacity and never shows the hover fill.
class ToolbarIconButton final : public QToolButton {
    Q_OBJECT

public:
    static constexpr double pressedFill = 0.16;
    static constexpr double hoverFill = 0.08;
    static constexpr double disabledOpacity = 0.4;

    // The symbol gives the icon (and the symbol property); the tooltip is the help text every
    // toolbar button carries.
    ToolbarIconButton(const QString& symbol, const QString& toolTip, QWidget* parent = nullptr);

    // Changes the symbol (a toggle's two states).
    void setSymbol(const QString& symbol);
    bool isHovering() const { return m_hovering; }
    // Takes the hover state from where the pointer is now. A popup menu takes the pointer's
    // Enter and Leave while it is open, so the button learns of none when it closes.
    void followPointer();
    // The opacity of the fill behind the label now.
    double fillOpacity() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool m_hovering = false;
};

} // namespace quillbarrow
