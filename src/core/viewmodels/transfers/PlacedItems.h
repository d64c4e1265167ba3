#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace quillbarrow {

class LocalFolder;

// The items one paste has put in place in its destination, so that no later item of the same
// paste ever replaces one of them, however the disk compares names: on a disk that ignores case,
// "a.jpg" reaches the "A.jpg" the paste wrote a moment before. Which entry a name reaches is
// asked of the disk itself: the paste's items that a name could be (the same kind and size; for
// a folder, every folder the paste wrote into) are looked up before the
// item at that name is moved aside and again after; one that vanished with it is that item.
//
// Paths are held from the paste's destination folder down, as LocalFolder::components() gives
// them. Blocking: every call but record's bookkeeping asks the disk.
class PlacedItems {
public:
    // Notes the item `name`, just put in place in `folder` (reached from `root`).
    void record(const LocalFolder& folder, const QString& name);
    // The paste's items that the entry `name` in `folder` may be and that are there now.
    QList<qsizetype> candidates(const LocalFolder& root, const LocalFolder& folder, const QString& name) const;
    // After the entry was moved aside: the name in `folder` of the paste's item that went with it
    // (the item itself, or the folder holding it), or nothing when none of `candidates` went.
    std::optional<QString> movedAside(const LocalFolder& root, const LocalFolder& folder,
                                      const QList<qsizetype>& candidates) const;

    // Nothing in `folder` answers to `name` when asked afresh.
    static bool isFree(const LocalFolder& folder, const QString& name);

private:
    QList<QStringList> m_items;
    // By kind and size, for every item that is not a folder.
    QMultiHash<QString, qsizetype> m_byFingerprint;
    // Every item that is a folder, and every folder that holds an item, once each.
    QHash<QStringList, qsizetype> m_folders;
};

} // namespace quillbarrow
