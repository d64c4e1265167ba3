#include "FakeDeviceSession.h"

#include "domain/BrowserSort.h"

namespace quillbarrow::testing {

void FakeDeviceTree::add(const RemoteItem& item)
{
    if (item.parentID) {
        folders[*item.parentID].append(item);
    } else {
        roots[item.storageID].append(item);
    }
    if (item.kind == RemoteItemKind::folder && !folders.contains(item.id)) {
        folders.insert(item.id, {});
    }
}

std::optional<QList<RemoteItem>> FakeDeviceTree::children(const StorageID& storageID,
                                                          const std::optional<RemoteObjectID>& folderID) const
{
    if (!storage(storageID)) {
        return std::nullopt;
    }
    if (!folderID) {
        return sortedForBrowser(roots.value(storageID), FileSort::name, true);
    }
    const auto found = folders.constFind(*folderID);
    if (found == folders.constEnd()) {
        return std::nullopt;
    }
    return sortedForBrowser(*found, FileSort::name, true);
}

std::optional<StorageRoot> FakeDeviceTree::storage(const StorageID& storageID) const
{
    for (const StorageRoot& candidate : storages) {
        if (candidate.id == storageID) {
            return candidate;
        }
    }
    return std::nullopt;
}

FakeDeviceSession::FakeDeviceSession(AndroidDevice device, FakeDeviceTree tree)
    : m_state(std::make_shared<State>(State{std::move(device), std::move(tree)}))
{
}

FakeDeviceSession::~FakeDeviceSession()
{
    m_state->script->releaseAll();
}

void FakeDeviceSession::script(const QString& operation, Reply reply, const QString& subject)
{
    m_state->script->add(operation, std::move(reply), subject);
}

namespace {

void failWhenClosed(bool closed)
{
    if (closed) {
        throw QuillbarrowError::sessionFailed(QStringLiteral("The session is closed."));
    }
}

} // namespace

QCoro::Task<QList<StorageRoot>> FakeDeviceSession::storages()
{
    std::shared_ptr<State> state = m_state;
    std::function<QList<StorageRoot>()> serve = [state] {
        failWhenClosed(state->closed);
        return state->tree.storages;
    };
    return perform(state->script, QStringLiteral("storages"), QString(), std::move(serve));
}

QCoro::Task<DirectoryPage> FakeDeviceSession::rootDirectory(StorageID storageID)
{
    std::shared_ptr<State> state = m_state;
    std::function<DirectoryPage()> serve = [state, storageID] {
        failWhenClosed(state->closed);
        const std::optional<QList<RemoteItem>> items = state->tree.children(storageID, std::nullopt);
        if (!items) {
            throw QuillbarrowError::pathNotFound();
        }
        return DirectoryPage(*state->tree.storage(storageID), RemotePath(storageID, {}), std::nullopt, *items);
    };
    return perform(state->script, QStringLiteral("root"), storageID.rawValue(), std::move(serve));
}

QCoro::Task<DirectoryPage> FakeDeviceSession::listDirectory(RemoteObjectID parentID, RemotePath path)
{
    std::shared_ptr<State> state = m_state;
    std::function<DirectoryPage()> serve = [state, parentID, path] {
        failWhenClosed(state->closed);
        const std::optional<QList<RemoteItem>> items = state->tree.children(path.storageID, parentID);
        if (!items) {
            throw QuillbarrowError::pathNotFound();
        }
        return DirectoryPage(*state->tree.storage(path.storageID), path, parentID, *items);
    };
    return perform(state->script, QStringLiteral("list"), parentID.rawValue(), std::move(serve));
}

QCoro::Task<RemoteItem> FakeDeviceSession::createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                                        StorageID storageID)
{
    std::shared_ptr<State> state = m_state;
    std::function<RemoteItem()> serve = [state, name, parentID, storageID] {
        failWhenClosed(state->closed);
        const std::optional<QList<RemoteItem>> siblings = state->tree.children(storageID, parentID);
        if (!siblings) {
            throw QuillbarrowError::pathNotFound();
        }
        for (const RemoteItem& sibling : *siblings) {
            if (sibling.name == name) {
                throw QuillbarrowError::nameConflict(name);
            }
        }
        const RemoteItem created(RemoteObjectID(QStringLiteral("new-%1").arg(++state->createdFolders)), storageID,
                                 parentID, name, RemoteItemKind::folder, std::nullopt, std::nullopt, std::nullopt);
        state->tree.add(created);
        return created;
    };
    return perform(state->script, QStringLiteral("createFolder"), name, std::move(serve));
}

namespace {

// Applies `change` to the item with this id wherever it is listed; false when there is none.
bool changeItem(FakeDeviceTree& tree, const RemoteObjectID& id, const std::function<bool(QList<RemoteItem>&, qsizetype)>& change)
{
    const auto visit = [&](QList<RemoteItem>& list) {
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (list[i].id == id) {
                return change(list, i);
            }
        }
        return false;
    };
    for (QList<RemoteItem>& list : tree.roots) {
        if (visit(list)) {
            return true;
        }
    }
    for (QList<RemoteItem>& list : tree.folders) {
        if (visit(list)) {
            return true;
        }
    }
    return false;
}

} // namespace

QCoro::Task<> FakeDeviceSession::rename(RemoteObjectID itemID, QString newName)
{
    std::shared_ptr<State> state = m_state;
    std::function<void()> serve = [state, itemID, newName] {
        failWhenClosed(state->closed);
        const bool found = changeItem(state->tree, itemID, [&](QList<RemoteItem>& list, qsizetype index) {
            list[index].name = newName;
            return true;
        });
        if (!found) {
            throw QuillbarrowError::pathNotFound();
        }
    };
    return perform(state->script, QStringLiteral("rename"), itemID.rawValue(), std::move(serve));
}

QCoro::Task<> FakeDeviceSession::deleteItem(RemoteObjectID itemID)
{
    std::shared_ptr<State> state = m_state;
    std::function<void()> serve = [state, itemID] {
        failWhenClosed(state->closed);
        const bool found = changeItem(state->tree, itemID, [](QList<RemoteItem>& list, qsizetype index) {
            list.removeAt(index);
            return true;
        });
        if (!found) {
            throw QuillbarrowError::pathNotFound();
        }
        state->tree.folders.remove(itemID);
    };
    return perform(state->script, QStringLiteral("delete"), itemID.rawValue(), std::move(serve));
}

QCoro::Task<> FakeDeviceSession::downloadFile(RemoteObjectID itemID, QString destination,
                                              TransferProgressFunction progress)
{
    std::shared_ptr<State> state = m_state;
    state->lastProgress = std::move(progress);
    state->downloadDestinations.append(destination);
    std::function<void()> serve = [state] { failWhenClosed(state->closed); };
    return perform(state->script, QStringLiteral("download"), itemID.rawValue(), std::move(serve));
}

QCoro::Task<RemoteItem> FakeDeviceSession::uploadFile(QString source, QString name,
                                                      std::optional<RemoteObjectID> parentID, StorageID storageID,
                                                      TransferProgressFunction progress)
{
    Q_UNUSED(source)
    std::shared_ptr<State> state = m_state;
    state->lastProgress = std::move(progress);
    std::function<RemoteItem()> serve = [state, name, parentID, storageID] {
        failWhenClosed(state->closed);
        const RemoteItem uploaded(RemoteObjectID(QStringLiteral("upload-") + name), storageID, parentID, name,
                                  RemoteItemKind::file, 0, std::nullopt, std::nullopt);
        state->tree.add(uploaded);
        return uploaded;
    };
    return perform(state->script, QStringLiteral("upload"), name, std::move(serve));
}

QCoro::Task<> FakeDeviceSession::close()
{
    std::shared_ptr<State> state = m_state;
    ++state->closeCount;
    std::function<void()> serve = [state] { state->closed = true; };
    return perform(state->script, QStringLiteral("close"), QString(), std::move(serve));
}

StorageRoot testStorage(const QString& id, const QString& name)
{
    return StorageRoot(StorageID(id), name, 64'000'000'000, 32'000'000'000);
}

RemoteItem folderItem(const QString& id, const QString& name, const QString& storage, std::optional<QString> parent)
{
    std::optional<RemoteObjectID> parentID;
    if (parent) {
        parentID = RemoteObjectID(*parent);
    }
    return RemoteItem(RemoteObjectID(id), StorageID(storage), parentID, name, RemoteItemKind::folder, std::nullopt,
                      std::nullopt, std::nullopt);
}

RemoteItem fileItem(const QString& id, const QString& name, std::optional<qint64> size, const QString& storage,
                    std::optional<QString> parent)
{
    std::optional<RemoteObjectID> parentID;
    if (parent) {
        parentID = RemoteObjectID(*parent);
    }
    return RemoteItem(RemoteObjectID(id), StorageID(storage), parentID, name, RemoteItemKind::file, size,
                      std::nullopt, std::nullopt);
}

AndroidDevice phone(const QString& id, const QString& name, std::optional<QString> manufacturer,
                    std::optional<QString> model, std::optional<QString> serial)
{
    return AndroidDevice(DeviceID(id), name, std::move(manufacturer), std::move(model), std::move(serial),
                         DeviceConnectionKind::usb);
}

RemotePath rootPath(const QString& storage)
{
    return RemotePath(StorageID(storage), {});
}

DirectoryPage page(const QList<RemoteItem>& items, RemotePath path, std::optional<QString> parent, StorageRoot storage)
{
    std::optional<RemoteObjectID> parentID;
    if (parent) {
        parentID = RemoteObjectID(*parent);
    }
    return DirectoryPage(std::move(storage), std::move(path), parentID, items);
}

} // namespace quillbarrow::testing
