/* The plain-libmtp side of the benchmarks: each command opens the first MTP device the way the
 * bridge does (uncached), makes one libmtp call, times only that call, prints the result on one
 * line of stdout and releases the device. It runs as its own process, like libmtp's tools, so
 * that it never holds the device while the benchmark's own session does.
 *
 *   lookup PATH               "storage=S id=I size=B folder=0|1" for a path such as "bench/big.bin"
 *   get PATH DESTINATION      LIBMTP_Get_File_To_File: "seconds=T bytes=B"
 *   send SOURCE FOLDER NAME   LIBMTP_Send_File_From_File into FOLDER: "seconds=T bytes=B id=I"
 *   send-many SOURCE FOLDER N N uploads of SOURCE into FOLDER, named plain-upload-K.bin, one
 *                             after the other: "seconds=T bytes=B" for all of them; the
 *                             objects are deleted afterwards (not timed)
 *   list FOLDER               LIBMTP_Get_Files_And_Folders of one folder: "seconds=T count=N"
 *   delete PATH               LIBMTP_Delete_Object: "seconds=T"
 *   get-folder FOLDER DEST    the files of FOLDER into the local folder DEST (made first), one
 *                             LIBMTP_Get_File_To_File after the other, timed from the listing of
 *                             FOLDER on: "seconds=T bytes=B count=N busy=K process=P"
 *   send-folder SOURCE FOLDER NAME
 *                             a folder NAME made in FOLDER and the files of the local folder
 *                             SOURCE sent into it in name order, timed from a listing of FOLDER
 *                             on (QEMU's device takes objects only in folders listed in the
 *                             session: FOLDER and the new folder are listed first):
 *                             "seconds=T bytes=B count=N id=I busy=K process=P", I being the
 *                             new folder's id
 *   For the two folder commands, K is the machine's busy CPU time over the timed part in clock
 *   ticks (/proc/stat) and P this process's CPU time in seconds.
 *
 * Exit status 0 on success, 1 with the reason on stderr, 2 for a wrong command line. */
#define _POSIX_C_SOURCE 200809L

#include <libmtp.h>

#include <dirent.h>
#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

static LIBMTP_mtpdevice_t *device;

static void fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("libmtp-baseline: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    if (device) {
        LIBMTP_Dump_Errorstack(device);
        LIBMTP_Release_Device(device);
    }
    exit(1);
}

static double now(void)
{
    struct timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return (double)time.tv_sec + (double)time.tv_nsec / 1e9;
}

/* The machine's busy CPU time so far, in clock ticks (from /proc/stat), so that the caller can tell
 * this process's share of a timed part from the rest (in a guest, the emulated device's work). */
static long long busy_ticks(void)
{
    long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
    FILE *stat = fopen("/proc/stat", "r");
    if (!stat) {
        return 0;
    }
    if (fscanf(stat, "cpu %lld %lld %lld %lld %lld %lld %lld", &user, &nice, &system, &idle, &iowait, &irq,
               &softirq) != 7) {
        user = nice = system = irq = softirq = 0;
    }
    fclose(stat);
    return user + nice + system + irq + softirq;
}

/* This process's CPU time so far, in seconds. */
static double process_cpu(void)
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (double)usage.ru_utime.tv_sec + (double)usage.ru_utime.tv_usec / 1e6 + (double)usage.ru_stime.tv_sec +
           (double)usage.ru_stime.tv_usec / 1e6;
}

static void open_first_device(void)
{
    LIBMTP_raw_device_t *raw = NULL;
    int count = 0;
    LIBMTP_error_number_t error = LIBMTP_Detect_Raw_Devices(&raw, &count);
    if (error != LIBMTP_ERROR_NONE || count < 1) {
        fail("no MTP device detected (libmtp error %d)", (int)error);
    }
    device = LIBMTP_Open_Raw_Device_Uncached(&raw[0]);
    free(raw);
    if (!device) {
        fail("cannot open the device");
    }
    if (LIBMTP_Get_Storage(device, LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0 || !device->storage) {
        fail("the device lists no storage");
    }
}

static void release_list(LIBMTP_file_t *files)
{
    while (files) {
        LIBMTP_file_t *next = files->next;
        LIBMTP_destroy_file_t(files);
        files = next;
    }
}

/* Where PATH (names separated by "/", from a storage's root; empty for the first storage's root)
 * is in this session: object handles need not outlive a session, so every command looks its
 * objects up again. The walk lists each folder on the way and is never part of a timing. */
typedef struct {
    uint32_t storage;
    uint32_t id; /* LIBMTP_FILES_AND_FOLDERS_ROOT for a root */
    uint64_t size;
    int folder;
} Location;

static Location locate(const char *path)
{
    for (LIBMTP_devicestorage_t *storage = device->storage; storage; storage = storage->next) {
        Location found = {storage->id, LIBMTP_FILES_AND_FOLDERS_ROOT, 0, 1};
        char *copy = strdup(path);
        int matched = 1;
        char *saved = NULL;
        for (char *name = strtok_r(copy, "/", &saved); name && matched; name = strtok_r(NULL, "/", &saved)) {
            LIBMTP_file_t *files = LIBMTP_Get_Files_And_Folders(device, storage->id, found.id);
            matched = 0;
            for (LIBMTP_file_t *file = files; file; file = file->next) {
                if (file->filename && strcmp(file->filename, name) == 0) {
                    found.id = file->item_id;
                    found.size = file->filesize;
                    found.folder = file->filetype == LIBMTP_FILETYPE_FOLDER;
                    matched = 1;
                    break;
                }
            }
            release_list(files);
        }
        free(copy);
        LIBMTP_Clear_Errorstack(device);
        if (matched) {
            return found;
        }
    }
    fail("nothing on the device is at '%s'", path);
    return (Location){0, 0, 0, 0};
}

static int lookup(const char *path)
{
    Location found = locate(path);
    printf("storage=%u id=%u size=%llu folder=%d\n", found.storage, found.id, (unsigned long long)found.size,
           found.folder);
    return 0;
}

static int get_file(const char *path, const char *destination)
{
    uint32_t id = locate(path).id;
    double start = now();
    int status = LIBMTP_Get_File_To_File(device, id, destination, NULL, NULL);
    double seconds = now() - start;
    if (status != 0) {
        fail("cannot download object %u to %s", id, destination);
    }
    struct stat info;
    if (stat(destination, &info) != 0) {
        fail("cannot stat %s: %s", destination, strerror(errno));
    }
    printf("seconds=%.6f bytes=%lld\n", seconds, (long long)info.st_size);
    return 0;
}

static int send_file(const char *source, const char *folder, const char *name)
{
    Location parent = locate(folder);
    /* QEMU's device accepts uploads only into folders listed in this session. */
    release_list(LIBMTP_Get_Files_And_Folders(device, parent.storage, parent.id));
    LIBMTP_Clear_Errorstack(device);
    struct stat info;
    if (stat(source, &info) != 0) {
        fail("cannot stat %s: %s", source, strerror(errno));
    }
    LIBMTP_file_t *file = LIBMTP_new_file_t();
    file->filename = strdup(name);
    file->filesize = (uint64_t)info.st_size;
    file->filetype = LIBMTP_FILETYPE_UNKNOWN;
    file->parent_id = parent.id;
    file->storage_id = parent.storage;
    double start = now();
    int status = LIBMTP_Send_File_From_File(device, source, file, NULL, NULL);
    double seconds = now() - start;
    if (status != 0) {
        fail("cannot upload %s", source);
    }
    printf("seconds=%.6f bytes=%lld id=%u\n", seconds, (long long)info.st_size, file->item_id);
    LIBMTP_destroy_file_t(file);
    return 0;
}

static int send_many(const char *source, const char *folder, const char *count_text)
{
    char *end = NULL;
    long count = strtol(count_text, &end, 10);
    if (end == count_text || *end != '\0' || count < 1 || count > 10000) {
        fail("N must be a number from 1 to 10000, not '%s'", count_text);
    }
    struct stat info;
    if (stat(source, &info) != 0) {
        fail("cannot stat %s: %s", source, strerror(errno));
    }
    Location parent = locate(folder);
    release_list(LIBMTP_Get_Files_And_Folders(device, parent.storage, parent.id));
    LIBMTP_Clear_Errorstack(device);
    uint32_t *sent = calloc((size_t)count, sizeof(uint32_t));
    double seconds = 0;
    for (long index = 0; index < count; ++index) {
        char name[64];
        snprintf(name, sizeof name, "plain-upload-%ld.bin", index + 1);
        LIBMTP_file_t *file = LIBMTP_new_file_t();
        file->filename = strdup(name);
        file->filesize = (uint64_t)info.st_size;
        file->filetype = LIBMTP_FILETYPE_UNKNOWN;
        file->parent_id = parent.id;
        file->storage_id = parent.storage;
        double start = now();
        int status = LIBMTP_Send_File_From_File(device, source, file, NULL, NULL);
        seconds += now() - start;
        if (status != 0) {
            fail("cannot upload %s as %s", source, name);
        }
        sent[index] = file->item_id;
        LIBMTP_destroy_file_t(file);
    }
    for (long index = 0; index < count; ++index) {
        LIBMTP_Delete_Object(device, sent[index]);
    }
    free(sent);
    printf("seconds=%.6f bytes=%lld\n", seconds, (long long)info.st_size * count);
    return 0;
}

static int list(const char *path)
{
    Location folder = locate(path);
    LIBMTP_Clear_Errorstack(device);
    double start = now();
    LIBMTP_file_t *files = LIBMTP_Get_Files_And_Folders(device, folder.storage, folder.id);
    double seconds = now() - start;
    if (!files && LIBMTP_Get_Errorstack(device)) {
        fail("cannot list %s", path);
    }
    long count = 0;
    for (LIBMTP_file_t *file = files; file; file = file->next) {
        ++count;
    }
    release_list(files);
    printf("seconds=%.6f count=%ld\n", seconds, count);
    return 0;
}

static int delete_object(const char *path)
{
    uint32_t id = locate(path).id;
    double start = now();
    if (LIBMTP_Delete_Object(device, id) != 0) {
        fail("cannot delete object %u", id);
    }
    printf("seconds=%.6f\n", now() - start);
    return 0;
}

/* Every regular file of a local folder, by name. */
typedef struct {
    char **names;
    size_t count;
} Names;

static int by_name(const void *a, const void *b)
{
    return strcmp(*(char *const *)a, *(char *const *)b);
}

static Names local_files(const char *folder)
{
    Names found = {NULL, 0};
    DIR *directory = opendir(folder);
    if (!directory) {
        fail("cannot read %s: %s", folder, strerror(errno));
    }
    size_t capacity = 0;
    for (struct dirent *entry = readdir(directory); entry; entry = readdir(directory)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        if (found.count == capacity) {
            capacity = capacity ? capacity * 2 : 256;
            found.names = realloc(found.names, capacity * sizeof(char *));
        }
        found.names[found.count++] = strdup(entry->d_name);
    }
    closedir(directory);
    qsort(found.names, found.count, sizeof(char *), by_name);
    return found;
}

static int get_folder(const char *path, const char *destination)
{
    Location folder = locate(path);
    LIBMTP_Clear_Errorstack(device);
    if (mkdir(destination, 0777) != 0 && errno != EEXIST) {
        fail("cannot create %s: %s", destination, strerror(errno));
    }
    long long bytes = 0;
    long count = 0;
    long long busy = busy_ticks();
    double cpu = process_cpu();
    double start = now();
    LIBMTP_file_t *files = LIBMTP_Get_Files_And_Folders(device, folder.storage, folder.id);
    for (LIBMTP_file_t *file = files; file; file = file->next) {
        if (file->filetype == LIBMTP_FILETYPE_FOLDER || !file->filename) {
            continue;
        }
        char target[4096];
        snprintf(target, sizeof target, "%s/%s", destination, file->filename);
        if (LIBMTP_Get_File_To_File(device, file->item_id, target, NULL, NULL) != 0) {
            fail("cannot download %s", file->filename);
        }
        bytes += (long long)file->filesize;
        ++count;
    }
    double seconds = now() - start;
    busy = busy_ticks() - busy;
    cpu = process_cpu() - cpu;
    release_list(files);
    printf("seconds=%.6f bytes=%lld count=%ld busy=%lld process=%.3f\n", seconds, bytes, count, busy, cpu);
    return 0;
}

static int send_folder(const char *source, const char *path, const char *name)
{
    Names names = local_files(source);
    Location parent = locate(path);
    LIBMTP_Clear_Errorstack(device);
    long long bytes = 0;
    long long busy = busy_ticks();
    double cpu = process_cpu();
    double start = now();
    release_list(LIBMTP_Get_Files_And_Folders(device, parent.storage, parent.id));
    char *folder_name = strdup(name);
    uint32_t folder = LIBMTP_Create_Folder(device, folder_name, parent.id, parent.storage);
    free(folder_name);
    if (folder == 0) {
        fail("cannot create the folder %s", name);
    }
    /* QEMU's device takes uploads only into a folder listed in the session, a new one too. */
    release_list(LIBMTP_Get_Files_And_Folders(device, parent.storage, folder));
    for (size_t index = 0; index < names.count; ++index) {
        char local[4096];
        snprintf(local, sizeof local, "%s/%s", source, names.names[index]);
        struct stat info;
        if (stat(local, &info) != 0) {
            fail("cannot stat %s: %s", local, strerror(errno));
        }
        LIBMTP_file_t *file = LIBMTP_new_file_t();
        file->filename = strdup(names.names[index]);
        file->filesize = (uint64_t)info.st_size;
        file->filetype = LIBMTP_FILETYPE_UNKNOWN;
        file->parent_id = folder;
        file->storage_id = parent.storage;
        if (LIBMTP_Send_File_From_File(device, local, file, NULL, NULL) != 0) {
            fail("cannot upload %s", local);
        }
        LIBMTP_destroy_file_t(file);
        bytes += (long long)info.st_size;
    }
    double seconds = now() - start;
    busy = busy_ticks() - busy;
    cpu = process_cpu() - cpu;
    printf("seconds=%.6f bytes=%lld count=%zu id=%u busy=%lld process=%.3f\n", seconds, bytes, names.count, folder,
           busy, cpu);
    for (size_t index = 0; index < names.count; ++index) {
        free(names.names[index]);
    }
    free(names.names);
    return 0;
}

static void usage(void)
{
    fputs("usage: quillbarrow_bench_libmtp lookup PATH | get PATH DESTINATION |\n"
          "       send SOURCE FOLDER NAME | send-many SOURCE FOLDER N | list FOLDER | delete PATH |\n"
          "       get-folder FOLDER DESTINATION | send-folder SOURCE FOLDER NAME\n",
          stderr);
    exit(2);
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        usage();
    }
    const char *command = argv[1];
    int wanted = strcmp(command, "lookup") == 0 || strcmp(command, "delete") == 0 || strcmp(command, "list") == 0 ? 3
                 : strcmp(command, "get") == 0 || strcmp(command, "get-folder") == 0                              ? 4
                 : strcmp(command, "send") == 0 || strcmp(command, "send-many") == 0 ||
                           strcmp(command, "send-folder") == 0                                                    ? 5
                                                                                                                  : -1;
    if (wanted < 0 || argc != wanted) {
        usage();
    }
    LIBMTP_Init();
    open_first_device();
    int status;
    if (strcmp(command, "lookup") == 0) {
        status = lookup(argv[2]);
    } else if (strcmp(command, "get") == 0) {
        status = get_file(argv[2], argv[3]);
    } else if (strcmp(command, "send") == 0) {
        status = send_file(argv[2], argv[3], argv[4]);
    } else if (strcmp(command, "send-many") == 0) {
        status = send_many(argv[2], argv[3], argv[4]);
    } else if (strcmp(command, "get-folder") == 0) {
        status = get_folder(argv[2], argv[3]);
    } else if (strcmp(command, "send-folder") == 0) {
        status = send_folder(argv[2], argv[3], argv[4]);
    } else if (strcmp(command, "list") == 0) {
        status = list(argv[2]);
    } else {
        status = delete_object(argv[2]);
    }
    fflush(stdout);
    LIBMTP_Release_Device(device);
    return status;
}
