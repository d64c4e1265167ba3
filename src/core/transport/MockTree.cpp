#include "MockTree.h"

#include "domain/BrowserSort.h"
#include "domain/NfcText.h"
#include "domain/QuillbarrowError.h"

#include <QDateTime>
#include <QSet>
#include <QUuid>

namespace quillbarrow {

namespace {

RemoteItem sampleItem(const char* id, const StorageID& storageID, std::optional<RemoteObjectID> parentID,
                      const char* name, RemoteItemKind kind, std::optional<qint64> size, const QStringList& path,
                      const QDateTime& now)
{
    return RemoteItem(RemoteObjectID(QString::fromUtf8(id)), storageID, std::move(parentID), QString::fromUtf8(name),
                      kind, size, now, RemotePath(storageID, path));
}

// True when `path` lies below `folder` (same storage, folder's names as its first names).
bool liesBelow(const RemotePath& path, const RemotePath& folder)
{
    if (!(path.storageID == folder.storageID) || path.components.size() <= folder.components.size()) {
        return false;
    }
    return RemotePath(path.storageID, path.components.mid(0, folder.components.size())) == folder;
}

} // namespace

MockTree::MockTree(QList<StorageRoot> storages, const QList<RemoteItem>& items) : m_storages(std::move(storages))
{
    for (const RemoteItem& item : items) {
        store(item);
    }
}

MockTree MockTree::sample(const StorageID& storageID)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const RemoteObjectID dcim(QStringLiteral("dcim"));
    const RemoteObjectID downloads(QStringLiteral("downloads"));
    const RemoteObjectID camera(QStringLiteral("camera"));
    const StorageRoot storage(storageID, QStringLiteral("Internal shared storage"), 256'000'000'000LL,
                              141'000'000'000LL);
    return MockTree({storage},
                    {
                        sampleItem("dcim", storageID, std::nullopt, "DCIM", RemoteItemKind::folder, std::nullopt,
                                   {QStringLiteral("DCIM")}, now),
                        sampleItem("downloads", storageID, std::nullopt, "Download", RemoteItemKind::folder,
                                   std::nullopt, {QStringLiteral("Download")}, now),
                        sampleItem("camera", storageID, dcim, "Camera", RemoteItemKind::folder, std::nullopt,
                                   {QStringLiteral("DCIM"), QStringLiteral("Camera")}, now),
                        sampleItem("photo-1", storageID, camera, "IMG_0001.jpg", RemoteItemKind::file, 3'840'120,
                                   {QStringLiteral("DCIM"), QStringLiteral("Camera"), QStringLiteral("IMG_0001.jpg")},
                                   now),
                        sampleItem("apk", storageID, downloads, "sample.apk", RemoteItemKind::file, 42'184'000,
                                   {QStringLiteral("Download"), QStringLiteral("sample.apk")}, now),
                    });
}

std::optional<StorageRoot> MockTree::storage(const StorageID& storageID) const
{
    for (const StorageRoot& storage : m_storages) {
        if (storage.id == storageID) {
            return storage;
        }
    }
    return std::nullopt;
}

QList<RemoteItem> MockTree::items() const
{
    QList<RemoteItem> all;
    all.reserve(m_order.size());
    for (const RemoteObjectID& id : m_order) {
        all.append(m_items.find(id).value());
    }
    return all;
}

std::optional<RemoteItem> MockTree::item(const RemoteObjectID& id) const
{
    const auto found = m_items.find(id);
    if (found == m_items.end()) {
        return std::nullopt;
    }
    return found.value();
}

QList<RemoteItem> MockTree::children(const std::optional<RemoteObjectID>& parentID, const StorageID& storageID) const
{
    QList<RemoteItem> found;
    for (const RemoteObjectID& id : m_order) {
        const RemoteItem& item = m_items.find(id).value();
        if (item.storageID == storageID && item.parentID == parentID) {
            found.append(item);
        }
    }
    return sortedForBrowser(found, FileSort::name, true);
}

QList<RemoteObjectID> MockTree::descendantIDs(const RemoteObjectID& id) const
{
    // Breadth of one level, then depth: the direct children in order, followed by the
    // descendants of each of them. A parent chain that loops back is walked once.
    QList<RemoteObjectID> result;
    QSet<RemoteObjectID> seen{id};
    const auto walk = [&](const auto& self, const RemoteObjectID& parent) -> void {
        QList<RemoteObjectID> direct;
        for (const RemoteObjectID& candidate : m_order) {
            const RemoteItem& item = m_items.find(candidate).value();
            if (item.parentID == parent && !seen.contains(candidate)) {
                seen.insert(candidate);
                direct.append(candidate);
            }
        }
        result.append(direct);
        for (const RemoteObjectID& child : direct) {
            self(self, child);
        }
    };
    walk(walk, id);
    return result;
}

RemoteItem MockTree::addFolder(const QString& name, const std::optional<RemoteObjectID>& parentID,
                               const StorageID& storageID)
{
    return addItem(name, parentID, storageID, RemoteItemKind::folder, std::nullopt);
}

RemoteItem MockTree::addFile(const QString& name, const std::optional<RemoteObjectID>& parentID,
                             const StorageID& storageID, std::optional<qint64> size)
{
    return addItem(name, parentID, storageID, RemoteItemKind::file, size);
}

RemoteItem MockTree::addItem(const QString& name, const std::optional<RemoteObjectID>& parentID,
                             const StorageID& storageID, RemoteItemKind kind, std::optional<qint64> size)
{
    RemotePath base(storageID, {});
    if (parentID) {
        if (const std::optional<RemoteItem> parent = item(*parentID); parent && parent->path) {
            base = *parent->path;
        }
    }
    const RemoteItem added(RemoteObjectID(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()), storageID,
                           parentID, name, kind, size, QDateTime::currentDateTimeUtc(), base.appending(name));
    store(added);
    return added;
}

void MockTree::rename(const RemoteObjectID& itemID, const QString& newName)
{
    const std::optional<RemoteItem> old = item(itemID);
    if (!old) {
        throw QuillbarrowError::pathNotFound();
    }
    for (const RemoteItem& sibling : children(old->parentID, old->storageID)) {
        if (!(sibling.id == itemID) && NfcText::equal(sibling.name, newName)) {
            throw QuillbarrowError::nameConflict(newName);
        }
    }
    std::optional<RemotePath> newPath;
    if (old->path && !old->path->isRoot()) {
        newPath = old->path->deletingLastComponent()->appending(newName);
    }
    store(RemoteItem(old->id, old->storageID, old->parentID, newName, old->kind, old->size,
                     QDateTime::currentDateTimeUtc(), newPath));

    // Items below a renamed folder keep pointing at it by id; their paths must name it anew,
    // or a later listing would hand out paths to a folder that no longer exists.
    if (!old->path || !newPath) {
        return;
    }
    for (const RemoteObjectID& id : descendantIDs(itemID)) {
        const RemoteItem& below = m_items.find(id).value();
        if (!below.path || !liesBelow(*below.path, *old->path)) {
            continue;
        }
        QStringList components = newPath->components;
        components.append(below.path->components.mid(old->path->components.size()));
        store(RemoteItem(below.id, below.storageID, below.parentID, below.name, below.kind, below.size,
                         below.modifiedAt, RemotePath(below.path->storageID, components)));
    }
}

void MockTree::deleteItem(const RemoteObjectID& itemID)
{
    if (!m_items.contains(itemID)) {
        throw QuillbarrowError::pathNotFound();
    }
    QList<RemoteObjectID> doomed = descendantIDs(itemID);
    doomed.prepend(itemID);
    for (const RemoteObjectID& id : doomed) {
        m_items.remove(id);
    }
    const QSet<RemoteObjectID> gone(doomed.begin(), doomed.end());
    m_order.removeIf([&gone](const RemoteObjectID& id) { return gone.contains(id); });
}

void MockTree::store(const RemoteItem& item)
{
    if (!m_items.contains(item.id)) {
        m_order.append(item.id);
    }
    m_items.insert(item.id, item);
}

} // namespace quillbarrow
