/* Resets the USB device VID:PID (hexadecimal, e.g. 46f4:0004) through the kernel's usbfs, as a
 * port reset of its hub does. The guest runs it on QEMU's usb-mtp device before the device is
 * deleted (see run-in-guest.sh). Exits 0 once reset, 2 when no such device is attached, 1 when
 * it cannot be reset; says why on stderr. */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

/* The first line of a sysfs attribute of a USB device, without its newline; 0 when unreadable. */
static int attribute(const char *device, const char *name, char *value, size_t size)
{
    char path[512];
    snprintf(path, sizeof path, "/sys/bus/usb/devices/%s/%s", device, name);
    FILE *file = fopen(path, "r");
    if (file == NULL) {
        return 0;
    }
    const int read = fgets(value, (int)size, file) != NULL;
    fclose(file);
    if (read) {
        value[strcspn(value, "\n")] = '\0';
    }
    return read;
}

int main(int argc, char **argv)
{
    char vendor[8], product[8];
    if (argc != 2 || sscanf(argv[1], "%4[0-9a-fA-F]:%4[0-9a-fA-F]", vendor, product) != 2) {
        fprintf(stderr, "usage: usb-reset VID:PID\n");
        return 1;
    }
    DIR *devices = opendir("/sys/bus/usb/devices");
    if (devices == NULL) {
        fprintf(stderr, "usb-reset: cannot list USB devices: %s\n", strerror(errno));
        return 1;
    }
    const struct dirent *entry;
    char value[64], busnum[16], devnum[16];
    int found = 0;
    while (!found && (entry = readdir(devices)) != NULL) {
        found = attribute(entry->d_name, "idVendor", value, sizeof value) && strcasecmp(value, vendor) == 0 &&
                attribute(entry->d_name, "idProduct", value, sizeof value) && strcasecmp(value, product) == 0 &&
                attribute(entry->d_name, "busnum", busnum, sizeof busnum) &&
                attribute(entry->d_name, "devnum", devnum, sizeof devnum);
    }
    closedir(devices);
    if (!found) {
        fprintf(stderr, "usb-reset: no USB device %s:%s is attached\n", vendor, product);
        return 2;
    }
    char node[64];
    snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", atoi(busnum), atoi(devnum));
    const int fd = open(node, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "usb-reset: cannot open %s: %s\n", node, strerror(errno));
        return 1;
    }
    if (ioctl(fd, USBDEVFS_RESET, 0) != 0) {
        fprintf(stderr, "usb-reset: cannot reset %s: %s\n", node, strerror(errno));
        close(fd);
        return 1;
    }
    close(fd);
    return 0;
}
