#pragma once

#include "LocalFolder.h"
#include "PlacedItems.h"

#include <QSet>
#include <QString>

namespace quillbarrow {

// The local folder one paste writes into, held open from the start of the paste: every folder,
// staging item and final item of the paste is made relative to it, one name at a time and
// never through a link, so nothing lands outside it when a folder on the way is renamed or
// swapped for a link meanwhile. Also keeps what the paste has put in place. Main thread, except
// while a transfer's worker uses it between two steps of the paste.
class LocalDestination {
public:
    // Opens the folder at the absolute `path` (links on the way to it are followed: it is the
    // folder the user chose). A folder that is not there yet, or was deleted since, is made
    // again at that path, as a real folder and never through a link at its name, when a folder
    // in it is reached with `create`.
    explicit LocalDestination(QString path);

    const QString& path() const { return m_path; }
    const LocalFolder& root() const { return m_root; }
    PlacedItems& placed() { return m_placed; }

    // The folder at the absolute path `folder`, which lies in this destination (or is it),
    // reached from the held folder one name at a time without following links; missing folders
    // are made with `create`. Not open on failure: its path() is the folder that could not be
    // reached and its error() why.
    LocalFolder reach(const QString& folder, bool create);

    // The paths the paste's planning gave its items (owned by the paste): a name chosen while
    // placing is none of them.
    const QSet<QString>* reservedPaths = nullptr;
    // The user stopped the paste at a question asked while an item was being put in place.
    bool stopped = false;

private:
    QString m_path;
    LocalFolder m_root;
    PlacedItems m_placed;
};

} // namespace quillbarrow
