#include "LibMTPDeviceSession.h"
#include "domain/LocalPath.h"

#include "KnownFolders.h"
#include "LibMTPErrorMapper.h"
#include "LibMTPProgressBridge.h"
#include "LibMTPSessionHandle.h"
#include "async/AsyncGate.h"
#include "async/SerialExecutor.h"
#include "async/WorkPool.h"
#include "domain/BrowserSort.h"
#include "domain/QuillbarrowError.h"
#include "logging/AppLogger.h"

#include <QByteArray>
#include <QCoro/QCoroFuture>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QHash>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <type_traits>
#include <utility>

namespace quillbarrow {

struct LibMTPDeviceSession::Core {
    Core(CMTPDeviceHandle* pointer, std::shared_ptr<LibMTPBridge> bridge, LibMTPSessionServices services,
         std::optional<QString> deviceKey, std::optional<QString> formerDeviceKey)
        : bridge(bridge), handle(std::make_shared<LibMTPSessionHandle>(pointer, bridge)),
          closer(std::move(services.closer)),
          interruptedUploads(deviceKey ? std::move(services.interruptedUploads) : nullptr),
          deviceKey(interruptedUploads ? std::move(deviceKey) : std::nullopt),
          formerLog(formerDeviceKey ? std::move(services.interruptedUploads) : nullptr),
          formerDeviceKey(formerLog ? std::move(formerDeviceKey) : std::nullopt),
          interruptedUploadsDue(interruptedUploads != nullptr), known(bridge->rootParentID())
    {
    }
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    std::shared_ptr<LibMTPBridge> bridge;
    // Shared with the jobs on the workers, so the device is never closed under a running call.
    std::shared_ptr<LibMTPSessionHandle> handle;
    std::shared_ptr<SerialExecutor> closer;
    // Both set, or neither.
    std::shared_ptr<InterruptedUploadLog> interruptedUploads;
    std::optional<QString> deviceKey;
    // A log that an earlier version kept for a device it could not tell apart, to be emptied
    // once; both set, or neither.
    std::shared_ptr<InterruptedUploadLog> formerLog;
    std::optional<QString> formerDeviceKey;
    // Touched on the main thread only.
    AsyncGate gate;
    QList<StorageRoot> cachedStorages;
    // The bytes this session has sent to each storage since the storages were last read: the
    // free space the read gave, less these, is what an upload may count on without asking again.
    QHash<StorageID, std::uint64_t> sentSinceStorageRead;
    bool isClosed = false;
    // Whether the earlier sessions' interrupted uploads are still to be looked for.
    bool interruptedUploadsDue = false;
    KnownFolders known;
    // Declared last so that they are destroyed first: each waits for its running job, and the
    // jobs use nothing of the core but the bridge and the handle, which they hold themselves.
    SerialExecutor executor;
    SerialExecutor transfers;
};

// A session dropped without close() closes its device here, on a worker: closing talks to the
// device and may take a while, and the last owner is usually a main-thread coroutine. The closer
// is the backend's worker, which runs the backend's opens one at a time: queued now, the close
// comes before any open asked for after the drop.
LibMTPDeviceSession::Core::~Core()
{
    if (handle->pointer() == nullptr) {
        return;
    }
    auto closing = [handle = std::move(handle)] { handle->close(); };
    if (closer) {
        closer->run(std::move(closing));
    } else {
        workPool().start(std::move(closing));
    }
}

namespace {

// What the session does on its own, with nobody waiting for an answer, is told here.
const AppLogger& sessionLogger()
{
    static const AppLogger logger(QStringLiteral("LibMTPDeviceSession"));
    return logger;
}

using Core = LibMTPDeviceSession::Core;

// What a job on a worker needs of the session: never the core itself, whose last owner must
// be a main-thread coroutine (its executors wait for their jobs when destroyed).
struct BridgeAccess {
    std::shared_ptr<LibMTPBridge> bridge;
    std::shared_ptr<LibMTPSessionHandle> handle;

    // The open device handle; sessionFailed once it has been closed.
    CMTPDeviceHandle* device() const
    {
        CMTPDeviceHandle* const pointer = handle->pointer();
        if (pointer == nullptr) {
            throw QuillbarrowError::sessionFailed(LibMTPDeviceSession::closedMessage());
        }
        return pointer;
    }
};

BridgeAccess accessOf(const Core& core)
{
    return BridgeAccess{core.bridge, core.handle};
}

// A fixed-size text field of a bridge record: its bytes up to the first NUL (or the whole field
// when a NUL is missing), read as UTF-8 with malformed sequences replaced.
template <std::size_t capacity>
QString textOf(const char (&field)[capacity])
{
    const void* const end = std::memchr(field, '\0', capacity);
    const std::size_t length = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : capacity;
    return QString::fromUtf8(field, static_cast<qsizetype>(length));
}

QuillbarrowError mappedError(std::int32_t code, const char (&message)[CMTP_MESSAGE_CAPACITY])
{
    return LibMTPErrorMapper::map(code, textOf(message));
}

QuillbarrowError closedError()
{
    return QuillbarrowError::sessionFailed(LibMTPDeviceSession::closedMessage());
}

// A byte count of the device as a signed 64-bit number; absent when it does not fit.
std::optional<qint64> signedBytes(std::uint64_t bytes)
{
    if (bytes > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max())) {
        return std::nullopt;
    }
    return static_cast<qint64>(bytes);
}

StorageID storageIDOf(std::uint32_t id)
{
    return StorageID(QString::number(id));
}

RemoteObjectID objectIDOf(std::uint32_t id)
{
    return RemoteObjectID(QString::number(id));
}

StorageRoot storageRootOf(const CMTPStorageEntry& entry)
{
    QString name = textOf(entry.description);
    if (name.isEmpty()) {
        name = textOf(entry.volume_identifier);
    }
    if (name.isEmpty()) {
        name = QStringLiteral("Android storage");
    }
    return StorageRoot(storageIDOf(entry.storage_id), name, signedBytes(entry.max_capacity),
                       signedBytes(entry.free_space_bytes));
}

// A date of 0 means none; a date so far off that it cannot be represented is none as well.
std::optional<QDateTime> modificationDateOf(std::int64_t seconds)
{
    if (seconds < 1) {
        return std::nullopt;
    }
    const QDateTime date = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    if (!date.isValid()) {
        return std::nullopt;
    }
    return date;
}

RemoteItem itemOf(const CMTPObjectEntry& entry, const StorageID& storageID,
                  const std::optional<RemoteObjectID>& parentID, const RemotePath& path)
{
    const QString name = textOf(entry.filename);
    const bool folder = entry.is_folder == 1;
    return RemoteItem(objectIDOf(entry.item_id), storageID, parentID, name,
                      folder ? RemoteItemKind::folder : RemoteItemKind::file,
                      folder ? std::nullopt : signedBytes(entry.file_size), modificationDateOf(entry.modification_date),
                      path.appending(name));
}

// The entries of a bridge list record, each made into a value, or the mapped error of a failed
// call; the record is released either way.
template <typename List, typename Release, typename Make>
auto takeEntries(List list, Release release, Make make) -> QList<std::invoke_result_t<Make&, decltype(*list.entries)>>
{
    if (list.error_code != 0) {
        const QuillbarrowError error = mappedError(list.error_code, list.error_message);
        release(&list);
        throw error;
    }
    QList<std::invoke_result_t<Make&, decltype(*list.entries)>> values;
    if (list.entries != nullptr) {
        for (std::int32_t index = 0; index < list.count; ++index) {
            values.append(make(list.entries[index]));
        }
    }
    release(&list);
    return values;
}

// Runs on the session's executor.
QList<StorageRoot> readStoragesNow(const BridgeAccess& access)
{
    const auto release = [&access](CMTPStorageList* list) { access.bridge->freeStorageList(list); };
    return takeEntries(access.bridge->storages(access.device()), release,
                       [](const CMTPStorageEntry& entry) { return storageRootOf(entry); });
}

// Runs on the session's executor.
QList<RemoteItem> listNow(const BridgeAccess& access, std::uint32_t storage, std::uint32_t parent, StorageID storageID,
                          std::optional<RemoteObjectID> parentID, RemotePath path)
{
    const auto release = [&access](CMTPObjectList* list) { access.bridge->freeObjectList(list); };
    const QList<RemoteItem> items =
        takeEntries(access.bridge->listDirectory(access.device(), storage, parent), release,
                    [&](const CMTPObjectEntry& entry) { return itemOf(entry, storageID, parentID, path); });
    return sortedForBrowser(items, FileSort::name, true);
}

// Runs on the session's executor: throws the mapped error of a failed mutation.
std::uint32_t mutateNow(const CMTPMutationResult& result)
{
    if (result.error_code != 0) {
        throw mappedError(result.error_code, result.error_message);
    }
    return result.new_object_id;
}

// One attempt at sending a file, as the transfer worker saw it end.
struct UploadAttempt {
    // Stopped through the progress function, which asked to (`cancelled`) or threw (`failure`);
    // the bridge then removed what the attempt had sent.
    bool cancelled = false;
    std::exception_ptr failure;
    std::int32_t code = 0;
    QString message;
    // The new object's id; after a failure, the id of what the failed attempt left (0 for none).
    std::uint32_t objectID = 0;
    // When the source file ran out before its size was read: the bytes read from it.
    std::optional<std::uint64_t> sourceEndedAfter;
    // Whether the job wrote the upload's note before sending, and removed it after.
    bool noteWritten = false;
    bool noteRemoved = false;
};

// Runs on the transfer worker. `sameNamed` are the objects of that name that the folder holds, when
// the session knows them.
UploadAttempt uploadNow(const BridgeAccess& access, const QByteArray& source, std::uint32_t parent,
                        std::uint32_t storage, const QByteArray& name, std::uint64_t size,
                        const std::optional<QList<std::uint32_t>>& sameNamed, const TransferProgressFunction& progress)
{
    CMTPDeviceHandle* const device = access.device();
    std::optional<LibMTPProgressBridge::Box> box;
    if (progress) {
        box.emplace(progress);
    }
    const CMTPMutationResult result = access.bridge->uploadFile(
        device, source.constData(), parent, storage, name.constData(), size,
        sameNamed ? sameNamed->constData() : nullptr, sameNamed ? static_cast<std::int32_t>(sameNamed->size()) : -1,
        box ? &LibMTPProgressBridge::trampoline : nullptr, box ? &*box : nullptr);
    if (box && (box->failure || box->cancelled.load())) {
        UploadAttempt stopped;
        stopped.cancelled = true;
        stopped.failure = box->failure;
        return stopped;
    }
    UploadAttempt ended;
    ended.code = result.error_code;
    ended.message = textOf(result.error_message);
    ended.objectID = result.new_object_id;
    if (result.source_ended_early != 0) {
        ended.sourceEndedAfter = result.source_bytes_read;
    }
    return ended;
}

// Runs on the transfer worker.
void downloadNow(const BridgeAccess& access, std::uint32_t object, const QByteArray& destination,
                 std::optional<std::uint64_t> listedSize, const TransferProgressFunction& progress)
{
    CMTPDeviceHandle* const device = access.device();
    std::optional<LibMTPProgressBridge::Box> box;
    if (progress) {
        box.emplace(progress);
    }
    const CMTPMutationResult result =
        access.bridge->downloadFile(device, object, destination.constData(),
                                    listedSize && *listedSize <= static_cast<std::uint64_t>(
                                                                     std::numeric_limits<std::int64_t>::max())
                                        ? static_cast<std::int64_t>(*listedSize)
                                        : -1,
                                    box ? &LibMTPProgressBridge::trampoline : nullptr, box ? &*box : nullptr);
    if (box && box->failure) {
        std::rethrow_exception(box->failure);
    }
    // Whatever the bridge answered: the caller asked to stop.
    if (box && box->cancelled.load()) {
        throw QuillbarrowError::userCancelled();
    }
    // Writing the file here failed: the computer's fault, named with the system's own words for
    // its cause (taken from the number: the bridge's message is cut at its capacity).
    if (result.local_error != 0) {
        throw QuillbarrowError::localFileFailed(QStringLiteral("Could not write ") +
                                                    LocalPath::shown(LocalPath::decoded(destination)) +
                                                    QStringLiteral(": ") + qt_error_string(result.local_error),
                                                result.local_error);
    }
    mutateNow(result);
}

// A failure that the device itself answered (it is still there to be asked), not one of a device
// that went away or stopped answering.
bool answeredRefusal(const QuillbarrowError& error)
{
    return error.kind() == QuillbarrowError::Kind::transferFailed ||
           error.kind() == QuillbarrowError::Kind::insufficientSpace;
}

bool isRetriedUploadFailure(const QuillbarrowError& error)
{
    switch (error.kind()) {
    case QuillbarrowError::Kind::transferFailed:
    case QuillbarrowError::Kind::backendProtocolError:
    case QuillbarrowError::Kind::unknown:
    case QuillbarrowError::Kind::transferInterrupted:
        return true;
    default:
        return false;
    }
}

std::uint32_t requireMTPID(const QString& text)
{
    const std::optional<std::uint32_t> id = LibMTPDeviceSession::mtpID(text);
    if (!id) {
        throw QuillbarrowError::pathNotFound();
    }
    return *id;
}

// The parent to create in: the storage root when absent, else the parent's own id (an id that
// cannot be read is pathNotFound, never the root: the new item must not land elsewhere).
std::uint32_t parentNumber(const std::optional<RemoteObjectID>& parentID, LibMTPBridge& bridge)
{
    return parentID ? requireMTPID(parentID->rawValue()) : bridge.rootParentID();
}

// Where a new item lies, as far as the session knows it: only in the storage root.
std::optional<RemotePath> newItemPath(const StorageID& storageID, const std::optional<RemoteObjectID>& parentID,
                                      const QString& name)
{
    if (parentID) {
        return std::nullopt;
    }
    return RemotePath(storageID, {name});
}

// Takes the gate. It is only ever withdrawn when the gate itself goes away, which the core that
// the caller holds prevents; the check keeps that assumption from turning into a race.
QCoro::Task<AsyncGate::Lease> enter(std::shared_ptr<Core> core)
{
    AsyncGate::Lease lease = co_await core->gate.acquire();
    if (!lease) {
        throw closedError();
    }
    co_return lease;
}

void requireOpen(const Core& core)
{
    if (core.isClosed || core.handle->pointer() == nullptr) {
        throw closedError();
    }
}

// Reads the storages afresh and keeps them as the cache. The caller holds the gate.
QCoro::Task<QList<StorageRoot>> refreshStorages(std::shared_ptr<Core> core)
{
    const BridgeAccess access = accessOf(*core);
    QFuture<QList<StorageRoot>> reading = core->executor.run([access] { return readStoragesNow(access); });
    QList<StorageRoot> roots = co_await reading;
    core->cachedStorages = roots;
    core->sentSinceStorageRead.clear();
    co_return roots;
}

// The known storage of that id; the storages are read first while none are known.
QCoro::Task<std::optional<StorageRoot>> storageFor(std::shared_ptr<Core> core, StorageID storageID)
{
    if (core->cachedStorages.isEmpty()) {
        QCoro::Task<QList<StorageRoot>> refreshing = refreshStorages(core);
        co_await refreshing;
    }
    for (const StorageRoot& storage : core->cachedStorages) {
        if (storage.id == storageID) {
            co_return storage;
        }
    }
    co_return std::nullopt;
}

QCoro::Task<QList<RemoteItem>> listOn(std::shared_ptr<Core> core, StorageID storageID, std::uint32_t parent,
                                      std::optional<RemoteObjectID> parentID, RemotePath path)
{
    const std::uint32_t storage = requireMTPID(storageID.rawValue());
    const BridgeAccess access = accessOf(*core);
    QFuture<QList<RemoteItem>> listing = core->executor.run([access, storage, parent, storageID, parentID, path] {
        return listNow(access, storage, parent, storageID, parentID, path);
    });
    QList<RemoteItem> items = co_await listing;
    core->known.listed(storage, parent, items);
    co_return items;
}

// Turns anything but the system's own error into it, so that callers see QuillbarrowError only.
template <typename T>
QCoro::Task<T> withSessionErrors(QCoro::Task<T> operation)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await operation;
        } else {
            co_return co_await operation;
        }
    } catch (const QuillbarrowError&) {
        throw;
    } catch (...) {
        throw QuillbarrowError::fromException(std::current_exception());
    }
}

// Deletes one object; a failure is the mapped error.
QCoro::Task<> deleteObject(std::shared_ptr<Core> core, std::uint32_t object)
{
    const BridgeAccess access = accessOf(*core);
    QFuture<void> deleting = core->executor.run([access, object] {
        mutateNow(access.bridge->deleteObject(access.device(), object));
    });
    co_await deleting;
    core->known.deleted(object);
}

// The folders of `items` named `name`.
QList<RemoteItem> foldersNamed(const QList<RemoteItem>& items, const QString& name)
{
    QList<RemoteItem> folders;
    for (const RemoteItem& item : items) {
        if (item.kind == RemoteItemKind::folder && item.name == name) {
            folders.append(item);
        }
    }
    return folders;
}

QCoro::Task<bool> sendBack(std::shared_ptr<Core> core, QString keptCopy, QString name, std::uint32_t parent,
                           std::optional<RemoteObjectID> parentID, StorageID storageID);
QString keepUnderName(const QString& keptCopy, const QString& name);

// When the kept copy of `entry`'s replaced object cannot go back (where it belongs cannot be told
// for certain), it stays on the computer under the file's own name, where a person can find it,
// and the log says where. True once nothing points at the copy any more: there is none, or it has
// its name; false when it could not be given one, so that the entry, which still knows it, stays.
bool keepCopyForGood(const InterruptedUploadLog::Entry& entry, const QString& why)
{
    if (entry.keptCopy.isEmpty() || !QFileInfo::exists(entry.keptCopy)) {
        return true;
    }
    const QString keptAs = keepUnderName(entry.keptCopy, entry.name);
    sessionLogger().error(QStringLiteral("The replaced ") + entry.name +
                          QStringLiteral(" could not be put back on the device (") + why +
                          QStringLiteral("); a copy of it is kept at ") + keptAs + QLatin1Char('.'));
    return keptAs != entry.keptCopy;
}

// The device's note of `entry` rewritten to stand for its kept copy, of `copySize` bytes, about to
// be sent back: an object of the name smaller than that is then what a cut-short send-back left,
// never the new file. Nothing when the note could not be written.
QCoro::Task<std::optional<InterruptedUploadLog::Entry>> noteSendingBack(std::shared_ptr<Core> core,
                                                                        InterruptedUploadLog::Entry entry,
                                                                        qint64 copySize)
{
    if (entry.size == copySize) {
        co_return entry;
    }
    entry.size = copySize;
    const std::shared_ptr<InterruptedUploadLog> log = core->interruptedUploads;
    const QString device = *core->deviceKey;
    try {
        PoolCall<bool> writing = core->executor.call([log, device, entry] { return log->add(device, entry); });
        if (co_await std::move(writing)) {
            co_return entry;
        }
    } catch (...) {
        // Not written: the copy waits for a session that can note it.
    }
    co_return std::nullopt;
}

// Looks for what an interrupted upload left: the only object of its name in its folder, a file
// smaller than the whole, is deleted. True once nothing more is to be done about the entry (that
// object deleted, or nothing there that may be taken for it; a kept copy sent back, or given its
// name where it cannot go back); a failure to ask the device (a failed listing or deletion) is
// thrown, and the entry stays for the next session.
QCoro::Task<bool> settleInterruptedUpload(std::shared_ptr<Core> core, InterruptedUploadLog::Entry entry)
{
    const std::optional<std::uint32_t> storage = LibMTPDeviceSession::mtpID(entry.storageID);
    if (!storage) {
        co_return keepCopyForGood(entry, QStringLiteral("its storage is not known"));
    }
    const StorageID storageID(entry.storageID);
    QCoro::Task<std::optional<StorageRoot>> finding = storageFor(core, storageID);
    if (!co_await finding) {
        co_return false; // a card that is not in the phone now, say
    }
    std::uint32_t parent = core->bridge->rootParentID();
    std::optional<RemoteObjectID> parentID;
    RemotePath path(storageID, {});
    for (const QString& folder : entry.folder) {
        QCoro::Task<QList<RemoteItem>> listing = listOn(core, storageID, parent, parentID, path);
        const QList<RemoteItem> found = foldersNamed(co_await listing, folder);
        // Gone, or more than one folder of that name: nothing can be told for certain.
        if (found.size() != 1) {
            const QString what =
                found.isEmpty() ? QStringLiteral("no folder ") : QStringLiteral("more than one folder ");
            co_return keepCopyForGood(entry, what + path.appending(folder).description() +
                                                 QStringLiteral(" is on the device"));
        }
        parent = requireMTPID(found.first().id.rawValue());
        parentID = found.first().id;
        path = path.appending(folder);
    }
    QCoro::Task<QList<RemoteItem>> listing = listOn(core, storageID, parent, parentID, path);
    const QList<RemoteItem> items = co_await listing;
    QList<RemoteItem> named;
    for (const RemoteItem& item : items) {
        if (item.name == entry.name) {
            named.append(item);
        }
    }
    const bool oneFile = named.size() == 1 && named.first().kind == RemoteItemKind::file && named.first().size;
    const bool whole = oneFile && *named.first().size >= entry.size;
    if (!entry.keptCopy.isEmpty() && !QFileInfo::exists(entry.keptCopy)) {
        entry.keptCopy.clear(); // nothing left to send back
    }
    if (entry.keptCopy.isEmpty() && (!oneFile || whole)) {
        co_return true;
    }
    if (whole) {
        QFile::remove(entry.keptCopy); // the new file arrived after all
        co_return true;
    }
    if (oneFile) {
        QCoro::Task<> deleting = deleteObject(core, requireMTPID(named.first().id.rawValue()));
        co_await deleting;
    } else if (!named.isEmpty()) {
        // Nothing can be told for certain.
        co_return keepCopyForGood(entry, QStringLiteral("its folder holds more than one item of that name, "
                                                        "or one that is not a file"));
    }
    if (entry.keptCopy.isEmpty()) {
        co_return true;
    }
    // The replaced object goes back in its place; should that fail, the note stays.
    QCoro::Task<std::optional<InterruptedUploadLog::Entry>> noting =
        noteSendingBack(core, entry, QFileInfo(entry.keptCopy).size());
    if (!co_await noting) {
        co_return false;
    }
    QCoro::Task<bool> restoring = sendBack(core, entry.keptCopy, entry.name, parent, parentID, storageID);
    if (!co_await restoring) {
        co_return false;
    }
    QFile::remove(entry.keptCopy);
    co_return true;
}

// Settles the entries that earlier sessions left in the log for this device.
QCoro::Task<> settleInterruptedUploads(std::shared_ptr<Core> core)
{
    const std::shared_ptr<InterruptedUploadLog> log = core->interruptedUploads;
    const QString device = *core->deviceKey;
    try {
        QFuture<QList<InterruptedUploadLog::Entry>> reading = core->executor.run([log, device] {
            return log->entries(device);
        });
        const QList<InterruptedUploadLog::Entry> entries = co_await reading;
        for (const InterruptedUploadLog::Entry& entry : entries) {
            QCoro::Task<bool> settling = settleInterruptedUpload(core, entry);
            if (!co_await settling) {
                continue;
            }
            QFuture<bool> removing = core->executor.run([log, device, entry] { return log->remove(device, entry); });
            co_await removing;
        }
    } catch (...) {
        // The device did not answer: what is left in the log is looked for by the next session.
    }
    QFuture<void> compacting = core->executor.run([log, device] { log->compact(device); });
    co_await compacting;
}

// Takes the gate for an operation on the open device. The session's first such operation first
// settles what interrupted uploads of earlier sessions left, so that nothing it lists shows them.
QCoro::Task<AsyncGate::Lease> enterOpen(std::shared_ptr<Core> core)
{
    QCoro::Task<AsyncGate::Lease> entering = enter(core);
    AsyncGate::Lease lease = co_await entering;
    requireOpen(*core);
    if (const std::shared_ptr<InterruptedUploadLog> former = std::exchange(core->formerLog, nullptr)) {
        // Nothing on the device is touched for it: the device may be another of the model. The
        // copies the log knows stay here, under their own names.
        QFuture<void> emptying = core->executor.run([former, key = *core->formerDeviceKey] {
            for (const InterruptedUploadLog::Entry& entry : former->entries(key)) {
                if (keepCopyForGood(entry, QStringLiteral("the device cannot be told from another of its model"))) {
                    former->remove(key, entry);
                }
            }
            former->compact(key);
        });
        co_await emptying;
        requireOpen(*core);
    }
    if (core->interruptedUploadsDue) {
        core->interruptedUploadsDue = false;
        QCoro::Task<> settling = settleInterruptedUploads(core);
        co_await settling;
        requireOpen(*core);
    }
    co_return lease;
}

QCoro::Task<QList<StorageRoot>> storagesOn(std::shared_ptr<Core> core)
{
    const AsyncGate::Lease lease = co_await enterOpen(core);
    QCoro::Task<QList<StorageRoot>> refreshing = refreshStorages(core);
    co_return co_await refreshing;
}

QCoro::Task<DirectoryPage> rootDirectoryOn(std::shared_ptr<Core> core, StorageID storageID)
{
    const AsyncGate::Lease lease = co_await enterOpen(core);
    requireMTPID(storageID.rawValue());
    QCoro::Task<std::optional<StorageRoot>> finding = storageFor(core, storageID);
    const std::optional<StorageRoot> storage = co_await finding;
    if (!storage) {
        throw QuillbarrowError::pathNotFound();
    }
    const std::uint32_t root = core->bridge->rootParentID();
    const RemotePath path(storageID, {});
    QCoro::Task<QList<RemoteItem>> listing = listOn(core, storageID, root, std::nullopt, path);
    QList<RemoteItem> items = co_await listing;
    co_return DirectoryPage(*storage, path, std::nullopt, std::move(items));
}

QCoro::Task<DirectoryPage> listDirectoryOn(std::shared_ptr<Core> core, RemoteObjectID parentID, RemotePath path)
{
    const AsyncGate::Lease lease = co_await enterOpen(core);
    requireMTPID(path.storageID.rawValue());
    const std::uint32_t parent = requireMTPID(parentID.rawValue());
    QCoro::Task<std::optional<StorageRoot>> finding = storageFor(core, path.storageID);
    const std::optional<StorageRoot> storage = co_await finding;
    if (!storage) {
        throw QuillbarrowError::pathNotFound();
    }
    QCoro::Task<QList<RemoteItem>> listing = listOn(core, path.storageID, parent, parentID, path);
    QList<RemoteItem> items = co_await listing;
    co_return DirectoryPage(*storage, path, parentID, std::move(items));
}

QCoro::Task<RemoteItem> createFolderOn(std::shared_ptr<Core> core, QString name, std::optional<RemoteObjectID> parentID,
                                       StorageID storageID)
{
    const AsyncGate::Lease lease = co_await enterOpen(core);
    const std::uint32_t storage = requireMTPID(storageID.rawValue());
    const std::uint32_t parent = parentNumber(parentID, *core->bridge);
    const BridgeAccess access = accessOf(*core);
    const QByteArray utf8 = name.toUtf8();
    QFuture<std::uint32_t> creating = core->executor.run([access, utf8, parent, storage] {
        return mutateNow(access.bridge->createFolder(access.device(), utf8.constData(), parent, storage));
    });
    std::uint32_t created = 0;
    try {
        created = co_await creating;
    } catch (...) {
        core->known.forget(storage, parent); // the folder may have been made all the same
        throw;
    }
    core->known.added(storage, parent, created, name, true);
    co_return RemoteItem(objectIDOf(created), storageID, parentID, name, RemoteItemKind::folder, std::nullopt,
                         QDateTime::currentDateTimeUtc(), newItemPath(storageID, parentID, name));
}

QCoro::Task<> renameOn(std::shared_ptr<Core> core, RemoteObjectID itemID, QString newName)
{
    const AsyncGate::Lease lease = co_await enterOpen(core);
    const std::uint32_t object = requireMTPID(itemID.rawValue());
    const BridgeAccess access = accessOf(*core);
    const QByteArray utf8 = newName.toUtf8();
    QFuture<void> renaming = core->executor.run([access, object, utf8] {
        mutateNow(access.bridge->renameObject(access.device(), object, utf8.constData()));
    });
    try {
        co_await renaming;
    } catch (...) {
        core->known.renamed(object, std::nullopt);
        throw;
    }
    core->known.renamed(object, newName);
}

QCoro::Task<> deleteOn(std::shared_ptr<Core> core, RemoteObjectID itemID)
{
    const AsyncGate::Lease lease = co_await enterOpen(core);
    QCoro::Task<> deleting = deleteObject(core, requireMTPID(itemID.rawValue()));
    co_await deleting;
}

QCoro::Task<> downloadOn(std::shared_ptr<Core> core, RemoteObjectID itemID, QString destination,
                         TransferProgressFunction progress)
{
    const AsyncGate::Lease lease = co_await enterOpen(core);
    const std::uint32_t object = requireMTPID(itemID.rawValue());
    const BridgeAccess access = accessOf(*core);
    const QByteArray path = LocalPath::encoded(destination);
    // The size the session's listing showed: the device need not be asked for it again.
    const std::optional<std::uint64_t> listedSize = core->known.listedSize(object);
    PoolCall<void> downloading = core->transfers.call([access, object, path, listedSize, progress] {
        downloadNow(access, object, path, listedSize, progress);
    });
    co_await std::move(downloading);
}

// The free space of the storage as the session reckons it: what the last storage read gave, less
// what the session has sent there since. Nothing when unknown (not read yet, not listed, or not
// reported by the device).
std::optional<std::uint64_t> reckonedFreeSpace(const Core& core, const StorageID& storageID)
{
    for (const StorageRoot& storage : core.cachedStorages) {
        if (storage.id == storageID) {
            if (!storage.freeSpace) {
                return std::nullopt;
            }
            const std::uint64_t read = static_cast<std::uint64_t>(*storage.freeSpace);
            const std::uint64_t sent = core.sentSinceStorageRead.value(storageID);
            return read > sent ? read - sent : 0;
        }
    }
    return std::nullopt;
}

// The check before an upload: a file larger than the free space of its storage is refused. The
// device is asked for its storages only when the session has none yet, or when the file would not
// fit the free space as the session reckons it (the last read, less what it has sent since): a
// batch of uploads asks once, and asks again before it fails a file. When that read fails, the
// reckoning stands: a file that does not fit it is refused all the same, as one failed read says
// nothing of room made since. Only where nothing is known of the free space (a size that cannot be
// read, a storage never listed or whose free space the device does not report) does the upload go
// ahead unchecked. Gives the file's size, 0 when it could not be read.
QCoro::Task<std::uint64_t> checkFreeSpace(std::shared_ptr<Core> core, QByteArray source, StorageID storageID)
{
    // A local file's attributes: read here rather than handed to a worker and back.
    struct stat info {};
    const qint64 sized = ::stat(source.constData(), &info) == 0 ? static_cast<qint64>(info.st_size) : 0;
    const std::uint64_t size = sized > 0 ? static_cast<std::uint64_t>(sized) : std::uint64_t{0};
    if (size == 0) {
        co_return size;
    }
    bool listed = false;
    for (const StorageRoot& storage : core->cachedStorages) {
        listed = listed || storage.id == storageID;
    }
    const std::optional<std::uint64_t> reckoned = reckonedFreeSpace(*core, storageID);
    if (listed && (!reckoned || size <= *reckoned)) {
        co_return size;
    }
    std::optional<QuillbarrowError> unread;
    try {
        QCoro::Task<QList<StorageRoot>> refreshing = refreshStorages(core);
        co_await refreshing;
    } catch (...) {
        unread = QuillbarrowError::fromException(std::current_exception());
    }
    if (unread) {
        sessionLogger().info(QStringLiteral("Could not read the storages before sending ") +
                             LocalPath::shown(LocalPath::decoded(source)) + QStringLiteral(" (") +
                             QString::number(size) + QStringLiteral(" bytes): ") +
                             unread->technicalDetails() +
                             QStringLiteral("; the free space last read leaves ") +
                             (reckoned ? QString::number(*reckoned) + QStringLiteral(" bytes")
                                       : QStringLiteral("nothing known")));
        if (reckoned && size > *reckoned) {
            throw QuillbarrowError::insufficientSpace();
        }
        co_return size;
    }
    const std::optional<std::uint64_t> freeSpace = reckonedFreeSpace(*core, storageID);
    if (freeSpace && size > *freeSpace) {
        throw QuillbarrowError::insufficientSpace();
    }
    co_return size;
}

// Removes what a failed attempt left on the device; a failure to do so is not the upload's error.
// True when it is gone.
QCoro::Task<bool> removeLeftover(std::shared_ptr<Core> core, std::uint32_t object)
{
    const BridgeAccess access = accessOf(*core);
    QFuture<bool> deleting = core->executor.run([access, object] {
        CMTPDeviceHandle* const device = access.handle->pointer();
        return device != nullptr && access.bridge->deleteObject(device, object).error_code == 0;
    });
    try {
        co_return co_await deleting;
    } catch (...) {
        co_return false;
    }
}

// What an upload may leave on the device should it end unseen: noted in the log before sending,
// removed once the session knows. Does nothing without a log. The record is written and, once the
// file is sent, removed by the transfer's own job on the transfer worker, so that a batch of small
// files pays no hand-off to the session's worker and back for either.
class UploadNote {
public:
    explicit UploadNote(std::shared_ptr<Core> core) : m_core(std::move(core)) {}

    // What the upload is about to create, to be noted just before it is sent; a note that cannot
    // be written is no reason not to send.
    void prepare(InterruptedUploadLog::Entry entry) { m_pending = std::move(entry); }

    // The part of the note that the transfer's job does: the record to write before sending and
    // the record to remove once the file is sent, with the log and the device's key. Runs on the
    // transfer worker; the log is thread-safe.
    struct Work {
        std::shared_ptr<InterruptedUploadLog> log;
        QString device;
        std::optional<InterruptedUploadLog::Entry> toWrite;
        std::optional<InterruptedUploadLog::Entry> written;

        // Gives whether the record was written.
        bool writeBeforeSending() const { return toWrite && log->add(device, *toWrite); }
        // After the file was sent whole: the note has served. Gives whether it was removed.
        bool removeAfterSending(bool justWritten) const
        {
            const std::optional<InterruptedUploadLog::Entry>& entry = justWritten ? toWrite : written;
            return entry && log->remove(device, *entry);
        }
    };

    // Hands the pending record to the job of the next attempt (written once, by the first).
    Work work()
    {
        if (!m_core->interruptedUploads) {
            return Work{};
        }
        return Work{m_core->interruptedUploads, *m_core->deviceKey, std::exchange(m_pending, std::nullopt), m_entry};
    }

    // What the attempt's job did with the note.
    void settle(const Work& work, bool written, bool removed)
    {
        if (written) {
            m_entry = work.toWrite;
        }
        if (removed) {
            m_entry.reset();
        }
    }

    bool isWritten() const { return m_entry.has_value(); }

    // Before the kept copy of a replaced object is sent back: the note is made to stand for the
    // copy (its size), so that a send-back cut short is never taken for the new file having
    // arrived whole, which would let the copy go. False when the note could not be changed: the
    // copy is then not to be sent now.
    QCoro::Task<bool> standForCopy(qint64 copySize)
    {
        if (!m_entry) {
            co_return true;
        }
        QCoro::Task<std::optional<InterruptedUploadLog::Entry>> noting = noteSendingBack(m_core, *m_entry, copySize);
        const std::optional<InterruptedUploadLog::Entry> rewritten = co_await noting;
        if (!rewritten) {
            co_return false;
        }
        m_entry = rewritten;
        co_return true;
    }

    // The session knows what the upload left.
    QCoro::Task<> clear()
    {
        if (!m_entry) {
            co_return;
        }
        const std::shared_ptr<InterruptedUploadLog> log = m_core->interruptedUploads;
        const QString device = *m_core->deviceKey;
        const InterruptedUploadLog::Entry entry = *std::exchange(m_entry, std::nullopt);
        PoolCall<bool> removing = m_core->executor.call([log, device, entry] { return log->remove(device, entry); });
        co_await std::move(removing);
    }

private:
    std::shared_ptr<Core> m_core;
    std::optional<InterruptedUploadLog::Entry> m_pending;
    std::optional<InterruptedUploadLog::Entry> m_entry;
};

// Notes an upload before it is sent, where that is safe: the device can be told apart from others,
// the session knows the folder's path, and the folder holds no object of the file's name (an older
// object of that name must never pass for what the upload left). A folder whose path is known
// but whose objects are not is listed for it. Gives the objects of that name that the folder holds,
// when known. `keptCopy` goes into the note: what to send back should the upload not arrive whole.
QCoro::Task<std::optional<QList<std::uint32_t>>> noteUpload(std::shared_ptr<Core> core, UploadNote* note,
                                                            StorageID storageID, std::uint32_t parent,
                                                            std::optional<RemoteObjectID> parentID, QString name,
                                                            std::uint64_t size, QString keptCopy = QString())
{
    const std::uint32_t storage = requireMTPID(storageID.rawValue());
    std::optional<QList<std::uint32_t>> sameNamed = core->known.named(storage, parent, name);
    const std::optional<QStringList> folder = core->known.pathOf(storage, parent);
    if (!core->interruptedUploads || (size == 0 && keptCopy.isEmpty()) || !folder) {
        co_return sameNamed;
    }
    if (!sameNamed) {
        try {
            QCoro::Task<QList<RemoteItem>> listing =
                listOn(core, storageID, parent, parentID, RemotePath(storageID, *folder));
            co_await listing;
        } catch (...) {
            co_return sameNamed; // the upload's own call will tell
        }
        sameNamed = core->known.named(storage, parent, name);
    }
    if (sameNamed && sameNamed->isEmpty()) {
        note->prepare(
            InterruptedUploadLog::Entry{storageID.rawValue(), *folder, name, static_cast<qint64>(size), keptCopy});
    }
    co_return sameNamed;
}

// After a stop: whether the folder is known to hold nothing of what the upload made, deleting
// what the bridge could not. A device that has gone cannot tell, nor can a session that did not
// know the folder's objects of that name before.
QCoro::Task<bool> nothingLeftAfterStop(std::shared_ptr<Core> core, StorageID storageID, std::uint32_t parent,
                                       std::optional<RemoteObjectID> parentID, QString name,
                                       std::optional<QList<std::uint32_t>> sameNamed)
{
    const std::uint32_t storage = requireMTPID(storageID.rawValue());
    const std::optional<QStringList> folder = core->known.pathOf(storage, parent);
    if (!sameNamed || !folder) {
        co_return false;
    }
    try {
        QCoro::Task<QList<RemoteItem>> listing =
            listOn(core, storageID, parent, parentID, RemotePath(storageID, *folder));
        const QList<RemoteItem> items = co_await listing;
        for (const RemoteItem& item : items) {
            const std::optional<std::uint32_t> id = LibMTPDeviceSession::mtpID(item.id.rawValue());
            if (item.name != name || !id || sameNamed->contains(*id)) {
                continue;
            }
            QCoro::Task<> deleting = deleteObject(core, *id);
            co_await deleting;
        }
    } catch (...) {
        co_return false;
    }
    co_return true;
}

// Why a failed upload failed when its source was cut while it was being sent. The bridge tells how
// many bytes it read before the file ran out (`read`). When the attempt failed otherwise before
// it got there, a file now shorter than the size it is sent with fails as well: sending it again
// could read no more than it holds now.
std::optional<QuillbarrowError> endedEarly(const QByteArray& sourcePath, std::uint64_t size,
                                           std::optional<std::uint64_t> read)
{
    const QString path = QFile::decodeName(sourcePath);
    if (!read) {
        const QFileInfo now(path);
        if (!now.exists() || static_cast<std::uint64_t>(std::max<qint64>(now.size(), 0)) >= size) {
            return std::nullopt;
        }
        read = static_cast<std::uint64_t>(now.size());
    }
    return QuillbarrowError::transferFailed(QStringLiteral("Could not send ") + path + QStringLiteral(": it ended after ") +
                                            QString::number(*read) + QStringLiteral(" of the ") +
                                            QString::number(size) +
                                            QStringLiteral(" bytes it had when the upload began."));
}

// How the sending of a file ended.
struct UploadEnd {
    // The new object's id, when it was sent.
    std::optional<std::uint32_t> created;
    std::exception_ptr failure;
    // Whether something the upload made may still be on the device.
    bool mayHaveLeftSomething = false;
};

// Sends the file, once more after a failure of the transfer itself, removing what a failed
// attempt left. The caller holds the gate and settles the note.
QCoro::Task<UploadEnd> sendNoted(std::shared_ptr<Core> core, QByteArray sourcePath, QString name,
                                 std::uint32_t parent, std::optional<RemoteObjectID> parentID, StorageID storageID,
                                 std::uint64_t size, std::optional<QList<std::uint32_t>> sameNamed,
                                 TransferProgressFunction progress, UploadNote* note)
{
    const std::uint32_t storage = requireMTPID(storageID.rawValue());
    const BridgeAccess access = accessOf(*core);
    const QByteArray utf8 = name.toUtf8();
    UploadEnd end;
    for (int attempt = 1;; ++attempt) {
        const UploadNote::Work noting = note->work();
        PoolCall<UploadAttempt> sending =
            core->transfers.call([access, sourcePath, parent, storage, utf8, size, sameNamed, progress, noting] {
                const bool written = noting.writeBeforeSending();
                UploadAttempt attempt = uploadNow(access, sourcePath, parent, storage, utf8, size, sameNamed, progress);
                attempt.noteWritten = written;
                attempt.noteRemoved = !attempt.cancelled && attempt.code == 0 && noting.removeAfterSending(written);
                return attempt;
            });
        UploadAttempt outcome;
        try {
            outcome = co_await std::move(sending);
            note->settle(noting, outcome.noteWritten, outcome.noteRemoved);
        } catch (...) {
            core->known.forget(storage, parent);
            end.failure = std::current_exception();
            end.mayHaveLeftSomething = true;
            co_return end;
        }
        if (outcome.cancelled) {
            // The bridge has removed the partly sent object, as far as the device let it: a
            // device that left the bus over the stop kept it, and the note stays for the next
            // session unless a look at the folder shows nothing left.
            core->known.forget(storage, parent);
            if (note->isWritten()) {
                QCoro::Task<bool> looking = nothingLeftAfterStop(core, storageID, parent, parentID, name, sameNamed);
                end.mayHaveLeftSomething = !co_await looking;
            }
            end.failure = outcome.failure ? outcome.failure
                                          : std::make_exception_ptr(QuillbarrowError::userCancelled());
            co_return end;
        }
        if (outcome.code == 0) {
            // What the storage holds more now, as far as the session's reckoning of its free
            // space goes.
            core->sentSinceStorageRead[storageID] += size;
            end.created = outcome.objectID;
            co_return end;
        }
        core->known.forget(storage, parent);
        const std::optional<QuillbarrowError> ended = endedEarly(sourcePath, size, outcome.sourceEndedAfter);
        const QuillbarrowError error = ended ? *ended : LibMTPErrorMapper::map(outcome.code, outcome.message);
        // A partly sent object would pass for the file under its final name: never leave one. One
        // that cannot be deleted now (the device has gone, say), or that libmtp gave no id for,
        // stays noted for the next session.
        bool removed = false;
        if (outcome.objectID != 0) {
            QCoro::Task<bool> removing = removeLeftover(core, outcome.objectID);
            removed = co_await removing;
        } else if ((ended && note->isWritten()) || answeredRefusal(error)) {
            // No id: the bridge stopped the transfer as a cancel does, or the device answered
            // with a refusal. A look at the folder then tells whether anything was left, so that
            // a replaced file can go back at once; a device that has gone or stopped answering is
            // not asked again here.
            QCoro::Task<bool> looking = nothingLeftAfterStop(core, storageID, parent, parentID, name, sameNamed);
            removed = co_await looking;
        }
        end.mayHaveLeftSomething = end.mayHaveLeftSomething || !removed;
        // A source that ended early would end early again.
        if (attempt > 1 || !isRetriedUploadFailure(error) || ended) {
            end.failure = std::make_exception_ptr(error);
            co_return end;
        }
    }
}

RemoteItem uploadedItem(std::uint32_t created, const StorageID& storageID,
                        const std::optional<RemoteObjectID>& parentID, const QString& name, std::uint64_t size)
{
    return RemoteItem(objectIDOf(created), storageID, parentID, name, RemoteItemKind::file,
                      static_cast<qint64>(size), QDateTime::currentDateTimeUtc(),
                      newItemPath(storageID, parentID, name));
}

QCoro::Task<RemoteItem> uploadOn(std::shared_ptr<Core> core, QString source, QString name,
                                 std::optional<RemoteObjectID> parentID, StorageID storageID,
                                 TransferProgressFunction progress)
{
    const AsyncGate::Lease lease = co_await enterOpen(core);
    const std::uint32_t storage = requireMTPID(storageID.rawValue());
    const std::uint32_t parent = parentNumber(parentID, *core->bridge);
    const QByteArray sourcePath = LocalPath::encoded(source);
    QCoro::Task<std::uint64_t> checking = checkFreeSpace(core, sourcePath, storageID);
    const std::uint64_t size = co_await checking;
    UploadNote note(core);
    QCoro::Task<std::optional<QList<std::uint32_t>>> noting =
        noteUpload(core, &note, storageID, parent, parentID, name, size);
    const std::optional<QList<std::uint32_t>> sameNamed = co_await noting;

    QCoro::Task<UploadEnd> sending =
        sendNoted(core, sourcePath, name, parent, parentID, storageID, size, sameNamed, progress, &note);
    const UploadEnd end = co_await sending;
    if (end.created && *end.created != 0) {
        core->known.added(storage, parent, *end.created, name, false);
    } else if (end.created) {
        core->known.forget(storage, parent);
    }
    if (end.created || !end.mayHaveLeftSomething) {
        QCoro::Task<> clearing = note.clear();
        co_await clearing;
    }
    if (end.failure) {
        std::rethrow_exception(end.failure);
    }
    co_return uploadedItem(*end.created, storageID, parentID, name, size);
}

// Sends the kept copy of a replaced object back under its name; true once it is on the device.
QCoro::Task<bool> sendBack(std::shared_ptr<Core> core, QString keptCopy, QString name, std::uint32_t parent,
                           std::optional<RemoteObjectID> parentID, StorageID storageID)
{
    const std::uint32_t storage = requireMTPID(storageID.rawValue());
    const qint64 size = QFileInfo(keptCopy).size();
    UploadNote none(core);
    QCoro::Task<UploadEnd> sending =
        sendNoted(core, QFile::encodeName(keptCopy), name, parent, parentID, storageID,
                  static_cast<std::uint64_t>(std::max<qint64>(size, 0)), std::nullopt, TransferProgressFunction(), &none);
    const UploadEnd end = co_await sending;
    if (end.created && *end.created != 0) {
        core->known.added(storage, parent, *end.created, name, false);
    } else {
        core->known.forget(storage, parent);
    }
    co_return end.created.has_value();
}

// Gives the kept copy of a replaced object its name in its folder ("name 2", "name 3", ... when the
// name is taken there), so that a person can find it; its path, or the path as it was when the
// name cannot be used.
QString keepUnderName(const QString& keptCopy, const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QChar(0))) {
        return keptCopy;
    }
    const QString folder = QFileInfo(keptCopy).path() + QLatin1Char('/');
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int number = 1; number < 1000; ++number) {
        const QString candidate =
            folder + (number == 1 ? name : stem + QLatin1Char(' ') + QString::number(number) + extension);
        // Never over another file: a rename onto a name that exists is refused.
        if (::renameat2(AT_FDCWD, LocalPath::encoded(keptCopy).constData(), AT_FDCWD,
                        LocalPath::encoded(candidate).constData(), RENAME_NOREPLACE) == 0) {
            return candidate;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return keptCopy;
}

// The replacement's failure, saying that the old file is no longer on the device and where its
// copy is kept. The error's own text begins with what a failed upload says; the cause follows.
QuillbarrowError keptCopyError(const std::exception_ptr& failure, const QString& copyPath, const QString& name)
{
    QString cause;
    if (failure) {
        const QuillbarrowError error = QuillbarrowError::fromException(failure);
        cause = error.kind() == QuillbarrowError::Kind::transferFailed ? error.technicalDetails() : error.userMessage();
        if (!cause.isEmpty()) {
            cause += cause.endsWith(QLatin1Char('.')) ? QStringLiteral(" ") : QStringLiteral(". ");
        }
    }
    return QuillbarrowError::transferFailed(cause + QStringLiteral("The replaced ") + name +
                                            QStringLiteral(" is no longer on the device; a copy of it is kept at ") +
                                            copyPath + QLatin1Char('.'));
}

QCoro::Task<RemoteItem> replaceOn(std::shared_ptr<Core> core, QString source, QString name,
                                  std::optional<RemoteObjectID> parentID, StorageID storageID,
                                  RemoteObjectID replacedID, QString keptCopy, TransferProgressFunction progress)
{
    const AsyncGate::Lease lease = co_await enterOpen(core);
    const std::uint32_t storage = requireMTPID(storageID.rawValue());
    const std::uint32_t parent = parentNumber(parentID, *core->bridge);
    const std::uint32_t replaced = requireMTPID(replacedID.rawValue());
    const QByteArray sourcePath = LocalPath::encoded(source);
    // The old object makes room for the new one: the caller has checked that it fits there.
    struct stat info {};
    const qint64 sourceSize = ::stat(sourcePath.constData(), &info) == 0 ? static_cast<qint64>(info.st_size) : 0;
    const std::uint64_t size = sourceSize > 0 ? static_cast<std::uint64_t>(sourceSize) : 0;

    bool deleted = true;
    try {
        QCoro::Task<> deleting = deleteObject(core, replaced);
        co_await deleting;
    } catch (...) {
        deleted = false; // still there: the new file goes beside it, and nothing need come back
    }
    UploadNote note(core);
    QCoro::Task<std::optional<QList<std::uint32_t>>> noting =
        noteUpload(core, &note, storageID, parent, parentID, name, size, deleted ? keptCopy : QString());
    const std::optional<QList<std::uint32_t>> sameNamed = co_await noting;

    QCoro::Task<UploadEnd> sending =
        sendNoted(core, sourcePath, name, parent, parentID, storageID, size, sameNamed, progress, &note);
    const UploadEnd end = co_await sending;
    bool settled = !end.mayHaveLeftSomething;
    if (end.created) {
        if (*end.created != 0) {
            core->known.added(storage, parent, *end.created, name, false);
        } else {
            core->known.forget(storage, parent);
        }
        settled = true;
    } else if (deleted && settled) {
        // Nothing of the new file is there: the old one goes back in its place. Should that fail
        // too, the note (with the copy) stays for the next session on the device.
        QCoro::Task<bool> noting = note.standForCopy(QFileInfo(keptCopy).size());
        settled = co_await noting;
        if (settled) {
            QCoro::Task<bool> restoring = sendBack(core, keptCopy, name, parent, parentID, storageID);
            settled = co_await restoring;
        }
    }
    if (settled || !deleted) {
        QFile::remove(keptCopy);
    }
    if (settled) {
        QCoro::Task<> clearing = note.clear();
        co_await clearing;
    } else if (deleted && !note.isWritten()) {
        // No note holds the copy, so no later session will send it back: it is the only whole
        // copy of the old file, kept here under its own name, and the error says where.
        throw keptCopyError(end.failure, keepUnderName(keptCopy, name), name);
    }
    if (end.failure) {
        std::rethrow_exception(end.failure);
    }
    co_return uploadedItem(*end.created, storageID, parentID, name, size);
}

QCoro::Task<> closeOn(std::shared_ptr<Core> core)
{
    try {
        const AsyncGate::Lease lease = co_await enter(core);
        if (core->isClosed) {
            co_return;
        }
        core->isClosed = true;
        // The phone's close is queued before anything is awaited: an open of the phone asked for
        // meanwhile (a retry, say) must find it closed, not still held by this very program.
        const std::shared_ptr<LibMTPSessionHandle> handle = core->handle;
        const auto close = [handle] { handle->close(); };
        QFuture<void> closing = core->closer ? core->closer->run(close) : core->executor.run(close);
        if (const std::shared_ptr<InterruptedUploadLog> log = core->interruptedUploads) {
            const QString device = *core->deviceKey;
            QFuture<void> compacting = core->executor.run([log, device] { log->compact(device); });
            co_await compacting;
        }
        co_await closing;
    } catch (...) {
        // Closing does not fail; the handle is closed at the latest when the session goes away.
    }
}

} // namespace

LibMTPDeviceSession::LibMTPDeviceSession(AndroidDevice device, CMTPDeviceHandle* handle,
                                         std::shared_ptr<LibMTPBridge> bridge, LibMTPSessionServices services)
    : m_device(std::move(device)),
      m_core(std::make_shared<Core>(handle, std::move(bridge), std::move(services),
                                    InterruptedUploadLog::deviceKey(m_device),
                                    InterruptedUploadLog::formerDeviceKey(m_device)))
{
}

// Operations still running keep the core, and with it the open handle, until they end.
LibMTPDeviceSession::~LibMTPDeviceSession() = default;

AndroidDevice LibMTPDeviceSession::device() const
{
    return m_device;
}

QCoro::Task<QList<StorageRoot>> LibMTPDeviceSession::storages()
{
    return withSessionErrors(storagesOn(m_core));
}

QCoro::Task<DirectoryPage> LibMTPDeviceSession::rootDirectory(StorageID storageID)
{
    return withSessionErrors(rootDirectoryOn(m_core, std::move(storageID)));
}

QCoro::Task<DirectoryPage> LibMTPDeviceSession::listDirectory(RemoteObjectID parentID, RemotePath path)
{
    return withSessionErrors(listDirectoryOn(m_core, std::move(parentID), std::move(path)));
}

QCoro::Task<RemoteItem> LibMTPDeviceSession::createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                                          StorageID storageID)
{
    return withSessionErrors(createFolderOn(m_core, std::move(name), std::move(parentID), std::move(storageID)));
}

QCoro::Task<> LibMTPDeviceSession::rename(RemoteObjectID itemID, QString newName)
{
    return withSessionErrors(renameOn(m_core, std::move(itemID), std::move(newName)));
}

QCoro::Task<> LibMTPDeviceSession::deleteItem(RemoteObjectID itemID)
{
    return withSessionErrors(deleteOn(m_core, std::move(itemID)));
}

QCoro::Task<> LibMTPDeviceSession::downloadFile(RemoteObjectID itemID, QString destination,
                                               TransferProgressFunction progress)
{
    return withSessionErrors(downloadOn(m_core, std::move(itemID), std::move(destination), std::move(progress)));
}

QCoro::Task<RemoteItem> LibMTPDeviceSession::uploadFile(QString source, QString name,
                                                        std::optional<RemoteObjectID> parentID, StorageID storageID,
                                                        TransferProgressFunction progress)
{
    return withSessionErrors(uploadOn(m_core, std::move(source), std::move(name), std::move(parentID),
                                      std::move(storageID), std::move(progress)));
}

QCoro::Task<RemoteItem> LibMTPDeviceSession::replaceFile(QString source, QString name,
                                                         std::optional<RemoteObjectID> parentID, StorageID storageID,
                                                         RemoteObjectID replacedID, QString keptCopy,
                                                         TransferProgressFunction progress)
{
    return withSessionErrors(replaceOn(m_core, std::move(source), std::move(name), std::move(parentID),
                                       std::move(storageID), std::move(replacedID), std::move(keptCopy),
                                       std::move(progress)));
}

QCoro::Task<> LibMTPDeviceSession::close()
{
    return closeOn(m_core);
}

QString LibMTPDeviceSession::closedMessage()
{
    return QStringLiteral("The MTP session is already closed.");
}

std::optional<std::uint32_t> LibMTPDeviceSession::mtpID(const QString& text)
{
    if (text.isEmpty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c.unicode() - u'0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace quillbarrow
