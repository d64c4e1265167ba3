#pragma once

#include "MountedVolume.h"

#include <QList>
#include <QString>

namespace quillbarrow {

// A mounted volume a person would want to open, as the volume switcher offers it.
struct VolumeChoice {
    QString mountPoint;
    QString name;
    // It can be removed or ejected.
    bool isRemovable;
    // It is not a network file system.
    bool isLocal;

    friend bool operator==(const VolumeChoice&, const VolumeChoice&) = default;
};

// Which mounted file systems the volume switcher lists. A pure function of the mount records.
class VolumeClassification {
public:
    // In the table's order, the volumes that are browsable (a whole real file system a person
    // can open: not a memory, kernel, snap or squashfs file system, not a boot or system mount,
    // not a bind of a folder), not internal and fixed, and not disk images (loop devices). A
    // mount point mounted over again is listed once, as the later mount. Named by their label,
    // else by the last component of the mount point.
    static QList<VolumeChoice> choose(const QList<MountedVolume>& volumes);

    static bool isBrowsable(const MountRecord& mount);
    static bool isNetworkFileSystem(const QString& fileSystemType);
};

} // namespace quillbarrow
