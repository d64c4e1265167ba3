#include "CMTPBridge.h"

#include "BridgeSupport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillbarrow::mtpbridge;

static_assert(LIBMTP_FILETYPE_FOLDER == 0, "folders are file type 0");
static_assert(LIBMTP_FILETYPE_UNKNOWN == 44, "uploads are sent as file type 44");

namespace {

// One transfer's progress as the caller sees it. libmtp counts the protocol's containers with the
// file's bytes (the request before the data, and an upload's data header), so its counts run a
// few bytes past the file and its total is the file's size plus that overhead. When the file's
// size is known, the caller is told the file's own bytes: the overhead, which libmtp counts
// first, is taken off, and no count passes the size. A caller that compares the count with the
// file's size (a size limit, a progress bar) would otherwise see the file grow.
struct ProgressRelay {
    CMTPProgressContext progress;
    bool sizeKnown;
    uint64_t size;
    // The last count of the file's bytes forwarded.
    uint64_t forwarded = 0;
};

uint64_t fileBytesDone(uint64_t sent, uint64_t total, uint64_t size)
{
    uint64_t done = sent;
    if (total > size) {
        const uint64_t overhead = total - size;
        done = sent > overhead ? sent - overhead : 0;
    }
    return done < size ? done : size;
}

// The bytes of an upload's source, read by the bridge itself from a descriptor it opened: a file
// that ends before the size it was announced with ends the upload with an error, where libmtp's
// own reading would wait for the missing bytes for ever.
struct SourceFeed {
    int fd = -1;
    uint64_t delivered = 0;
    bool endedEarly = false;
    int readError = 0;
};

// The destination of a download, written by the bridge itself to a descriptor it opened. libmtp's
// own writing reports a failed write as a cancelled transfer; here its cause is kept, so that a
// full disk or an exceeded quota is told as what it is.
struct DestinationSink {
    int fd = -1;
    uint64_t written = 0;
    int writeError = 0;
};

} // namespace

extern "C" {
// libmtp's data source for an upload: fills the buffer whole, or stops the transfer as a cancel
// does, so that libmtp tells the device to drop the data phase (a device left in the middle of one
// takes the next request for more data: QEMU's device aborts on it).
static uint16_t feed_source(void* /*params*/, void* priv, uint32_t wantlen, unsigned char* data, uint32_t* gotlen)
{
    auto* feed = static_cast<SourceFeed*>(priv);
    uint32_t got = 0;
    while (got < wantlen) {
        const ssize_t count = ::read(feed->fd, data + got, wantlen - got);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (count < 0) {
                feed->readError = errno;
            } else {
                feed->endedEarly = true;
            }
            feed->delivered += got;
            *gotlen = got;
            return LIBMTP_HANDLER_RETURN_CANCEL;
        }
        got += static_cast<uint32_t>(count);
    }
    feed->delivered += got;
    *gotlen = got;
    return LIBMTP_HANDLER_RETURN_OK;
}

// libmtp's data sink for a download: writes the piece whole, or stops the transfer as libmtp's own
// descriptor writing does on a failed write (an error, not a cancel: the device sees what it saw
// before).
static uint16_t put_destination(void* /*params*/, void* priv, uint32_t sendlen, unsigned char* data,
                                uint32_t* putlen)
{
    auto* sink = static_cast<DestinationSink*>(priv);
    uint32_t put = 0;
    while (put < sendlen) {
        const ssize_t count = ::write(sink->fd, data + put, sendlen - put);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            // A regular file takes at least one byte of a write or says why not.
            sink->writeError = count < 0 ? errno : EIO;
            sink->written += put;
            *putlen = put;
            return LIBMTP_HANDLER_RETURN_ERROR;
        }
        put += static_cast<uint32_t>(count);
    }
    sink->written += put;
    *putlen = put;
    return LIBMTP_HANDLER_RETURN_OK;
}

// libmtp's progress function: forwards to the caller's callback and remembers a cancel request.
static int progress_trampoline(uint64_t const sent, uint64_t const total, void const* const data)
{
    auto* relay = static_cast<ProgressRelay*>(const_cast<void*>(data));
    if (relay == nullptr || relay->progress.callback == nullptr) {
        return 0;
    }
    CMTPProgressContext& progress = relay->progress;
    relay->forwarded = relay->sizeKnown ? fileBytesDone(sent, total, relay->size) : sent;
    const int32_t answer = progress.callback(relay->forwarded, relay->sizeKnown ? relay->size : total,
                                             progress.context);
    if (answer != 0) {
        progress.cancelled = 1;
    }
    return answer;
}
}

namespace {

LIBMTP_mtpdevice_t* deviceOf(const CMTPDeviceHandle* handle)
{
    return handle != nullptr ? handle->device : nullptr;
}

template <typename Record> Record zeroed()
{
    Record record;
    std::memset(&record, 0, sizeof record);
    return record;
}

template <typename Record> void fail(Record& record, int code, const char* text)
{
    record.error_code = code;
    copyText(record.error_message, text);
}

template <typename Record> void failNoDevice(Record& record)
{
    fail(record, LIBMTP_ERROR_NO_DEVICE_ATTACHED, fixedErrorText(LIBMTP_ERROR_NO_DEVICE_ATTACHED));
}

// Stale entries from earlier calls must not be reported as this call's failure.
void clearErrors(LIBMTP_mtpdevice_t* device)
{
    libmtp().clear_errorstack(device);
}

bool hasStackedError(LIBMTP_mtpdevice_t* device)
{
    return libmtp().get_errorstack(device) != nullptr;
}

// Reports `code` with libmtp's first error text, or `fallback` when the stack has none, and
// clears the stack.
template <typename Record>
void failWithLibMTPText(Record& record, LIBMTP_mtpdevice_t* device, int code, const char* fallback)
{
    const LIBMTP_error_t* first = libmtp().get_errorstack(device);
    const char* text = first != nullptr && first->error_text != nullptr ? first->error_text : fallback;
    fail(record, code, text);
    clearErrors(device);
}

template <typename Record> void failGeneral(Record& record, LIBMTP_mtpdevice_t* device)
{
    failWithLibMTPText(record, device, LIBMTP_ERROR_GENERAL, fixedErrorText(LIBMTP_ERROR_GENERAL));
}

template <typename Record> void failMemory(Record& record)
{
    fail(record, LIBMTP_ERROR_MEMORY_ALLOCATION, fixedErrorText(LIBMTP_ERROR_MEMORY_ALLOCATION));
}

void releaseFileList(LIBMTP_file_t* files)
{
    while (files != nullptr) {
        LIBMTP_file_t* next = files->next;
        libmtp().destroy_file_t(files);
        files = next;
    }
}

char* copyString(const char* text)
{
    const std::size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr) {
        std::memcpy(copy, text, size);
    }
    return copy;
}

void copyIdentityString(char (&field)[256], char* text)
{
    copyText(field, text);
    if (text != nullptr) {
        libmtp().free_memory(text);
    }
}

// The ids of the objects named `name` in one folder from before an upload, so that its clean-up
// can tell a partly sent object from an older object of the same name: taken by the bridge, or
// given by a caller that knows the folder. `known` is false when neither could say: the clean-up
// by name then removes nothing.
struct NameSnapshot {
    bool known = false;
    const uint32_t* ids = nullptr;
    std::size_t count = 0;
    uint32_t* owned = nullptr;

    NameSnapshot() = default;
    NameSnapshot(const NameSnapshot&) = delete;
    NameSnapshot& operator=(const NameSnapshot&) = delete;
    ~NameSnapshot() { std::free(owned); }

    bool contains(uint32_t id) const
    {
        for (std::size_t i = 0; i < count; ++i) {
            if (ids[i] == id) {
                return true;
            }
        }
        return false;
    }
};

bool hasName(const LIBMTP_file_t* file, const char* name)
{
    return file->filename != nullptr && std::strcmp(file->filename, name) == 0;
}

void takeSnapshot(NameSnapshot& snapshot, LIBMTP_mtpdevice_t* device, uint32_t storage_id, uint32_t parent_id,
                  const char* name)
{
    clearErrors(device);
    LIBMTP_file_t* files = libmtp().get_files_and_folders(device, storage_id, parent_id);
    if (files == nullptr) {
        snapshot.known = !hasStackedError(device);
        clearErrors(device);
        return;
    }
    std::size_t matches = 0;
    for (const LIBMTP_file_t* file = files; file != nullptr; file = file->next) {
        matches += hasName(file, name) ? 1 : 0;
    }
    if (matches > 0) {
        snapshot.owned = static_cast<uint32_t*>(std::calloc(matches, sizeof(uint32_t)));
    }
    if (matches == 0 || snapshot.owned != nullptr) {
        for (const LIBMTP_file_t* file = files; file != nullptr; file = file->next) {
            if (hasName(file, name)) {
                snapshot.owned[snapshot.count++] = file->item_id;
            }
        }
        snapshot.ids = snapshot.owned;
        snapshot.known = true;
    }
    releaseFileList(files);
}

// One attempt at removing what a cancelled upload left on the device; false when the device did
// not carry it out (the deletion or the listing failed).
bool tryRemovePartialUpload(LIBMTP_mtpdevice_t* device, uint32_t object_id, const NameSnapshot& before,
                            uint32_t storage_id, uint32_t parent_id, const char* name)
{
    clearErrors(device);
    if (object_id != 0) {
        return libmtp().delete_object(device, object_id) == 0;
    }
    if (!before.known) {
        return true;
    }
    LIBMTP_file_t* files = libmtp().get_files_and_folders(device, storage_id, parent_id);
    if (files == nullptr) {
        return !hasStackedError(device);
    }
    // The partly sent object is the newest object of that name that was not there before.
    uint32_t partial = 0;
    bool found = false;
    for (const LIBMTP_file_t* file = files; file != nullptr; file = file->next) {
        if (hasName(file, name) && !before.contains(file->item_id) && (!found || file->item_id > partial)) {
            partial = file->item_id;
            found = true;
        }
    }
    releaseFileList(files);
    return !found || libmtp().delete_object(device, partial) == 0;
}

// Removes what a cancelled upload left on the device. A device may still be winding up the data
// phase that the cancel broke off and lose the first request that follows (uMTP-Responder takes it
// for the rest of the file and never answers it), so a failed attempt is made once more. Failures
// are not reported: the caller learns that the upload was cancelled.
void removePartialUpload(LIBMTP_mtpdevice_t* device, uint32_t object_id, const NameSnapshot& before,
                         uint32_t storage_id, uint32_t parent_id, const char* name)
{
    if (!tryRemovePartialUpload(device, object_id, before, storage_id, parent_id, name)) {
        tryRemovePartialUpload(device, object_id, before, storage_id, parent_id, name);
    }
}

} // namespace

extern "C" {

CMTPDeviceList CMTP_DetectDevices(void)
{
    ensureLibMTPInitialised();
    CMTPDeviceList result = zeroed<CMTPDeviceList>();
    const CMTPLibMTPTable& mtp = libmtp();

    LIBMTP_raw_device_t* raw = nullptr;
    int count = 0;
    int status = 0;
    {
        std::lock_guard lock(discoveryMutex());
        status = static_cast<int>(mtp.detect_raw_devices(&raw, &count));
    }
    // libmtp reports "no device attached" as an error; for detection it is simply an empty list.
    if (status != LIBMTP_ERROR_NONE && status != LIBMTP_ERROR_NO_DEVICE_ATTACHED) {
        fail(result, status, fixedErrorText(status));
    } else if (raw != nullptr && count > 0) {
        result.entries = static_cast<CMTPRawDeviceEntry*>(std::calloc(count, sizeof(CMTPRawDeviceEntry)));
        if (result.entries == nullptr) {
            failMemory(result);
        } else {
            result.count = count;
            for (int i = 0; i < count; ++i) {
                CMTPRawDeviceEntry& entry = result.entries[i];
                const LIBMTP_raw_device_t& device = raw[i];
                entry.vendor_id = device.device_entry.vendor_id;
                entry.product_id = device.device_entry.product_id;
                entry.bus_location = device.bus_location;
                entry.devnum = device.devnum;
                copyText(entry.vendor, device.device_entry.vendor);
                copyText(entry.product, device.device_entry.product);
            }
        }
    }
    if (raw != nullptr) {
        mtp.free_memory(raw);
    }
    return result;
}

void CMTP_FreeDeviceList(CMTPDeviceList* list)
{
    if (list == nullptr) {
        return;
    }
    std::free(list->entries);
    list->entries = nullptr;
    list->count = 0;
}

void CMTP_CloseDevice(CMTPDeviceHandle* handle)
{
    if (handle == nullptr) {
        return;
    }
    if (handle->device != nullptr) {
        libmtp().release_device(handle->device);
    }
    delete handle;
}

CMTPDeviceIdentity CMTP_GetDeviceIdentity(CMTPDeviceHandle* handle)
{
    CMTPDeviceIdentity result = zeroed<CMTPDeviceIdentity>();
    LIBMTP_mtpdevice_t* device = deviceOf(handle);
    if (device == nullptr) {
        result.error_code = LIBMTP_ERROR_NO_DEVICE_ATTACHED;
        return result;
    }
    const CMTPLibMTPTable& mtp = libmtp();
    copyIdentityString(result.friendly_name, mtp.get_friendlyname(device));
    copyIdentityString(result.model_name, mtp.get_modelname(device));
    copyIdentityString(result.manufacturer, mtp.get_manufacturername(device));
    copyIdentityString(result.serial_number, mtp.get_serialnumber(device));
    return result;
}

CMTPStorageList CMTP_GetStorages(CMTPDeviceHandle* handle)
{
    CMTPStorageList result = zeroed<CMTPStorageList>();
    LIBMTP_mtpdevice_t* device = deviceOf(handle);
    if (device == nullptr) {
        failNoDevice(result);
        return result;
    }
    clearErrors(device);
    if (libmtp().get_storage(device, 0) != 0) {
        failGeneral(result, device);
        return result;
    }
    int32_t count = 0;
    for (const LIBMTP_devicestorage_t* storage = device->storage; storage != nullptr;
         storage = storage->next) {
        ++count;
    }
    if (count == 0) {
        return result;
    }
    result.entries = static_cast<CMTPStorageEntry*>(std::calloc(count, sizeof(CMTPStorageEntry)));
    if (result.entries == nullptr) {
        failMemory(result);
        return result;
    }
    result.count = count;
    CMTPStorageEntry* entry = result.entries;
    for (const LIBMTP_devicestorage_t* storage = device->storage; storage != nullptr;
         storage = storage->next) {
        entry->storage_id = storage->id;
        entry->max_capacity = storage->MaxCapacity;
        entry->free_space_bytes = storage->FreeSpaceInBytes;
        copyText(entry->description, storage->StorageDescription);
        copyText(entry->volume_identifier, storage->VolumeIdentifier);
        ++entry;
    }
    return result;
}

void CMTP_FreeStorageList(CMTPStorageList* list)
{
    if (list == nullptr) {
        return;
    }
    std::free(list->entries);
    list->entries = nullptr;
    list->count = 0;
}

CMTPObjectList CMTP_ListDirectory(CMTPDeviceHandle* handle, uint32_t storage_id, uint32_t parent_id)
{
    CMTPObjectList result = zeroed<CMTPObjectList>();
    LIBMTP_mtpdevice_t* device = deviceOf(handle);
    if (device == nullptr) {
        failNoDevice(result);
        return result;
    }
    clearErrors(device);
    LIBMTP_file_t* files = libmtp().get_files_and_folders(device, storage_id, parent_id);
    if (files == nullptr) {
        // libmtp answers both an empty folder and a failed listing with no list; only the error
        // stack tells them apart.
        if (hasStackedError(device)) {
            failGeneral(result, device);
        }
        return result;
    }
    int32_t count = 0;
    for (const LIBMTP_file_t* file = files; file != nullptr; file = file->next) {
        ++count;
    }
    result.entries = static_cast<CMTPObjectEntry*>(std::calloc(count, sizeof(CMTPObjectEntry)));
    if (result.entries == nullptr) {
        failMemory(result);
        releaseFileList(files);
        return result;
    }
    result.count = count;
    CMTPObjectEntry* entry = result.entries;
    for (const LIBMTP_file_t* file = files; file != nullptr; file = file->next) {
        entry->item_id = file->item_id;
        entry->parent_id = file->parent_id;
        entry->storage_id = file->storage_id;
        entry->file_size = file->filesize;
        entry->modification_date = static_cast<int64_t>(file->modificationdate);
        entry->file_type = static_cast<uint32_t>(file->filetype);
        entry->is_folder = file->filetype == LIBMTP_FILETYPE_FOLDER ? 1 : 0;
        copyText(entry->filename, file->filename);
        ++entry;
    }
    releaseFileList(files);
    return result;
}

void CMTP_FreeObjectList(CMTPObjectList* list)
{
    if (list == nullptr) {
        return;
    }
    std::free(list->entries);
    list->entries = nullptr;
    list->count = 0;
}

uint32_t CMTP_RootParentID(void)
{
    return LIBMTP_FILES_AND_FOLDERS_ROOT;
}

CMTPMutationResult CMTP_CreateFolder(CMTPDeviceHandle* handle, const char* name, uint32_t parent_id,
                                     uint32_t storage_id)
{
    CMTPMutationResult result = zeroed<CMTPMutationResult>();
    LIBMTP_mtpdevice_t* device = deviceOf(handle);
    if (device == nullptr || name == nullptr) {
        failNoDevice(result);
        return result;
    }
    // libmtp may rewrite the name in place.
    char* copy = copyString(name);
    if (copy == nullptr) {
        failMemory(result);
        return result;
    }
    clearErrors(device);
    const uint32_t folder_id = libmtp().create_folder(device, copy, parent_id, storage_id);
    std::free(copy);
    if (folder_id != 0) {
        result.new_object_id = folder_id;
    } else {
        failGeneral(result, device);
    }
    return result;
}

CMTPMutationResult CMTP_DeleteObject(CMTPDeviceHandle* handle, uint32_t object_id)
{
    CMTPMutationResult result = zeroed<CMTPMutationResult>();
    LIBMTP_mtpdevice_t* device = deviceOf(handle);
    if (device == nullptr) {
        failNoDevice(result);
        return result;
    }
    clearErrors(device);
    if (libmtp().delete_object(device, object_id) != 0) {
        failGeneral(result, device);
    }
    return result;
}

CMTPMutationResult CMTP_RenameObject(CMTPDeviceHandle* handle, uint32_t object_id, const char* new_name)
{
    CMTPMutationResult result = zeroed<CMTPMutationResult>();
    LIBMTP_mtpdevice_t* device = deviceOf(handle);
    if (device == nullptr || new_name == nullptr) {
        failNoDevice(result);
        return result;
    }
    const CMTPLibMTPTable& mtp = libmtp();
    clearErrors(device);
    LIBMTP_file_t* metadata = mtp.get_filemetadata(device, object_id);
    if (metadata == nullptr) {
        // Unreadable metadata means the object is gone: "no such object", not a general failure.
        failWithLibMTPText(result, device, LIBMTP_ERROR_NO_DEVICE_ATTACHED,
                           fixedErrorText(LIBMTP_ERROR_NO_DEVICE_ATTACHED));
        return result;
    }
    const int status = mtp.set_file_name(device, metadata, new_name);
    mtp.destroy_file_t(metadata);
    if (status != 0) {
        failGeneral(result, device);
    }
    return result;
}

CMTPMutationResult CMTP_DownloadFile(CMTPDeviceHandle* handle, uint32_t object_id,
                                     const char* destination_path, CMTPProgressCallback callback,
                                     void* context)
{
    return CMTP_DownloadFileOfSize(handle, object_id, destination_path, -1, callback, context);
}

CMTPMutationResult CMTP_DownloadFileOfSize(CMTPDeviceHandle* handle, uint32_t object_id,
                                           const char* destination_path, int64_t known_size,
                                           CMTPProgressCallback callback, void* context)
{
    CMTPMutationResult result = zeroed<CMTPMutationResult>();
    LIBMTP_mtpdevice_t* device = deviceOf(handle);
    if (device == nullptr || destination_path == nullptr) {
        failNoDevice(result);
        return result;
    }
    ProgressRelay relay{{callback, context, 0}, known_size >= 0, known_size >= 0 ? static_cast<uint64_t>(known_size) : 0};
    const CMTPProgressContext& progress = relay.progress;
    if (callback != nullptr && !relay.sizeKnown) {
        // The file's size, for the progress counts: a request to the device on most of them.
        clearErrors(device);
        LIBMTP_file_t* metadata = libmtp().get_filemetadata(device, object_id);
        if (metadata != nullptr) {
            relay.sizeKnown = true;
            relay.size = metadata->filesize;
            libmtp().destroy_file_t(metadata);
        }
    }
    // The file is made as any new file of the user's is (0666 less the umask), not with libmtp's
    // own mode, which would make every downloaded file executable. A link at the path is never
    // followed: whoever may write in that folder could otherwise point it at another of the
    // user's files, which would be truncated and overwritten.
    const int descriptor = ::open(destination_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (descriptor < 0) {
        const int error = errno;
        struct stat found {};
        const bool isLink = error == ELOOP && ::lstat(destination_path, &found) == 0 && S_ISLNK(found.st_mode);
        char text[CMTP_MESSAGE_CAPACITY];
        std::snprintf(text, sizeof text, "Could not open %s for writing: %s", destination_path,
                      isLink ? "it is a symbolic link, which is not followed" : std::strerror(error));
        fail(result, LIBMTP_ERROR_GENERAL, text);
        return result;
    }
    clearErrors(device);
    DestinationSink sink;
    sink.fd = descriptor;
    const int status = libmtp().get_file_to_handler(device, object_id, put_destination, &sink,
                                                    callback != nullptr ? progress_trampoline : nullptr,
                                                    callback != nullptr ? &relay : nullptr);
    const int closeError = ::close(descriptor) == 0 ? 0 : errno;
    // A cancel wins; then a write that failed here, which is what stopped libmtp; then the
    // device's failure. The last bytes of a complete transfer may reach the disk only as the file
    // is closed (a full disk on a network file system).
    const int localError = sink.writeError != 0 ? sink.writeError : status == 0 ? closeError : 0;
    if (progress.cancelled != 0) {
        clearErrors(device);
        fail(result, LIBMTP_ERROR_CANCELLED, fixedErrorText(LIBMTP_ERROR_CANCELLED));
    } else if (localError != 0) {
        clearErrors(device);
        char text[CMTP_MESSAGE_CAPACITY];
        std::snprintf(text, sizeof text, "Could not write %s: %s", destination_path,
                      std::strerror(localError));
        fail(result, LIBMTP_ERROR_GENERAL, text);
        result.local_error = localError;
    } else if (status != 0) {
        failGeneral(result, device);
    } else if (relay.sizeKnown && sink.written < relay.size) {
        // libmtp reported success for fewer bytes than the device listed. The file may have
        // shrunk since it was listed: only the device's own size now tells a short file from a
        // truncated transfer. Unknown now, the size it had stands.
        uint64_t listed = relay.size;
        clearErrors(device);
        if (LIBMTP_file_t* metadata = libmtp().get_filemetadata(device, object_id); metadata != nullptr) {
            listed = metadata->filesize;
            libmtp().destroy_file_t(metadata);
        }
        clearErrors(device);
        if (sink.written < listed) {
            const std::string text = "The download ended after " + std::to_string(sink.written) + " of the " +
                                     std::to_string(listed) + " bytes the device lists.";
            fail(result, LIBMTP_ERROR_GENERAL, text.c_str());
        }
    }
    if (status != 0 || (result.error_code != 0 && result.error_code != LIBMTP_ERROR_CANCELLED)) {
        // What libmtp's own file call does: a transfer that failed leaves no file behind.
        ::unlink(destination_path);
    } else if (result.error_code == 0 && callback != nullptr && sink.written != relay.forwarded) {
        // The last count is the bytes written, where libmtp's own counts stopped short of them or
        // took in its protocol's: the caller takes the file for the download only while it holds
        // exactly those.
        callback(sink.written, relay.sizeKnown && relay.size > sink.written ? relay.size : sink.written, context);
    }
    return result;
}

CMTPMutationResult CMTP_UploadFile(CMTPDeviceHandle* handle, const char* source_path, uint32_t parent_id,
                                   uint32_t storage_id, const char* name, uint64_t file_size,
                                   CMTPProgressCallback callback, void* context)
{
    return CMTP_UploadFileAmong(handle, source_path, parent_id, storage_id, name, file_size, nullptr, -1, callback,
                                context);
}

CMTPMutationResult CMTP_UploadFileAmong(CMTPDeviceHandle* handle, const char* source_path, uint32_t parent_id,
                                        uint32_t storage_id, const char* name, uint64_t file_size,
                                        const uint32_t* existing_ids, int32_t existing_count,
                                        CMTPProgressCallback callback, void* context)
{
    CMTPMutationResult result = zeroed<CMTPMutationResult>();
    LIBMTP_mtpdevice_t* device = deviceOf(handle);
    if (device == nullptr || source_path == nullptr || name == nullptr) {
        failNoDevice(result);
        return result;
    }
    const CMTPLibMTPTable& mtp = libmtp();
    // Opened without waiting, so that something other than a file put in its place cannot hold
    // the upload; only a regular file is sent.
    SourceFeed feed;
    feed.fd = ::open(source_path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat source {};
    if (feed.fd < 0 || ::fstat(feed.fd, &source) != 0 || !S_ISREG(source.st_mode)) {
        const int error = feed.fd < 0 ? errno : 0;
        if (feed.fd >= 0) {
            ::close(feed.fd);
        }
        const std::string text = std::string("Could not read ") + source_path + ": " +
                                 (error != 0 ? std::strerror(error) : "it is not a regular file");
        fail(result, LIBMTP_ERROR_GENERAL, text.c_str());
        return result;
    }
    LIBMTP_file_t* file = mtp.new_file_t();
    if (file == nullptr) {
        ::close(feed.fd);
        failMemory(result);
        return result;
    }
    file->parent_id = parent_id;
    file->storage_id = storage_id;
    file->filesize = file_size;
    file->filetype = LIBMTP_FILETYPE_UNKNOWN;
    file->filename = copyString(name);
    if (file->filename == nullptr) {
        ::close(feed.fd);
        mtp.destroy_file_t(file);
        failMemory(result);
        return result;
    }

    // Only a callback can cancel, and only a cancelled upload that libmtp gives no id for needs
    // to know the folder's earlier objects. A caller that knows them says so; otherwise the folder
    // is listed (a request per object in it), but only until this device has shown that it
    // reports ids: libmtp learns the new object's id before any data moves.
    NameSnapshot before;
    if (existing_count >= 0 && (existing_count == 0 || existing_ids != nullptr)) {
        before.known = true;
        before.ids = existing_ids;
        before.count = static_cast<std::size_t>(existing_count);
    } else if (callback != nullptr && !handle->reportsUploadIDs) {
        takeSnapshot(before, device, storage_id, parent_id, name);
    }

    ProgressRelay relay{{callback, context, 0}, true, file_size};
    const CMTPProgressContext& progress = relay.progress;
    clearErrors(device);
    const int status = mtp.send_file_from_handler(device, feed_source, &feed, file,
                                                  callback != nullptr ? progress_trampoline : nullptr,
                                                  callback != nullptr ? &relay : nullptr);
    ::close(feed.fd);
    const uint32_t object_id = file->item_id;
    mtp.destroy_file_t(file);
    if (object_id != 0) {
        handle->reportsUploadIDs = true;
    } else if (progress.cancelled != 0) {
        // Not what this device did before: list the folder again before the next uploads.
        handle->reportsUploadIDs = false;
    }

    if (progress.cancelled != 0) {
        removePartialUpload(device, object_id, before, storage_id, parent_id, name);
        clearErrors(device);
        fail(result, LIBMTP_ERROR_CANCELLED, fixedErrorText(LIBMTP_ERROR_CANCELLED));
        return result;
    }
    if (feed.endedEarly || feed.readError != 0) {
        // The object holds part of the file: it goes as a cancelled upload's does.
        removePartialUpload(device, object_id, before, storage_id, parent_id, name);
        clearErrors(device);
        const std::string text =
            std::string("Could not send ") + source_path +
            (feed.endedEarly ? ": it ended after " + std::to_string(feed.delivered) + " of its " +
                                   std::to_string(file_size) + " bytes."
                             : std::string(": ") + std::strerror(feed.readError));
        fail(result, LIBMTP_ERROR_GENERAL, text.c_str());
        result.source_ended_early = feed.endedEarly ? 1 : 0;
        result.source_bytes_read = feed.endedEarly ? feed.delivered : 0;
        return result;
    }
    result.new_object_id = object_id;
    if (status != 0) {
        failGeneral(result, device);
    }
    return result;
}

} // extern "C"
