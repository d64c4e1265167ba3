#pragma once

#include "DeviceSession.h"
#include "MockTree.h"
#include "async/OneShot.h"

#include <QByteArray>
#include <QHash>
#include <QList>

namespace quillbarrow {

// A session on a pretend device: every operation works on the session's own copy of the
// device's tree, so nothing outlives the session. Main-thread object; its operations finish
// before they return their task, unless transfers are held (holdTransfers). A file uploaded in
// the session keeps its bytes and downloads them back; any other file downloads as a short text
// about the item. A failed write is passed on as std::filesystem::filesystem_error.
class MockDeviceSession : public DeviceSession {
public:
    MockDeviceSession(AndroidDevice device, MockTree tree);

    AndroidDevice device() const override { return m_device; }
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

    bool isClosed() const { return m_isClosed; }
    // The text a download of `item` writes when the session holds no bytes for it.
    static QByteArray downloadText(const RemoteItem& item);
    // The bytes the session holds for a file uploaded in it.
    std::optional<QByteArray> content(const RemoteObjectID& itemID) const;

    // For tests that need a transfer to stay running: while held, each upload and download
    // reports that none of its bytes are done, then waits. releaseTransfers() lets every waiting
    // one go on; one whose progress function then asks to stop ends with userCancelled and moves
    // nothing.
    void holdTransfers();
    void releaseTransfers();
    // The transfers waiting now.
    int heldTransferCount() const { return static_cast<int>(m_heldTransfers.size()); }

private:
    void ensureOpen() const;
    // pathNotFound unless the storage is known and the parent, when given, is a folder on it.
    void ensureValidParent(const std::optional<RemoteObjectID>& parentID, const StorageID& storageID) const;
    // Waits while transfers are held; throws userCancelled when `progress` asks to stop.
    QCoro::Task<> waitWhileHeld(TransferProgressFunction progress, std::optional<qint64> total);

    AndroidDevice m_device;
    MockTree m_tree;
    bool m_isClosed = false;
    QHash<RemoteObjectID, QByteArray> m_contents;
    bool m_holdsTransfers = false;
    QList<OneShot<bool>> m_heldTransfers;
};

} // namespace quillbarrow
