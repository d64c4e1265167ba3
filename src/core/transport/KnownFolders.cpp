#include "KnownFolders.h"

#include "LibMTPDeviceSession.h"

#include <QSet>

#include <algorithm>

namespace quillbarrow {

namespace {

// Deeper than any real folder tree; a longer way up is taken for a loop.
constexpr int deepestPath = 256;

} // namespace

KnownFolders::KnownFolders(ObjectID rootParent) : m_rootParent(rootParent) {}

void KnownFolders::listed(ObjectID storage, ObjectID parent, const QList<RemoteItem>& items)
{
    const Key key{storage, parent};
    Listing listing;
    for (const RemoteItem& item : items) {
        const std::optional<ObjectID> id = LibMTPDeviceSession::mtpID(item.id.rawValue());
        if (!id) {
            continue;
        }
        listing.byName[item.name].append(*id);
        listing.nameOf.insert(*id, item.name);
        if (item.kind == RemoteItemKind::file && item.size) {
            listing.sizeOf.insert(*id, static_cast<std::uint64_t>(*item.size));
        }
        if (item.kind == RemoteItemKind::folder) {
            m_folders.insert(*id, Place{storage, parent, item.name});
        }
    }
    m_order.removeOne(key);
    m_order.append(key);
    m_listings.insert(key, std::move(listing));
    while (m_order.size() > listingCapacity) {
        m_listings.remove(m_order.takeFirst());
    }
}

std::optional<QList<KnownFolders::ObjectID>> KnownFolders::named(ObjectID storage, ObjectID parent,
                                                                 const QString& name) const
{
    // A longer name was cut in the listing, so an object of exactly this name would not show.
    if (name.toUtf8().size() >= longestListedName) {
        return std::nullopt;
    }
    const auto found = m_listings.constFind(Key{storage, parent});
    if (found == m_listings.constEnd()) {
        return std::nullopt;
    }
    return found->byName.value(name);
}

KnownFolders::Listing* KnownFolders::listingOf(const Key& key)
{
    const auto found = m_listings.find(key);
    return found == m_listings.end() ? nullptr : &*found;
}

void KnownFolders::added(ObjectID storage, ObjectID parent, ObjectID id, const QString& name, bool folder)
{
    if (Listing* listing = listingOf(Key{storage, parent})) {
        listing->byName[name].append(id);
        listing->nameOf.insert(id, name);
    }
    if (folder) {
        m_folders.insert(id, Place{storage, parent, name});
    }
}

void KnownFolders::forget(ObjectID storage, ObjectID parent)
{
    const Key key{storage, parent};
    m_listings.remove(key);
    m_order.removeOne(key);
}

QList<KnownFolders::Key> KnownFolders::keysHolding(ObjectID id) const
{
    QList<Key> keys;
    for (auto listing = m_listings.constBegin(); listing != m_listings.constEnd(); ++listing) {
        if (listing->nameOf.contains(id)) {
            keys.append(listing.key());
        }
    }
    return keys;
}

void KnownFolders::deleted(ObjectID id)
{
    for (const Key& key : keysHolding(id)) {
        Listing& listing = m_listings[key];
        listing.sizeOf.remove(id);
        QList<ObjectID>& sameName = listing.byName[listing.nameOf.take(id)];
        sameName.removeAll(id);
    }
    // The folder's own listing went with it.
    const QList<Key> keys = m_listings.keys();
    for (const Key& key : keys) {
        if (key.second == id) {
            forget(key.first, key.second);
        }
    }
    m_folders.remove(id);
}

std::optional<std::uint64_t> KnownFolders::listedSize(ObjectID id) const
{
    for (const Listing& listing : m_listings) {
        if (const auto found = listing.sizeOf.constFind(id); found != listing.sizeOf.constEnd()) {
            return *found;
        }
    }
    return std::nullopt;
}

void KnownFolders::renamed(ObjectID id, const std::optional<QString>& newName)
{
    for (const Key& key : keysHolding(id)) {
        if (!newName) {
            forget(key.first, key.second);
            continue;
        }
        Listing& listing = m_listings[key];
        const QString oldName = listing.nameOf.value(id);
        listing.byName[oldName].removeAll(id);
        listing.byName[*newName].append(id);
        listing.nameOf.insert(id, *newName);
    }
    if (!m_folders.contains(id)) {
        return;
    }
    if (newName) {
        m_folders[id].name = *newName;
    } else {
        m_folders.remove(id);
    }
}

std::optional<QStringList> KnownFolders::pathOf(ObjectID storage, ObjectID parent) const
{
    QStringList names;
    QSet<ObjectID> visited;
    ObjectID folder = parent;
    while (folder != m_rootParent) {
        const auto place = m_folders.constFind(folder);
        if (place == m_folders.constEnd() || place->storage != storage || visited.contains(folder) ||
            names.size() >= deepestPath) {
            return std::nullopt;
        }
        visited.insert(folder);
        names.append(place->name);
        folder = place->parent;
    }
    std::reverse(names.begin(), names.end());
    return names;
}

} // namespace quillbarrow
