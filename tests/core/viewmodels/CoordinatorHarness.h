#pragma once

#include "RunTask.h"
#include "async/OneShot.h"
#include "viewmodels/Clipboard.h"
#include "viewmodels/TransferCoordinator.h"
#include "viewmodels/TransferQueue.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <ostream>
#include <thread>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace quillbarrow::testing {

// The coordinator with the workflow helpers opened up, so tests can drive a workflow of their own
// (as a device workflow would) against the real gate, tokens, questions and progress callback.
class CoordinatorHarness : public TransferCoordinator {
public:
    explicit CoordinatorHarness(Clipboard* clipboard, std::shared_ptr<TransferQueue> queue)
        : TransferCoordinator(clipboard, std::move(queue), AppLogger(QStringLiteral("TransferCoordinator")),
                              QDir::tempPath() + QStringLiteral("/quillbarrow-test-cache"))
    {
    }

    using TransferCoordinator::acquireTransferWorkflow;
    using TransferCoordinator::canStartTransfer;
    using TransferCoordinator::cancellationToken;
    using TransferCoordinator::cancelTransfers;
    using TransferCoordinator::clearStickyResolution;
    using TransferCoordinator::dropCancellationToken;
    using TransferCoordinator::enqueueTransfer;
    using TransferCoordinator::makeProgressFunction;
    using TransferCoordinator::refreshTransferJobs;
    using TransferCoordinator::requestResolution;
};

// A coordinator with its own clipboard and queue.
struct CoordinatorFixture {
    Clipboard clipboard;
    std::shared_ptr<TransferQueue> queue = std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue")));
    CoordinatorHarness coordinator{&clipboard, queue};

    TransferJob job(const TransferID& id) const { return *queue->job(id); }
    TransferState::Kind kindOf(const TransferID& id) const { return queue->job(id)->state.kind(); }
    // Enqueues a queued job the way workflows do and publishes the list.
    TransferID addJob(const QString& name, std::optional<qint64> totalBytes = std::nullopt)
    {
        const TransferJob job(TransferID::create(), TransferDirection::androidToMac, TransferPurpose::fileTransfer,
                              name, totalBytes, TransferState::queued(), 0);
        coordinator.enqueueTransfer(job);
        coordinator.refreshTransferJobs();
        return job.id;
    }
};

// Answers each conflict question from a script, on the next turn of the event loop as the sheet
// would, and records the questions. An answer without a resolution is the sheet's Cancel.
class ConflictAnswerer {
public:
    struct Answer {
        std::optional<ConflictResolution> resolution;
        bool applyToAll = false;
    };

    ConflictAnswerer(TransferCoordinator& coordinator, QList<Answer> script) : m_script(std::move(script))
    {
        QObject::connect(&coordinator, &TransferCoordinator::pendingConflictChanged, &m_context, [this, &coordinator] {
            if (!coordinator.pendingConflict()) {
                return;
            }
            asked.append(*coordinator.pendingConflict());
            if (m_script.isEmpty()) {
                ADD_FAILURE() << "unexpected question about " << coordinator.pendingConflict()->fileName.toStdString();
                m_script.append(Answer{});
            }
            const Answer answer = m_script.takeFirst();
            QMetaObject::invokeMethod(
                &m_context,
                [&coordinator, answer] {
                    if (answer.resolution) {
                        coordinator.resolveConflict(*answer.resolution, answer.applyToAll);
                    } else {
                        coordinator.cancelConflicts();
                    }
                },
                Qt::QueuedConnection);
        });
    }

    QList<ConflictRequest> asked;

private:
    QList<Answer> m_script;
    QObject m_context;
};

inline ConflictAnswerer::Answer answer(ConflictResolution resolution, bool applyToAll = false)
{
    return ConflictAnswerer::Answer{resolution, applyToAll};
}

inline ConflictAnswerer::Answer cancelAnswer()
{
    return ConflictAnswerer::Answer{std::nullopt, false};
}

// A device session whose download reports progress from a worker thread, as real sessions do, and
// then stays open until the test releases it. Only the download is used.
class HeldDownloadSession : public DeviceSession {
public:
    AndroidDevice device() const override;
    QCoro::Task<QList<StorageRoot>> storages() override { co_return {}; }
    QCoro::Task<DirectoryPage> rootDirectory(StorageID) override { throw QuillbarrowError::pathNotFound(); }
    QCoro::Task<DirectoryPage> listDirectory(RemoteObjectID, RemotePath) override
    {
        throw QuillbarrowError::pathNotFound();
    }
    QCoro::Task<RemoteItem> createFolder(QString, std::optional<RemoteObjectID>, StorageID) override
    {
        throw QuillbarrowError::unsupportedOperation(QStringLiteral("not used"));
    }
    QCoro::Task<> rename(RemoteObjectID, QString) override { co_return; }
    QCoro::Task<> deleteItem(RemoteObjectID) override { co_return; }
    QCoro::Task<RemoteItem> uploadFile(QString, QString, std::optional<RemoteObjectID>, StorageID,
                                       TransferProgressFunction) override
    {
        throw QuillbarrowError::unsupportedOperation(QStringLiteral("not used"));
    }
    QCoro::Task<> close() override { co_return; }

    QCoro::Task<> downloadFile(RemoteObjectID, QString destination, TransferProgressFunction progress) override
    {
        started = true;
        bool goOn = true;
        std::thread worker([&] { goOn = progress(1024, std::nullopt); });
        worker.join();
        const std::optional<bool> released = co_await release.wait();
        Q_UNUSED(released)
        // The next report tells whether the job was cancelled meanwhile.
        std::thread last([&] { goOn = goOn && progress(4096, std::nullopt); });
        last.join();
        if (!goOn) {
            throw QuillbarrowError::userCancelled();
        }
        QFile file(destination);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }

    OneShot<bool> release;
    bool started = false;
};

inline AndroidDevice HeldDownloadSession::device() const
{
    return AndroidDevice(DeviceID(QStringLiteral("held")), QStringLiteral("Held"), std::nullopt, std::nullopt,
                         std::nullopt, DeviceConnectionKind::usb);
}

// Small file helpers for real temporary folders.
inline void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray("<missing>");
    }
    return file.readAll();
}

// The entries of a folder, hidden ones included, sorted.
inline QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace quillbarrow::testing
