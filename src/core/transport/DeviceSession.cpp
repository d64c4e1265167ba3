#include "DeviceSession.h"

#include "domain/QuillbarrowError.h"

#include <QFile>

#include <exception>

namespace quillbarrow {

QCoro::Task<> DeviceSession::downloadFile(RemoteObjectID itemID, QString destination)
{
    co_await downloadFile(std::move(itemID), std::move(destination), TransferProgressFunction());
}

QCoro::Task<RemoteItem> DeviceSession::uploadFile(QString source, QString name,
                                                  std::optional<RemoteObjectID> parentID, StorageID storageID)
{
    co_return co_await uploadFile(std::move(source), std::move(name), std::move(parentID), std::move(storageID),
                                  TransferProgressFunction());
}

QCoro::Task<RemoteItem> DeviceSession::replaceFile(QString source, QString name,
                                                   std::optional<RemoteObjectID> parentID, StorageID storageID,
                                                   RemoteObjectID replacedID, QString keptCopy,
                                                   TransferProgressFunction progress)
{
    bool deleted = true;
    try {
        co_await deleteItem(std::move(replacedID));
    } catch (...) {
        deleted = false; // still there: the new file goes beside it, and nothing need come back
    }
    std::exception_ptr failure;
    try {
        RemoteItem sent = co_await uploadFile(std::move(source), name, parentID, storageID, std::move(progress));
        QFile::remove(keptCopy);
        co_return sent;
    } catch (...) {
        failure = std::current_exception();
    }
    bool restored = !deleted;
    if (deleted) {
        try {
            co_await uploadFile(keptCopy, name, parentID, storageID, TransferProgressFunction());
            restored = true;
        } catch (...) {
            // The copy stays where it is, the one place the old file still exists.
        }
    }
    if (restored) {
        QFile::remove(keptCopy);
    }
    std::rethrow_exception(failure);
}

} // namespace quillbarrow
