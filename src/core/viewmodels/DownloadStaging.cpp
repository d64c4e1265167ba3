#include "DownloadStaging.h"

#include "LocalFileOperations.h"

namespace quillbarrow {

QString DownloadStaging::stagingPath(const QString& destination)
{
    return LocalFileOperations::hiddenSibling(destination, QStringLiteral(".partial"));
}

std::optional<QString> DownloadStaging::place(const QString& staging, const QString& destination, bool replace)
{
    return LocalFileOperations::moveIntoPlace(staging, destination, replace,
                                              QStringLiteral("Could not save ") +
                                                  LocalFileOperations::lastComponent(destination));
}

} // namespace quillbarrow
