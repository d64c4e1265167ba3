#pragma once

#include "LocalFolder.h"
#include "PlacedItems.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

namespace quillbarrow {

// The local folder one paste writes into, held open from the start of the paste: every folder,
// staging item and final item of the paste is made relative to it, one name at a time and
// never through a link, so nothing lands outside it when a folder on the way is renamed or
// swapped for a link meanwhile. Also keeps what the paste has put in place. Main thread, except
// while a transfer's worker uses it between two steps of the paste.
class LocalDestination {
public:
    // Opens the folder at the absolute `path` (links on the way to it are followed: it is the
    // folder the user chose), and holds the folder above it, where it would be made again.
    explicit LocalDestination(QString path);

    const QString& path() const { return m_path; }
    const LocalFolder& root() const { return m_root; }
    PlacedItems& placed() { return m_placed; }

    // The folder at the absolute path `folder`, which lies in this destination (or is it),
    // reached from the held folder one name at a time without following links; missing folders
    // are made with `create`. Not open on failure: its path() is the folder that could not be
    // reached and its error() why.
    //
    // With `create`, a paste folder that is not there yet, or was deleted since, is made again
    // inside the folder held above it, and only while that folder still stands at its path: a
    // folder above swapped for a link, or for another folder, fails the rest of the paste, naming
    // it, instead of leading the paste to another place.
    LocalFolder reach(const QString& folder, bool create);

    // The paths the paste's planning gave its items (owned by the paste): a name chosen while
    // placing is none of them.
    const QSet<QString>* reservedPaths = nullptr;
    // The user stopped the paste at a question asked while an item was being put in place.
    bool stopped = false;

private:
    // The paste folder made again inside the held folder above it, or why it cannot be.
    LocalFolder remade() const;
    // Why the held folder above no longer stands at its path: the first folder on the way to it
    // that is not the one it was.
    LocalFolder changedOnTheWay() const;

    QString m_path;
    LocalFolder m_root;
    // The nearest folder above the paste folder that was there when the paste began (its parent,
    // unless folders were missing), held from then on, its path, and the names from it down to
    // the paste folder.
    LocalFolder m_above;
    QString m_abovePath;
    QStringList m_below;
    // The identity of each folder on the way to the held one, from the root down, as the path led
    // when the paste began.
    QList<std::optional<LocalFolder::Identity>> m_way;
    // The identity of the link itself when the paste folder chosen was a link.
    std::optional<LocalFolder::Identity> m_chosenLink;
    PlacedItems m_placed;
};

} // namespace quillbarrow
