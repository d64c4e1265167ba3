#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QAbstractButton;
class QLabel;

namespace quillbarrow {

// The icons of the window chrome, named by the symbol names the interface is described with
// ("arrow.clockwise", "xmark.circle", ...). Each symbol maps to a freedesktop theme icon with a
// QStyle standard icon behind it, so no icon is blank on a machine without an icon theme. Widgets
// that show one keep the symbol name in their "symbolName" property, for tests.
class ChromeIcons final {
public:
    static QIcon icon(const QString& symbolName);
    // The icon tinted in one colour (the panel's state colours), drawn at `size` pixels.
    static QPixmap tinted(const QString& symbolName, const QColor& colour, int size);
    // Sets the icon and remembers its symbol name on the widget.
    static void apply(QAbstractButton* button, const QString& symbolName);
    static void apply(QLabel* label, const QString& symbolName, int size, const QColor& colour = {});
};

} // namespace quillbarrow
