#pragma once

#include <QString>

namespace quillbarrow {

// A tooltip that shows `text` as it is written. A tooltip whose text looks like markup is drawn
// as markup, so a name such as "<b>Card</b>" from a phone would lose its tags or change the
// tooltip: such a text is given as markup that reads as the text itself.
QString plainToolTip(const QString& text);

} // namespace quillbarrow
