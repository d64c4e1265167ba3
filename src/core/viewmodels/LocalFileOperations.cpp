#include "LocalFileOperations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace quillbarrow {

namespace fs = std::filesystem;

namespace {

fs::path toPath(const QString& path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

QString fromPath(const fs::path& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
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

// A hidden name in the same folder, so that renaming it into place never crosses file systems and
// the local browser, which skips hidden entries, never lists it.
QString temporarySibling(const QString& target)
{
    const QString folder = QFileInfo(target).path();
    const QString name = QStringLiteral(".quillbarrow-") + QUuid::createUuid().toString(QUuid::WithoutBraces) +
                         QStringLiteral(".partial");
    return LocalFileOperations::childPath(folder, name);
}

void keepModificationTime(const fs::path& from, const fs::path& to)
{
    std::error_code error;
    const fs::file_time_type time = fs::last_write_time(from, error);
    if (!error) {
        fs::last_write_time(to, time, error);
    }
}

// Copies one entry and, for a folder, everything below it; stops at the first failure.
std::optional<CopyFailure> copyEntry(const fs::path& from, const fs::path& to)
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
        return std::nullopt;
    }
    if (fs::is_regular_file(status)) {
        fs::copy_file(from, to, fs::copy_options::none, error);
        if (error) {
            return CopyFailure{from, describe(error)};
        }
        keepModificationTime(from, to);
        return std::nullopt;
    }
    if (fs::is_directory(status)) {
        fs::create_directory(to, from, error);
        if (error) {
            return CopyFailure{from, describe(error)};
        }
        fs::directory_iterator entries(from, error);
        if (error) {
            return CopyFailure{from, describe(error)};
        }
        for (const fs::directory_iterator end; entries != end; entries.increment(error)) {
            if (auto failure = copyEntry(entries->path(), to / entries->path().filename())) {
                return failure;
            }
        }
        if (error) {
            return CopyFailure{from, describe(error)};
        }
        keepModificationTime(from, to);
        return std::nullopt;
    }
    if (!fs::exists(status)) {
        return CopyFailure{from, describe(std::make_error_code(std::errc::no_such_file_or_directory))};
    }
    return CopyFailure{from, QStringLiteral("it is not a regular file, folder or link")};
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
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

std::optional<qint64> LocalFileOperations::attributeBytes(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<qint64>(info.st_size);
}

QString LocalFileOperations::keepBothName(const QString& name, const std::function<bool(const QString&)>& isTaken)
{
    if (!isTaken(name)) {
        return name;
    }
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString base = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    for (qint64 number = 2;; ++number) {
        const QString candidate = base + QLatin1Char(' ') + QString::number(number) + extension;
        if (!isTaken(candidate)) {
            return candidate;
        }
    }
}

QString LocalFileOperations::uniqueLocalName(const QString& name, const QString& folder, const QSet<QString>& reserved)
{
    return keepBothName(name, [&](const QString& candidate) {
        const QString path = childPath(folder, candidate);
        return reserved.contains(path) || itemExists(path);
    });
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

std::optional<QString> LocalFileOperations::copyItem(const QString& source, const QString& target, bool replace)
{
    const QString name = lastComponent(target);
    const QString staging = temporarySibling(target);
    if (auto failure = copyEntry(toPath(source), toPath(staging))) {
        removeItem(staging);
        return failureText(source, *failure);
    }

    std::error_code error;
    QString setAside;
    if (itemExists(target)) {
        if (!replace) {
            removeItem(staging);
            return QStringLiteral("Could not copy ") + lastComponent(source) + QStringLiteral(": ") +
                   describe(std::make_error_code(std::errc::file_exists));
        }
        setAside = temporarySibling(target);
        fs::rename(toPath(target), toPath(setAside), error);
        if (error) {
            removeItem(staging);
            return QStringLiteral("Could not replace ") + name + QStringLiteral(": ") + describe(error);
        }
    }

    fs::rename(toPath(staging), toPath(target), error);
    if (error) {
        const QString reason = describe(error);
        if (!setAside.isEmpty()) {
            std::error_code restoreError;
            fs::rename(toPath(setAside), toPath(target), restoreError);
        }
        removeItem(staging);
        return QStringLiteral("Could not copy ") + lastComponent(source) + QStringLiteral(": ") + reason;
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
    return !error;
}

} // namespace quillbarrow
