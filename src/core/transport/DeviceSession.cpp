#include "DeviceSession.h"

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

} // namespace quillbarrow
