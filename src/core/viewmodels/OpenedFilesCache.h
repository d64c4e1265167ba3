#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace quillbarrow {

// The private folder that device files opened for viewing are downloaded into: one new folder
// per open, named by a new UUID and holding the one file under its device name. Folders older
// than a day are deleted before each open; nothing else is kept.
class OpenedFilesCache {
public:
    // Sub-folders last modified longer ago than this are deleted.
    static constexpr qint64 maximumAgeSeconds = 86'400;

    explicit OpenedFilesCache(QString folder);

    const QString& folder() const { return m_folder; }

    // Creates the cache folder if needed, prunes it as of `now`, creates a new UUID folder in it
    // and returns the path of the file to write there, named after the device file as
    // LocalNameSanitizer makes it safe. Throws std::system_error when a folder cannot be created.
    QString makeOpenedFileDestination(const QString& fileName, const QDateTime& now) const;
    // Deletes, with everything in them, the cache's sub-folders last modified more than
    // maximumAgeSeconds before `now`. Hidden entries, links and plain files are left alone;
    // failures are ignored.
    void prune(const QDateTime& now) const;

private:
    QString m_folder;
};

} // namespace quillbarrow
