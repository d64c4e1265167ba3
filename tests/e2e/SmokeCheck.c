/* Proves the emulated-device harness end to end: run inside the guest, it finds the MTP device
 * through libmtp, opens it, lists its storages and root, uploads a file into a new folder,
 * lists it, checks the served folder holds the same bytes, downloads it back and compares,
 * deletes it, then asks the harness to unplug the device and plug it in again and checks
 * that libmtp sees it go and come back.
 *
 * Exit status: 0 when every step passed, 1 at the first failure (with the reason on stderr). */
#define _POSIX_C_SOURCE 200809L

#include <libmtp.h>

#include <errno.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* Not a multiple of any USB packet size, so a short final packet is part of the check. */
enum { payload_size = 3 * 1024 * 1024 + 4321 };

/* Names outside ASCII cover the UTF-8 handling of both responders (QEMU needs the locale shim). */
static const char folder_name[] = "quillbarrow-smoke";
static const char file_name[] = "données-\xe5\x90\x8d\xe5\x89\x8d.bin";

static LIBMTP_mtpdevice_t *device;

static void fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("smoke: FAILED: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    if (device) {
        LIBMTP_Dump_Errorstack(device);
    }
    exit(1);
}

static void step(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("smoke: ", stdout);
    vfprintf(stdout, format, args);
    fputc('\n', stdout);
    fflush(stdout);
    va_end(args);
}

static const char *required_env(const char *name)
{
    const char *value = getenv(name);
    if (!value || !*value) {
        fail("%s is not set: run me through scripts/e2e/run-in-guest.sh", name);
    }
    return value;
}

static void sleep_ms(long ms)
{
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

static unsigned char *read_whole(const char *path, size_t *size)
{
    FILE *in = fopen(path, "rb");
    if (!in) {
        fail("cannot open %s: %s", path, strerror(errno));
    }
    struct stat info;
    if (fstat(fileno(in), &info) != 0) {
        fail("cannot stat %s: %s", path, strerror(errno));
    }
    unsigned char *bytes = malloc(info.st_size > 0 ? (size_t)info.st_size : 1);
    if (!bytes || fread(bytes, 1, (size_t)info.st_size, in) != (size_t)info.st_size) {
        fail("cannot read %s", path);
    }
    fclose(in);
    *size = (size_t)info.st_size;
    return bytes;
}

static void expect_same(const unsigned char *expected, const char *path, const char *what)
{
    size_t size = 0;
    unsigned char *actual = read_whole(path, &size);
    if (size != payload_size) {
        fail("%s has %zu bytes, expected %d", what, size, payload_size);
    }
    for (size_t i = 0; i < size; ++i) {
        if (actual[i] != expected[i]) {
            fail("%s differs from the upload at byte %zu", what, i);
        }
    }
    free(actual);
}

/* Lists a folder and returns the object named `name` in it (caller frees), or NULL. */
static LIBMTP_file_t *list_folder(uint32_t storage, uint32_t folder, const char *label, const char *name)
{
    LIBMTP_file_t *files = LIBMTP_Get_Files_And_Folders(device, storage, folder);
    LIBMTP_file_t *found = NULL;
    int count = 0;
    while (files) {
        LIBMTP_file_t *next = files->next;
        ++count;
        step("  %s: %s (id %u, %llu bytes)", label, files->filename, files->item_id,
             (unsigned long long)files->filesize);
        if (!found && name && strcmp(files->filename, name) == 0) {
            found = files;
            found->next = NULL;
        } else {
            LIBMTP_destroy_file_t(files);
        }
        files = next;
    }
    step("%s: %d objects", label, count);
    return found;
}

/* QEMU's device answers the creation of a folder before it knows the folder itself: it takes it
 * in from inotify, in QEMU's main loop, which the runner places so that it does so before the
 * device answers the next request. So the device must know the folder at once: libmtp's own
 * question about it right after the creation found it (nothing on the error stack), and the root
 * lists it under the id the creation returned. */
static void expect_new_folder(uint32_t storage, uint32_t folder)
{
    if (LIBMTP_Get_Errorstack(device)) {
        LIBMTP_Dump_Errorstack(device);
        fail("the device did not know the folder %s (id %u) right after creating it", folder_name, folder);
    }
    LIBMTP_file_t *listed = LIBMTP_Get_Files_And_Folders(device, storage, LIBMTP_FILES_AND_FOLDERS_ROOT);
    bool found = false;
    while (listed) {
        LIBMTP_file_t *next = listed->next;
        found = found || (listed->item_id == folder && strcmp(listed->filename, folder_name) == 0);
        LIBMTP_destroy_file_t(listed);
        listed = next;
    }
    if (!found) {
        fail("the root does not list the new folder %s (id %u)", folder_name, folder);
    }
}

static int count_devices(void)
{
    LIBMTP_raw_device_t *raw = NULL;
    int count = 0;
    LIBMTP_error_number_t error = LIBMTP_Detect_Raw_Devices(&raw, &count);
    free(raw);
    return error == LIBMTP_ERROR_NONE ? count : 0;
}

static LIBMTP_mtpdevice_t *open_first_device(void)
{
    LIBMTP_raw_device_t *raw = NULL;
    int count = 0;
    LIBMTP_error_number_t error = LIBMTP_Detect_Raw_Devices(&raw, &count);
    if (error != LIBMTP_ERROR_NONE || count < 1) {
        fail("no MTP device detected (libmtp error %d)", (int)error);
    }
    step("detected %d device(s): %04x:%04x on bus %u, device %u", count, raw[0].device_entry.vendor_id,
         raw[0].device_entry.product_id, raw[0].bus_location, (unsigned)raw[0].devnum);
    LIBMTP_mtpdevice_t *opened = LIBMTP_Open_Raw_Device_Uncached(&raw[0]);
    free(raw);
    if (!opened) {
        fail("cannot open the device");
    }
    return opened;
}

/* Asks the harness for `action` (unplug or plug) and waits for its answer; `also_fine` is an
 * answer other than "ok" that the caller takes as done (NULL for none). */
static void request(const char *action, const char *also_fine)
{
    const char *requests = required_env("QUILLBARROW_E2E_REQUESTS");
    char path[4096], done[4096];
    snprintf(path, sizeof path, "%s/%s", requests, action);
    snprintf(done, sizeof done, "%s/%s.done", requests, action);
    unlink(done);
    FILE *file = fopen(path, "w");
    if (!file) {
        fail("cannot write the request %s: %s", path, strerror(errno));
    }
    fclose(file);
    for (int waited = 0; access(done, F_OK) != 0; waited += 20) {
        if (waited > 30000) {
            fail("the harness did not answer the %s request", action);
        }
        sleep_ms(20);
    }
    char answer[256] = "";
    file = fopen(done, "r");
    if (!file || !fgets(answer, sizeof answer, file)) {
        fail("cannot read %s", done);
    }
    fclose(file);
    unlink(done);
    answer[strcspn(answer, "\n")] = '\0';
    if (strcmp(answer, "ok") != 0 && (!also_fine || strcmp(answer, also_fine) != 0)) {
        fail("the %s request failed: %s", action, answer);
    }
}

/* Waits until libmtp detects `wanted` devices, at most 30 s. libmtp names every device it
 * detects on stderr, hence the unhurried polling. */
static void wait_for_device_count(int wanted)
{
    for (int waited = 0; count_devices() != wanted; waited += 200) {
        if (waited > 30000) {
            fail("libmtp still detects %d device(s), expected %d", count_devices(), wanted);
        }
        sleep_ms(200);
    }
}

int main(void)
{
    const char *responder = required_env("QUILLBARROW_E2E_RESPONDER");
    const char *share = required_env("QUILLBARROW_E2E_SHARE");
    step("responder %s, served folder %s", responder, share);

    LIBMTP_Init();
    device = open_first_device();
    char *name = LIBMTP_Get_Friendlyname(device);
    char *model = LIBMTP_Get_Modelname(device);
    step("opened \"%s\" (%s)", name ? name : "", model ? model : "");
    free(name);
    free(model);

    if (LIBMTP_Get_Storage(device, LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0 || !device->storage) {
        fail("the device lists no storage");
    }
    for (LIBMTP_devicestorage_t *s = device->storage; s; s = s->next) {
        step("storage 0x%08x \"%s\"", s->id, s->StorageDescription ? s->StorageDescription : "");
    }
    uint32_t storage = device->storage->id;

    /* QEMU's device creates folders and accepts uploads only in folders listed in this session. */
    list_folder(storage, LIBMTP_FILES_AND_FOLDERS_ROOT, "root", NULL);
    LIBMTP_Clear_Errorstack(device);
    uint32_t folder = LIBMTP_Create_Folder(device, (char *)folder_name, 0, storage);
    if (folder == 0) {
        fail("cannot create the folder %s", folder_name);
    }
    step("created folder %s (id %u)", folder_name, folder);
    expect_new_folder(storage, folder);
    list_folder(storage, folder, folder_name, NULL);

    unsigned char *payload = malloc(payload_size);
    if (!payload) {
        fail("out of memory");
    }
    uint32_t state = 0x2545f491u;
    for (size_t i = 0; i < payload_size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        payload[i] = (unsigned char)state;
    }
    char upload[] = "/tmp/quillbarrow-smoke-upload-XXXXXX";
    int upload_fd = mkstemp(upload);
    if (upload_fd < 0 || write(upload_fd, payload, payload_size) != payload_size || close(upload_fd) != 0) {
        fail("cannot write %s", upload);
    }

    LIBMTP_file_t *sent = LIBMTP_new_file_t();
    sent->filename = strdup(file_name);
    sent->filesize = payload_size;
    sent->filetype = LIBMTP_FILETYPE_UNKNOWN;
    sent->parent_id = folder;
    sent->storage_id = storage;
    if (LIBMTP_Send_File_From_File(device, upload, sent, NULL, NULL) != 0) {
        fail("cannot upload %s", file_name);
    }
    step("uploaded %s (%d bytes, id %u)", file_name, payload_size, sent->item_id);
    LIBMTP_destroy_file_t(sent);

    LIBMTP_file_t *listed = list_folder(storage, folder, folder_name, file_name);
    if (!listed) {
        fail("the folder does not list %s after the upload", file_name);
    }
    if (listed->filesize != payload_size) {
        fail("%s lists %llu bytes, expected %d", file_name, (unsigned long long)listed->filesize, payload_size);
    }

    char served[4096];
    snprintf(served, sizeof served, "%s/%s/%s", share, folder_name, file_name);
    expect_same(payload, served, "the served file");
    step("the served folder holds the same bytes");

    char download[] = "/tmp/quillbarrow-smoke-download-XXXXXX";
    int download_fd = mkstemp(download);
    if (download_fd < 0) {
        fail("cannot create %s", download);
    }
    close(download_fd);
    if (LIBMTP_Get_File_To_File(device, listed->item_id, download, NULL, NULL) != 0) {
        fail("cannot download %s", file_name);
    }
    expect_same(payload, download, "the downloaded file");
    step("downloaded it back: identical");

    if (LIBMTP_Delete_Object(device, listed->item_id) != 0 || LIBMTP_Delete_Object(device, folder) != 0) {
        fail("cannot delete the uploaded file and its folder");
    }
    snprintf(served, sizeof served, "%s/%s", share, folder_name);
    if (access(served, F_OK) == 0) {
        fail("%s is still in the served folder after its deletion", folder_name);
    }
    step("deleted the file and the folder");
    LIBMTP_destroy_file_t(listed);
    LIBMTP_Release_Device(device);
    device = NULL;

    /* uMTP-Responder may drop off the bus by itself once the device is released (its endpoint
     * read fails, and it closes and reopens them, which unbinds the gadget): it is unplugged
     * already. */
    request("unplug", "error: the device is not plugged in");
    wait_for_device_count(0);
    step("unplugged: libmtp detects no device");
    request("plug", NULL);
    wait_for_device_count(1);
    device = open_first_device();
    if (LIBMTP_Get_Storage(device, LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0 || !device->storage) {
        fail("the device lists no storage after it was plugged in again");
    }
    step("plugged in again: opened, %s storage 0x%08x", responder, device->storage->id);
    LIBMTP_Release_Device(device);

    unlink(upload);
    unlink(download);
    free(payload);
    step("passed");
    return 0;
}
