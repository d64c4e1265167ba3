#pragma once

/*
 * The only layer that calls libmtp. Every operation is a plain C function that takes integers,
 * UTF-8 text and an opaque device handle, and returns a fixed-size record by value. Nothing here
 * throws or aborts: every failure is reported in the record.
 *
 * Reading a record: look at `error_code` first (0 success, else libmtp's error number:
 * 1 general, 2 PTP layer, 3 USB layer, 4 memory, 5 no device, 6 storage full, 7 connecting,
 * 8 cancelled). `error_message` is NUL-terminated and holds at most 511 bytes of UTF-8 text; a
 * longer text is cut at byte 511, so its last character may be incomplete (decode leniently).
 * A list record with a non-zero code has `count` 0 and no entries.
 *
 * Ownership: a list record's `entries` array belongs to the bridge and is released only by the
 * matching CMTP_Free* call (which also resets `count` and `entries`, so a second free is
 * harmless); the record itself is the caller's value. A device handle is created only by the two
 * open calls and destroyed only by CMTP_CloseDevice. Strings passed in are read during the call
 * only.
 *
 * Threads: every call blocks the calling thread until libmtp is done; call them from a worker
 * thread, never the UI thread. Calls on one handle must not overlap: the caller serialises them.
 * Detection and the opens may run on any thread at the same time as calls on an open handle;
 * the bridge serialises detections and raw opens among themselves and initialises libmtp
 * exactly once. Progress callbacks run on the thread that called the transfer.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An opened device. Opaque; owned by the caller until CMTP_CloseDevice. */
typedef struct CMTPDeviceHandle CMTPDeviceHandle;

enum { CMTP_MESSAGE_CAPACITY = 512 };

/* Create, delete, rename, download, upload. */
typedef struct CMTPMutationResult {
    /* The id libmtp assigned to a created object. For a failed (not cancelled) upload it is the
     * id of the object libmtp created before failing, when libmtp reported one, so that the
     * caller can delete it before sending again; 0 otherwise. */
    uint32_t new_object_id;
    int32_t error_code;
    char error_message[CMTP_MESSAGE_CAPACITY];
    /* For a download whose writing to the destination file failed on this computer (a full disk,
     * an exceeded quota): the system's error number of that write; 0 for every other outcome. The
     * code is then 1 and the message "Could not write <path>: <the error's text>". */
    int32_t local_error;
    /* For an upload whose source file ended before file_size bytes could be read from it: 1, and
     * the bytes read from it before it ended in source_bytes_read (the message, which names them
     * too, may be cut at its capacity); 0 for every other outcome. */
    int32_t source_ended_early;
    uint64_t source_bytes_read;
} CMTPMutationResult;

/* Both opens. `handle` is null unless the open succeeded. */
typedef struct CMTPOpenResult {
    CMTPDeviceHandle* handle;
    int32_t error_code;
    char error_message[CMTP_MESSAGE_CAPACITY];
} CMTPOpenResult;

typedef struct CMTPRawDeviceEntry {
    uint16_t vendor_id;
    uint16_t product_id;
    uint32_t bus_location;
    uint8_t devnum;
    char vendor[128]; /* from libmtp's device table; empty when it has none */
    char product[128];
} CMTPRawDeviceEntry;

/* Detection. Owns `entries` (null when `count` is 0); release with CMTP_FreeDeviceList. */
typedef struct CMTPDeviceList {
    int32_t count;
    CMTPRawDeviceEntry* entries;
    int32_t error_code;
    char error_message[CMTP_MESSAGE_CAPACITY];
} CMTPDeviceList;

/* Each string is empty when the device reports none. No message: the code is 0 or 5. */
typedef struct CMTPDeviceIdentity {
    char friendly_name[256];
    char model_name[256];
    char manufacturer[256];
    char serial_number[256];
    int32_t error_code;
} CMTPDeviceIdentity;

typedef struct CMTPStorageEntry {
    uint32_t storage_id;
    uint64_t max_capacity; /* bytes */
    uint64_t free_space_bytes;
    char description[256];
    char volume_identifier[256];
} CMTPStorageEntry;

/* Owns `entries`; release with CMTP_FreeStorageList. */
typedef struct CMTPStorageList {
    int32_t count;
    CMTPStorageEntry* entries;
    int32_t error_code;
    char error_message[CMTP_MESSAGE_CAPACITY];
} CMTPStorageList;

typedef struct CMTPObjectEntry {
    uint32_t item_id;
    uint32_t parent_id;
    uint32_t storage_id;
    uint64_t file_size;        /* bytes */
    int64_t modification_date; /* seconds since 1970 as the device reports them; 0 when none */
    uint32_t file_type;        /* libmtp's file type number */
    uint32_t is_folder;        /* 1 when file_type is libmtp's folder type (0) */
    char filename[512];
} CMTPObjectEntry;

/* Owns `entries`; release with CMTP_FreeObjectList. */
typedef struct CMTPObjectList {
    int32_t count;
    CMTPObjectEntry* entries;
    int32_t error_code;
    char error_message[CMTP_MESSAGE_CAPACITY];
} CMTPObjectList;

/* Called on the transfer's thread with bytes done, bytes total and the caller's context. Any
 * non-zero return cancels the transfer; the transfer then ends with code 8. The counts are the
 * file's own bytes whenever the bridge knows the file's size (always for an upload; for a download
 * when libmtp can describe the object): libmtp's own counts include a few bytes of protocol
 * overhead, which the bridge takes off, and the total is then the file's size. */
typedef int32_t (*CMTPProgressCallback)(uint64_t sent, uint64_t total, void* context);

/* Lives on the bridge's stack for one transfer. */
typedef struct CMTPProgressContext {
    CMTPProgressCallback callback;
    void* context;
    int32_t cancelled;
} CMTPProgressContext;

/* Detection of attached MTP devices. No device attached is an empty list with success. */
CMTPDeviceList CMTP_DetectDevices(void);
void CMTP_FreeDeviceList(CMTPDeviceList* list);

/* Plain open of the device at this bus location (device number preferred, else the first one on
 * that bus location, since a re-enumerated device keeps its port but may get a new number). */
CMTPOpenResult CMTP_OpenDevice(uint32_t bus_location, uint8_t devnum);

/* Open that first stops the host's camera helper services holding the phone (current user's
 * processes only), then retries up to max_attempts times (at least once) with delay_ms between
 * attempts. Blocks for up to about ten seconds with 20 attempts and 100 ms. */
CMTPOpenResult CMTP_OpenDeviceWithSeize(uint32_t bus_location, uint8_t devnum, int32_t max_attempts,
                                        int32_t delay_ms);

/* Releases the device and the handle; a null handle is ignored. */
void CMTP_CloseDevice(CMTPDeviceHandle* handle);

CMTPDeviceIdentity CMTP_GetDeviceIdentity(CMTPDeviceHandle* handle);

CMTPStorageList CMTP_GetStorages(CMTPDeviceHandle* handle);
void CMTP_FreeStorageList(CMTPStorageList* list);

/* Lists one folder. A folder that libmtp could not list fails with code 1 and libmtp's text; an
 * empty folder is an empty list with success. Note: storage before parent. */
CMTPObjectList CMTP_ListDirectory(CMTPDeviceHandle* handle, uint32_t storage_id, uint32_t parent_id);
void CMTP_FreeObjectList(CMTPObjectList* list);

/* The parent id that lists a storage's root: 0xFFFFFFFF. */
uint32_t CMTP_RootParentID(void);

/* Note: parent before storage. */
CMTPMutationResult CMTP_CreateFolder(CMTPDeviceHandle* handle, const char* name, uint32_t parent_id,
                                     uint32_t storage_id);
CMTPMutationResult CMTP_DeleteObject(CMTPDeviceHandle* handle, uint32_t object_id);
/* An object whose metadata cannot be read (gone away) gives code 5. */
CMTPMutationResult CMTP_RenameObject(CMTPDeviceHandle* handle, uint32_t object_id, const char* new_name);

/* Writes the object to destination_path, created (or truncated) with mode 0666 less the umask.
 * The bridge writes the bytes itself, so a write that fails here is told by its own cause
 * (local_error), not as the cancelled transfer libmtp makes of it. When the object's size is
 * known and fewer bytes arrived while libmtp reported success, the device is asked for the size
 * again: unless it now lists no more than arrived, the download fails with code 1 and "The
 * download ended after N of the M bytes the device lists.". A failed download leaves no file;
 * after a cancel that libmtp nevertheless reported complete, the file is left alone (removing it
 * then is the caller's job). With a callback, the object's description is read first for its
 * size (see CMTPProgressCallback). */
CMTPMutationResult CMTP_DownloadFile(CMTPDeviceHandle* handle, uint32_t object_id,
                                     const char* destination_path, CMTPProgressCallback callback,
                                     void* context);

/* CMTP_DownloadFile for a caller that knows the object's size (from a listing): the progress
 * counts are reckoned against `known_size` and the device is not asked for it. A size below 0
 * means unknown, and this is CMTP_DownloadFile. */
CMTPMutationResult CMTP_DownloadFileOfSize(CMTPDeviceHandle* handle, uint32_t object_id,
                                           const char* destination_path, int64_t known_size,
                                           CMTPProgressCallback callback, void* context);

/* Sends source_path as `name` into the parent folder, reading the file itself: a source that is
 * not a regular file, cannot be read, or ends before file_size bytes fails with code 1 and a text
 * naming it ("Could not send <path>: it ended after N of its M bytes."); for the last two the
 * transfer is stopped as a cancel stops it and the partial object removed the same way (the
 * record then carries no id). A cancelled upload removes its partial
 * object from the device before returning code 8: by the id libmtp reported, else by name among
 * the objects that were not in the folder before the upload. For the latter, an upload with a
 * callback lists the folder once before sending, until libmtp has reported the id of an object
 * that an upload created on this device (then no more; again after a cancelled upload without
 * an id). A removal the device did not carry out is tried once more. Note: parent before
 * storage. */
CMTPMutationResult CMTP_UploadFile(CMTPDeviceHandle* handle, const char* source_path, uint32_t parent_id,
                                   uint32_t storage_id, const char* name, uint64_t file_size,
                                   CMTPProgressCallback callback, void* context);

/* CMTP_UploadFile for a caller that knows what the parent folder holds: `existing_ids` are the ids
 * of every object named `name` in it now (`existing_count` of them, none when the name is free).
 * A cancelled upload without an id from libmtp is then removed by name, sparing those objects,
 * without a listing of the folder before sending. With existing_count below 0 the caller knows
 * nothing and this is CMTP_UploadFile. */
CMTPMutationResult CMTP_UploadFileAmong(CMTPDeviceHandle* handle, const char* source_path, uint32_t parent_id,
                                        uint32_t storage_id, const char* name, uint64_t file_size,
                                        const uint32_t* existing_ids, int32_t existing_count,
                                        CMTPProgressCallback callback, void* context);

#ifdef __cplusplus
}
#endif
