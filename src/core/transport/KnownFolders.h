#pragma once

#include "domain/RemoteItem.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>

namespace quillbarrow {

// What one session has seen of the device's folders, kept up to date by the session's own
// changes. For the folders it listed lately: the objects of each name, so that an upload knows
// which objects of its name were there before it without listing the folder again. For every
// folder it has seen: its parent and name, so that a folder's path from the storage root can be
// told although object ids do not outlive a session.
//
// Only what the session itself saw and did is known; a change made on the device by someone else
// in the meantime is not. What is kept errs on the safe side: an object that has gone may still
// be listed, but one that this session made, renamed or could not account for is never missing
// (the folder is forgotten instead). Main-thread object.
class KnownFolders {
public:
    using ObjectID = std::uint32_t;

    // Listings kept at most; the one made longest ago goes first.
    static constexpr int listingCapacity = 16;
    // A listing shows at most this many bytes of a name (the bridge's field, less its NUL).
    static constexpr int longestListedName = 511;

    // `rootParent` is the parent id that stands for a storage's root.
    explicit KnownFolders(ObjectID rootParent);

    // A listing of `parent` on `storage`; replaces what was known of that folder.
    void listed(ObjectID storage, ObjectID parent, const QList<RemoteItem>& items);
    // The objects named `name` in that folder (possibly none); nothing when the folder was not
    // listed lately, or when the name is too long for a listing to have shown it whole.
    std::optional<QList<ObjectID>> named(ObjectID storage, ObjectID parent, const QString& name) const;
    // An object that this session made in that folder.
    void added(ObjectID storage, ObjectID parent, ObjectID id, const QString& name, bool folder);
    // That folder may have changed in a way the session cannot tell.
    void forget(ObjectID storage, ObjectID parent);
    // An object that this session deleted, with whatever was in it.
    void deleted(ObjectID id);
    // An object that this session renamed; no name when the rename failed (and may or may not
    // have happened).
    void renamed(ObjectID id, const std::optional<QString>& newName);
    // The size a listing kept here gave the file, so that a download need not ask the device.
    std::optional<std::uint64_t> listedSize(ObjectID id) const;
    // The names of the folders from the storage root down to `parent` (none for the root itself);
    // nothing when a folder on the way was not seen, lies on another storage, or the way loops.
    std::optional<QStringList> pathOf(ObjectID storage, ObjectID parent) const;

private:
    using Key = std::pair<ObjectID, ObjectID>;
    struct Listing {
        QHash<QString, QList<ObjectID>> byName;
        QHash<ObjectID, QString> nameOf;
        QHash<ObjectID, std::uint64_t> sizeOf;
    };
    struct Place {
        ObjectID storage;
        ObjectID parent;
        QString name;
    };

    Listing* listingOf(const Key& key);
    // The listed folders that hold the object.
    QList<Key> keysHolding(ObjectID id) const;

    ObjectID m_rootParent;
    QHash<Key, Listing> m_listings;
    // Oldest first.
    QList<Key> m_order;
    QHash<ObjectID, Place> m_folders;
};

} // namespace quillbarrow
