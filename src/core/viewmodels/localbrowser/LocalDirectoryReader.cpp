#include "LocalDirectoryReader.h"
#include "domain/LocalPath.h"

#include "LocalFileError.h"
#include "domain/BrowserSort.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace quillbarrow {

namespace {

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

QDateTime modificationDate(const struct stat& info)
{
    const qint64 milliseconds =
        static_cast<qint64>(info.st_mtim.tv_sec) * 1000 + static_cast<qint64>(info.st_mtim.tv_nsec) / 1'000'000;
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
}

QString folderPrefix(const QString& folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

} // namespace

QList<LocalItem> LocalDirectoryReader::read(const QString& path, FileSort sort, bool ascending,
                                            std::vector<qsizetype>* nameRanks)
{
    const QByteArray encodedPath = LocalPath::encoded(path);
    std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(encodedPath.constData()));
    if (directory == nullptr) {
        throw LocalFileError(path.isEmpty() ? ENOENT : errno, path);
    }
    const int directoryDescriptor = ::dirfd(directory.get());
    const QString prefix = folderPrefix(path);

    QList<LocalItem> items;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory.get());
        if (entry == nullptr) {
            if (errno != 0) {
                throw LocalFileError(errno, path);
            }
            break;
        }
        if (isDotOrDotDot(entry->d_name)) {
            continue;
        }
        // The address keeps the name's real bytes, so every action reaches this entry; the name
        // shown puts U+FFFD where a byte is not UTF-8.
        const QString realName = LocalPath::decoded(QByteArray(entry->d_name));
        const QUrl id = LocalPath::url(prefix + realName);
        const QString name = LocalPath::shown(realName);
        const bool isHidden = entry->d_name[0] == '.';
        struct stat info {};
        // Links are followed, so a link to a folder opens like the folder.
        if (::fstatat(directoryDescriptor, entry->d_name, &info, 0) != 0) {
            items.append(LocalItem(id, name, RemoteItemKind::file, std::nullopt, std::nullopt, isHidden));
        } else if (S_ISDIR(info.st_mode)) {
            items.append(LocalItem(id, name, RemoteItemKind::folder, std::nullopt, modificationDate(info), isHidden));
        } else {
            items.append(LocalItem(id, name, RemoteItemKind::file, static_cast<qint64>(info.st_size),
                                   modificationDate(info), isHidden));
        }
    }
    return sortedForBrowser(items, sort, ascending, nameRanks);
}

std::optional<QUrl> LocalDirectoryReader::existingDirectoryURL(const std::optional<QString>& path)
{
    if (!path || path->isEmpty() || !QFileInfo(*path).isDir()) {
        return std::nullopt;
    }
    return LocalPath::url(*path);
}

QUrl LocalDirectoryReader::childURL(const QString& folder, const QString& name)
{
    return LocalPath::url(folderPrefix(folder) + name);
}

} // namespace quillbarrow
