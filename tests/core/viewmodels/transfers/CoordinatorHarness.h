#pragma once

#include "RunTask.h"
#include "async/OneShot.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/TransferQueue.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <unistd.h>

// Readable QString and QByteArray values, maps by key and errors in test failure messages.
void PrintTo(const QString& text, std::ostream* out);
void PrintTo(const QByteArray& bytes, std::ostream* out);
template <typename Value> void PrintTo(const QMap<QString, Value>& map, std::ostream* out)
{
    for (auto entry = map.cbegin(); entry != map.cend(); ++entry) {
        *out << (entry == map.cbegin() ? "{ " : ", ") << '"' << entry.key().toStdString() << "\": ";
        PrintTo(entry.value(), out);
    }
    *out << (map.isEmpty() ? "{}" : " }");
}
namespace quillbarrow {
void PrintTo(const QuillbarrowError& error, std::ostream* out);
}

namespace quillbarrow::testing {

// The coordinator with the workflow helpers opened up, so tests can drive a workflow of their own
// (as a device workflow would) against the real gate, tokens, questions and progress callback.
class CoordinatorHarness : public TransferCoordinator {
public:
    CoordinatorHarness(Clipboard* clipboard, std::shared_ptr<TransferQueue> queue,
                       std::optional<QString> openedFilesCache = std::nullopt);

    using TransferCoordinator::acquireTransferWorkflow;
    using TransferCoordinator::cancellationToken;
    using TransferCoordinator::cancelTransfers;
    using TransferCoordinator::canStartTransfer;
    using TransferCoordinator::clearStickyResolution;
    using TransferCoordinator::collectUploadCandidates;
    using TransferCoordinator::dropCancellationToken;
    using TransferCoordinator::enqueueTransfer;
    using TransferCoordinator::executeDownload;
    using TransferCoordinator::makeProgressFunction;
    using TransferCoordinator::refreshTransferJobs;
    using TransferCoordinator::requestResolution;
    using TransferCoordinator::uniqueName;
};

// A coordinator with its own clipboard and queue.
struct CoordinatorFixture {
    Clipboard clipboard;
    std::shared_ptr<TransferQueue> queue = std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue")));
    CoordinatorHarness coordinator{&clipboard, queue};

    TransferJob job(const TransferID& id) const { return *queue->job(id); }
    TransferState::Kind kindOf(const TransferID& id) const { return queue->job(id)->state.kind(); }
    // Enqueues a queued job the way workflows do and publishes the list.
    TransferID addJob(const QString& name, std::optional<qint64> totalBytes = std::nullopt);
};

// Answers each conflict question from a script, on the next turn of the event loop as the sheet
// would, and records the questions. An answer without a resolution is the sheet's Cancel.
class ConflictAnswerer {
public:
    struct Answer {
        std::optional<ConflictResolution> resolution;
        bool applyToAll = false;
    };

    ConflictAnswerer(TransferCoordinator& coordinator, QList<Answer> script);

    QList<ConflictRequest> asked;

private:
    void answerNext(TransferCoordinator& coordinator);

    QList<Answer> m_script;
    QObject m_context;
};

ConflictAnswerer::Answer answer(ConflictResolution resolution, bool applyToAll = false);
ConflictAnswerer::Answer cancelAnswer();

// A device session whose download reports progress from a worker thread, as real sessions do, and
// then stays open until the test releases it; the report after the release tells whether the job
// was cancelled meanwhile. Only the download is used.
class HeldDownloadSession : public DeviceSession {
public:
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

    OneShot<bool> release;
    bool started = false;
};

// Records the lines logged under one category while it lives.
class LogCapture {
public:
    explicit LogCapture(QString category = QStringLiteral("com.quillbarrow.app.TransferCoordinator"));
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;

private:
    QtMessageHandler m_previous;
};

// Runs `work` in a child process ended by killedNow() where the program is killed: no destructor
// runs, so its locks end with it and its notes stay in the staging record. True for killedNow(true).
bool inKilledProgram(const std::function<void()>& work);
[[noreturn]] inline void killedNow(bool ready) { ::_exit(ready ? 0 : 1); }

// A small tmpfs mounted at `folder` while it lives (root only; else `whyNot` says so, for GTEST_SKIP).
struct ScratchDisk {
    ScratchDisk(const QString& folder, qint64 bytes);
    ~ScratchDisk();
    ScratchDisk(const ScratchDisk&) = delete;
    const QString folder;
    QString whyNot;
};

// `source` (a folder or a single file) bound at `at` while it lives, as `mount --bind` does: a mount
// of the disk that holds it, on the same device (root only; else `whyNot` says so, for GTEST_SKIP).
// Unmounted wherever it has been moved meanwhile (with a folder that holds it, say).
struct BindMount {
    BindMount(const QString& source, const QString& at);
    ~BindMount();
    BindMount(const BindMount&) = delete;
    const QString at;
    QString whyNot;
    int held = -1;
};

// Small file helpers for real temporary folders.
void writeFile(const QString& path, const QByteArray& content);
QByteArray readFile(const QString& path);
// The entries of a folder, hidden ones included, sorted.
QStringList entriesOf(const QString& folder);
// Every path below a folder, relative to it, hidden ones included, sorted; folders end in "/".
QStringList localTreeOf(const QString& folder);

} // namespace quillbarrow::testing
