#pragma once

#include "transport/LibMTPBridge.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace quillbarrow::testing {

// A scripted bridge over an in-memory device, for the session's tests. It keeps storages and
// objects, answers like the real bridge (records, codes, list ownership), and lets a test fail the
// next call of an operation, hold transfers open until released, choose the progress reports of a
// transfer, and read back every call it got. Thread-safe: the session calls it from its workers.
//
// It also watches the session: calls that overlap, calls made on the main thread, calls with a
// closed or foreign handle, and lists never freed are counted.
class FakeLibMTPBridge final : public LibMTPBridge {
public:
    enum class Operation { storages, list, createFolder, deleteObject, rename, download, upload };

    struct Storage {
        std::uint32_t id;
        std::uint64_t capacity;
        std::uint64_t freeSpace;
        QByteArray description;
        QByteArray volumeIdentifier;
    };

    struct Object {
        std::uint32_t id = 0;
        std::uint32_t parent = 0;
        std::uint32_t storage = 0;
        QByteArray name;
        bool folder = false;
        std::uint64_t size = 0;
        std::int64_t date = 0;
        QByteArray content;
    };

    // The outcome of the next call of an operation. An upload that `leavesObject` creates a
    // partial object before failing and reports its id, as libmtp may.
    struct Failure {
        std::int32_t code;
        QByteArray message;
        bool leavesObject = false;
    };

    static constexpr std::uint32_t rootParent = 0xFFFFFFFFu;

    FakeLibMTPBridge();
    ~FakeLibMTPBridge() override;

    // The handle of the one device this bridge has open.
    CMTPDeviceHandle* handle();

    void addStorage(Storage storage);
    void setFreeSpace(std::uint32_t storage, std::uint64_t bytes);
    // Adds the object under a new id (the given id is ignored) and returns that id.
    std::uint32_t addObject(Object object);
    std::uint32_t addFolder(std::uint32_t storage, std::uint32_t parent, const QByteArray& name);
    std::uint32_t addFile(std::uint32_t storage, std::uint32_t parent, const QByteArray& name,
                          const QByteArray& content, std::int64_t date = 0);
    // Renames an object behind the session's back.
    void setName(std::uint32_t id, const QByteArray& name);
    std::optional<Object> object(std::uint32_t id) const;
    // The objects in that folder (rootParent for a storage root), in id order.
    QList<Object> children(std::uint32_t storage, std::uint32_t parent) const;

    // The device unplugged and plugged in again: the handle may be used by a new session, and
    // every object has a new id (as on devices whose object handles do not outlive a session).
    void replug();

    // Scripts the next call of `operation`; several queue up in order.
    void failNext(Operation operation, Failure failure);
    // The (sent, total) reports of each transfer; by default half of the bytes, then all of them.
    void setProgressReports(QList<std::pair<std::uint64_t, std::uint64_t>> reports);
    // A transfer whose callback asks to stop goes on and reports success, like a device that
    // finished before it noticed.
    void setIgnoresCancellation(bool ignores);
    // While held, every transfer waits inside the bridge until release().
    void holdTransfers();
    void release();
    int waitingTransfers() const;

    // Every call, as "operation arguments" texts, in the order they arrived.
    QStringList calls() const;
    // What the session said, with each upload, of the objects of that name already in the folder:
    // "name: " followed by their ids, "none", or "unknown".
    QStringList uploadKnowledge() const;
    // The size the session gave with each download (below 0: unknown).
    QList<std::int64_t> downloadSizes() const;
    int closeCount() const;
    int overlappingCalls() const;
    int mainThreadCalls() const;
    int badHandleCalls() const;
    int unfreedLists() const;

    CMTPDeviceList detectDevices() override;
    void freeDeviceList(CMTPDeviceList* list) override;
    CMTPOpenResult openDevice(std::uint32_t busLocation, std::uint8_t devnum) override;
    CMTPOpenResult openDeviceWithSeize(std::uint32_t busLocation, std::uint8_t devnum, std::int32_t maxAttempts,
                                       std::int32_t delayMs) override;
    void closeDevice(CMTPDeviceHandle* handle) override;
    CMTPDeviceIdentity deviceIdentity(CMTPDeviceHandle* handle) override;
    CMTPStorageList storages(CMTPDeviceHandle* handle) override;
    void freeStorageList(CMTPStorageList* list) override;
    CMTPObjectList listDirectory(CMTPDeviceHandle* handle, std::uint32_t storageID, std::uint32_t parentID) override;
    void freeObjectList(CMTPObjectList* list) override;
    std::uint32_t rootParentID() override;
    CMTPMutationResult createFolder(CMTPDeviceHandle* handle, const char* name, std::uint32_t parentID,
                                    std::uint32_t storageID) override;
    CMTPMutationResult deleteObject(CMTPDeviceHandle* handle, std::uint32_t objectID) override;
    CMTPMutationResult renameObject(CMTPDeviceHandle* handle, std::uint32_t objectID, const char* newName) override;
    CMTPMutationResult downloadFile(CMTPDeviceHandle* handle, std::uint32_t objectID, const char* destinationPath,
                                    std::int64_t knownSize, CMTPProgressCallback callback, void* context) override;
    CMTPMutationResult uploadFile(CMTPDeviceHandle* handle, const char* sourcePath, std::uint32_t parentID,
                                  std::uint32_t storageID, const char* name, std::uint64_t fileSize,
                                  const std::uint32_t* existingIDs, std::int32_t existingCount,
                                  CMTPProgressCallback callback, void* context) override;

private:
    class CallScope;

    // With the lock held: records the call and checks the handle; the scripted failure, if any.
    std::optional<Failure> enter(std::unique_lock<std::mutex>& lock, Operation operation, CMTPDeviceHandle* handle,
                                 const QString& call);
    void leave();
    void waitWhileHeld(std::unique_lock<std::mutex>& lock);
    // Calls back with each report; true when the callback asked to stop.
    bool reportProgress(std::unique_lock<std::mutex>& lock, std::uint64_t total, CMTPProgressCallback callback,
                        void* context);
    void removeWithDescendants(std::uint32_t id);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    char m_device = 0;
    bool m_closed = false;
    QList<Storage> m_storages;
    std::map<std::uint32_t, Object> m_objects;
    std::uint32_t m_nextID = 100;
    std::map<Operation, std::deque<Failure>> m_failures;
    std::optional<QList<std::pair<std::uint64_t, std::uint64_t>>> m_reports;
    bool m_ignoresCancellation = false;
    bool m_held = false;
    int m_waiting = 0;
    QStringList m_calls;
    QStringList m_uploadKnowledge;
    QList<std::int64_t> m_downloadSizes;
    int m_closeCount = 0;
    int m_active = 0;
    int m_overlaps = 0;
    int m_mainThreadCalls = 0;
    int m_badHandleCalls = 0;
    int m_unfreedLists = 0;
};

} // namespace quillbarrow::testing
