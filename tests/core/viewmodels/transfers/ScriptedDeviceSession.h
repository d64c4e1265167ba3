#pragma once

#include "async/OneShot.h"
#include "domain/QuillbarrowError.h"
#include "transport/DeviceSession.h"
#include "transport/MockDeviceSession.h"
#include "transport/MockTree.h"

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <optional>

namespace quillbarrow::testing {

// A device session for driving the transfer workflows through their error paths. It works on a
// mock device tree (so the happy path behaves like the mock session), records every call, and
// lets a test script what chosen calls do instead: fail, stall until the test releases them, or
// run a hook at the moment they begin (to cancel a job there, for example). Transfers can report
// progress from a worker thread, as real sessions do, and end cancelled when told to stop.
class ScriptedDeviceSession : public DeviceSession {
public:
    enum class Operation {
        rootDirectory,
        listDirectory,
        createFolder,
        deleteItem,
        downloadFile,
        uploadFile,
        rename,
        storages,
    };

    // What one scripted call does, in this order, before the mock's own work.
    struct Step {
        Operation operation = Operation::rootDirectory;
        // Which call: the folder or file name for createFolder and uploadFile, the item id for
        // listDirectory, deleteItem, downloadFile and rename, the storage id for rootDirectory;
        // empty for the next call of the operation (and always for storages).
        QString subject = {};
        // Runs as the call begins.
        std::function<void()> onCall = {};
        // A download writes these bytes to its destination first (the start of the file).
        QByteArray partialBytes = {};
        // The call waits until the test fulfils (or abandons) this.
        std::optional<OneShot<bool>> hold = {};
        // A transfer then reports this many bytes done; told to stop, it ends with userCancelled.
        std::optional<qint64> reportBytes = {};
        // The call then fails with this error.
        std::optional<QuillbarrowError> error = {};
        // A download then writes a file of this many bytes instead of the mock's text, reporting
        // nothing.
        std::optional<qint64> deliverBytes = {};
        // A download then grows its file to each of these sizes in turn (without writing the
        // bytes), reporting after each step no more than `reportAtMost`, as a session that trusts
        // the listed size does when the device sends more; told to stop, it ends with
        // userCancelled. The sizes reached are recorded in grownSizes().
        QList<qint64> growSizes = {};
        qint64 reportAtMost = 0;
        // A download then ends, its file as the steps before left it (written by onCall, say).
        bool endsHere = false;
    };

    explicit ScriptedDeviceSession(MockTree tree);

    // The step applies once, to the first call that matches it.
    void script(Step step);
    // "storages", "root <storage>", "list <id>", "createFolder <name>", "delete <id>",
    // "download <id>", "upload <name>", "rename <id> <new name>", in call order.
    const QStringList& calls() const { return m_calls; }
    // The sizes that scripted growing downloads reached, in order.
    const QList<qint64>& grownSizes() const { return m_grownSizes; }
    // The device as the session sees it now (the mock's listing of `parentID`'s children).
    QList<RemoteItem> children(const std::optional<RemoteObjectID>& parentID, const StorageID& storageID);

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

private:
    // Records the call and plays its scripted step, if any; true when the step already wrote the
    // whole download.
    QCoro::Task<bool> play(Operation operation, QString subject, QString record, QString destination,
                           TransferProgressFunction progress);

    MockDeviceSession m_mock;
    QList<Step> m_steps;
    QStringList m_calls;
    QList<qint64> m_grownSizes;
};

// A small device tree on storage "s1" for the tests, holding the given items.
StorageID testStorage();
MockTree treeOf(const QList<RemoteItem>& items);
RemoteItem deviceFolder(const QString& id, const QString& name, std::optional<QString> parentID = std::nullopt);
RemoteItem deviceFile(const QString& id, const QString& name, std::optional<qint64> size,
                      std::optional<QString> parentID = std::nullopt);

} // namespace quillbarrow::testing
