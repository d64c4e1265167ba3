#include "VolumeClassification.h"

#include <QHash>
#include <QSet>

namespace quillbarrow {

namespace {

// File systems of the kernel, of memory and of packaging, which hold nothing a person browses.
const QSet<QString>& pseudoFileSystems()
{
    static const QSet<QString> types{
        QStringLiteral("proc"),       QStringLiteral("sysfs"),        QStringLiteral("devtmpfs"),
        QStringLiteral("devpts"),     QStringLiteral("tmpfs"),        QStringLiteral("ramfs"),
        QStringLiteral("cgroup"),     QStringLiteral("cgroup2"),      QStringLiteral("securityfs"),
        QStringLiteral("debugfs"),    QStringLiteral("tracefs"),      QStringLiteral("configfs"),
        QStringLiteral("fusectl"),    QStringLiteral("mqueue"),       QStringLiteral("hugetlbfs"),
        QStringLiteral("pstore"),     QStringLiteral("bpf"),          QStringLiteral("binfmt_misc"),
        QStringLiteral("autofs"),     QStringLiteral("efivarfs"),     QStringLiteral("rpc_pipefs"),
        QStringLiteral("nsfs"),       QStringLiteral("selinuxfs"),    QStringLiteral("squashfs"),
        QStringLiteral("overlay"),    QStringLiteral("nfsd"),         QStringLiteral("fuse.gvfsd-fuse"),
        QStringLiteral("fuse.portal"), QStringLiteral("fuse.lxcfs"),  QStringLiteral("fuse.snapfuse"),
    };
    return types;
}

const QSet<QString>& networkFileSystems()
{
    static const QSet<QString> types{
        QStringLiteral("nfs"),         QStringLiteral("nfs4"),       QStringLiteral("cifs"),
        QStringLiteral("smb3"),        QStringLiteral("smbfs"),      QStringLiteral("ncpfs"),
        QStringLiteral("afs"),         QStringLiteral("ceph"),       QStringLiteral("9p"),
        QStringLiteral("davfs"),       QStringLiteral("fuse.sshfs"), QStringLiteral("fuse.rclone"),
        QStringLiteral("fuse.s3fs"),   QStringLiteral("fuse.glusterfs"),
    };
    return types;
}

bool isSameOrBelow(const QString& path, QLatin1StringView folder)
{
    return path == folder || (path.startsWith(folder) && path.size() > folder.size() && path[folder.size()] == u'/');
}

// Mounts the system makes for itself. Removable media mounted for the user under /run/media stay.
bool isSystemMountPoint(const QString& path)
{
    if (isSameOrBelow(path, QLatin1StringView("/run/media"))) {
        return false;
    }
    for (const QLatin1StringView folder :
         {QLatin1StringView("/boot"), QLatin1StringView("/efi"), QLatin1StringView("/proc"), QLatin1StringView("/sys"),
          QLatin1StringView("/dev"), QLatin1StringView("/run"), QLatin1StringView("/snap"),
          QLatin1StringView("/var/lib"), QLatin1StringView("/var/snap")}) {
        if (isSameOrBelow(path, folder)) {
            return true;
        }
    }
    return false;
}

bool isDiskImage(const MountedVolume& volume)
{
    return (volume.device && volume.device->isLoop) || volume.mount.source.startsWith(QLatin1StringView("/dev/loop"));
}

QString nameOf(const MountedVolume& volume)
{
    if (!volume.label.isEmpty()) {
        return volume.label;
    }
    const QString last = volume.mount.mountPoint.section(u'/', -1);
    return last.isEmpty() ? volume.mount.mountPoint : last;
}

} // namespace

bool VolumeClassification::isBrowsable(const MountRecord& mount)
{
    return mount.root == QLatin1StringView("/") && !pseudoFileSystems().contains(mount.fileSystemType) &&
           !isSystemMountPoint(mount.mountPoint);
}

bool VolumeClassification::isNetworkFileSystem(const QString& fileSystemType)
{
    return networkFileSystems().contains(fileSystemType);
}

QList<VolumeChoice> VolumeClassification::choose(const QList<MountedVolume>& volumes)
{
    // A mount point mounted over again shows only the later mount.
    QHash<QString, qsizetype> lastMountAt;
    for (qsizetype index = 0; index < volumes.size(); ++index) {
        lastMountAt.insert(volumes[index].mount.mountPoint, index);
    }
    QList<VolumeChoice> chosen;
    for (qsizetype index = 0; index < volumes.size(); ++index) {
        const MountedVolume& volume = volumes[index];
        const std::optional<BlockDeviceFacts>& device = volume.device;
        const bool internalAndFixed = device && device->isInternal && !device->isRemovable && !device->isEjectable;
        if (lastMountAt.value(volume.mount.mountPoint) != index || !isBrowsable(volume.mount) || internalAndFixed ||
            isDiskImage(volume)) {
            continue;
        }
        chosen.append(VolumeChoice{volume.mount.mountPoint, nameOf(volume),
                                   device && (device->isRemovable || device->isEjectable),
                                   !isNetworkFileSystem(volume.mount.fileSystemType)});
    }
    return chosen;
}

} // namespace quillbarrow
