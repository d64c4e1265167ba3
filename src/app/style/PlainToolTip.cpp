#include "PlainToolTip.h"

#include <QTextDocument>

namespace quillbarrow {

QString plainToolTip(const QString& text)
{
    // Escaping alone would not do: text without a tag is shown as plain text, entities included.
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

} // namespace quillbarrow
