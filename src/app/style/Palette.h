#pragma once

#include <QColor>
#include <QPalette>

namespace quillbarrow {

// The colours of the panes. Everything follows the widget palette (secondary text is the text
// colour at reduced opacity, the accent is the highlight) except the semantic colours the window
// names on purpose.
class Palette final {
public:
    // Text and glyphs one step quieter than the main text.
    static QColor secondary(const QPalette& palette, double opacity = 0.55);
    // The main text colour at the given opacity (fills and rules drawn from "the primary colour").
    static QColor primary(const QPalette& palette, double opacity);
    static QColor accent(const QPalette& palette, double opacity = 1.0);

    // Folder glyphs.
    static QColor systemBlue();
    // The storage bar: used space and free space.
    static QColor storageUsed();
    static QColor storageFree();
};

} // namespace quillbarrow
