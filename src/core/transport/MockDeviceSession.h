#pragma once

#include "DeviceSession.h"
#include "MockTree.h"

namespace quillbarrow {

// A session on a pretend device: every operation works on the session's own copy of the
// device's tree, so nothing outlives the session. Main-thread object; its operations finish
// before they return their task. A download writes a short text about the item, not file
// content, and passes a failed write on as std::filesystem::filesystem_error.
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
    // The text a download of `item` writes.
    static QByteArray downloadText(const RemoteItem& item);

private:
    void ensureOpen() const;
    // pathNotFound unless the storage is known and the parent, when given, is a folder on it.
    void ensureValidParent(const std::optional<RemoteObjectID>& parentID, const StorageID& storageID) const;

    AndroidDevice m_device;
    MockTree m_tree;
    bool m_isClosed = false;
};

} // namespace quillbarrow
