#include "chrome/ItemNameRules.h"

namespace quillbarrow {

QString ItemNameRules::trimmed(const QString& typed)
{
    return typed.trimmed();
}

bool ItemNameRules::isAcceptable(const QString& typed)
{
    const QString name = trimmed(typed);
    return !name.isEmpty() && name != QStringLiteral(".") && name != QStringLiteral("..") && !name.contains(u'/') &&
           !name.contains(QChar(u'\0'));
}

} // namespace quillbarrow
