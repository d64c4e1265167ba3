#pragma once

#include "CMTPLibMTPTable.h"
#include "Trace.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quillbarrow::fakes {

class FakeHostSystem;

// How a scripted failure shows on libmtp's error stack.
struct FakeFailure {
    bool stacked = true;             // false: the call fails without an error entry
    std::optional<std::string> text; // the entry's text (none: an entry without text)
};

struct FakeRawDevice {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint32_t busLocation = 0;
    uint8_t devnum = 0;
    std::optional<std::string> vendor;
    std::optional<std::string> product;
};

struct FakeDetection {
    int status = 0;
    std::vector<FakeRawDevice> devices;
};

struct FakeStorage {
    uint32_t id = 0;
    uint64_t capacity = 0;
    uint64_t freeSpace = 0;
    std::optional<std::string> description;
    std::optional<std::string> volumeIdentifier;
};

struct FakeObject {
    uint32_t id = 0;
    uint32_t parentId = 0;
    uint32_t storageId = 0;
    std::optional<std::string> name;
    uint64_t size = 0;
    int64_t modified = 0;
    LIBMTP_filetype_t type = LIBMTP_FILETYPE_UNKNOWN;
};

// What a transfer does: the byte counts reported to the progress function, and libmtp's
// behaviour when that function asks to cancel.
struct FakeTransfer {
    std::vector<uint64_t> progress;
    uint64_t total = 0;
    bool reportsObjectId = true;  // an upload writes the new object's id into the file record
    int statusWhenCancelled = -1; // libmtp's return after a cancel request
    // The bytes a download hands to the bridge's sink; the object's listed size when unset.
    std::optional<uint64_t> delivered = std::nullopt;
    // Called with the bytes an upload's data source has given so far, after each piece.
    std::function<void(uint64_t)> afterSourcePiece = nullptr;
};

struct FakeUpload {
    // The bytes the data source gave.
    std::string content;
    std::string name;
    uint32_t parentId = 0;
    uint32_t storageId = 0;
    uint64_t size = 0;
    int fileType = 0;
    bool hadProgress = false;
};

enum class FakeOperation {
    Storage,
    Listing,
    CreateFolder,
    Delete,
    Metadata,
    SetName,
    Download,
    Upload,
    NewFile
};

// An in-memory libmtp with one phone: raw devices for detection, storages, objects and an error
// stack, with failures scripted per operation. While alive it is the bridge's installed libmtp.
// It tracks every allocation it hands out, so tests can check that the bridge releases them.
class FakeLibMTP {
  public:
    explicit FakeLibMTP(Trace* trace = nullptr);
    ~FakeLibMTP();
    FakeLibMTP(const FakeLibMTP&) = delete;
    FakeLibMTP& operator=(const FakeLibMTP&) = delete;

    // Detection answers these devices (status 0), or "no device attached" (5) when there are none,
    // unless a scripted answer is pending.
    void setRawDevices(std::vector<FakeRawDevice> devices);
    void scriptDetections(std::vector<FakeDetection> answers);
    // The next `count` opens are refused; -1 refuses every open.
    void refuseOpens(int count);
    // Opens go through the host's USB as libmtp's do: a new descriptor on the device, then the
    // claim of its MTP interface (0); a claim another descriptor holds refuses the open and leaves
    // the descriptor open. Releasing a device closes its descriptor.
    void claimThrough(FakeHostSystem* host);
    // The next `count` opens fail after the claim and leave it held with the descriptor, as
    // libmtp 1.1.20 does when the device fails GetDeviceInfo.
    void failOpensAfterClaim(int count);

    void setIdentity(std::optional<std::string> friendly, std::optional<std::string> model,
                     std::optional<std::string> manufacturer, std::optional<std::string> serial);
    void setStorages(std::vector<FakeStorage> storages);
    void addObject(FakeObject object);
    void setNextObjectId(uint32_t id);
    void failNext(FakeOperation operation, FakeFailure failure);
    void pushError(FakeFailure failure);
    void setTransfer(FakeTransfer transfer);
    // The next download's writes to the file at `path` fail as on a full disk (ENOSPC): the
    // descriptor the bridge opened there is pointed at /dev/full before the first byte arrives.
    void fillDiskUnder(std::string path);

    int initCount() const;
    int detectionCount() const;
    int openCount() const;
    int openDevices() const;
    std::optional<FakeObject> object(uint32_t id) const;
    std::vector<uint32_t> objectIdsNamed(const std::string& name) const;
    std::vector<uint32_t> deletedIds() const;
    std::vector<FakeUpload> uploads() const;
    // Descriptions of single objects asked for (LIBMTP_Get_Filemetadata).
    int metadataRequests() const;
    // The objects downloads were asked for, in order.
    std::vector<uint32_t> downloadedObjects() const;
    std::vector<std::string> createdFolderNames() const;
    std::size_t errorStackSize() const;
    std::size_t outstandingAllocations() const;
    int badReleases() const;

    static const CMTPLibMTPTable& table();

  private:
    struct Hooks;
    friend struct Hooks;

    bool takeFailure(FakeOperation operation);
    void stack(const FakeFailure& failure);
    void* track(void* memory);
    bool untrack(void* memory);
    LIBMTP_file_t* newFileRecord(const FakeObject& object);
    void freeStorageChain(LIBMTP_mtpdevice_t* device);
    void reportProgress(LIBMTP_progressfunc_t callback, const void* data, bool* cancelled);

    Trace* m_trace;
    mutable std::mutex m_mutex;
    std::atomic<int> m_initCount{0};
    int m_detectionCount = 0;
    int m_openCount = 0;
    std::vector<FakeRawDevice> m_rawDevices;
    std::deque<FakeDetection> m_detections;
    int m_refusedOpens = 0;
    FakeHostSystem* m_usbHost = nullptr;
    int m_opensFailingAfterClaim = 0;
    std::set<LIBMTP_mtpdevice_t*> m_devices;
    std::map<LIBMTP_mtpdevice_t*, int> m_deviceDescriptors;
    std::optional<std::string> m_identity[4];
    std::vector<FakeStorage> m_storages;
    std::map<uint32_t, FakeObject> m_objects;
    uint32_t m_nextObjectId = 1000;
    std::map<FakeOperation, std::deque<FakeFailure>> m_failures;
    std::vector<FakeFailure> m_errorStack;
    std::vector<LIBMTP_error_t*> m_handedOutErrors;
    FakeTransfer m_transfer;
    std::vector<uint32_t> m_deleted;
    std::vector<FakeUpload> m_uploads;
    std::vector<uint32_t> m_downloads;
    std::string m_fullDestination;
    int m_metadataRequests = 0;
    std::vector<std::string> m_createdFolders;
    std::set<void*> m_allocations;
    int m_badReleases = 0;
};

} // namespace quillbarrow::fakes
