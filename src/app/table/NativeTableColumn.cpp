#include "NativeTableColumn.h"

namespace quillbarrow {

QList<NativeTableColumn> NativeTableColumn::standardColumns()
{
    return {
        {QStringLiteral("name"), QStringLiteral("Name"), 320, 120, true, Content::name},
        {QStringLiteral("size"), QStringLiteral("Size"), 100, 60, true, Content::size},
        {QStringLiteral("modified"), QStringLiteral("Modified"), 160, 80, true, Content::modified},
    };
}

QString NativeTableColumn::sortColumnIdentifier(FileSort sort)
{
    switch (sort) {
    case FileSort::name:
        return QStringLiteral("name");
    case FileSort::modifiedDate:
        return QStringLiteral("modified");
    case FileSort::size:
        return QStringLiteral("size");
    }
    return QStringLiteral("name");
}

std::optional<FileSort> NativeTableColumn::fileSort(const QString& identifier)
{
    if (identifier == QLatin1StringView("name")) {
        return FileSort::name;
    }
    if (identifier == QLatin1StringView("size")) {
        return FileSort::size;
    }
    if (identifier == QLatin1StringView("modified")) {
        return FileSort::modifiedDate;
    }
    return std::nullopt;
}

} // namespace quillbarrow
