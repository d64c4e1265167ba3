#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

class QAbstractButton;
class QAction;
class QWidget;

namespace quillbarrow {

// The one place where the window's symbol names become icons. Each symbol maps to freedesktop
// icon names (tried in order in the user's icon theme, then in Adwaita, which scripts/setup.sh
// installs), then to a bundled picture or a standard icon of the widget style, so that no icon
// is ever blank, not even on a machine without any icon theme.
//
// Widgets given an icon here carry the symbol name in the dynamic property `symbolProperty`,
// which tests read.
class SymbolIcons final {
public:
    static constexpr const char* symbolProperty = "symbolName";

    // The icon of `symbol` as its source draws it; an unknown symbol gives a generic file icon.
    static QIcon icon(const QString& symbol);
    // The same shape drawn in one colour (the way the window tints folders and toolbar glyphs);
    // selected pixmaps take the selection's text colour, disabled ones are drawn fainter.
    static QIcon tinted(const QString& symbol, const QColor& color);

    // Sets the icon and the symbol property on a button or an action.
    static void apply(QAbstractButton* button, const QString& symbol);
    static void apply(QAction* action, const QString& symbol);
    // The symbol property of a widget, empty when it has none.
    static QString symbolOf(const QWidget* widget);

    // Every symbol the mapping knows, in table order.
    static QStringList knownSymbols();
    // Where the icon of a known symbol comes from on this machine: "theme:<name>", "bundled:<path>"
    // or "style"; empty for an unknown symbol. For tests and diagnostics.
    static QString sourceOf(const QString& symbol);

    // Forgets the icons resolved so far, so that the next request looks again (after the icon
    // theme or its search paths changed).
    static void reload();

    // Makes Adwaita the fallback icon theme, so that a desktop whose theme lacks a name still
    // finds it. Called by the first icon request; the application may call it earlier.
    static void installFallbackTheme();
};

} // namespace quillbarrow
