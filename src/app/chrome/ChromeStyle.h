#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QMessageBox;
class QWidget;

namespace quillbarrow {

// The type scale and the secondary colour of the chrome, derived from the application font and
// the palette (the shared style folder will take these over).
class ChromeStyle final {
public:
    static QFont headline(const QFont& base);
    static QFont title2(const QFont& base);
    static QFont title3(const QFont& base);
    static QFont callout(const QFont& base);
    static QFont caption(const QFont& base);
    static QFont caption2(const QFont& base);
    static QColor secondaryText(const QPalette& palette);
    // Sets the font and, when `secondary`, the reduced-alpha text colour on the widget.
    static void setText(QWidget* widget, const QFont& font, bool secondary);
    // A button or menu title with its "&" shown as written, not taken as a keyboard mnemonic.
    static QString buttonTitle(const QString& text);
    // Gives an alert room for its message: a message box sizes itself to its title otherwise.
    static void widen(QMessageBox* alert, int width);
};

} // namespace quillbarrow
