#include "WorkerMockSession.h"

#include "domain/QuillbarrowError.h"

#include <QFile>
#include <QFileInfo>

#include <QCoro/QCoroFuture>

namespace quillbarrow {

namespace {

AndroidDevice benchDevice()
{
    return AndroidDevice(DeviceID(QStringLiteral("bench")), QStringLiteral("Bench"), std::nullopt, std::nullopt,
                         std::nullopt, DeviceConnectionKind::usb);
}

} // namespace

WorkerMockSession::WorkerMockSession(MockTree tree) : m_tree(std::move(tree)) {}

WorkerMockSession::~WorkerMockSession()
{
    m_executor.waitForIdle();
}

AndroidDevice WorkerMockSession::device() const
{
    return benchDevice();
}

void WorkerMockSession::noteTransferStart()
{
    if (!m_transferred.exchange(true)) {
        m_firstTransfer.store(Clock::now().time_since_epoch().count());
    }
}

std::optional<WorkerMockSession::Clock::time_point> WorkerMockSession::firstTransferStarted() const
{
    if (!m_transferred.load()) {
        return std::nullopt;
    }
    return Clock::time_point(Clock::duration(m_firstTransfer.load()));
}

QCoro::Task<QList<StorageRoot>> WorkerMockSession::storages()
{
    auto job = [this] { return m_tree.storages(); };
    co_return co_await m_executor.run(std::move(job));
}

QCoro::Task<DirectoryPage> WorkerMockSession::rootDirectory(StorageID storageID)
{
    auto job = [this, storageID] {
        const std::optional<StorageRoot> storage = m_tree.storage(storageID);
        if (!storage) {
            throw QuillbarrowError::pathNotFound();
        }
        return DirectoryPage(*storage, RemotePath(storageID, {}), std::nullopt, m_tree.children(std::nullopt, storageID));
    };
    co_return co_await m_executor.run(std::move(job));
}

QCoro::Task<DirectoryPage> WorkerMockSession::listDirectory(RemoteObjectID parentID, RemotePath path)
{
    auto job = [this, parentID, path] {
        // The benchmark lists only folders it made, on its one storage.
        const std::optional<RemoteItem> folder = m_tree.item(parentID);
        if (!folder) {
            throw QuillbarrowError::pathNotFound();
        }
        return DirectoryPage(m_tree.storages().front(), path, parentID, m_tree.children(parentID, folder->storageID));
    };
    co_return co_await m_executor.run(std::move(job));
}

QCoro::Task<RemoteItem> WorkerMockSession::createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                                        StorageID storageID)
{
    auto job = [this, name, parentID, storageID] {
        if (!m_tree.storage(storageID)) {
            throw QuillbarrowError::pathNotFound();
        }
        for (const RemoteItem& sibling : m_tree.children(parentID, storageID)) {
            if (sibling.name == name) {
                throw QuillbarrowError::nameConflict(name);
            }
        }
        return m_tree.addFolder(name, parentID, storageID);
    };
    co_return co_await m_executor.run(std::move(job));
}

QCoro::Task<> WorkerMockSession::rename(RemoteObjectID itemID, QString newName)
{
    auto job = [this, itemID, newName] { m_tree.rename(itemID, newName); };
    co_await m_executor.run(std::move(job));
}

QCoro::Task<> WorkerMockSession::deleteItem(RemoteObjectID itemID)
{
    auto job = [this, itemID] { m_tree.deleteItem(itemID); };
    co_await m_executor.run(std::move(job));
}

QCoro::Task<> WorkerMockSession::downloadFile(RemoteObjectID itemID, QString destination,
                                              TransferProgressFunction progress)
{
    noteTransferStart();
    auto job = [this, itemID, destination, progress] {
        const std::optional<RemoteItem> item = m_tree.item(itemID);
        if (!item || item->kind != RemoteItemKind::file) {
            throw QuillbarrowError::pathNotFound();
        }
        const QByteArray text = item->name.toUtf8() + '\n';
        QFile file(destination);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
            throw QuillbarrowError::sessionFailed(QStringLiteral("Cannot write ") + destination);
        }
        if (progress && !progress(text.size(), item->size)) {
            throw QuillbarrowError::userCancelled();
        }
    };
    // One queued call back to the main thread, as the libmtp session's transfers make.
    co_await m_executor.call(std::move(job));
}

QCoro::Task<RemoteItem> WorkerMockSession::uploadFile(QString source, QString name,
                                                      std::optional<RemoteObjectID> parentID, StorageID storageID,
                                                      TransferProgressFunction progress)
{
    noteTransferStart();
    auto job = [this, source, name, parentID, storageID, progress] {
        if (!m_tree.storage(storageID) || (parentID && !m_tree.item(*parentID))) {
            throw QuillbarrowError::pathNotFound();
        }
        const QFileInfo local(source);
        if (!local.exists()) {
            throw QuillbarrowError::pathNotFound();
        }
        if (progress && !progress(local.size(), local.size())) {
            throw QuillbarrowError::userCancelled();
        }
        return m_tree.addFile(name, parentID, storageID, local.size());
    };
    co_return co_await m_executor.call(std::move(job));
}

QCoro::Task<> WorkerMockSession::close()
{
    co_return;
}

QCoro::Task<QList<RemoteItem>> WorkerMockSession::children(std::optional<RemoteObjectID> parentID, StorageID storageID)
{
    auto job = [this, parentID, storageID] { return m_tree.children(parentID, storageID); };
    co_return co_await m_executor.run(std::move(job));
}

} // namespace quillbarrow
