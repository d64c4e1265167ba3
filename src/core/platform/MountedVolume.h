#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace quillbarrow {

// One line of the kernel's mount table (/proc/self/mountinfo), escapes decoded.
struct MountRecord {
    // "major:minor" of the mounted device.
    QString deviceNumber;
    // The folder of the file system that is mounted: "/" for a whole file system.
    QString root;
    QString mountPoint;
    // "ext4", "vfat", "nfs4", "fuse.sshfs", ...
    QString fileSystemType;
    // "/dev/sdb1", "server:/export", ...
    QString source;

    friend bool operator==(const MountRecord&, const MountRecord&) = default;
};

// What the kernel's device tree (sysfs) says about the block device under a mount.
struct BlockDeviceFacts {
    // A loop device: a disk image mounted from a file.
    bool isLoop = false;
    // Its medium can be taken out (card readers, optical drives).
    bool isRemovable = false;
    // It can be detached as a whole: it hangs off the USB bus, or is an SD card.
    bool isEjectable = false;
    // It sits inside the computer.
    bool isInternal = true;

    friend bool operator==(const BlockDeviceFacts&, const BlockDeviceFacts&) = default;
};

// A mounted file system with what is known of its device and its label.
struct MountedVolume {
    MountRecord mount;
    // Nothing for a file system without a block device (network, memory).
    std::optional<BlockDeviceFacts> device;
    // The file system's label; empty when it has none.
    QString label;

    friend bool operator==(const MountedVolume&, const MountedVolume&) = default;
};

} // namespace quillbarrow
