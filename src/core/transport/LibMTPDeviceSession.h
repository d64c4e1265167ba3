#pragma once

#include "DeviceSession.h"
#include "LibMTPBridge.h"
#include "LibMTPSessionServices.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace quillbarrow {

// The session of one opened MTP device, over the libmtp bridge.
//
// Every operation (close() included) passes a first-in-first-out gate that it holds until all of
// its device work is over, a whole transfer and its retry included, so the device never sees two
// calls at once and callers are served strictly in the order they arrived. Blocking bridge calls
// (storages, listings, create, rename, delete, close, the free-space check) run on the session's
// own serial worker; downloads and uploads run on a second worker, so the first stays free while
// bytes move. Operations are awaited from main-thread coroutines.
//
// Identifiers are the decimal texts of the MTP storage and object ids. An identifier that is not
// a decimal unsigned 32-bit number cannot name anything on the device and fails with
// pathNotFound; this includes a given parent of createFolder() or uploadFile() (only an absent
// parent means the storage root). After close() every throwing operation fails with
// sessionFailed and closedMessage().
//
// The device handle is closed exactly once, on the services' closer when there is one: by close(),
// or after the session is dropped and the operations still running on it have ended.
//
// Uploads and what they left: with an interrupted-upload log and a device that can be told apart
// from others (InterruptedUploadLog::deviceKey), an upload into a folder whose path the session
// knows and which holds no object of the file's name is noted in the log before it is sent, and
// the note is removed once the session knows what the upload left (it succeeded, or was stopped
// and a look at the folder found nothing of it, or its leftover was deleted). The first operation
// of a session (close() aside) first settles the device's notes of earlier sessions: where the
// folder, found by a path of folders each the only one of its name, still holds exactly one object
// of that name, a file smaller than the noted size, it is deleted, and a kept copy of what the
// upload replaced is sent back; anything else is left alone. A note is kept for the next session
// only when the device could not be asked. The log is compacted as the session opens and closes.
class LibMTPDeviceSession final : public DeviceSession {
public:
    LibMTPDeviceSession(AndroidDevice device, CMTPDeviceHandle* handle, std::shared_ptr<LibMTPBridge> bridge,
                        LibMTPSessionServices services = {});
    ~LibMTPDeviceSession() override;
    LibMTPDeviceSession(const LibMTPDeviceSession&) = delete;
    LibMTPDeviceSession& operator=(const LibMTPDeviceSession&) = delete;

    AndroidDevice device() const override;
    // In the device's order; refreshes the cached storages that the page operations look up.
    QCoro::Task<QList<StorageRoot>> storages() override;
    QCoro::Task<DirectoryPage> rootDirectory(StorageID storageID) override;
    QCoro::Task<DirectoryPage> listDirectory(RemoteObjectID parentID, RemotePath path) override;
    // The returned item's path is the storage root's with the name appended when the folder was
    // made in the root; for a folder made inside another one the session does not know the path.
    QCoro::Task<RemoteItem> createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                         StorageID storageID) override;
    QCoro::Task<> rename(RemoteObjectID itemID, QString newName) override;
    QCoro::Task<> deleteItem(RemoteObjectID itemID) override;
    // The destination file is made with mode 0666 less the umask, and left as the bridge left it,
    // also on failure or cancellation. A file whose size a listing of this session showed is
    // fetched without asking the device for its size again.
    QCoro::Task<> downloadFile(RemoteObjectID itemID, QString destination,
                               TransferProgressFunction progress) override;
    // Refuses with insufficientSpace, before sending anything, a file larger than the free space
    // of its storage. The storages are read when the session has not read them yet; after that
    // the free space is reckoned from the last read less the bytes sent there since, and the
    // device is asked again only when a file would not fit by that reckoning (storages() reads
    // afresh, so a caller that sends a batch asks once at its start); when it cannot be asked, the
    // reckoning decides. An attempt that fails with transferFailed, backendProtocolError,
    // unknown or transferInterrupted is sent once more; an object that a failed attempt left on
    // the device is deleted first (and after a final failure). A stop asked for through the
    // progress function ends with userCancelled and is not retried. The item's path follows the
    // rule of createFolder(). The bridge is told which objects of the file's name the folder
    // held, when a listing that this session made and kept up to date says so, so that it need
    // not list a large folder again to clean up after a stop.
    QCoro::Task<RemoteItem> uploadFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                       StorageID storageID, TransferProgressFunction progress) override;
    // Notes the kept copy with the upload where uploads are noted (see above), so that the next
    // session on the device sends it back when the new file did not arrive whole and the device
    // could not be asked at once; the copy is removed once it is back, or the new file whole.
    QCoro::Task<RemoteItem> replaceFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                        StorageID storageID, RemoteObjectID replacedID, QString keptCopy,
                                        TransferProgressFunction progress) override;
    QCoro::Task<> close() override;

    using DeviceSession::downloadFile;
    using DeviceSession::uploadFile;

    // "The MTP session is already closed."
    static QString closedMessage();
    // The MTP id an identifier's text stands for: decimal digits only, within unsigned 32 bits.
    static std::optional<std::uint32_t> mtpID(const QString& text);

    // The session's state, shared with the operations still running so that they may finish
    // after the session has been dropped.
    struct Core;

private:
    AndroidDevice m_device;
    std::shared_ptr<Core> m_core;
};

} // namespace quillbarrow
