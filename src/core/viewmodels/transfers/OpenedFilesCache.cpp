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

QString OpenedFilesCache::makeOpenedFileDestination(const QString& fileName, const QDateTime& now) const
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
    return LocalFileOperations::childPath(folder, LocalNameSanitizer::localName(fileName));
}

void OpenedFilesCache::prune(const QDateTime& now) const
{
    if (linkedFolder()) {
        return;
    }
    const QDateTime cutoff = now.addSecs(-maximumAgeSeconds);
    // Without QDir::Hidden the listing leaves out names that begin with a dot.
    const QFileInfoList entries =
        QDir(m_folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        // Only the folders the cache made: a UUID's name in its standard form, upper case.
        const QUuid uuid(entry.fileName());
        if (entry.isSymLink() || !entry.isDir() || uuid.isNull() ||
            uuid.toString(QUuid::WithoutBraces).toUpper() != entry.fileName()) {
            continue;
        }
        const QDateTime modified = entry.lastModified();
        if (!modified.isValid() || !(modified < cutoff)) {
            continue;
        }
        // remove_all removes a link inside as the link, never what it points to.
        LocalFileOperations::removeItem(entry.absoluteFilePath());
    }
}

} // namespace quillbarrow
