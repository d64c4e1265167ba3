#pragma once

#include "transport/DeviceSession.h"

#include <memory>
#include <optional>

namespace quillbarrow::e2e {

// A real device session seen through what one responder needs from a careful client, and through
// a stable name for the tests' writable folder. Every operation is the real session's; this layer
// only adds listings and translates one identifier:
// - `listParentsFirst` (QEMU's device): a folder is listed before anything is created or
//   uploaded in it, unless this session listed it already; after a folder is created, its parent
//   is listed and must show the new folder under the id the device reported. The device takes in
//   its own new objects from inotify; the runner places QEMU's threads so that it has done so
//   before it answers the next request (scripts/e2e/run-in-guest.sh), so nothing here waits for
//   it: a new folder that the listing does not show fails the operation.
// - `emptyFoldersBeforeDelete` (QEMU's device refuses to delete a folder that is not empty): a
//   folder's contents are deleted first, depth first.
// - `writableAlias`: an identifier that stands for the folder named `writableName` in the storage
//   root, looked up by name in each session (object handles do not survive a reconnection).
// It also keeps the operations that have begun and not ended, so that a test that runs out of
// time can say what it waits for (operationsInFlight()).
// Everything runs on the main thread, the progress of transfers aside.
class ResponderSession final : public DeviceSession {
  public:
    struct Settings {
        bool listParentsFirst = false;
        bool emptyFoldersBeforeDelete = false;
        std::optional<RemoteObjectID> writableAlias;
        QString writableName;
    };

    ResponderSession(std::shared_ptr<DeviceSession> session, Settings settings);

    AndroidDevice device() const override;
    QCoro::Task<QList<StorageRoot>> storages() override;
    QCoro::Task<DirectoryPage> rootDirectory(StorageID storageID) override;
    QCoro::Task<DirectoryPage> listDirectory(RemoteObjectID parentID, RemotePath path) override;
    QCoro::Task<RemoteItem> createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                         StorageID storageID) override;
    QCoro::Task<> rename(RemoteObjectID itemID, QString newName) override;
    QCoro::Task<> deleteItem(RemoteObjectID itemID) override;
    QCoro::Task<> downloadFile(RemoteObjectID itemID, QString destination,
                               TransferProgressFunction progress) override;
    QCoro::Task<RemoteItem> uploadFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                       StorageID storageID, TransferProgressFunction progress) override;
    QCoro::Task<RemoteItem> replaceFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                        StorageID storageID, RemoteObjectID replacedID, QString keptCopy,
                                        TransferProgressFunction progress) override;
    QCoro::Task<> close() override;

    using DeviceSession::downloadFile;
    using DeviceSession::uploadFile;

    // The session underneath.
    const std::shared_ptr<DeviceSession>& real() const;
    // One line per operation that has begun and not ended, in the order they began: what it is,
    // how long it has run and, for a transfer, the bytes its progress reported and when it last
    // did. The first one holds the device; the others wait behind it.
    QStringList operationsInFlight() const;

    struct State;

  private:
    std::shared_ptr<State> m_state;
};

} // namespace quillbarrow::e2e
