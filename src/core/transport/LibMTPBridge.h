#pragma once

#include "CMTPBridge.h"

#include <cstdint>
#include <memory>

namespace quillbarrow {

// The bridge's operations behind one interface, so that the libmtp backend and session can be
// run against a scripted bridge in tests. `system()` calls the real CMTP_ functions. Every
// operation blocks; implementations must be callable from worker threads (never two calls on
// one handle at once: the session serialises them).
class LibMTPBridge {
public:
    virtual ~LibMTPBridge() = default;

    virtual CMTPDeviceList detectDevices() = 0;
    virtual void freeDeviceList(CMTPDeviceList* list) = 0;
    virtual CMTPOpenResult openDevice(std::uint32_t busLocation, std::uint8_t devnum) = 0;
    virtual CMTPOpenResult openDeviceWithSeize(std::uint32_t busLocation, std::uint8_t devnum,
                                               std::int32_t maxAttempts, std::int32_t delayMs) = 0;
    virtual void closeDevice(CMTPDeviceHandle* handle) = 0;
    virtual CMTPDeviceIdentity deviceIdentity(CMTPDeviceHandle* handle) = 0;
    virtual CMTPStorageList storages(CMTPDeviceHandle* handle) = 0;
    virtual void freeStorageList(CMTPStorageList* list) = 0;
    virtual CMTPObjectList listDirectory(CMTPDeviceHandle* handle, std::uint32_t storageID,
                                         std::uint32_t parentID) = 0;
    virtual void freeObjectList(CMTPObjectList* list) = 0;
    virtual std::uint32_t rootParentID() = 0;
    virtual CMTPMutationResult createFolder(CMTPDeviceHandle* handle, const char* name, std::uint32_t parentID,
                                            std::uint32_t storageID) = 0;
    virtual CMTPMutationResult deleteObject(CMTPDeviceHandle* handle, std::uint32_t objectID) = 0;
    virtual CMTPMutationResult renameObject(CMTPDeviceHandle* handle, std::uint32_t objectID,
                                            const char* newName) = 0;
    // CMTP_DownloadFileOfSize: `knownSize` is the object's size as a listing gave it, below 0
    // when unknown.
    virtual CMTPMutationResult downloadFile(CMTPDeviceHandle* handle, std::uint32_t objectID,
                                            const char* destinationPath, std::int64_t knownSize,
                                            CMTPProgressCallback callback, void* context) = 0;
    // CMTP_UploadFileAmong: `existingIDs` are the objects named `name` in the parent now
    // (`existingCount` of them); a count below 0 means that the caller does not know.
    virtual CMTPMutationResult uploadFile(CMTPDeviceHandle* handle, const char* sourcePath, std::uint32_t parentID,
                                          std::uint32_t storageID, const char* name, std::uint64_t fileSize,
                                          const std::uint32_t* existingIDs, std::int32_t existingCount,
                                          CMTPProgressCallback callback, void* context) = 0;

    // The real bridge over libmtp.
    static std::shared_ptr<LibMTPBridge> system();
};

} // namespace quillbarrow
