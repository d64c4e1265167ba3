#include "OpenedFilesCache.h"

#include "LocalFileOperations.h"
#include "LocalNameSanitizer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>

namespace quillbarrow {

namespace fs = std::filesystem;

OpenedFilesCache::OpenedFilesCache(QString folder) : m_folder(std::move(folder)) {}

std::optional<QString> OpenedFilesCache::linkedFolder() const
{
    // The cache folder and the folder holding it are the application's own; a link at either
    // (planted, or left by a careless script) would send opened files and the clean-up elsewhere.
    const QString cleaned = QDir::cleanPath(m_folder);
    for (const QString& folder : {cleaned, QFileInfo(cleaned).path()}) {
        struct stat info {};
        if (::lstat(QFile::encodeName(folder).constData(), &info) == 0 && S_ISLNK(info.st_mode)) {
            return folder;
        }
    }
    return std::nullopt;
}

QString OpenedFilesCache::makeOpenedFileDestination(const QString& fileName, const QDateTime& now,
                                                    LocalFolder::Identity* made) const
{
    if (const std::optional<QString> link = linkedFolder()) {
        throw std::runtime_error(
            QStringLiteral("The cache folder %1 is a link, and nothing is written through it.").arg(*link).toStdString());
    }
    const fs::path cache(QFile::encodeName(m_folder).toStdString());
    std::error_code error;
    fs::create_directories(cache, error);
    if (error) {
        throw std::system_error(error);
    }
    if (!fs::is_directory(fs::symlink_status(cache, error))) {
        throw std::system_error(std::make_error_code(std::errc::not_a_directory));
    }
    prune(now);
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString folder = LocalFileOperations::childPath(m_folder, name);
    if (!fs::create_directory(fs::path(QFile::encodeName(folder).toStdString()), error)) {
        throw std::system_error(error ? error : std::make_error_code(std::errc::file_exists));
    }
    if (made != nullptr) {
        struct stat status {};
        if (::lstat(QFile::encodeName(folder).constData(), &status) != 0) {
            throw std::system_error(errno, std::generic_category());
        }
        *made = LocalFolder::Identity::of(status);
    }
    return LocalFileOperations::childPath(folder, LocalNameSanitizer::localName(fileName));
}

void OpenedFilesCache::removeOpenedFolder(const QString& destination, const LocalFolder::Identity& made) const
{
    if (linkedFolder()) {
        return;
    }
    const LocalFolder cache = LocalFolder::open(m_folder);
    if (cache.isOpen()) {
        cache.removeIfSame(QFileInfo(QFileInfo(destination).path()).fileName(), LocalFolder::Item{made});
    }
}

void OpenedFilesCache::prune(const QDateTime& now) const
{
    if (linkedFolder()) {
        return;
    }
    const LocalFolder cache = LocalFolder::open(m_folder);
    if (!cache.isOpen()) {
        return;
    }
    const qint64 cutoff = now.toMSecsSinceEpoch() - maximumAgeSeconds * 1000;
    // Without QDir::Hidden the listing leaves out names that begin with a dot.
    const QStringList names = QDir(m_folder).entryList(QDir::Dirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot,
                                                       QDir::Unsorted);
    for (const QString& name : names) {
        // Only the folders the cache made: a UUID's name in its standard form, upper case.
        const QUuid uuid(name);
        if (uuid.isNull() || uuid.toString(QUuid::WithoutBraces).toUpper() != name) {
            continue;
        }
        // The entry as it is now, a link itself; it is removed only while it is that very folder.
        const std::optional<struct stat> status = cache.status(name);
        if (!status || !S_ISDIR(status->st_mode) ||
            !(qint64(status->st_mtim.tv_sec) * 1000 + status->st_mtim.tv_nsec / 1'000'000 < cutoff)) {
            continue;
        }
        // Links inside go as links, never what they point to.
        cache.removeIfSame(name, LocalFolder::Item{LocalFolder::Identity::of(*status)});
    }
}

} // namespace quillbarrow
