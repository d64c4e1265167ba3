#include "LocalTrash.h"

#include "domain/LocalPath.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillbarrow {

namespace {

const QByteArray filesFolder = QByteArrayLiteral("files");
const QByteArray infoFolder = QByteArrayLiteral("info");
const QByteArray infoSuffix = QByteArrayLiteral(".trashinfo");
// Extensions longer than this are cut with the rest of the name rather than kept whole.
constexpr qsizetype longestKeptExtensionBytes = 32;
// Numbered names tried before the Trash is given up as full of this name.
constexpr qint64 mostNumbersTried = 100'000;

// An open folder, closed when it goes.
class Folder {
public:
    Folder() = default;
    explicit Folder(int descriptor) : m_descriptor(descriptor) {}
    Folder(Folder&& other) noexcept : m_descriptor(std::exchange(other.m_descriptor, -1)) {}
    Folder& operator=(Folder&& other) noexcept
    {
        std::swap(m_descriptor, other.m_descriptor);
        return *this;
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder()
    {
        if (m_descriptor >= 0) {
            ::close(m_descriptor);
        }
    }
    int descriptor() const { return m_descriptor; }
    bool isOpen() const { return m_descriptor >= 0; }

private:
    int m_descriptor = -1;
};

// A folder opened, or why it could not be.
struct Opened {
    Folder folder;
    QString problem;
};

QString shownPath(const QString& path)
{
    return LocalPath::shown(path);
}

QString cannotBeMade(const QString& path, int error)
{
    return QStringLiteral("The Trash folder %1 cannot be made (%2).").arg(shownPath(path), qt_error_string(error));
}

QString cannotBeWritten(const QString& path, int error)
{
    return QStringLiteral("The Trash folder %1 cannot be written to (%2).").arg(shownPath(path), qt_error_string(error));
}

// Opens the folder `name` in `parent` (whose path is `parentPath`) without following a link,
// making it with mode 0700 first when it is missing and `make` is set. With `mustBeOwn`, a folder
// of another user is refused. With `followsOwnLink`, a link that the user owns is followed to a
// folder of the user's own: only the user can put a link in their home Trash's place.
Opened openTrashFolder(const Folder& parent, const QString& parentPath, const QString& name, bool make,
                       bool mustBeOwn, bool followsOwnLink = false)
{
    const QString path = QDir(parentPath).filePath(name);
    const QByteArray bytes = LocalPath::encoded(name);
    if (make && ::mkdirat(parent.descriptor(), bytes.constData(), 0700) != 0 && errno != EEXIST) {
        return {Folder(), cannotBeMade(path, errno)};
    }
    Folder folder(::openat(parent.descriptor(), bytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    bool throughLink = false;
    if (!folder.isOpen()) {
        const int error = errno;
        struct stat entry {};
        const bool isLink = ::fstatat(parent.descriptor(), bytes.constData(), &entry, AT_SYMLINK_NOFOLLOW) == 0
                                ? S_ISLNK(entry.st_mode)
                                : error == ELOOP;
        if (isLink && followsOwnLink && entry.st_uid == ::getuid()) {
            folder = Folder(::openat(parent.descriptor(), bytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!folder.isOpen()) {
                return {Folder(), make ? cannotBeMade(path, errno) : qt_error_string(errno)};
            }
            throughLink = true;
        } else if (isLink) {
            return {Folder(), QStringLiteral("The Trash folder %1 is a link, and the Trash is never reached through a link.")
                                  .arg(shownPath(path))};
        } else {
            return {Folder(), make ? cannotBeMade(path, error) : qt_error_string(error)};
        }
    }
    struct stat info {};
    if (::fstat(folder.descriptor(), &info) != 0) {
        return {Folder(), qt_error_string(errno)};
    }
    if ((mustBeOwn || throughLink) && info.st_uid != ::getuid()) {
        return {Folder(), QStringLiteral("The Trash folder %1 belongs to another user.").arg(shownPath(path))};
    }
    return {std::move(folder), QString()};
}

Folder openPath(const QString& path)
{
    return Folder(::open(LocalPath::encoded(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// A Trash chosen for an item: its folder, its path, and the folder that "Path" is relative to
// (empty for the home Trash, whose paths are absolute).
struct Trash {
    Folder folder;
    QString path;
    QString relativeTo;
};

// The Trash at the top of another file system, or why it has none that may be used.
std::optional<Trash> topTrash(const QString& top, QString& problem)
{
    const Folder topFolder = openPath(top);
    if (!topFolder.isOpen()) {
        problem = qt_error_string(errno);
        return std::nullopt;
    }
    const QString user = QString::number(::getuid());
    // The shared Trash counts only as a real folder with the sticky bit, so that users cannot
    // remove each other's folders in it.
    struct stat shared {};
    if (::fstatat(topFolder.descriptor(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(shared.st_mode) &&
        (shared.st_mode & S_ISVTX) != 0) {
        Opened sharedFolder = openTrashFolder(topFolder, top, QStringLiteral(".Trash"), false, false);
        if (sharedFolder.folder.isOpen()) {
            const QString sharedPath = QDir(top).filePath(QStringLiteral(".Trash"));
            Opened own = openTrashFolder(sharedFolder.folder, sharedPath, user, true, true);
            if (own.folder.isOpen()) {
                return Trash{std::move(own.folder), QDir(sharedPath).filePath(user), top};
            }
        }
    }
    const QString ownName = QStringLiteral(".Trash-") + user;
    Opened own = openTrashFolder(topFolder, top, ownName, true, true);
    if (!own.folder.isOpen()) {
        problem = own.problem;
        return std::nullopt;
    }
    return Trash{std::move(own.folder), QDir(top).filePath(ownName), top};
}

std::optional<Trash> homeTrash(const QString& path, QString& problem)
{
    const QString data = QFileInfo(path).path();
    QDir().mkpath(data);
    const Folder dataFolder = openPath(data);
    if (!dataFolder.isOpen()) {
        // The system's own answer to making the Trash there says why.
        const int error = ::mkdir(LocalPath::encoded(path).constData(), 0700) == 0 ? 0 : errno;
        problem = cannotBeMade(path, error);
        return std::nullopt;
    }
    Opened trash = openTrashFolder(dataFolder, data, QFileInfo(path).fileName(), true, true, true);
    if (!trash.folder.isOpen()) {
        problem = trash.problem;
        return std::nullopt;
    }
    return Trash{std::move(trash.folder), path, QString()};
}

// The link-free path of the folder at `path`, or nothing.
std::optional<QString> resolved(const QString& path)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(LocalPath::encoded(path).constData(), nullptr),
                                                     &std::free);
    if (real == nullptr) {
        return std::nullopt;
    }
    return LocalPath::decoded(QByteArray(real.get()));
}

bool isSameOrInside(const QString& path, const QString& folder)
{
    return path == folder || folder == QLatin1String("/") || path.startsWith(folder + u'/');
}

// The name the item gets in the Trash for `number` (1: its own name), cut so that the name and
// its info file's name both fit in `nameBytes`.
QString trashName(const QString& name, qint64 number, qsizetype nameBytes)
{
    const qsizetype room = nameBytes - infoSuffix.size();
    if (number == 1 && LocalPath::encoded(name).size() <= room) {
        return name;
    }
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool keepsExtension =
        dot > 0 && dot < name.size() - 1 && LocalPath::encoded(name.mid(dot)).size() <= longestKeptExtensionBytes;
    const QString extension = keepsExtension ? name.mid(dot) : QString();
    const QString stem = keepsExtension ? name.left(dot) : name;
    const QString tag = number == 1 ? QString() : QStringLiteral(" ") + QString::number(number);
    const qsizetype stemRoom = room - LocalPath::encoded(tag + extension).size();
    return LocalPath::cutToBytes(stem, stemRoom) + tag + extension;
}

QByteArray infoText(const QString& path, const QString& relativeTo)
{
    QString recorded = path;
    if (!relativeTo.isEmpty() && path.startsWith(relativeTo + u'/')) {
        recorded = path.mid(relativeTo.size() + 1);
    }
    return QByteArrayLiteral("[Trash Info]\nPath=") + LocalPath::encoded(recorded).toPercentEncoding("/") +
           QByteArrayLiteral("\nDeletionDate=") +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + '\n';
}

bool writeAll(int descriptor, const QByteArray& bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t step = ::write(descriptor, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (step < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += step;
    }
    return true;
}

// Moves the item into "files" under `name` without replacing anything there; 0 or the errno.
int moveWithoutReplacing(const QByteArray& item, const Folder& files, const QByteArray& name)
{
    if (::renameat2(AT_FDCWD, item.constData(), files.descriptor(), name.constData(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    struct stat existing {};
    if (::fstatat(files.descriptor(), name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        return EEXIST;
    }
    return ::renameat(AT_FDCWD, item.constData(), files.descriptor(), name.constData()) == 0 ? 0 : errno;
}

QString refusal(int moveError)
{
    if (moveError == EXDEV) {
        return QStringLiteral("It is on another file system than the Trash, and that file system has no Trash of "
                              "its own.");
    }
    return QStringLiteral("The Trash did not take it (%1).").arg(qt_error_string(moveError));
}

// The top folder of the file system that holds `path`: the highest folder above it on the same
// device. Nothing when the file system is the one of `homeData`.
std::optional<QString> otherTopOf(const QString& path, const QString& homeData)
{
    struct stat item {};
    struct stat home {};
    if (::lstat(LocalPath::encoded(path).constData(), &item) != 0) {
        return std::nullopt;
    }
    QString data = homeData;
    // The data folder may not exist yet; its nearest existing folder is on its file system.
    while (::stat(LocalPath::encoded(data).constData(), &home) != 0) {
        const QString up = QFileInfo(data).path();
        if (up == data) {
            return std::nullopt;
        }
        data = up;
    }
    if (item.st_dev == home.st_dev) {
        return std::nullopt;
    }
    std::optional<QString> folder = resolved(QFileInfo(path).path());
    if (!folder) {
        return std::nullopt;
    }
    QString top = *folder;
    while (top != QLatin1String("/")) {
        const QString up = QFileInfo(top).path();
        struct stat above {};
        if (::stat(LocalPath::encoded(up).constData(), &above) != 0 || above.st_dev != item.st_dev) {
            break;
        }
        top = up;
    }
    return top;
}

} // namespace

QString LocalTrash::homeTrashPath()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : QDir(data).filePath(QStringLiteral("Trash"));
}

LocalTrash::Places LocalTrash::userPlaces()
{
    const QString home = homeTrashPath();
    return Places{home, [data = QFileInfo(home).path()](const QString& path) { return otherTopOf(path, data); }};
}

std::optional<QString> LocalTrash::moveToTrash(const QString& path)
{
    return moveToTrash(path, userPlaces());
}

std::optional<QString> LocalTrash::moveToTrash(const QString& path, const Places& places)
{
    const QByteArray item = LocalPath::encoded(path);
    struct stat info {};
    if (::lstat(item.constData(), &info) != 0) {
        return qt_error_string(errno);
    }
    if (places.homeTrash.isEmpty()) {
        return QStringLiteral("There is no home folder to keep the Trash in.");
    }

    QString problem;
    const std::optional<QString> top = places.otherFileSystemTop ? places.otherFileSystemTop(path) : std::nullopt;
    std::optional<Trash> trash = top ? topTrash(*top, problem) : homeTrash(places.homeTrash, problem);
    if (!trash) {
        return top ? QStringLiteral("Its file system has no Trash that can take it. %1").arg(problem) : problem;
    }
    if (S_ISDIR(info.st_mode)) {
        const std::optional<QString> trashFolder = resolved(trash->path);
        const std::optional<QString> itemFolder = resolved(path);
        if (trashFolder && itemFolder && isSameOrInside(*trashFolder, *itemFolder)) {
            return QStringLiteral("It holds the Trash itself.");
        }
    }

    const QString filesPath = QDir(trash->path).filePath(QString::fromLatin1(filesFolder));
    const QString infoPath = QDir(trash->path).filePath(QString::fromLatin1(infoFolder));
    // The home Trash is the user's own, who may keep its parts elsewhere; another file system's
    // Trash is anybody's to plant links in.
    const bool isHome = !top;
    Opened files = openTrashFolder(trash->folder, trash->path, QString::fromLatin1(filesFolder), true, false, isHome);
    if (!files.folder.isOpen()) {
        return files.problem;
    }
    Opened infos = openTrashFolder(trash->folder, trash->path, QString::fromLatin1(infoFolder), true, false, isHome);
    if (!infos.folder.isOpen()) {
        return infos.problem;
    }
    const long limit = ::fpathconf(infos.folder.descriptor(), _PC_NAME_MAX);
    const qsizetype nameBytes = limit > 0 ? std::min<long>(limit, NAME_MAX) : NAME_MAX;
    const QString name = QFileInfo(path).fileName();
    const QByteArray text = infoText(path, trash->relativeTo);

    for (qint64 number = 1; number <= mostNumbersTried; ++number) {
        const QByteArray candidate = LocalPath::encoded(trashName(name, number, nameBytes));
        const QByteArray infoName = candidate + infoSuffix;
        const int descriptor = ::openat(infos.folder.descriptor(), infoName.constData(),
                                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (descriptor < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return cannotBeWritten(infoPath, errno);
        }
        const bool written = writeAll(descriptor, text);
        const int writeError = errno;
        if (::close(descriptor) != 0 || !written) {
            const int error = written ? errno : writeError;
            ::unlinkat(infos.folder.descriptor(), infoName.constData(), 0);
            return cannotBeWritten(infoPath, error);
        }
        const int moveError = moveWithoutReplacing(item, files.folder, candidate);
        if (moveError == 0) {
            return std::nullopt;
        }
        ::unlinkat(infos.folder.descriptor(), infoName.constData(), 0);
        if (moveError != EEXIST && moveError != ENOTEMPTY) {
            return refusal(moveError);
        }
    }
    return QStringLiteral("The Trash folder %1 holds too many items of this name.").arg(shownPath(filesPath));
}

} // namespace quillbarrow
