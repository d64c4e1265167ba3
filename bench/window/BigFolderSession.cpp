#include "BigFolderSession.h"

#include "domain/BrowserSort.h"
#include "domain/QuillbarrowError.h"

#include <QCoro/QCoroFuture>
#include <chrono>
#include <thread>

namespace quillbarrow {

namespace {

const RemoteObjectID bigFolderID(QStringLiteral("1"));
// Object handles as a device numbers them: the root's files after the big folder, its own
// items from here on.
constexpr int firstRootFileHandle = 2;
constexpr int firstBigFolderHandle = 100;
// The files of the big folder's inner folders: three for each, from here on.
constexpr int firstInnerFileHandle = 10'000'000;
constexpr int innerFiles = 3;

// What the device answers for one object: every text made anew, as a listing decodes it.
RemoteItem itemOf(const BigFolderSession::Entry& entry, int handle,
                  const std::optional<RemoteObjectID>& parentID, const RemotePath& parentPath)
{
    const QString name(entry.name.constData(), entry.name.size());
    return RemoteItem(RemoteObjectID(QString::number(handle)), BigFolderSession::storage().id, parentID, name,
                      entry.isFolder ? RemoteItemKind::folder : RemoteItemKind::file,
                      entry.isFolder ? std::nullopt : std::optional<qint64>(entry.size),
                      QDateTime::fromSecsSinceEpoch(entry.modifiedSecondsSinceEpoch, Qt::UTC),
                      parentPath.appending(name));
}

} // namespace

BigFolderSession::BigFolderSession(QString bigFolderName, QList<Entry> bigFolder, QList<Entry> rootFiles)
    : m_bigFolderName(std::move(bigFolderName)), m_bigFolder(std::move(bigFolder)),
      m_rootFiles(std::move(rootFiles))
{
}

BigFolderSession::~BigFolderSession()
{
    m_executor.waitForIdle();
}

StorageRoot BigFolderSession::storage()
{
    return StorageRoot(StorageID(QStringLiteral("65537")), QStringLiteral("Internal shared storage"),
                       256'000'000'000LL, 141'000'000'000LL);
}

AndroidDevice BigFolderSession::device() const
{
    return AndroidDevice(DeviceID(QStringLiteral("bench")), QStringLiteral("Bench"), std::nullopt,
                         std::nullopt, std::nullopt, DeviceConnectionKind::usb);
}

QList<RemoteItem> BigFolderSession::bigFolderItems() const
{
    return listBigFolder(RemotePath(storage().id, {m_bigFolderName}));
}

QList<RemoteItem> BigFolderSession::listBigFolder(const RemotePath& path) const
{
    QList<RemoteItem> items;
    items.reserve(m_bigFolder.size());
    for (qsizetype index = 0; index < m_bigFolder.size(); ++index) {
        items.append(
            itemOf(m_bigFolder[index], firstBigFolderHandle + static_cast<int>(index), bigFolderID, path));
    }
    return sortedForBrowser(items, FileSort::name, true);
}

QList<RemoteItem> BigFolderSession::listInnerFolder(qsizetype index, const RemotePath& path) const
{
    const Entry& folder = m_bigFolder[index];
    const RemoteObjectID parentID(QString::number(firstBigFolderHandle + static_cast<int>(index)));
    QList<RemoteItem> items;
    for (int file = 0; file < innerFiles; ++file) {
        const Entry inner{QStringLiteral("part %1.bin").arg(file), folder.size,
                          folder.modifiedSecondsSinceEpoch};
        items.append(itemOf(inner, firstInnerFileHandle + static_cast<int>(index) * innerFiles + file,
                            parentID, path));
    }
    return items;
}

QCoro::Task<QList<StorageRoot>> BigFolderSession::storages()
{
    co_return QList<StorageRoot>{storage()};
}

QCoro::Task<DirectoryPage> BigFolderSession::rootDirectory(StorageID storageID)
{
    auto job = [this, storageID] {
        if (!(storageID == storage().id)) {
            throw QuillbarrowError::pathNotFound();
        }
        const RemotePath root(storageID, {});
        QList<RemoteItem> items{RemoteItem(bigFolderID, storageID, std::nullopt, m_bigFolderName,
                                           RemoteItemKind::folder, std::nullopt, std::nullopt,
                                           root.appending(m_bigFolderName))};
        for (qsizetype index = 0; index < m_rootFiles.size(); ++index) {
            items.append(itemOf(m_rootFiles[index], firstRootFileHandle + static_cast<int>(index),
                                std::nullopt, root));
        }
        return DirectoryPage(storage(), root, std::nullopt, sortedForBrowser(items, FileSort::name, true));
    };
    co_return co_await m_executor.run(std::move(job));
}

QCoro::Task<DirectoryPage> BigFolderSession::listDirectory(RemoteObjectID parentID, RemotePath path)
{
    auto job = [this, parentID, path] {
        if (!m_open) {
            throw QuillbarrowError::pathNotFound();
        }
        if (!(parentID == bigFolderID)) {
            bool isNumber = false;
            const qsizetype index = parentID.rawValue().toLongLong(&isNumber) - firstBigFolderHandle;
            if (!isNumber || index < 0 || index >= m_bigFolder.size() || !m_bigFolder[index].isFolder) {
                throw QuillbarrowError::pathNotFound();
            }
            std::this_thread::sleep_for(innerFolderLatency);
            return DirectoryPage(storage(), path, parentID, listInnerFolder(index, path));
        }
        const auto started = std::chrono::steady_clock::now();
        DirectoryPage page(storage(), path, parentID, listBigFolder(path));
        m_lastListingSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ++m_listings;
        return page;
    };
    co_return co_await m_executor.run(std::move(job));
}

QCoro::Task<RemoteItem> BigFolderSession::createFolder(QString, std::optional<RemoteObjectID>, StorageID)
{
    throw QuillbarrowError::unsupportedOperation(QStringLiteral("The benchmark's phone cannot be changed."));
    co_return RemoteItem(RemoteObjectID(QString()), StorageID(QString()), std::nullopt, QString(),
                         RemoteItemKind::file, std::nullopt, std::nullopt, std::nullopt);
}

QCoro::Task<> BigFolderSession::rename(RemoteObjectID, QString)
{
    throw QuillbarrowError::unsupportedOperation(QStringLiteral("The benchmark's phone cannot be changed."));
    co_return;
}

QCoro::Task<> BigFolderSession::deleteItem(RemoteObjectID)
{
    throw QuillbarrowError::unsupportedOperation(QStringLiteral("The benchmark's phone cannot be changed."));
    co_return;
}

QCoro::Task<> BigFolderSession::downloadFile(RemoteObjectID, QString, TransferProgressFunction)
{
    throw QuillbarrowError::unsupportedOperation(QStringLiteral("The benchmark's phone sends no files."));
    co_return;
}

QCoro::Task<RemoteItem> BigFolderSession::uploadFile(QString, QString, std::optional<RemoteObjectID>,
                                                     StorageID, TransferProgressFunction)
{
    throw QuillbarrowError::unsupportedOperation(QStringLiteral("The benchmark's phone takes no files."));
    co_return RemoteItem(RemoteObjectID(QString()), StorageID(QString()), std::nullopt, QString(),
                         RemoteItemKind::file, std::nullopt, std::nullopt, std::nullopt);
}

QCoro::Task<> BigFolderSession::close()
{
    co_return;
}

} // namespace quillbarrow
