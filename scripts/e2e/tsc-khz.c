/* Prints this machine's time-stamp counter frequency in kHz, measured against CLOCK_MONOTONIC_RAW.
 * Under QEMU's software emulation the guest's counter is the host's, so the guest is told this
 * figure rather than measure it itself, which goes wrong on a busy host (see run-in-guest.sh). */
#include <stdint.h>
#include <stdio.h>
#include <time.h>
#include <x86intrin.h>

static double nanoseconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return (double)now.tv_sec * 1e9 + (double)now.tv_nsec;
}

/* A counter reading and the time it was taken at: of 100 tries, the one the clock brackets
 * most tightly, so that a preemption in between does not count. */
static void reading(uint64_t *counter, double *at)
{
    double tightest = -1;
    for (int i = 0; i < 100; ++i) {
        const double before = nanoseconds();
        const uint64_t value = __rdtsc();
        const double after = nanoseconds();
        if (tightest < 0 || after - before < tightest) {
            tightest = after - before;
            *counter = value;
            *at = (before + after) / 2;
        }
    }
}

int main(void)
{
    uint64_t first, last;
    double firstAt, lastAt;
    const struct timespec pause = {0, 200000000};
    reading(&first, &firstAt);
    nanosleep(&pause, NULL);
    reading(&last, &lastAt);
    printf("%.0f\n", (double)(last - first) / (lastAt - firstAt) * 1e6);
    return 0;
}
