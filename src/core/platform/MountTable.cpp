#include "MountTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <unistd.h>

namespace quillbarrow {

namespace {

// The table escapes blanks, tabs, line ends and backslashes in paths as "\" and three octal digits.
QString unescapedMountField(const QByteArray& field)
{
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype index = 0; index < field.size(); ++index) {
        const auto isOctal = [&](qsizetype at) { return at < field.size() && field[at] >= '0' && field[at] <= '7'; };
        if (field[index] == '\\' && isOctal(index + 1) && isOctal(index + 2) && isOctal(index + 3)) {
            bytes.append(static_cast<char>(((field[index + 1] - '0') << 6) | ((field[index + 2] - '0') << 3) |
                                           (field[index + 3] - '0')));
            index += 3;
        } else {
            bytes.append(field[index]);
        }
    }
    return QFile::decodeName(bytes);
}

// udev writes unsafe characters of a label in its link name as "\x" and two hex digits.
QString unescapedLabel(const QByteArray& name)
{
    QByteArray bytes;
    for (qsizetype index = 0; index < name.size(); ++index) {
        bool valid = false;
        if (name[index] == '\\' && index + 3 < name.size() && name[index + 1] == 'x') {
            const int value = name.mid(index + 2, 2).toInt(&valid, 16);
            if (valid) {
                bytes.append(static_cast<char>(value));
                index += 3;
                continue;
            }
        }
        bytes.append(name[index]);
    }
    return QString::fromUtf8(bytes);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray attribute(const QString& folder, const QString& name)
{
    return readAll(folder + u'/' + name).trimmed();
}

QString lastComponent(const QString& path)
{
    return path.section(u'/', -1);
}

// The device's folder in the sysfs tree, links resolved; empty when sysfs does not know it.
QString deviceFolder(const QString& sysfs, const QString& deviceNumber, const QString& source)
{
    if (!deviceNumber.isEmpty()) {
        const QString byNumber = QFileInfo(sysfs + QStringLiteral("/dev/block/") + deviceNumber).canonicalFilePath();
        if (!byNumber.isEmpty()) {
            return byNumber;
        }
    }
    // File systems such as btrfs report an anonymous device number; their source names the device.
    if (source.startsWith(QLatin1StringView("/dev/"))) {
        const QString resolved = QFileInfo(source).canonicalFilePath();
        const QString name = lastComponent(resolved.isEmpty() ? source : resolved);
        return QFileInfo(sysfs + QStringLiteral("/class/block/") + name).canonicalFilePath();
    }
    return {};
}

BlockDeviceFacts factsAt(const QString& device)
{
    // A partition's own folder lies inside the folder of its disk.
    const QString disk = QFileInfo::exists(device + QStringLiteral("/partition")) ? QFileInfo(device).path() : device;
    const QString diskName = lastComponent(disk);
    static const QRegularExpression usbBus(QStringLiteral("/usb\\d+/"));
    const bool onUsb = usbBus.match(device).hasMatch();
    const bool sdCard = diskName.startsWith(QLatin1StringView("mmcblk")) &&
                        attribute(disk, QStringLiteral("device/type")) == "SD";
    BlockDeviceFacts facts;
    facts.isLoop = diskName.startsWith(QLatin1StringView("loop"));
    facts.isRemovable = attribute(disk, QStringLiteral("removable")) == "1";
    facts.isEjectable = onUsb || sdCard;
    facts.isInternal = !facts.isEjectable;
    return facts;
}

// Device name ("sdb1") to label, from the links of the label folder.
QHash<QString, QString> labelsByDevice(const QString& folder)
{
    QHash<QString, QString> labels;
    const QDir directory(folder);
    for (const QString& entry : directory.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QByteArray link = QFile::encodeName(directory.filePath(entry));
        char target[4096];
        const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
        if (length > 0) {
            labels.insert(lastComponent(QFile::decodeName(QByteArray(target, length))),
                          unescapedLabel(QFile::encodeName(entry)));
        }
    }
    return labels;
}

} // namespace

MountTable::MountTable() = default;

MountTable::MountTable(Paths paths) : m_paths(std::move(paths)) {}

QList<MountRecord> MountTable::parseMountInfo(const QByteArray& text)
{
    QList<MountRecord> records;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // id, parent, major:minor, root, mount point, options, optional fields ..., "-", type, source, ...
        const qsizetype separator = fields.indexOf("-", 6);
        if (fields.size() < 6 || separator < 0 || separator + 2 >= fields.size()) {
            continue;
        }
        records.append(MountRecord{QString::fromLatin1(fields[2]), unescapedMountField(fields[3]),
                                   unescapedMountField(fields[4]), unescapedMountField(fields[separator + 1]),
                                   unescapedMountField(fields[separator + 2])});
    }
    return records;
}

std::optional<BlockDeviceFacts> MountTable::deviceFacts(const QString& sysfs, const QString& deviceNumber,
                                                        const QString& source)
{
    const QString device = deviceFolder(sysfs, deviceNumber, source);
    if (device.isEmpty()) {
        return std::nullopt;
    }
    return factsAt(device);
}

QList<MountedVolume> MountTable::mountedVolumes() const
{
    const QHash<QString, QString> labels = labelsByDevice(m_paths.labels);
    QList<MountedVolume> volumes;
    for (const MountRecord& mount : parseMountInfo(readAll(m_paths.mountInfo))) {
        MountedVolume volume{mount, std::nullopt, QString()};
        const QString device = deviceFolder(m_paths.sysfs, mount.deviceNumber, mount.source);
        if (!device.isEmpty()) {
            volume.device = factsAt(device);
            volume.label = labels.value(lastComponent(device));
        }
        volumes.append(std::move(volume));
    }
    return volumes;
}

} // namespace quillbarrow
