#pragma once

/*
 * What the helper suppression needs of the host: the process table, the current user, signals
 * and sleeping. The default reads /proc and sends POSIX signals; tests install a fake process
 * table that records kills and sleeps.
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
} CMTPHostSystem;

const CMTPHostSystem* CMTP_DefaultHostSystem(void);

/* Installs a host (null restores the default). It must stay alive while installed. Not for use
 * while bridge calls run. */
void CMTP_SetHostSystem(const CMTPHostSystem* host);

#ifdef __cplusplus
}
#endif
