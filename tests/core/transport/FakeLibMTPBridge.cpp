#include "FakeLibMTPBridge.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace quillbarrow::testing {

namespace {

template <typename Record>
Record zeroed()
{
    Record record;
    std::memset(&record, 0, sizeof record);
    return record;
}

template <std::size_t capacity>
void copyText(char (&field)[capacity], const QByteArray& text)
{
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(text.size()), capacity - 1);
    std::memcpy(field, text.constData(), length);
    field[length] = '\0';
}

CMTPMutationResult mutation(std::uint32_t id, std::int32_t code = 0, const QByteArray& message = {})
{
    auto result = zeroed<CMTPMutationResult>();
    result.new_object_id = id;
    result.error_code = code;
    copyText(result.error_message, message);
    return result;
}

const QByteArray noDeviceText = "No MTP device is attached.";
const QByteArray cancelledText = "The MTP operation was cancelled.";

bool onMainThread()
{
    return QCoreApplication::instance() != nullptr && QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace

// Counts a call as running for as long as it lasts, to catch calls that overlap.
class FakeLibMTPBridge::CallScope {
public:
    explicit CallScope(FakeLibMTPBridge& bridge) : m_bridge(bridge) {}
    ~CallScope() { m_bridge.leave(); }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    FakeLibMTPBridge& m_bridge;
};

FakeLibMTPBridge::FakeLibMTPBridge() = default;

FakeLibMTPBridge::~FakeLibMTPBridge() = default;

CMTPDeviceHandle* FakeLibMTPBridge::handle()
{
    return reinterpret_cast<CMTPDeviceHandle*>(&m_device);
}

void FakeLibMTPBridge::addStorage(Storage storage)
{
    const std::lock_guard lock(m_mutex);
    m_storages.append(std::move(storage));
}

void FakeLibMTPBridge::setFreeSpace(std::uint32_t storage, std::uint64_t bytes)
{
    const std::lock_guard lock(m_mutex);
    for (Storage& known : m_storages) {
        if (known.id == storage) {
            known.freeSpace = bytes;
        }
    }
}

std::uint32_t FakeLibMTPBridge::addObject(Object object)
{
    const std::lock_guard lock(m_mutex);
    object.id = m_nextID++;
    m_objects[object.id] = object;
    return object.id;
}

std::uint32_t FakeLibMTPBridge::addFolder(std::uint32_t storage, std::uint32_t parent, const QByteArray& name)
{
    Object folder;
    folder.storage = storage;
    folder.parent = parent;
    folder.name = name;
    folder.folder = true;
    return addObject(folder);
}

std::uint32_t FakeLibMTPBridge::addFile(std::uint32_t storage, std::uint32_t parent, const QByteArray& name,
                                        const QByteArray& content, std::int64_t date)
{
    Object file;
    file.storage = storage;
    file.parent = parent;
    file.name = name;
    file.size = static_cast<std::uint64_t>(content.size());
    file.date = date;
    file.content = content;
    return addObject(file);
}

void FakeLibMTPBridge::setName(std::uint32_t id, const QByteArray& name)
{
    const std::lock_guard lock(m_mutex);
    m_objects.at(id).name = name;
}

std::optional<FakeLibMTPBridge::Object> FakeLibMTPBridge::object(std::uint32_t id) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_objects.find(id);
    if (found == m_objects.end()) {
        return std::nullopt;
    }
    return found->second;
}

QList<FakeLibMTPBridge::Object> FakeLibMTPBridge::children(std::uint32_t storage, std::uint32_t parent) const
{
    const std::lock_guard lock(m_mutex);
    QList<Object> found;
    for (const auto& [id, object] : m_objects) {
        if (object.storage == storage && object.parent == parent) {
            found.append(object);
        }
    }
    return found;
}

void FakeLibMTPBridge::replug()
{
    const std::lock_guard lock(m_mutex);
    m_closed = false;
    std::map<std::uint32_t, std::uint32_t> renumbered;
    for (const auto& [id, object] : m_objects) {
        renumbered[id] = m_nextID++;
    }
    std::map<std::uint32_t, Object> objects;
    for (auto [id, object] : m_objects) {
        object.id = renumbered[id];
        if (object.parent != rootParent) {
            object.parent = renumbered[object.parent];
        }
        objects[object.id] = object;
    }
    m_objects = std::move(objects);
}

void FakeLibMTPBridge::failNext(Operation operation, Failure failure)
{
    const std::lock_guard lock(m_mutex);
    m_failures[operation].push_back(std::move(failure));
}

void FakeLibMTPBridge::setProgressReports(QList<std::pair<std::uint64_t, std::uint64_t>> reports)
{
    const std::lock_guard lock(m_mutex);
    m_reports = std::move(reports);
}

void FakeLibMTPBridge::setIgnoresCancellation(bool ignores)
{
    const std::lock_guard lock(m_mutex);
    m_ignoresCancellation = ignores;
}

void FakeLibMTPBridge::holdTransfers()
{
    const std::lock_guard lock(m_mutex);
    m_held = true;
}

void FakeLibMTPBridge::release()
{
    {
        const std::lock_guard lock(m_mutex);
        m_held = false;
    }
    m_changed.notify_all();
}

int FakeLibMTPBridge::waitingTransfers() const
{
    const std::lock_guard lock(m_mutex);
    return m_waiting;
}

QList<std::int64_t> FakeLibMTPBridge::downloadSizes() const
{
    const std::lock_guard lock(m_mutex);
    return m_downloadSizes;
}

QStringList FakeLibMTPBridge::calls() const
{
    const std::lock_guard lock(m_mutex);
    return m_calls;
}

QStringList FakeLibMTPBridge::uploadKnowledge() const
{
    const std::lock_guard lock(m_mutex);
    return m_uploadKnowledge;
}

int FakeLibMTPBridge::closeCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_closeCount;
}

int FakeLibMTPBridge::overlappingCalls() const
{
    const std::lock_guard lock(m_mutex);
    return m_overlaps;
}

int FakeLibMTPBridge::mainThreadCalls() const
{
    const std::lock_guard lock(m_mutex);
    return m_mainThreadCalls;
}

int FakeLibMTPBridge::badHandleCalls() const
{
    const std::lock_guard lock(m_mutex);
    return m_badHandleCalls;
}

int FakeLibMTPBridge::unfreedLists() const
{
    const std::lock_guard lock(m_mutex);
    return m_unfreedLists;
}

std::optional<FakeLibMTPBridge::Failure> FakeLibMTPBridge::enter(std::unique_lock<std::mutex>&, Operation operation,
                                                                 CMTPDeviceHandle* handle, const QString& call)
{
    m_calls.append(call);
    if (++m_active > 1) {
        ++m_overlaps;
    }
    if (onMainThread()) {
        ++m_mainThreadCalls;
    }
    if (handle != reinterpret_cast<CMTPDeviceHandle*>(&m_device) || m_closed) {
        ++m_badHandleCalls;
        return Failure{5, noDeviceText};
    }
    std::deque<Failure>& scripted = m_failures[operation];
    if (scripted.empty()) {
        return std::nullopt;
    }
    Failure failure = scripted.front();
    scripted.pop_front();
    return failure;
}

void FakeLibMTPBridge::leave()
{
    const std::lock_guard lock(m_mutex);
    --m_active;
}

void FakeLibMTPBridge::waitWhileHeld(std::unique_lock<std::mutex>& lock)
{
    ++m_waiting;
    m_changed.wait(lock, [this] { return !m_held; });
    --m_waiting;
}

bool FakeLibMTPBridge::reportProgress(std::unique_lock<std::mutex>& lock, std::uint64_t total,
                                      CMTPProgressCallback callback, void* context)
{
    if (callback == nullptr) {
        return false;
    }
    const QList<std::pair<std::uint64_t, std::uint64_t>> reports =
        m_reports.value_or(QList<std::pair<std::uint64_t, std::uint64_t>>{{total / 2, total}, {total, total}});
    bool stop = false;
    // The callback runs without the lock, as libmtp calls it with none of the bridge's state held.
    lock.unlock();
    for (const auto& [sent, of] : reports) {
        if (callback(sent, of, context) != 0) {
            stop = true;
            break;
        }
    }
    lock.lock();
    return stop && !m_ignoresCancellation;
}

void FakeLibMTPBridge::removeWithDescendants(std::uint32_t id)
{
    std::vector<std::uint32_t> doomed{id};
    for (std::size_t index = 0; index < doomed.size(); ++index) {
        for (const auto& [childID, child] : m_objects) {
            if (child.parent == doomed[index] && childID != doomed[index]) {
                doomed.push_back(childID);
            }
        }
    }
    for (const std::uint32_t gone : doomed) {
        m_objects.erase(gone);
    }
}

CMTPDeviceList FakeLibMTPBridge::detectDevices()
{
    return zeroed<CMTPDeviceList>();
}

void FakeLibMTPBridge::freeDeviceList(CMTPDeviceList* list)
{
    list->count = 0;
    list->entries = nullptr;
}

CMTPOpenResult FakeLibMTPBridge::openDevice(std::uint32_t, std::uint8_t)
{
    auto result = zeroed<CMTPOpenResult>();
    result.error_code = 5;
    copyText(result.error_message, noDeviceText);
    return result;
}

CMTPOpenResult FakeLibMTPBridge::openDeviceWithSeize(std::uint32_t busLocation, std::uint8_t devnum, std::int32_t,
                                                     std::int32_t)
{
    return openDevice(busLocation, devnum);
}

void FakeLibMTPBridge::closeDevice(CMTPDeviceHandle* handle)
{
    const std::lock_guard lock(m_mutex);
    m_calls.append(QStringLiteral("close"));
    if (onMainThread()) {
        ++m_mainThreadCalls;
    }
    if (m_active > 0) {
        ++m_overlaps;
    }
    if (handle != reinterpret_cast<CMTPDeviceHandle*>(&m_device) || m_closed) {
        ++m_badHandleCalls;
    }
    m_closed = true;
    ++m_closeCount;
}

CMTPDeviceIdentity FakeLibMTPBridge::deviceIdentity(CMTPDeviceHandle*)
{
    return zeroed<CMTPDeviceIdentity>();
}

CMTPStorageList FakeLibMTPBridge::storages(CMTPDeviceHandle* handle)
{
    const CallScope scope(*this); // outlives the lock: leaving takes it again
    std::unique_lock lock(m_mutex);
    auto list = zeroed<CMTPStorageList>();
    if (const std::optional<Failure> failure = enter(lock, Operation::storages, handle, QStringLiteral("storages"))) {
        list.error_code = failure->code;
        copyText(list.error_message, failure->message);
        return list;
    }
    if (m_storages.isEmpty()) {
        return list;
    }
    list.count = static_cast<std::int32_t>(m_storages.size());
    list.entries = static_cast<CMTPStorageEntry*>(std::calloc(m_storages.size(), sizeof(CMTPStorageEntry)));
    for (qsizetype index = 0; index < m_storages.size(); ++index) {
        const Storage& storage = m_storages[index];
        CMTPStorageEntry& entry = list.entries[index];
        entry.storage_id = storage.id;
        entry.max_capacity = storage.capacity;
        entry.free_space_bytes = storage.freeSpace;
        copyText(entry.description, storage.description);
        copyText(entry.volume_identifier, storage.volumeIdentifier);
    }
    ++m_unfreedLists;
    return list;
}

void FakeLibMTPBridge::freeStorageList(CMTPStorageList* list)
{
    const std::lock_guard lock(m_mutex);
    if (list->entries != nullptr) {
        std::free(list->entries);
        --m_unfreedLists;
    }
    list->entries = nullptr;
    list->count = 0;
}

CMTPObjectList FakeLibMTPBridge::listDirectory(CMTPDeviceHandle* handle, std::uint32_t storageID,
                                               std::uint32_t parentID)
{
    const CallScope scope(*this); // outlives the lock: leaving takes it again
    std::unique_lock lock(m_mutex);
    auto list = zeroed<CMTPObjectList>();
    if (const std::optional<Failure> failure =
            enter(lock, Operation::list, handle, QStringLiteral("list %1 %2").arg(storageID).arg(parentID))) {
        list.error_code = failure->code;
        copyText(list.error_message, failure->message);
        return list;
    }
    std::vector<const Object*> found;
    for (const auto& [id, object] : m_objects) {
        if (object.storage == storageID && object.parent == parentID) {
            found.push_back(&object);
        }
    }
    if (found.empty()) {
        return list;
    }
    list.count = static_cast<std::int32_t>(found.size());
    list.entries = static_cast<CMTPObjectEntry*>(std::calloc(found.size(), sizeof(CMTPObjectEntry)));
    for (std::size_t index = 0; index < found.size(); ++index) {
        const Object& object = *found[index];
        CMTPObjectEntry& entry = list.entries[index];
        entry.item_id = object.id;
        entry.parent_id = object.parent;
        entry.storage_id = object.storage;
        entry.file_size = object.size;
        entry.modification_date = object.date;
        entry.file_type = object.folder ? 0 : 44;
        entry.is_folder = object.folder ? 1 : 0;
        copyText(entry.filename, object.name);
    }
    ++m_unfreedLists;
    return list;
}

void FakeLibMTPBridge::freeObjectList(CMTPObjectList* list)
{
    const std::lock_guard lock(m_mutex);
    if (list->entries != nullptr) {
        std::free(list->entries);
        --m_unfreedLists;
    }
    list->entries = nullptr;
    list->count = 0;
}

std::uint32_t FakeLibMTPBridge::rootParentID()
{
    return rootParent;
}

CMTPMutationResult FakeLibMTPBridge::createFolder(CMTPDeviceHandle* handle, const char* name, std::uint32_t parentID,
                                                  std::uint32_t storageID)
{
    const CallScope scope(*this); // outlives the lock: leaving takes it again
    std::unique_lock lock(m_mutex);
    const QByteArray folderName(name);
    const QString call = QStringLiteral("createFolder %1 %2 %3").arg(QString::fromUtf8(folderName)).arg(parentID).arg(storageID);
    if (const std::optional<Failure> failure = enter(lock, Operation::createFolder, handle, call)) {
        return mutation(0, failure->code, failure->message);
    }
    Object folder;
    folder.id = m_nextID++;
    folder.storage = storageID;
    folder.parent = parentID;
    folder.name = folderName;
    folder.folder = true;
    m_objects[folder.id] = folder;
    return mutation(folder.id);
}

CMTPMutationResult FakeLibMTPBridge::deleteObject(CMTPDeviceHandle* handle, std::uint32_t objectID)
{
    const CallScope scope(*this); // outlives the lock: leaving takes it again
    std::unique_lock lock(m_mutex);
    if (const std::optional<Failure> failure =
            enter(lock, Operation::deleteObject, handle, QStringLiteral("delete %1").arg(objectID))) {
        return mutation(0, failure->code, failure->message);
    }
    if (m_objects.count(objectID) == 0) {
        return mutation(0, 1, "PTP Layer error 2009");
    }
    removeWithDescendants(objectID);
    return mutation(0);
}

CMTPMutationResult FakeLibMTPBridge::renameObject(CMTPDeviceHandle* handle, std::uint32_t objectID,
                                                  const char* newName)
{
    const CallScope scope(*this); // outlives the lock: leaving takes it again
    std::unique_lock lock(m_mutex);
    const QByteArray name(newName);
    if (const std::optional<Failure> failure = enter(
            lock, Operation::rename, handle, QStringLiteral("rename %1 %2").arg(objectID).arg(QString::fromUtf8(name)))) {
        return mutation(0, failure->code, failure->message);
    }
    const auto found = m_objects.find(objectID);
    if (found == m_objects.end()) {
        return mutation(0, 5, noDeviceText);
    }
    found->second.name = name;
    return mutation(0);
}

CMTPMutationResult FakeLibMTPBridge::downloadFile(CMTPDeviceHandle* handle, std::uint32_t objectID,
                                                  const char* destinationPath, std::int64_t knownSize,
                                                  CMTPProgressCallback callback, void* context)
{
    const CallScope scope(*this); // outlives the lock: leaving takes it again
    std::unique_lock lock(m_mutex);
    m_downloadSizes.append(knownSize);
    const std::optional<Failure> failure =
        enter(lock, Operation::download, handle, QStringLiteral("download %1").arg(objectID));
    waitWhileHeld(lock);
    if (failure) {
        return mutation(0, failure->code, failure->message);
    }
    const auto found = m_objects.find(objectID);
    if (found == m_objects.end() || found->second.folder) {
        return mutation(0, 1, "PTP Layer error 2009");
    }
    const QByteArray content = found->second.content;
    if (reportProgress(lock, static_cast<std::uint64_t>(content.size()), callback, context)) {
        return mutation(0, 8, cancelledText);
    }
    QFile destination(QFile::decodeName(destinationPath));
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate) || destination.write(content) != content.size()) {
        return mutation(0, 1, "could not write the destination");
    }
    return mutation(0);
}

CMTPMutationResult FakeLibMTPBridge::uploadFile(CMTPDeviceHandle* handle, const char* sourcePath,
                                                std::uint32_t parentID, std::uint32_t storageID, const char* name,
                                                std::uint64_t fileSize, const std::uint32_t* existingIDs,
                                                std::int32_t existingCount, CMTPProgressCallback callback,
                                                void* context)
{
    const CallScope scope(*this); // outlives the lock: leaving takes it again
    std::unique_lock lock(m_mutex);
    const QByteArray fileName(name);
    QStringList known;
    for (std::int32_t index = 0; index < existingCount; ++index) {
        known.append(QString::number(existingIDs[index]));
    }
    m_uploadKnowledge.append(QString::fromUtf8(fileName) + QStringLiteral(": ") +
                             (existingCount < 0    ? QStringLiteral("unknown")
                              : known.isEmpty() ? QStringLiteral("none")
                                                : known.join(QLatin1Char(' '))));
    const QString call =
        QStringLiteral("upload %1 %2 %3 %4").arg(QString::fromUtf8(fileName)).arg(parentID).arg(storageID).arg(fileSize);
    const std::optional<Failure> failure = enter(lock, Operation::upload, handle, call);
    waitWhileHeld(lock);
    QFile source(QFile::decodeName(sourcePath));
    const QByteArray content = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
    Object file;
    file.storage = storageID;
    file.parent = parentID;
    file.name = fileName;
    file.size = static_cast<std::uint64_t>(content.size());
    file.content = content;
    if (failure) {
        if (!failure->leavesObject) {
            return mutation(0, failure->code, failure->message);
        }
        file.id = m_nextID++;
        file.content = content.left(content.size() / 2);
        file.size = static_cast<std::uint64_t>(file.content.size());
        m_objects[file.id] = file;
        return mutation(file.id, failure->code, failure->message);
    }
    file.id = m_nextID++;
    m_objects[file.id] = file;
    if (reportProgress(lock, fileSize, callback, context)) {
        // As the bridge does: the partly sent object goes before the cancellation is reported.
        m_objects.erase(file.id);
        return mutation(0, 8, cancelledText);
    }
    return mutation(file.id);
}

} // namespace quillbarrow::testing
