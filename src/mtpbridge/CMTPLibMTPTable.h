#pragma once

/*
 * The libmtp entry points the bridge uses, as a table of function pointers. The bridge calls
 * libmtp only through the installed table; by default that is the real libmtp. Tests install a
 * fake libmtp here.
 */

#include <libmtp.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CMTPLibMTPTable {
    void (*init)(void);
    LIBMTP_error_number_t (*detect_raw_devices)(LIBMTP_raw_device_t** devices, int* count);
    LIBMTP_mtpdevice_t* (*open_raw_device_uncached)(LIBMTP_raw_device_t* raw_device);
    void (*release_device)(LIBMTP_mtpdevice_t* device);
    char* (*get_friendlyname)(LIBMTP_mtpdevice_t* device);
    char* (*get_modelname)(LIBMTP_mtpdevice_t* device);
    char* (*get_manufacturername)(LIBMTP_mtpdevice_t* device);
    char* (*get_serialnumber)(LIBMTP_mtpdevice_t* device);
    /* Fills device->storage; 0 on success. */
    int (*get_storage)(LIBMTP_mtpdevice_t* device, int sort_by);
    LIBMTP_file_t* (*get_files_and_folders)(LIBMTP_mtpdevice_t* device, uint32_t storage_id,
                                            uint32_t parent_id);
    LIBMTP_file_t* (*get_filemetadata)(LIBMTP_mtpdevice_t* device, uint32_t object_id);
    LIBMTP_file_t* (*new_file_t)(void);
    void (*destroy_file_t)(LIBMTP_file_t* file);
    uint32_t (*create_folder)(LIBMTP_mtpdevice_t* device, char* name, uint32_t parent_id,
                              uint32_t storage_id);
    int (*delete_object)(LIBMTP_mtpdevice_t* device, uint32_t object_id);
    int (*set_file_name)(LIBMTP_mtpdevice_t* device, LIBMTP_file_t* file, const char* name);
    int (*get_file_to_handler)(LIBMTP_mtpdevice_t* device, uint32_t object_id, MTPDataPutFunc put, void* priv,
                               LIBMTP_progressfunc_t callback, const void* data);
    int (*send_file_from_handler)(LIBMTP_mtpdevice_t* device, MTPDataGetFunc get, void* priv, LIBMTP_file_t* file,
                                  LIBMTP_progressfunc_t callback, const void* data);
    LIBMTP_error_t* (*get_errorstack)(LIBMTP_mtpdevice_t* device);
    void (*clear_errorstack)(LIBMTP_mtpdevice_t* device);
    /* Releases memory that libmtp handed out with malloc: the raw device array and the
     * identity strings. */
    void (*free_memory)(void* memory);
} CMTPLibMTPTable;

/* The table of the real libmtp. */
const CMTPLibMTPTable* CMTP_DefaultLibMTPTable(void);

/* Installs a table (null restores the real libmtp). The table must stay alive while installed.
 * Installing a table that is not the real libmtp makes the next detection or open initialise it
 * again; the real libmtp is initialised once per process. Not for use while bridge calls run. */
void CMTP_SetLibMTPTable(const CMTPLibMTPTable* table);

#ifdef __cplusplus
}
#endif
