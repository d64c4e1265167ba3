#include "ItemNameCheck.h"

namespace quillbarrow {

std::optional<QString> ItemNameCheck::problem(const QString& name)
{
    if (name.isEmpty()) {
        return QStringLiteral("A name cannot be empty.");
    }
    if (name == QLatin1StringView(".") || name == QLatin1StringView("..")) {
        return QStringLiteral("“%1” cannot be used as a name.").arg(name);
    }
    if (name.contains(u'/')) {
        return QStringLiteral("A name cannot contain “/”.");
    }
    if (name.contains(QChar(u'\0'))) {
        return QStringLiteral("A name cannot contain a NUL character.");
    }
    return std::nullopt;
}

} // namespace quillbarrow
