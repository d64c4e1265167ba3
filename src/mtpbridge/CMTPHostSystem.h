#pragma once

/*
 * What the bridge needs of the host: the process table, the current user, signals and sleeping
 * for the helper suppression, this process's own descriptors on USB devices for the clean-up
 * after a failed open, and the claims on a device's interfaces to tell a phone held elsewhere. The default reads /proc, sends POSIX signals and asks the kernel's usbfs;
 * tests install a fake host that records kills, sleeps and USB claims.
 */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*CMTPProcessVisitor)(int32_t pid, void* context);

typedef struct CMTPHostSystem {
    /* Calls visit once per running process; returns 0 when the table cannot be read. */
    int (*list_processes)(CMTPProcessVisitor visit, void* context);
    /* Writes the process's executable path into buffer (not necessarily NUL-terminated) and
     * returns its length in bytes; -1 when unknown. */
    long (*process_path)(int32_t pid, char* buffer, size_t size);
    /* Stores the process's real user id; returns 0 on success. */
    int (*process_uid)(int32_t pid, uint32_t* uid);
    uint32_t (*current_uid)(void);
    /* Returns 0 when the signal was delivered. */
    int (*send_signal)(int32_t pid, int signal);
    void (*sleep_milliseconds)(uint32_t milliseconds);
    /* Writes the file descriptors this process holds open on the USB device at this bus and
     * address into fds (at most capacity of them) and returns how many there are, which may be
     * more than capacity; -1 when they cannot be listed. */
    int (*usb_device_descriptors)(uint32_t bus_location, uint8_t devnum, int* fds, int capacity);
    /* Releases every USB interface claimed through the descriptor and returns how many it
     * released. The descriptor stays open. */
    int (*release_usb_interfaces)(int fd);
    /* Returns how many interfaces of the USB device at this bus and address are claimed now,
     * by any process; -1 when that cannot be seen. */
    int (*usb_interfaces_claimed)(uint32_t bus_location, uint8_t devnum);
} CMTPHostSystem;

const CMTPHostSystem* CMTP_DefaultHostSystem(void);

/* Installs a host (null restores the default). It must stay alive while installed. Not for use
 * while bridge calls run. */
void CMTP_SetHostSystem(const CMTPHostSystem* host);

#ifdef __cplusplus
}
#endif
