#include "MockDeviceSession.h"
#include "domain/LocalPath.h"

#include "domain/NfcText.h"
#include "domain/QuillbarrowError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillbarrow {

namespace {

[[noreturn]] void throwWriteError(int error, const QString& destination)
{
    throw std::filesystem::filesystem_error("Cannot write the downloaded file",
                                            std::filesystem::path(LocalPath::encoded(destination).toStdString()),
                                            std::error_code(error, std::generic_category()));
}

// Writes `bytes` beside `destination` and then moves them over it, so that a failed write
// never leaves a half-written file there nor destroys what was there before. Failures come
// out as the system's own error numbers.
void writeReplacing(const QString& destination, const QByteArray& bytes)
{
    const QFileInfo target(destination);
    const QString temporary = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                              QStringLiteral(".") + QUuid::createUuid().toString(QUuid::Id128) +
                              QStringLiteral(".part");
    const QByteArray temporaryName = LocalPath::encoded(temporary);
    const int fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        throwWriteError(errno, destination);
    }
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t step = ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step < 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(temporaryName.constData());
            throwWriteError(error, destination);
        }
        written += step;
    }
    if (::close(fd) != 0 || ::rename(temporaryName.constData(), LocalPath::encoded(destination).constData()) != 0) {
        const int error = errno;
        ::unlink(temporaryName.constData());
        throwWriteError(error, destination);
    }
}

} // namespace

MockDeviceSession::MockDeviceSession(AndroidDevice device, MockTree tree)
    : m_device(std::move(device)), m_tree(std::move(tree))
{
}

void MockDeviceSession::ensureOpen() const
{
    if (m_isClosed) {
        throw QuillbarrowError::sessionFailed(QStringLiteral("Session is already closed."));
    }
}

void MockDeviceSession::ensureValidParent(const std::optional<RemoteObjectID>& parentID,
                                          const StorageID& storageID) const
{
    // Without this an item would be filed under a storage or folder nobody can list: reported
    // as made, but lost.
    if (!m_tree.storage(storageID)) {
        throw QuillbarrowError::pathNotFound();
    }
    if (parentID) {
        const std::optional<RemoteItem> parent = m_tree.item(*parentID);
        if (!parent || parent->kind != RemoteItemKind::folder || !(parent->storageID == storageID)) {
            throw QuillbarrowError::pathNotFound();
        }
    }
}

QCoro::Task<QList<StorageRoot>> MockDeviceSession::storages()
{
    ensureOpen();
    co_return QList<StorageRoot>(m_tree.storages());
}

QCoro::Task<DirectoryPage> MockDeviceSession::rootDirectory(StorageID storageID)
{
    ensureOpen();
    const std::optional<StorageRoot> storage = m_tree.storage(storageID);
    if (!storage) {
        throw QuillbarrowError::pathNotFound();
    }
    co_return DirectoryPage(*storage, RemotePath(storageID, {}), std::nullopt, m_tree.children(std::nullopt, storageID));
}

QCoro::Task<DirectoryPage> MockDeviceSession::listDirectory(RemoteObjectID parentID, RemotePath path)
{
    ensureOpen();
    const std::optional<RemoteItem> folder = m_tree.item(parentID);
    if (!folder || folder->kind != RemoteItemKind::folder) {
        throw QuillbarrowError::pathNotFound();
    }
    const std::optional<StorageRoot> storage = m_tree.storage(folder->storageID);
    if (!storage) {
        throw QuillbarrowError::pathNotFound();
    }
    co_return DirectoryPage(*storage, std::move(path), parentID, m_tree.children(parentID, folder->storageID));
}

QCoro::Task<RemoteItem> MockDeviceSession::createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                                        StorageID storageID)
{
    ensureOpen();
    if (name.trimmed().isEmpty()) {
        throw QuillbarrowError::unsupportedOperation(QStringLiteral("Folder name cannot be empty."));
    }
    ensureValidParent(parentID, storageID);
    for (const RemoteItem& sibling : m_tree.children(parentID, storageID)) {
        if (NfcText::equal(sibling.name, name)) {
            throw QuillbarrowError::nameConflict(name);
        }
    }
    co_return m_tree.addFolder(name, parentID, storageID);
}

QCoro::Task<> MockDeviceSession::rename(RemoteObjectID itemID, QString newName)
{
    ensureOpen();
    m_tree.rename(itemID, newName);
    co_return;
}

QCoro::Task<> MockDeviceSession::deleteItem(RemoteObjectID itemID)
{
    ensureOpen();
    const QList<RemoteObjectID> below = m_tree.descendantIDs(itemID);
    m_tree.deleteItem(itemID);
    m_contents.remove(itemID);
    for (const RemoteObjectID& gone : below) {
        m_contents.remove(gone);
    }
    co_return;
}

QByteArray MockDeviceSession::downloadText(const RemoteItem& item)
{
    return (QStringLiteral("Mock download of ") + item.name + QStringLiteral(" \u2014 ") +
            QString::number(item.size.value_or(0)) + QStringLiteral(" bytes\n"))
        .toUtf8();
}

QCoro::Task<> MockDeviceSession::downloadFile(RemoteObjectID itemID, QString destination,
                                              TransferProgressFunction progress)
{
    ensureOpen();
    const std::optional<RemoteItem> item = m_tree.item(itemID);
    if (!item || item->kind != RemoteItemKind::file) {
        throw QuillbarrowError::pathNotFound();
    }
    co_await waitWhileHeld(progress, item->size);
    ensureOpen();
    if (!m_tree.item(itemID)) {
        throw QuillbarrowError::pathNotFound(); // deleted while the download waited
    }
    const auto kept = m_contents.constFind(itemID);
    const QByteArray bytes = kept != m_contents.constEnd() ? *kept : downloadText(*item);
    writeReplacing(destination, bytes);
    if (progress) {
        progress(bytes.size(), item->size); // reported once, when done; a stop request comes too late
    }
}

QCoro::Task<RemoteItem> MockDeviceSession::uploadFile(QString source, QString name,
                                                      std::optional<RemoteObjectID> parentID, StorageID storageID,
                                                      TransferProgressFunction progress)
{
    ensureOpen();
    ensureValidParent(parentID, storageID);
    const QByteArray sourceName = LocalPath::encoded(source);
    struct stat local {};
    const std::optional<qint64> size =
        ::stat(sourceName.constData(), &local) == 0 ? std::optional<qint64>(local.st_size) : std::nullopt;
    co_await waitWhileHeld(progress, size);
    ensureOpen();
    ensureValidParent(parentID, storageID); // the folder may have gone while the upload waited
    const RemoteItem added = m_tree.addFile(name, parentID, storageID, size);
    // Kept so that a download of the file gives the same bytes back; a file that cannot be read
    // is listed with its size alone.
    if (const int descriptor = ::open(sourceName.constData(), O_RDONLY | O_CLOEXEC); descriptor >= 0) {
        QFile file;
        if (file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            m_contents.insert(added.id, file.readAll());
        } else {
            ::close(descriptor);
        }
    }
    if (progress) {
        progress(size.value_or(0), size);
    }
    co_return added;
}

std::optional<QByteArray> MockDeviceSession::content(const RemoteObjectID& itemID) const
{
    const auto kept = m_contents.constFind(itemID);
    return kept != m_contents.constEnd() ? std::optional<QByteArray>(*kept) : std::nullopt;
}

void MockDeviceSession::holdTransfers()
{
    m_holdsTransfers = true;
}

void MockDeviceSession::releaseTransfers()
{
    m_holdsTransfers = false;
    const QList<OneShot<bool>> waiting = std::exchange(m_heldTransfers, {});
    for (const OneShot<bool>& transfer : waiting) {
        transfer.fulfil(true);
    }
}

QCoro::Task<> MockDeviceSession::waitWhileHeld(TransferProgressFunction progress, std::optional<qint64> total)
{
    if (!m_holdsTransfers) {
        co_return;
    }
    if (progress && !progress(0, total)) {
        throw QuillbarrowError::userCancelled();
    }
    const OneShot<bool> released;
    m_heldTransfers.append(released);
    co_await released.wait();
    if (progress && !progress(0, total)) {
        throw QuillbarrowError::userCancelled();
    }
}

QCoro::Task<> MockDeviceSession::close()
{
    m_isClosed = true;
    // Held transfers end now, failing as on a closed session.
    releaseTransfers();
    co_return;
}

} // namespace quillbarrow
