#pragma once

#include "async/SerialExecutor.h"
#include "transport/DeviceSession.h"
#include "transport/MockTree.h"

#include <atomic>
#include <chrono>
#include <optional>

namespace quillbarrow {

// A pretend device whose operations run on a worker thread of their own, one at a time, as the
// libmtp session's do: the main thread only starts each call and resumes when it is done, so
// what the benchmark sees of the main thread is the coordinator's own work. Transfers move no
// real bytes: an upload takes the local file's size, a download writes a short text, and each
// reports its progress once, from the worker thread, when it is done.
class WorkerMockSession final : public DeviceSession {
public:
    using Clock = std::chrono::steady_clock;

    explicit WorkerMockSession(MockTree tree);
    ~WorkerMockSession() override;

    AndroidDevice device() const override;
    QCoro::Task<QList<StorageRoot>> storages() override;
    QCoro::Task<DirectoryPage> rootDirectory(StorageID storageID) override;
    QCoro::Task<DirectoryPage> listDirectory(RemoteObjectID parentID, RemotePath path) override;
    QCoro::Task<RemoteItem> createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                         StorageID storageID) override;
    QCoro::Task<> rename(RemoteObjectID itemID, QString newName) override;
    QCoro::Task<> deleteItem(RemoteObjectID itemID) override;
    QCoro::Task<> downloadFile(RemoteObjectID itemID, QString destination, TransferProgressFunction progress) override;
    QCoro::Task<RemoteItem> uploadFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                       StorageID storageID, TransferProgressFunction progress) override;
    QCoro::Task<> close() override;

    using DeviceSession::downloadFile;
    using DeviceSession::uploadFile;

    // The items directly inside the folder (the storage root when absent).
    QCoro::Task<QList<RemoteItem>> children(std::optional<RemoteObjectID> parentID, StorageID storageID);
    // When the first upload or download of this session began: the end of a paste's planning.
    std::optional<Clock::time_point> firstTransferStarted() const;

private:
    void noteTransferStart();

    SerialExecutor m_executor;
    // Touched only by jobs of m_executor, one at a time.
    MockTree m_tree;
    std::atomic<Clock::rep> m_firstTransfer{0};
    std::atomic<bool> m_transferred{false};
};

} // namespace quillbarrow
