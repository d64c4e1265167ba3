#include "DownloadStaging.h"

#include "LocalFileOperations.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

namespace quillbarrow {

namespace {

QString hiddenSibling(const QString& path, const QString& suffix)
{
    const QString folder = QFileInfo(path).path();
    return LocalFileOperations::childPath(folder, QStringLiteral(".quillbarrow-") +
                                                      QUuid::createUuid().toString(QUuid::WithoutBraces) + suffix);
}

// Renames without following or replacing anything but the target itself; the system's description
// of the failure, or nothing.
std::optional<QString> renameItem(const QString& from, const QString& to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    return std::nullopt;
}

// Renames only when nothing is at `to`, atomically where the file system supports it.
std::optional<QString> renameWithoutReplacing(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0) {
        return std::nullopt;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    if (LocalFileOperations::itemExists(to)) {
        return QString::fromLocal8Bit(std::strerror(EEXIST));
    }
    return renameItem(from, to);
}

} // namespace

QString DownloadStaging::stagingPath(const QString& destination)
{
    return hiddenSibling(destination, QStringLiteral(".partial"));
}

std::optional<QString> DownloadStaging::place(const QString& staging, const QString& destination, bool replace)
{
    const QString name = LocalFileOperations::lastComponent(destination);
    if (!replace) {
        if (const auto failure = renameWithoutReplacing(staging, destination)) {
            LocalFileOperations::removeItem(staging);
            return QStringLiteral("Could not save ") + name + QStringLiteral(": ") + *failure;
        }
        return std::nullopt;
    }
    QString setAside;
    if (LocalFileOperations::itemExists(destination)) {
        setAside = hiddenSibling(destination, QStringLiteral(".replaced"));
        if (const auto failure = renameItem(destination, setAside)) {
            LocalFileOperations::removeItem(staging);
            return QStringLiteral("Could not replace ") + name + QStringLiteral(": ") + *failure;
        }
    }
    if (const auto failure = renameItem(staging, destination)) {
        if (!setAside.isEmpty()) {
            renameItem(setAside, destination);
        }
        LocalFileOperations::removeItem(staging);
        return QStringLiteral("Could not save ") + name + QStringLiteral(": ") + *failure;
    }
    if (!setAside.isEmpty()) {
        LocalFileOperations::removeItem(setAside);
    }
    return std::nullopt;
}

} // namespace quillbarrow
