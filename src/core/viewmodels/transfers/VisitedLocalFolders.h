#pragma once

#include "LocalFolder.h"

#include <QSet>
#include <QString>

namespace quillbarrow {

// The local folders a walk has entered, each remembered by its file system identity (device and
// inode, links followed), so that a folder reached again through a link, or a link loop, is never
// walked twice.
class VisitedLocalFolders {
public:
    // True the first time the folder at `path` is entered; false when the same folder was entered
    // before under any path. A folder whose identity cannot be read counts as new.
    bool enter(const QString& path);

private:
    QSet<LocalFolder::Identity> m_entered;
};

} // namespace quillbarrow
