#include "ResponderSession.h"

#include "domain/QuillbarrowError.h"
#include "transport/LibMTPDeviceSession.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <map>
#include <stdexcept>

namespace quillbarrow::e2e {

struct ResponderSession::State {
    std::shared_ptr<DeviceSession> session;
    Settings settings;
    // The folders listed in this session, by listingKey().
    QSet<QString> listed;
    // Every object seen in a listing or made by an operation, by its real id.
    QHash<RemoteObjectID, RemoteItem> seen;
    std::optional<RemoteObjectID> writableID;
    // The operations under way, by the order they began in.
    struct Flight {
        QString what;
        QElapsedTimer running;
        // Written by the transfer's progress, on its thread: the bytes reported, and when (in
        // milliseconds of `running`); -1 before the first report.
        std::shared_ptr<std::atomic<qint64>> bytes = std::make_shared<std::atomic<qint64>>(-1);
        std::shared_ptr<std::atomic<qint64>> reportedAt = std::make_shared<std::atomic<qint64>>(-1);
    };
    std::map<quint64, Flight> inFlight;
    quint64 nextFlight = 0;
};

namespace {

using State = ResponderSession::State;

// An operation under way for as long as it lives: made as an operation begins, gone as it ends.
class InFlight {
  public:
    InFlight(std::shared_ptr<State> state, QString what)
        : m_state(std::move(state)), m_id(m_state->nextFlight++)
    {
        State::Flight& flight = m_state->inFlight[m_id];
        flight.what = std::move(what);
        flight.running.start();
    }
    ~InFlight() { m_state->inFlight.erase(m_id); }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;

    // `progress`, noting what it reports; nothing when there is none.
    TransferProgressFunction watching(TransferProgressFunction progress) const
    {
        if (!progress) {
            return progress;
        }
        const State::Flight& flight = m_state->inFlight.at(m_id);
        return [progress = std::move(progress), bytes = flight.bytes, reportedAt = flight.reportedAt,
                running = flight.running](qint64 done, std::optional<qint64> total) {
            bytes->store(done);
            reportedAt->store(running.elapsed());
            return progress(done, total);
        };
    }

  private:
    std::shared_ptr<State> m_state;
    quint64 m_id;
};

QString seconds(qint64 milliseconds)
{
    return QString::number(double(milliseconds) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

QString listingKey(const std::optional<RemoteObjectID>& folder, const StorageID& storage)
{
    return folder ? QStringLiteral("id:") + folder->rawValue() : QStringLiteral("root:") + storage.rawValue();
}

RemoteObjectID outerID(const State& state, const RemoteObjectID& id)
{
    return state.writableID && id == *state.writableID && state.settings.writableAlias
               ? *state.settings.writableAlias
               : id;
}

RemoteItem outerItem(const State& state, RemoteItem item)
{
    item.id = outerID(state, item.id);
    if (item.parentID) {
        item.parentID = outerID(state, *item.parentID);
    }
    return item;
}

DirectoryPage outerPage(const State& state, DirectoryPage page)
{
    if (page.parentID) {
        page.parentID = outerID(state, *page.parentID);
    }
    for (RemoteItem& item : page.items) {
        item = outerItem(state, item);
    }
    return page;
}

void remember(State& state, const QList<RemoteItem>& items)
{
    for (const RemoteItem& item : items) {
        state.seen.insert(item.id, item);
    }
}

// One listing of a folder (the storage root when absent) through the real session.
QCoro::Task<DirectoryPage> listOnce(std::shared_ptr<State> state, std::optional<RemoteObjectID> folder,
                                    StorageID storage)
{
    std::optional<DirectoryPage> page;
    if (folder) {
        page.emplace(co_await state->session->listDirectory(*folder, RemotePath(storage, {})));
    } else {
        page.emplace(co_await state->session->rootDirectory(storage));
    }
    state->listed.insert(listingKey(folder, storage));
    remember(*state, page->items);
    co_return std::move(*page);
}

// The real id that `id` stands for: the writable folder's, looked up by name, for the alias.
QCoro::Task<RemoteObjectID> realID(std::shared_ptr<State> state, RemoteObjectID id)
{
    if (!state->settings.writableAlias || !(id == *state->settings.writableAlias)) {
        co_return id;
    }
    if (!state->writableID) {
        const QList<StorageRoot> storages = co_await state->session->storages();
        for (const StorageRoot& storage : storages) {
            const DirectoryPage root = co_await listOnce(state, std::nullopt, storage.id);
            for (const RemoteItem& item : root.items) {
                if (item.kind == RemoteItemKind::folder && item.name == state->settings.writableName) {
                    state->writableID = item.id;
                    co_return item.id;
                }
            }
        }
        throw std::runtime_error("the device's storage root has no folder named " +
                                 state->settings.writableName.toStdString());
    }
    co_return *state->writableID;
}

QCoro::Task<std::optional<RemoteObjectID>> realParent(std::shared_ptr<State> state,
                                                      std::optional<RemoteObjectID> id)
{
    if (!id) {
        co_return std::nullopt;
    }
    co_return co_await realID(state, *id);
}

// Lists the folder unless this session did. A failure is left for the operation that follows to
// report in its own words.
QCoro::Task<> ensureListed(std::shared_ptr<State> state, std::optional<RemoteObjectID> folder,
                           StorageID storage)
{
    if (state->listed.contains(listingKey(folder, storage))) {
        co_return;
    }
    if (folder && !LibMTPDeviceSession::mtpID(folder->rawValue())) {
        co_return; // not an object of the device at all
    }
    try {
        co_await listOnce(state, folder, storage);
    } catch (const QuillbarrowError&) {
    }
}

// Lists the parent of a folder just created: it must show the folder under the id the device
// reported. A device that answered before it knew the folder fails here, in plain words, rather
// than with a refusal of some later request about the folder.
QCoro::Task<> expectListed(std::shared_ptr<State> state, std::optional<RemoteObjectID> parent,
                           StorageID storage, RemoteItem created)
{
    const DirectoryPage page = co_await listOnce(state, parent, storage);
    for (const RemoteItem& item : page.items) {
        if (item.id == created.id && item.name == created.name) {
            co_return;
        }
    }
    throw std::runtime_error("the device does not list the folder " + created.name.toStdString() + " (id " +
                             created.id.rawValue().toStdString() + ") that it reported created");
}

QCoro::Task<> deleteDepthFirst(std::shared_ptr<State> state, RemoteObjectID id)
{
    const auto known = state->seen.constFind(id);
    if (state->settings.emptyFoldersBeforeDelete && known != state->seen.constEnd() &&
        known->kind == RemoteItemKind::folder) {
        const StorageID storage = known->storageID;
        const DirectoryPage page = co_await listOnce(state, id, storage);
        for (const RemoteItem& child : page.items) {
            co_await deleteDepthFirst(state, child.id);
        }
    }
    co_await state->session->deleteItem(id);
    state->seen.remove(id);
}

QCoro::Task<QList<StorageRoot>> storagesOf(std::shared_ptr<State> state)
{
    const InFlight flight(state, QStringLiteral("storages"));
    co_return co_await state->session->storages();
}

QCoro::Task<DirectoryPage> rootOf(std::shared_ptr<State> state, StorageID storage)
{
    const InFlight flight(state, QStringLiteral("rootDirectory of storage ") + storage.rawValue());
    const DirectoryPage page = co_await listOnce(state, std::nullopt, storage);
    co_return outerPage(*state, page);
}

QCoro::Task<DirectoryPage> listingOf(std::shared_ptr<State> state, RemoteObjectID parentID, RemotePath path)
{
    const InFlight flight(state, QStringLiteral("listDirectory ") + parentID.rawValue());
    const RemoteObjectID parent = co_await realID(state, parentID);
    const DirectoryPage page = co_await state->session->listDirectory(parent, path);
    state->listed.insert(listingKey(parent, path.storageID));
    remember(*state, page.items);
    co_return outerPage(*state, page);
}

QCoro::Task<RemoteItem> createIn(std::shared_ptr<State> state, QString name,
                                 std::optional<RemoteObjectID> parentID, StorageID storage)
{
    const InFlight flight(state, QStringLiteral("createFolder ") + name);
    const std::optional<RemoteObjectID> parent = co_await realParent(state, parentID);
    if (state->settings.listParentsFirst) {
        co_await ensureListed(state, parent, storage);
    }
    RemoteItem item = co_await state->session->createFolder(name, parent, storage);
    state->seen.insert(item.id, item);
    if (state->settings.listParentsFirst) {
        co_await expectListed(state, parent, storage, item);
    }
    // The real session reports the parent as it was given.
    item.parentID = parentID;
    item.id = outerID(*state, item.id);
    co_return item;
}

QCoro::Task<RemoteItem> uploadInto(std::shared_ptr<State> state, QString source, QString name,
                                   std::optional<RemoteObjectID> parentID, StorageID storage,
                                   TransferProgressFunction progress)
{
    const InFlight flight(state, QStringLiteral("uploadFile ") + name + QStringLiteral(" (") +
                                     QString::number(QFileInfo(source).size()) + QStringLiteral(" bytes)"));
    const std::optional<RemoteObjectID> parent = co_await realParent(state, parentID);
    if (state->settings.listParentsFirst) {
        co_await ensureListed(state, parent, storage);
    }
    RemoteItem item = co_await state->session->uploadFile(source, name, parent, storage,
                                                          flight.watching(std::move(progress)));
    state->seen.insert(item.id, item);
    item.parentID = parentID;
    co_return item;
}

QCoro::Task<RemoteItem> replaceInto(std::shared_ptr<State> state, QString source, QString name,
                                    std::optional<RemoteObjectID> parentID, StorageID storage, RemoteObjectID replaced,
                                    QString keptCopy, TransferProgressFunction progress)
{
    const InFlight flight(state, QStringLiteral("replaceFile ") + name + QStringLiteral(" (") +
                                     QString::number(QFileInfo(source).size()) + QStringLiteral(" bytes)"));
    const std::optional<RemoteObjectID> parent = co_await realParent(state, parentID);
    if (state->settings.listParentsFirst) {
        co_await ensureListed(state, parent, storage);
    }
    const RemoteObjectID real = co_await realID(state, replaced);
    RemoteItem item = co_await state->session->replaceFile(source, name, parent, storage, real, keptCopy,
                                                           flight.watching(std::move(progress)));
    state->seen.insert(item.id, item);
    item.parentID = parentID;
    co_return item;
}

QCoro::Task<> renameOf(std::shared_ptr<State> state, RemoteObjectID id, QString name)
{
    const InFlight flight(state, QStringLiteral("rename ") + id.rawValue() + QStringLiteral(" to ") + name);
    const RemoteObjectID real = co_await realID(state, id);
    co_await state->session->rename(real, name);
}

QCoro::Task<> deleteOf(std::shared_ptr<State> state, RemoteObjectID id)
{
    const InFlight flight(state, QStringLiteral("deleteItem ") + id.rawValue());
    const RemoteObjectID real = co_await realID(state, id);
    co_await deleteDepthFirst(state, real);
}

QCoro::Task<> downloadOf(std::shared_ptr<State> state, RemoteObjectID id, QString destination,
                         TransferProgressFunction progress)
{
    const InFlight flight(state, QStringLiteral("downloadFile ") + id.rawValue() + QStringLiteral(" to ") +
                                     destination);
    const RemoteObjectID real = co_await realID(state, id);
    co_await state->session->downloadFile(real, destination, flight.watching(std::move(progress)));
}

QCoro::Task<> closeOf(std::shared_ptr<State> state)
{
    const InFlight flight(state, QStringLiteral("close"));
    co_await state->session->close();
}

} // namespace

ResponderSession::ResponderSession(std::shared_ptr<DeviceSession> session, Settings settings)
    : m_state(std::make_shared<State>())
{
    m_state->session = std::move(session);
    m_state->settings = std::move(settings);
}

AndroidDevice ResponderSession::device() const
{
    return m_state->session->device();
}

QCoro::Task<QList<StorageRoot>> ResponderSession::storages()
{
    return storagesOf(m_state);
}

QCoro::Task<DirectoryPage> ResponderSession::rootDirectory(StorageID storageID)
{
    return rootOf(m_state, std::move(storageID));
}

QCoro::Task<DirectoryPage> ResponderSession::listDirectory(RemoteObjectID parentID, RemotePath path)
{
    return listingOf(m_state, std::move(parentID), std::move(path));
}

QCoro::Task<RemoteItem> ResponderSession::createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                                       StorageID storageID)
{
    return createIn(m_state, std::move(name), std::move(parentID), std::move(storageID));
}

QCoro::Task<> ResponderSession::rename(RemoteObjectID itemID, QString newName)
{
    return renameOf(m_state, std::move(itemID), std::move(newName));
}

QCoro::Task<> ResponderSession::deleteItem(RemoteObjectID itemID)
{
    return deleteOf(m_state, std::move(itemID));
}

QCoro::Task<> ResponderSession::downloadFile(RemoteObjectID itemID, QString destination,
                                             TransferProgressFunction progress)
{
    return downloadOf(m_state, std::move(itemID), std::move(destination), std::move(progress));
}

QCoro::Task<RemoteItem> ResponderSession::uploadFile(QString source, QString name,
                                                     std::optional<RemoteObjectID> parentID,
                                                     StorageID storageID, TransferProgressFunction progress)
{
    return uploadInto(m_state, std::move(source), std::move(name), std::move(parentID), std::move(storageID),
                      std::move(progress));
}

QCoro::Task<RemoteItem> ResponderSession::replaceFile(QString source, QString name,
                                                      std::optional<RemoteObjectID> parentID, StorageID storageID,
                                                      RemoteObjectID replacedID, QString keptCopy,
                                                      TransferProgressFunction progress)
{
    return replaceInto(m_state, std::move(source), std::move(name), std::move(parentID), std::move(storageID),
                       std::move(replacedID), std::move(keptCopy), std::move(progress));
}

QCoro::Task<> ResponderSession::close()
{
    return closeOf(m_state);
}

const std::shared_ptr<DeviceSession>& ResponderSession::real() const
{
    return m_state->session;
}

QStringList ResponderSession::operationsInFlight() const
{
    QStringList lines;
    for (const auto& [id, flight] : m_state->inFlight) {
        const qint64 running = flight.running.elapsed();
        QString line = flight.what + QStringLiteral(": running for ") + seconds(running);
        if (const qint64 bytes = flight.bytes->load(); bytes >= 0) {
            line +=
                QStringLiteral(", ") + QString::number(bytes) + QStringLiteral(" bytes reported, the last ") +
                seconds(std::max<qint64>(0, running - flight.reportedAt->load())) + QStringLiteral(" ago");
        }
        lines.append(line);
    }
    return lines;
}

} // namespace quillbarrow::e2e
