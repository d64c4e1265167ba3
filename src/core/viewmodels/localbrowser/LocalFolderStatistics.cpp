#include "LocalFolderStatistics.h"
#include "domain/LocalPath.h"

#include "LocalFileError.h"
#include "viewmodels/transfers/VisitedLocalFolders.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace quillbarrow {

namespace {

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// The description of a failure inside the measured folder names the folder or entry concerned.
[[noreturn]] void fail(int code, const QString& measured, const QString& concerned)
{
    if (concerned == measured) {
        throw LocalFileError(code, concerned);
    }
    throw LocalFileError(code, concerned, QStringLiteral("%1 (%2)").arg(qt_error_string(code), concerned));
}

} // namespace

FolderStatistics LocalFolderStatistics::measure(const QString& path)
{
    qint64 entries = 0;
    qint64 bytes = 0;
    VisitedLocalFolders visited;
    QStringList pending{path};
    while (!pending.isEmpty()) {
        const QString folder = pending.takeLast();
        if (!visited.enter(folder)) {
            continue;
        }
        std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(LocalPath::encoded(folder).constData()));
        if (directory == nullptr) {
            fail(folder.isEmpty() ? ENOENT : errno, path, folder);
        }
        const int directoryDescriptor = ::dirfd(directory.get());
        const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(directory.get());
            if (entry == nullptr) {
                if (errno != 0) {
                    fail(errno, path, folder);
                }
                break;
            }
            // Hidden entries, and the folder's own "." and "..", are left out.
            if (entry->d_name[0] == '.') {
                continue;
            }
            struct stat info {};
            if (::fstatat(directoryDescriptor, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                fail(errno, path, prefix + LocalPath::decoded(QByteArray(entry->d_name)));
            }
            ++entries;
            if (S_ISDIR(info.st_mode)) {
                pending.append(prefix + LocalPath::decoded(QByteArray(entry->d_name)));
            } else if (S_ISREG(info.st_mode)) {
                bytes += static_cast<qint64>(info.st_size);
            }
        }
    }
    return FolderStatistics(bytes, entries);
}

} // namespace quillbarrow
