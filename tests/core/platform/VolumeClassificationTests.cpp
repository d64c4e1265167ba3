#include "platform/MountTable.h"
#include "platform/VolumeClassification.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillbarrow;

namespace {

// A machine of our own: a sysfs tree with an internal SATA disk (two partitions), an internal
// NVMe disk, a USB stick, an SD card and a loop device; a udev label folder; and a mount table
// that each test writes.
class VolumeClassificationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        const QString sata = QStringLiteral("devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda");
        addDisk(sata, "0", {{QStringLiteral("sda1"), QStringLiteral("8:1")}, {QStringLiteral("sda2"), QStringLiteral("8:2")}});
        const QString nvme = QStringLiteral("devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1");
        addDisk(nvme, "0",
                {{QStringLiteral("nvme0n1p1"), QStringLiteral("259:1")}, {QStringLiteral("nvme0n1p2"), QStringLiteral("259:2")}});
        const QString usb =
            QStringLiteral("devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb");
        addDisk(usb, "1", {{QStringLiteral("sdb1"), QStringLiteral("8:17")}});
        const QString sd = QStringLiteral("devices/platform/soc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0");
        addDisk(sd, "0", {{QStringLiteral("mmcblk0p1"), QStringLiteral("179:1")}});
        write(QStringLiteral("sys/devices/platform/soc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0/device/type"), "SD\n");
        addDisk(QStringLiteral("devices/virtual/block/loop0"), "0", {});
        link(QStringLiteral("sys/dev/block/7:0"), QStringLiteral("../../devices/virtual/block/loop0"));
        makeFolder(QStringLiteral("labels"));
        link(QStringLiteral("labels/USB\\x20STICK"), QStringLiteral("../../sdb1"));
    }

    QString path(const QString& relative) const { return QDir(m_root.path()).filePath(relative); }

    void makeFolder(const QString& relative) const { ASSERT_TRUE(QDir().mkpath(path(relative))); }

    void write(const QString& relative, const QByteArray& contents) const
    {
        makeFolder(QFileInfo(relative).path());
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(contents), contents.size());
    }

    void link(const QString& relative, const QString& target) const
    {
        makeFolder(QFileInfo(relative).path());
        ASSERT_TRUE(QFile::link(target, path(relative))) << relative.toStdString();
    }

    // A disk folder with its removable flag and its partitions, each reachable by device number.
    void addDisk(const QString& folder, const QByteArray& removable, const QList<std::pair<QString, QString>>& partitions) const
    {
        write(QStringLiteral("sys/") + folder + QStringLiteral("/removable"), removable + '\n');
        for (const auto& [name, number] : partitions) {
            write(QStringLiteral("sys/%1/%2/partition").arg(folder, name), "1\n");
            link(QStringLiteral("sys/dev/block/") + number, QStringLiteral("../../") + folder + u'/' + name);
            link(QStringLiteral("sys/class/block/") + name, QStringLiteral("../../") + folder + u'/' + name);
        }
    }

    QList<MountedVolume> mounted(const QByteArray& mountInfo) const
    {
        write(QStringLiteral("mountinfo"), mountInfo);
        return MountTable(MountTable::Paths{path(QStringLiteral("mountinfo")), path(QStringLiteral("sys")),
                                            path(QStringLiteral("labels"))})
            .mountedVolumes();
    }

    QList<VolumeChoice> chosen(const QByteArray& mountInfo) const { return VolumeClassification::choose(mounted(mountInfo)); }

private:
    QTemporaryDir m_root;
};

// The mounts every machine has: the start-up disk and the system's own.
const QByteArray systemMounts = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
                                "23 22 0:21 / /proc rw,nosuid,nodev,noexec shared:12 - proc proc rw\n"
                                "24 22 0:22 / /sys rw,nosuid shared:7 - sysfs sysfs rw\n"
                                "25 22 0:5 / /dev rw,nosuid master:2 - devtmpfs udev rw,size=8000000k\n"
                                "26 22 0:23 / /run rw,nosuid shared:5 - tmpfs tmpfs rw,size=1600000k\n"
                                "27 22 8:2 / /boot/efi rw,relatime shared:30 - vfat /dev/sda2 rw,fmask=0077\n"
                                "28 22 7:0 / /snap/core22/1380 ro,nodev,relatime shared:31 - squashfs /dev/loop0 ro\n"
                                "29 26 0:45 / /run/user/1000 rw,nosuid shared:40 - tmpfs tmpfs rw,mode=700\n"
                                "30 22 0:46 / /tmp rw shared:41 - tmpfs tmpfs rw\n";

TEST_F(VolumeClassificationTest, OnlyTheStartUpDiskAndSystemMountsListNothing)
{
    EXPECT_EQ(chosen(systemMounts), QList<VolumeChoice>{});
}

TEST_F(VolumeClassificationTest, ListsWhatAPersonWouldOpenAndLeavesTheRestOut)
{
    struct Case {
        const char* name;
        QByteArray line;
        QList<VolumeChoice> expected;
    };
    const Case cases[] = {
        {"a USB stick, named by its label",
         "40 22 8:17 / /media/me/USB\\040STICK rw,nosuid shared:50 - vfat /dev/sdb1 rw,uid=1000\n",
         {VolumeChoice{QStringLiteral("/media/me/USB STICK"), QStringLiteral("USB STICK"), true, true}}},
        {"an SD card under /run/media, named by its folder",
         "41 26 179:1 / /run/media/me/Holiday\\040Photos rw shared:51 - exfat /dev/mmcblk0p1 rw\n",
         {VolumeChoice{QStringLiteral("/run/media/me/Holiday Photos"), QStringLiteral("Holiday Photos"), true, true}}},
        {"an NFS share", "42 22 0:50 / /mnt/nas rw,relatime shared:52 - nfs4 nas.local:/export rw,vers=4.2\n",
         {VolumeChoice{QStringLiteral("/mnt/nas"), QStringLiteral("nas"), false, false}}},
        {"a CIFS share", "43 22 0:51 / /mnt/office\\040share rw shared:53 - cifs //server/share rw,vers=3.1.1\n",
         {VolumeChoice{QStringLiteral("/mnt/office share"), QStringLiteral("office share"), false, false}}},
        {"a disk image on a loop device", "44 22 7:0 / /mnt/image ro shared:54 - ext4 /dev/loop0 ro\n", {}},
        {"the second internal disk", "45 22 259:1 / /data rw shared:55 - ext4 /dev/nvme0n1p1 rw\n", {}},
        {"the second internal disk's system partition",
         "46 22 259:2 / /boot rw shared:56 - ext4 /dev/nvme0n1p2 rw\n", {}},
        {"a folder bound elsewhere", "47 22 8:1 /home/me/projects /srv/projects rw - ext4 /dev/sda1 rw\n", {}},
        {"a memory file system", "48 22 0:60 / /mnt/scratch rw - tmpfs tmpfs rw\n", {}},
        {"a FUSE file system of the desktop", "49 29 0:61 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n", {}},
        {"a folder whose path merely begins like /dev", "60 22 0:70 / /devdata rw - nfs4 nas.local:/dev rw\n",
         {VolumeChoice{QStringLiteral("/devdata"), QStringLiteral("devdata"), false, false}}},
        {"a folder whose path merely begins like /run", "61 22 8:17 / /runner rw - vfat /dev/sdb1 rw\n",
         {VolumeChoice{QStringLiteral("/runner"), QStringLiteral("USB STICK"), true, true}}},
        {"a folder whose path merely begins like /var/lib", "62 22 0:71 / /var/library rw - cifs //s/lib rw\n",
         {VolumeChoice{QStringLiteral("/var/library"), QStringLiteral("library"), false, false}}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(chosen(systemMounts + row.line), row.expected);
    }
}

TEST_F(VolumeClassificationTest, AMountPointMountedOverShowsOnlyTheLaterMount)
{
    const QByteArray lines = systemMounts +
                             "50 22 0:50 / /mnt/x rw - nfs4 old:/export rw\n"
                             "51 50 8:17 / /mnt/x rw - vfat /dev/sdb1 rw\n"
                             "52 22 0:52 / /mnt/y rw - nfs4 other:/export rw\n";
    EXPECT_EQ(chosen(lines), (QList<VolumeChoice>{VolumeChoice{QStringLiteral("/mnt/x"), QStringLiteral("USB STICK"), true, true},
                                                  VolumeChoice{QStringLiteral("/mnt/y"), QStringLiteral("y"), false, false}}));
}

TEST_F(VolumeClassificationTest, TheMountTableIsReadWithItsEscapesAndDeviceFacts)
{
    const QList<MountedVolume> volumes =
        mounted("40 22 8:17 / /media/me/a\\040b\\011c\\134d rw,nosuid shared:50 master:3 - vfat /dev/sdb1 rw\n"
                "malformed line without a separator\n"
                "41 22 0:50 / /mnt/nas rw - nfs4 nas:/export rw\n"
                "42 22 0:77 / /mnt/btrfs rw - btrfs /dev/sda1 rw\n");
    ASSERT_EQ(volumes.size(), 3);
    EXPECT_EQ(volumes[0].mount, (MountRecord{QStringLiteral("8:17"), QStringLiteral("/"), QStringLiteral("/media/me/a b\tc\\d"),
                                             QStringLiteral("vfat"), QStringLiteral("/dev/sdb1")}));
    BlockDeviceFacts stick;
    stick.isRemovable = true;
    stick.isEjectable = true;
    stick.isInternal = false;
    EXPECT_EQ(volumes[0].device, stick);
    EXPECT_EQ(volumes[0].label, QStringLiteral("USB STICK"));
    EXPECT_EQ(volumes[1].device, std::nullopt);
    // An anonymous device number: the source names the device.
    EXPECT_EQ(volumes[2].device, BlockDeviceFacts{});

    EXPECT_EQ(MountTable::deviceFacts(path(QStringLiteral("sys")), QStringLiteral("7:0"), QString())->isLoop, true);
    EXPECT_EQ(MountTable::deviceFacts(path(QStringLiteral("sys")), QStringLiteral("179:1"), QString())->isEjectable, true);
    EXPECT_EQ(MountTable(MountTable::Paths{path(QStringLiteral("missing")), path(QStringLiteral("sys")), path(QStringLiteral("labels"))})
                  .mountedVolumes(),
              QList<MountedVolume>{});
}

} // namespace
