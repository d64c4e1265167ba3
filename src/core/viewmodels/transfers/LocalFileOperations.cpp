#include "LocalFileOperations.h"

#include "domain/LocalPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <system_error>

namespace quillbarrow {

namespace fs = std::filesystem;

namespace {

fs::path toPath(const QString& path)
{
    return fs::path(LocalPath::encoded(path).toStdString());
}

QString fromPath(const fs::path& path)
{
    return LocalPath::decoded(QByteArray::fromStdString(path.native()));
}

QString describe(const std::error_code& error)
{
    return QString::fromLocal8Bit(error.message());
}

// A failed step of a recursive copy: the entry it failed on and why.
struct CopyFailure {
    fs::path entry;
    QString reason;
};

LocalFileOperations::RenameHook& renameHook()
{
    static LocalFileOperations::RenameHook hook;
    return hook;
}

LocalFileOperations::SpaceHook& spaceHook()
{
    static LocalFileOperations::SpaceHook hook;
    return hook;
}

QString describeErrno(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Renames `from` to `to` only when nothing is at `to`: atomically where the file system can
// (RENAME_NOREPLACE), else after a check. The errno of a failure, or 0.
int renameWithoutReplacing(const QString& from, const QString& to)
{
    if (const LocalFileOperations::RenameHook& hook = renameHook()) {
        if (const int injected = hook(from, to)) {
            return injected;
        }
    }
    const QByteArray source = LocalPath::encoded(from);
    const QByteArray target = LocalPath::encoded(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    if (LocalFileOperations::itemExists(to)) {
        return EEXIST;
    }
    return std::rename(source.constData(), target.constData()) == 0 ? 0 : errno;
}

void keepModificationTime(const fs::path& from, const fs::path& to)
{
    std::error_code error;
    const fs::file_time_type time = fs::last_write_time(from, error);
    if (!error) {
        fs::last_write_time(to, time, error);
    }
}

// What a copy has done so far, and whom to ask whether it goes on.
struct CopyTally {
    const LocalFileOperations::CopyStep* goOn = nullptr;
    qint64 bytes = 0;

    // Counts an entry copied; false when the copy is to stop.
    bool copied(qint64 entryBytes)
    {
        bytes += entryBytes;
        return goOn == nullptr || !*goOn || (*goOn)(bytes);
    }
};

CopyFailure stopped(const fs::path& from)
{
    return CopyFailure{from, QStringLiteral("the copy was stopped")};
}

// Copies one entry and, for a folder, everything below it; stops at the first failure.
std::optional<CopyFailure> copyEntry(const fs::path& from, const fs::path& to, CopyTally& tally)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(from, error);
    if (error) {
        return CopyFailure{from, describe(error)};
    }
    if (fs::is_symlink(status)) {
        fs::copy_symlink(from, to, error);
        if (error) {
            return CopyFailure{from, describe(error)};
        }
        return tally.copied(0) ? std::nullopt : std::optional<CopyFailure>(stopped(from));
    }
    if (fs::is_regular_file(status)) {
        fs::copy_file(from, to, fs::copy_options::none, error);
        if (error) {
            // A full disk can come back as a plain input/output error: name the real cause.
            std::error_code sourceError;
            std::error_code targetError;
            const std::uintmax_t expected = fs::file_size(from, sourceError);
            const std::uintmax_t written = fs::file_size(to, targetError);
            const int fault = LocalFileOperations::localWriteFault(
                fromPath(to.parent_path()),
                sourceError ? std::nullopt : std::optional<qint64>(static_cast<qint64>(expected)),
                targetError ? 0 : static_cast<qint64>(written));
            return CopyFailure{from, fault != 0 ? describeErrno(fault) : describe(error)};
        }
        keepModificationTime(from, to);
        const std::uintmax_t bytes = fs::file_size(to, error);
        return tally.copied(error ? 0 : static_cast<qint64>(bytes)) ? std::nullopt
                                                                          : std::optional<CopyFailure>(stopped(from));
    }
    if (fs::is_directory(status)) {
        // The copy stays open to its owner while its contents go in and takes the folder's own
        // mode only then: a read-only folder's copy could not receive them otherwise.
        fs::create_directory(to, error);
        if (!error) {
            fs::permissions(to, fs::perms::owner_all, fs::perm_options::add, error);
        }
        if (error) {
            return CopyFailure{from, describe(error)};
        }
        fs::directory_iterator entries(from, error);
        if (error) {
            return CopyFailure{from, describe(error)};
        }
        for (const fs::directory_iterator end; entries != end; entries.increment(error)) {
            if (auto failure = copyEntry(entries->path(), to / entries->path().filename(), tally)) {
                return failure;
            }
        }
        if (!error) {
            fs::permissions(to, status.permissions(), fs::perm_options::replace, error);
        }
        if (error) {
            return CopyFailure{from, describe(error)};
        }
        keepModificationTime(from, to);
        return tally.copied(0) ? std::nullopt : std::optional<CopyFailure>(stopped(from));
    }
    if (!fs::exists(status)) {
        return CopyFailure{from, describe(std::make_error_code(std::errc::no_such_file_or_directory))};
    }
    return CopyFailure{from, QStringLiteral("it is not a regular file, folder or link")};
}

// Gives the owner full access to the folder at `path` and every folder below it (links are not
// followed), so that everything in it can be removed.
void grantOwnerAccess(const fs::path& path)
{
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(path, error))) {
        return;
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
    fs::directory_iterator entries(path, error);
    for (const fs::directory_iterator end; !error && entries != end; entries.increment(error)) {
        grantOwnerAccess(entries->path());
    }
}

QString failureText(const QString& source, const CopyFailure& failure)
{
    const QString name = LocalFileOperations::lastComponent(source);
    const QString entry = fromPath(failure.entry);
    QString text = QStringLiteral("Could not copy ") + name + QStringLiteral(": ");
    if (entry != source) {
        text += QDir(source).relativeFilePath(entry) + QStringLiteral(": ");
    }
    return text + failure.reason;
}

} // namespace

QString LocalFileOperations::childPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/'))) {
        return folder + name;
    }
    return folder + QLatin1Char('/') + name;
}

QString LocalFileOperations::lastComponent(const QString& path)
{
    qsizetype end = path.size();
    while (end > 0 && path.at(end - 1) == QLatin1Char('/')) {
        --end;
    }
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'), end - 1);
    return path.mid(slash + 1, end - slash - 1);
}

bool LocalFileOperations::itemExists(const QString& path)
{
    struct stat info {};
    return ::lstat(LocalPath::encoded(path).constData(), &info) == 0;
}

std::optional<qint64> LocalFileOperations::attributeBytes(const QString& path)
{
    struct stat info {};
    if (::lstat(LocalPath::encoded(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<qint64>(info.st_size);
}

QString LocalFileOperations::keepBothName(const QString& name, const std::function<bool(const QString&)>& isTaken,
                                          qint64* nextNumber)
{
    return keepBothName(name, isTaken, nextNumber, 0);
}

QString LocalFileOperations::keepBothName(const QString& name, const std::function<bool(const QString&)>& isTaken,
                                          qint64* nextNumber, qsizetype maximumBytes)
{
    if (!isTaken(name)) {
        return name;
    }
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString base = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    for (qint64 number = nextNumber ? std::max<qint64>(*nextNumber, 2) : 2;; ++number) {
        QString tail = QLatin1Char(' ') + QString::number(number) + extension;
        QString stem = base;
        if (maximumBytes > 0 && LocalPath::encoded(base + tail).size() > maximumBytes) {
            // A long name makes room for its number at the end of its stem, by bytes, never
            // splitting a character; an extension too long to keep is cut with the stem.
            if (LocalPath::encoded(tail).size() >= maximumBytes) {
                tail = QLatin1Char(' ') + QString::number(number);
                stem = name;
            }
            stem = LocalPath::cutToBytes(stem, maximumBytes - LocalPath::encoded(tail).size());
        }
        const QString candidate = stem + tail;
        if (!isTaken(candidate)) {
            if (nextNumber) {
                *nextNumber = number + 1;
            }
            return candidate;
        }
    }
}

QString LocalFileOperations::uniqueLocalName(const QString& name, const QString& folder, const QSet<QString>& reserved,
                                             qint64* nextNumber)
{
    return keepBothName(
        name,
        [&](const QString& candidate) {
            const QString path = childPath(folder, candidate);
            return reserved.contains(path) || itemExists(path);
        },
        nextNumber, maximumNameBytes);
}

QString LocalFileOperations::physicalLocation(const QString& path)
{
    const QString cleaned = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString name = lastComponent(cleaned);
    const QString parent = QFileInfo(cleaned).path();
    const QString resolvedParent = QFileInfo(parent).canonicalFilePath();
    if (name.isEmpty() || resolvedParent.isEmpty()) {
        return cleaned;
    }
    return childPath(resolvedParent, name);
}

bool LocalFileOperations::isSameOrInside(const QString& path, const QString& folder)
{
    if (path == folder || folder == QLatin1String("/")) {
        return true;
    }
    return path.startsWith(folder + QLatin1Char('/'));
}

bool LocalFileOperations::isRealFolder(const QString& path)
{
    std::error_code error;
    return fs::is_directory(fs::symlink_status(toPath(path), error));
}

QString LocalFileOperations::hiddenSibling(const QString& target, const QString& suffix)
{
    const QString folder = QFileInfo(target).path();
    return childPath(folder, QStringLiteral(".quillbarrow-") + QUuid::createUuid().toString(QUuid::WithoutBraces) +
                                 suffix);
}

std::optional<QString> LocalFileOperations::copyItem(const QString& source, const QString& target, bool replace,
                                                     const CopyStep& goOn)
{
    // Not a download's staging name: a download's sweep of this folder removes the ".partial"
    // files no download holds, and a copy holds no lock on its file.
    const QString staging = hiddenSibling(target, QStringLiteral(".copying"));
    CopyTally tally{&goOn, 0};
    if (auto failure = copyEntry(toPath(source), toPath(staging), tally)) {
        removeItem(staging);
        return failureText(source, *failure);
    }
    return moveIntoPlace(staging, target, replace, QStringLiteral("Could not copy ") + lastComponent(source));
}

std::optional<QString> LocalFileOperations::moveIntoPlace(const QString& staging, const QString& target, bool replace,
                                                          const QString& failureLead)
{
    const QString name = lastComponent(target);
    QString setAside;
    if (replace && itemExists(target)) {
        setAside = hiddenSibling(target, QStringLiteral(".replaced"));
        if (const int code = renameWithoutReplacing(target, setAside)) {
            removeItem(staging);
            return QStringLiteral("Could not replace ") + name + QStringLiteral(": ") + describeErrno(code);
        }
    }
    if (const int code = renameWithoutReplacing(staging, target)) {
        QString text = failureLead + QStringLiteral(": ") + describeErrno(code);
        if (!setAside.isEmpty() && renameWithoutReplacing(setAside, target) != 0) {
            // Never lose track of the user's item: say where it is.
            text += QStringLiteral(". The replaced ") + name + QStringLiteral(" could not be put back and is now at ") +
                    setAside;
        }
        removeItem(staging);
        return text;
    }
    if (!setAside.isEmpty()) {
        removeItem(setAside);
    }
    return std::nullopt;
}

bool LocalFileOperations::removeItem(const QString& path)
{
    std::error_code error;
    fs::remove_all(toPath(path), error);
    if (!error) {
        return true;
    }
    // Removing a folder's entries needs write access to it; the item is being removed on purpose,
    // so open up its folders (those of a copied read-only folder, say) and try once more.
    grantOwnerAccess(toPath(path));
    error.clear();
    fs::remove_all(toPath(path), error);
    return !error;
}

std::optional<qint64> LocalFileOperations::availableBytes(const QString& folder)
{
    if (const SpaceHook& hook = spaceHook()) {
        return hook(folder);
    }
    struct statvfs info {};
    if (::statvfs(LocalPath::encoded(folder).constData(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
}

int LocalFileOperations::localWriteFault(const QString& folder, std::optional<qint64> expectedBytes, qint64 writtenBytes)
{
    if (::access(LocalPath::encoded(folder).constData(), W_OK | X_OK) != 0 && (errno == EACCES || errno == EROFS)) {
        return errno;
    }
    const std::optional<qint64> available = availableBytes(folder);
    const qint64 missing = expectedBytes ? std::max<qint64>(*expectedBytes - writtenBytes, 1) : 1;
    if (available && *available < missing) {
        return ENOSPC;
    }
    return 0;
}

bool LocalFileOperations::describesLocalWriteFault(const QString& description)
{
    for (const int fault : {ENOSPC, EDQUOT, EROFS, EACCES}) {
        if (description.endsWith(QStringLiteral(": ") + describeErrno(fault))) {
            return true;
        }
    }
    return false;
}

void LocalFileOperations::setAvailableBytesHookForTesting(SpaceHook hook)
{
    spaceHook() = std::move(hook);
}

void LocalFileOperations::setRenameHookForTesting(RenameHook hook)
{
    renameHook() = std::move(hook);
}

} // namespace quillbarrow
