#pragma once

#include "CallScript.h"
#include "transport/DeviceSession.h"

#include <QHash>

#include <memory>

namespace quillbarrow::testing {

// The folders of a fake device: its storages and the children of each storage root and folder.
struct FakeDeviceTree {
    QList<StorageRoot> storages;
    QHash<StorageID, QList<RemoteItem>> roots;
    QHash<RemoteObjectID, QList<RemoteItem>> folders;

    // Puts the item under its parent (the root of its storage without one); a folder gets an
    // empty list of children.
    void add(const RemoteItem& item);
    // The children of the folder, or of the storage root without a folder; nothing when the
    // storage or the folder is unknown.
    std::optional<QList<RemoteItem>> children(const StorageID& storageID,
                                              const std::optional<RemoteObjectID>& folderID) const;
    std::optional<StorageRoot> storage(const StorageID& storageID) const;
};

// A device session whose every call can be scripted (a value, an error, a hang the test
// releases, a delay) and is recorded: "storages", "root <storage>", "list <folder id>",
// "createFolder <name>", "rename <id>", "delete <id>", "download <id>", "upload <name>",
// "close". Unscripted calls serve the tree, as a device would; a closed session fails every
// call with sessionFailed until the backend opens it again.
class FakeDeviceSession final : public DeviceSession {
public:
    FakeDeviceSession(AndroidDevice device, FakeDeviceTree tree);
    ~FakeDeviceSession() override;

    void script(const QString& operation, Reply reply, const QString& subject = {});
    QStringList calls() const { return m_state->script->calls(); }
    QStringList endings() const { return m_state->script->endings(); }
    int closeCount() const { return m_state->closeCount; }
    FakeDeviceTree& tree() { return m_state->tree; }
    void releaseAll() { m_state->script->releaseAll(); }
    // The backend opens the device again: the session answers again after a close.
    void reopen() { m_state->closed = false; }
    // The progress function of the latest upload or download, kept so that a test can report
    // progress while the transfer runs or after it ended.
    TransferProgressFunction lastProgress() const { return m_state->lastProgress; }
    // The local files of the downloads, in order.
    QStringList downloadDestinations() const { return m_state->downloadDestinations; }

    AndroidDevice device() const override { return m_state->device; }
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

private:
    struct State {
        AndroidDevice device;
        FakeDeviceTree tree;
        std::shared_ptr<CallScript> script = std::make_shared<CallScript>();
        int closeCount = 0;
        int createdFolders = 0;
        bool closed = false;
        TransferProgressFunction lastProgress{};
        QStringList downloadDestinations{};
    };
    std::shared_ptr<State> m_state;
};

// Records for the tests.
StorageRoot testStorage(const QString& id = QStringLiteral("s1"), const QString& name = QStringLiteral("Internal"));
RemoteItem folderItem(const QString& id, const QString& name, const QString& storage = QStringLiteral("s1"),
                      std::optional<QString> parent = std::nullopt);
RemoteItem fileItem(const QString& id, const QString& name, std::optional<qint64> size,
                    const QString& storage = QStringLiteral("s1"), std::optional<QString> parent = std::nullopt);
AndroidDevice phone(const QString& id, const QString& name = QStringLiteral("Pixel"),
                    std::optional<QString> manufacturer = QStringLiteral("Google"),
                    std::optional<QString> model = QStringLiteral("Pixel 8"),
                    std::optional<QString> serial = std::nullopt);
RemotePath rootPath(const QString& storage = QStringLiteral("s1"));
DirectoryPage page(const QList<RemoteItem>& items, RemotePath path = rootPath(),
                   std::optional<QString> parent = std::nullopt, StorageRoot storage = testStorage());

} // namespace quillbarrow::testing
