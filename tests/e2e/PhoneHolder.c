/* Holds the phone the way a desktop's phone service does: run inside the guest, it opens the
 * first MTP device through libmtp, which claims the device's USB interface, says "holding" on
 * standard output and then waits, interface claimed, until a signal ends it. Nothing is
 * released on the way out: the kernel frees the claim when the process goes, as it does for a
 * service that is quit. The tests start it under the name of such a service.
 *
 * Exit status: 1 when no device could be opened (with the reason on stderr); otherwise it only
 * ends by a signal. */
#define _POSIX_C_SOURCE 200809L

#include <libmtp.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(void)
{
    LIBMTP_Init();
    LIBMTP_raw_device_t *devices = NULL;
    int count = 0;
    if (LIBMTP_Detect_Raw_Devices(&devices, &count) != LIBMTP_ERROR_NONE || count < 1) {
        fputs("holder: no MTP device found\n", stderr);
        return 1;
    }
    LIBMTP_mtpdevice_t *device = LIBMTP_Open_Raw_Device_Uncached(&devices[0]);
    if (!device) {
        fputs("holder: the MTP device could not be opened\n", stderr);
        return 1;
    }
    fputs("holding\n", stdout);
    fflush(stdout);
    for (;;) {
        pause();
    }
}
