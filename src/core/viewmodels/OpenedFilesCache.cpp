#include "OpenedFilesCache.h"

#include "LocalFileOperations.h"
#include "LocalNameSanitizer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <filesystem>
#include <system_error>

namespace quillbarrow {

namespace fs = std::filesystem;

OpenedFilesCache::OpenedFilesCache(QString folder) : m_folder(std::move(folder)) {}

QString OpenedFilesCache::makeOpenedFileDestination(const QString& fileName, const QDateTime& now) const
{
    const fs::path cache(QFile::encodeName(m_folder).toStdString());
    std::error_code error;
    fs::create_directories(cache, error);
    if (error) {
        throw std::system_error(error);
    }
    if (!fs::is_directory(cache, error)) {
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
    const QDateTime cutoff = now.addSecs(-maximumAgeSeconds);
    // Without QDir::Hidden the listing leaves out names that begin with a dot.
    const QFileInfoList entries =
        QDir(m_folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink() || !entry.isDir()) {
            continue;
        }
        const QDateTime modified = entry.lastModified();
        if (!modified.isValid() || !(modified < cutoff)) {
            continue;
        }
        LocalFileOperations::removeItem(entry.absoluteFilePath());
    }
}

} // namespace quillbarrow
