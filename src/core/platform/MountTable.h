#pragma once

#include "MountedVolume.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace quillbarrow {

// Reads the mounted file systems of the computer: the kernel's mount table, with the facts of
// each block device from sysfs and the labels from the udev label folder. Each folder is
// injectable so that tests read trees of their own. Never fails: what cannot be read is left out
// (a table that cannot be read is no mounts; a device sysfs does not know has no facts).
class MountTable {
public:
    struct Paths {
        QString mountInfo = QStringLiteral("/proc/self/mountinfo");
        QString sysfs = QStringLiteral("/sys");
        QString labels = QStringLiteral("/dev/disk/by-label");
    };

    MountTable();
    explicit MountTable(Paths paths);

    const Paths& paths() const { return m_paths; }

    // The mounts in the table's order, each with its device's facts and its label.
    QList<MountedVolume> mountedVolumes() const;

    // The records of a mountinfo text; malformed lines are skipped.
    static QList<MountRecord> parseMountInfo(const QByteArray& text);
    // The facts of the device `deviceNumber` ("8:17"), else of the device named by `source`
    // ("/dev/sdb1"), from the sysfs tree at `sysfs`.
    static std::optional<BlockDeviceFacts> deviceFacts(const QString& sysfs, const QString& deviceNumber,
                                                       const QString& source);

private:
    Paths m_paths;
};

} // namespace quillbarrow
