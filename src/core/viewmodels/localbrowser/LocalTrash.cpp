#include "LocalTrash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace quillbarrow {

namespace {

const QString filesFolder = QStringLiteral("files");
const QString infoFolder = QStringLiteral("info");

// Makes `name` in `parent` as a private folder when it is missing, as moveToTrash does; the path
// when a folder is there, else nothing.
std::optional<QString> trashFolderIn(const QString& parent, const QString& name)
{
    const QString path = QDir(parent).filePath(name);
    if (QDir(parent).mkdir(name)) {
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    if (QFileInfo(path).isDir()) {
        return path;
    }
    return std::nullopt;
}

bool hasStickyBit(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && (info.st_mode & S_ISVTX) != 0;
}

// The Trash that moveToTrash picks for an item, in its order: the home Trash for the home
// folder's file system; else the shared ".Trash" of the item's file system (a real folder with
// the sticky bit) with a folder for the user, else that file system's ".Trash-<uid>"; else the
// home Trash, which then refuses the item because it cannot be moved there.
QString trashFolderFor(const QString& path, const QString& homeTrash)
{
    const QStorageInfo volume(path);
    if (!volume.isValid() || volume == QStorageInfo(QDir::home())) {
        return homeTrash;
    }
    const QString user = QString::number(::getuid());
    const QString top = volume.rootPath();
    const QFileInfo shared(QDir(top).filePath(QStringLiteral(".Trash")));
    if (shared.isDir() && !shared.isSymLink() && hasStickyBit(shared.filePath())) {
        if (const std::optional<QString> own = trashFolderIn(shared.filePath(), user)) {
            return *own;
        }
    }
    if (const std::optional<QString> own = trashFolderIn(top, QStringLiteral(".Trash-") + user)) {
        return *own;
    }
    return homeTrash;
}

bool canWriteInto(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

// Why the Trash at `trash` cannot take items, or nothing when it can: its "files" and "info"
// folders must be writable, or be missing in a Trash that is writable.
std::optional<QString> unwritablePart(const QString& trash)
{
    for (const QString& part : {filesFolder, infoFolder}) {
        const QString path = QDir(trash).filePath(part);
        const QString folder = QFileInfo::exists(path) ? path : trash;
        if (!canWriteInto(folder)) {
            return QStringLiteral("The Trash folder %1 cannot be written to (%2).").arg(folder, qt_error_string(errno));
        }
    }
    return std::nullopt;
}

bool isSameOrInside(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder.endsWith(u'/') ? folder : folder + u'/');
}

QString refusal(const QString& moveError)
{
    if (moveError == qt_error_string(EXDEV)) {
        return QStringLiteral("It is on another file system than the Trash, and that file system has no Trash of "
                              "its own.");
    }
    return QStringLiteral("The Trash did not take it (%1).").arg(moveError);
}

} // namespace

QString LocalTrash::homeTrashPath()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : QDir(data).filePath(QStringLiteral("Trash"));
}

std::optional<QString> LocalTrash::moveToTrash(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        return qt_error_string(errno);
    }
    if (S_ISLNK(info.st_mode) && !QFileInfo::exists(path)) {
        return QStringLiteral("The Trash cannot take a link whose target is missing.");
    }

    const QString homeTrash = homeTrashPath();
    if (homeTrash.isEmpty()) {
        return QStringLiteral("There is no home folder to keep the Trash in.");
    }
    const QString dataFolder = QFileInfo(homeTrash).path();
    if (!QDir().mkpath(dataFolder) || !trashFolderIn(dataFolder, QStringLiteral("Trash"))) {
        // The system's own answer to making it says why.
        const int error = ::mkdir(QFile::encodeName(homeTrash).constData(), 0700) == 0 ? 0 : errno;
        return QStringLiteral("The Trash folder %1 cannot be made (%2).").arg(homeTrash, qt_error_string(error));
    }

    const QString trash = trashFolderFor(path, homeTrash);
    if (isSameOrInside(QFileInfo(trash).absoluteFilePath(), QFileInfo(path).absoluteFilePath())) {
        return QStringLiteral("It holds the Trash itself.");
    }
    if (const std::optional<QString> problem = unwritablePart(trash)) {
        return problem;
    }

    QFile item(path);
    if (item.moveToTrash()) {
        return std::nullopt;
    }
    return refusal(item.errorString());
}

} // namespace quillbarrow
