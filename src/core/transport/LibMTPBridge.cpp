#include "LibMTPBridge.h"

namespace quillbarrow {

namespace {

class SystemLibMTPBridge final : public LibMTPBridge {
public:
    CMTPDeviceList detectDevices() override { return CMTP_DetectDevices(); }
    void freeDeviceList(CMTPDeviceList* list) override { CMTP_FreeDeviceList(list); }
    CMTPOpenResult openDevice(std::uint32_t busLocation, std::uint8_t devnum) override
    {
        return CMTP_OpenDevice(busLocation, devnum);
    }
    CMTPOpenResult openDeviceWithSeize(std::uint32_t busLocation, std::uint8_t devnum, std::int32_t maxAttempts,
                                       std::int32_t delayMs) override
    {
        return CMTP_OpenDeviceWithSeize(busLocation, devnum, maxAttempts, delayMs);
    }
    void closeDevice(CMTPDeviceHandle* handle) override { CMTP_CloseDevice(handle); }
    CMTPDeviceIdentity deviceIdentity(CMTPDeviceHandle* handle) override { return CMTP_GetDeviceIdentity(handle); }
    CMTPStorageList storages(CMTPDeviceHandle* handle) override { return CMTP_GetStorages(handle); }
    void freeStorageList(CMTPStorageList* list) override { CMTP_FreeStorageList(list); }
    CMTPObjectList listDirectory(CMTPDeviceHandle* handle, std::uint32_t storageID, std::uint32_t parentID) override
    {
        return CMTP_ListDirectory(handle, storageID, parentID);
    }
    void freeObjectList(CMTPObjectList* list) override { CMTP_FreeObjectList(list); }
    std::uint32_t rootParentID() override { return CMTP_RootParentID(); }
    CMTPMutationResult createFolder(CMTPDeviceHandle* handle, const char* name, std::uint32_t parentID,
                                    std::uint32_t storageID) override
    {
        return CMTP_CreateFolder(handle, name, parentID, storageID);
    }
    CMTPMutationResult deleteObject(CMTPDeviceHandle* handle, std::uint32_t objectID) override
    {
        return CMTP_DeleteObject(handle, objectID);
    }
    CMTPMutationResult renameObject(CMTPDeviceHandle* handle, std::uint32_t objectID, const char* newName) override
    {
        return CMTP_RenameObject(handle, objectID, newName);
    }
    CMTPMutationResult downloadFile(CMTPDeviceHandle* handle, std::uint32_t objectID, const char* destinationPath,
                                    std::int64_t knownSize, CMTPProgressCallback callback, void* context) override
    {
        return CMTP_DownloadFileOfSize(handle, objectID, destinationPath, knownSize, callback, context);
    }
    CMTPMutationResult uploadFile(CMTPDeviceHandle* handle, const char* sourcePath, std::uint32_t parentID,
                                  std::uint32_t storageID, const char* name, std::uint64_t fileSize,
                                  const std::uint32_t* existingIDs, std::int32_t existingCount,
                                  CMTPProgressCallback callback, void* context) override
    {
        return CMTP_UploadFileAmong(handle, sourcePath, parentID, storageID, name, fileSize, existingIDs,
                                    existingCount, callback, context);
    }
};

} // namespace

std::shared_ptr<LibMTPBridge> LibMTPBridge::system()
{
    static const std::shared_ptr<LibMTPBridge> bridge = std::make_shared<SystemLibMTPBridge>();
    return bridge;
}

} // namespace quillbarrow
