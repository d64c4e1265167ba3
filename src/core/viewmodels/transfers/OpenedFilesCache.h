#pragma once

#include "LocalFolder.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace quillbarrow {

// The private folder that device files opened for viewing are downloaded into: one new folder
// per open, named by a new UUID and holding the one file under its device name. Folders older
// than a day are deleted before each open; nothing else is kept. Nothing is written or deleted
// through a link: a cache folder that is a link, or lies in a folder that is one, is refused.
class OpenedFilesCache {
public:
    // Sub-folders last modified longer ago than this are deleted.
    static constexpr qint64 maximumAgeSeconds = 86'400;

    explicit OpenedFilesCache(QString folder);

    const QString& folder() const { return m_folder; }

    // Creates the cache folder if needed, prunes it as of `now`, creates a new UUID folder in it
    // and returns the path of the file to write there, named after the device file as
    // LocalNameSanitizer makes it safe. Throws std::system_error when a folder cannot be created,
    // and std::runtime_error naming the link when the cache folder or its parent is a link. With
    // `made`, the new folder's identity is put there, for removeOpenedFolder.
    QString makeOpenedFileDestination(const QString& fileName, const QDateTime& now,
                                      LocalFolder::Identity* made = nullptr) const;
    // Removes the folder that makeOpenedFileDestination made for `destination`, with everything in
    // it, only while it is still the folder of identity `made`: whatever was put at its name
    // meanwhile stays.
    void removeOpenedFolder(const QString& destination, const LocalFolder::Identity& made) const;
    // Deletes, with everything in them, the cache's own sub-folders (UUID names) last modified
    // more than maximumAgeSeconds before `now`. Every other entry, links and plain files are left
    // alone, and nothing at all happens while the cache folder is linked; failures are ignored.
    void prune(const QDateTime& now) const;
    // The cache folder, or the folder holding it, when it is a link.
    std::optional<QString> linkedFolder() const;

private:
    QString m_folder;
};

} // namespace quillbarrow
