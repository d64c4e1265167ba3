#include "DownloadStaging.h"

#include "LocalFileOperations.h"
#include "LocalFolder.h"
#include "domain/LocalPath.h"

#include <QFileInfo>

namespace quillbarrow {

QString DownloadStaging::stagingName()
{
    return LocalFileOperations::hiddenName(QStringLiteral(".partial"));
}

QString DownloadStaging::stagingPath(const QString& destination)
{
    return LocalFileOperations::childPath(QFileInfo(destination).path(), stagingName());
}

QString DownloadStaging::failureLead(const QString& name, const QString& folder)
{
    return QStringLiteral("Could not save ") + LocalPath::shown(name) + QStringLiteral(" in ") + LocalPath::shown(folder);
}

std::optional<QString> DownloadStaging::place(const QString& staging, const QString& destination, bool replace)
{
    return LocalFileOperations::moveIntoPlace(
        staging, destination, replace,
        failureLead(LocalFileOperations::lastComponent(destination), QFileInfo(destination).path()));
}

void DownloadStaging::removeStale(const QString& folder, StagingRecord& record)
{
    const LocalFolder opened = LocalFolder::open(folder);
    if (opened.isOpen()) {
        StagingLock::removeStale(opened, record);
    }
}

} // namespace quillbarrow
