#pragma once

#include "DirectoryPage.h"
#include "TransferProgressFunction.h"
#include "domain/AndroidDevice.h"
#include "domain/RemoteItem.h"
#include "domain/RemoteObjectID.h"
#include "domain/RemotePath.h"
#include "domain/StorageID.h"
#include "domain/StorageRoot.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>

#include <optional>

namespace quillbarrow {

// One open session on one device. Every throwing operation reports QuillbarrowError cases
// (the mock's download may pass on a file-writing error unchanged). Rules every session keeps:
// - listings come sorted in the browser order by name ascending;
// - an unknown storage, or an object id the session cannot resolve itself, is pathNotFound;
// - after close(), every throwing operation fails with sessionFailed; close() may repeat;
// - a transfer stopped through its progress function ends with userCancelled where the
//   session honours the request.
// Operations run one at a time; device() answers without waiting for them.
class DeviceSession {
public:
    virtual ~DeviceSession() = default;

    virtual AndroidDevice device() const = 0;
    virtual QCoro::Task<QList<StorageRoot>> storages() = 0;
    virtual QCoro::Task<DirectoryPage> rootDirectory(StorageID storageID) = 0;
    virtual QCoro::Task<DirectoryPage> listDirectory(RemoteObjectID parentID, RemotePath path) = 0;
    // Creates the folder (in the storage root when there is no parent); the returned item's id
    // can be used as a parent at once.
    virtual QCoro::Task<RemoteItem> createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                                 StorageID storageID) = 0;
    virtual QCoro::Task<> rename(RemoteObjectID itemID, QString newName) = 0;
    // Deletes the object (a folder with its contents, as far as the device does so).
    virtual QCoro::Task<> deleteItem(RemoteObjectID itemID) = 0;
    // Writes the device file to the local file at `destination`.
    virtual QCoro::Task<> downloadFile(RemoteObjectID itemID, QString destination,
                                       TransferProgressFunction progress) = 0;
    // Creates a file named `name` from the local file at `source`.
    virtual QCoro::Task<RemoteItem> uploadFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                               StorageID storageID, TransferProgressFunction progress) = 0;
    virtual QCoro::Task<> close() = 0;

    // Puts the file at `source` in the place of the object `replacedID`, named `name`, on a device
    // where the new file cannot arrive beside the old one first. `keptCopy` is a whole local copy
    // of the old object, made by the caller; the session takes it over. The old object is deleted,
    // then the new file sent; when it does not arrive whole, the kept copy is sent back under
    // `name`. The kept copy is removed once it is no longer needed: at once, or, where the session
    // can note it, after it was sent back at the next session on the device. When the old object
    // cannot be deleted, the new file is sent beside it and nothing is sent back. Ends as the
    // upload of `source` ended.
    virtual QCoro::Task<RemoteItem> replaceFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                                StorageID storageID, RemoteObjectID replacedID, QString keptCopy,
                                                TransferProgressFunction progress);

    // Without a progress function.
    QCoro::Task<> downloadFile(RemoteObjectID itemID, QString destination);
    QCoro::Task<RemoteItem> uploadFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                       StorageID storageID);
};

} // namespace quillbarrow
