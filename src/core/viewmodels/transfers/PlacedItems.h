#pragma once

#include "LocalFolder.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <sys/stat.h>

namespace quillbarrow {

// The items one paste has put in place in its destination, and the folders that hold them, so
// that no later item of the same paste ever replaces one of them, however the disk compares
// names: on a disk that ignores case, "b" reaches the folder "B" the paste wrote into a moment
// before. What a name reaches is judged before anything is moved, by identity: the device and
// inode the disk gives the entry, against those noted when the paste's items were put in place.
// A share that keeps names for a while may answer a name moved away as if it were still there,
// so no look-up made after a move can tell what the move took.
//
// A disk in user space may give one entry another inode number for each name it is reached by
// (the exFAT one does); on such a disk identity cannot tell two names of one entry apart, so where
// the disk is seen to ignore case, names of the paste's items are also compared as such a disk
// compares them.
//
// Each item costs the same however many the paste has put in place: both are looked up in hashes.
class PlacedItems {
public:
    // Notes the item `name`, just put in place in `folder`, and the folders below `root` (the
    // paste's destination) that hold it.
    void record(const LocalFolder& root, const LocalFolder& folder, const QString& name);
    // The entry whose status is `entry` is one of the paste's items or a folder holding one.
    bool holds(const struct stat& entry) const;
    // An item of the paste, or a folder holding one, lies in `folder` under a name that differs
    // from `name` at most in letter case.
    bool holdsTwinOf(const LocalFolder& folder, const QString& name) const;

    // The disk that holds `folder` ignores letter case: its entry `existing` answers to its name
    // with the case of its letters changed. Blocking.
    static bool ignoresCase(const LocalFolder& folder, const QString& existing);
    // The names of a path as a disk that ignores case reads them: equal for every spelling of them
    // such a disk takes as one.
    static QString caseless(const QStringList& path);

private:
    QSet<LocalFolder::Identity> m_identities;
    QSet<QString> m_caselessPaths;
    // The folders already noted, by their path below the destination.
    QSet<QStringList> m_folders;
};

} // namespace quillbarrow
