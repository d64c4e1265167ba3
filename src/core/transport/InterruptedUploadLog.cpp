#include "InterruptedUploadLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace quillbarrow {

namespace {

const QString deviceField = QStringLiteral("device");
const QString uploadsField = QStringLiteral("uploads");
const QString storageField = QStringLiteral("storage");
const QString folderField = QStringLiteral("folder");
const QString nameField = QStringLiteral("name");
const QString sizeField = QStringLiteral("size");
const QString keptField = QStringLiteral("kept");
const QString removedField = QStringLiteral("removed");

// The records are formatted here rather than built as JSON documents: an upload writes two, and
// building them through QJsonDocument cost most of what the note costs per small file. What comes
// out is what QJsonDocument reads, keys in the order it wrote them: one compact object a line.

// `text` as a JSON string: UTF-8 within quotes, with quotes, backslashes and control characters
// escaped (a raw line break would split the record).
void appendString(QByteArray& out, QStringView text)
{
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendFolder(QByteArray& out, const QStringList& folder)
{
    out += "\"folder\":[";
    for (qsizetype index = 0; index < folder.size(); ++index) {
        if (index > 0) {
            out += ',';
        }
        appendString(out, folder.at(index));
    }
    out += "],";
}

QByteArray headerRecord(const QString& deviceKey)
{
    QByteArray out = "{\"device\":";
    appendString(out, deviceKey);
    out += "}\n";
    return out;
}

// Whether the log's first line, read as `header`, names the device: another device's file under
// the same name is not this device's log.
bool namesDevice(const QJsonObject& header, const QString& deviceKey)
{
    return header.value(deviceField).toString() == deviceKey;
}

// Whether a log whose first line is `line` may be read and added to as the device's: its first line
// names the device, or is spoilt (a crash, the disk) and names nobody. The log's name is drawn
// from the device, so the records after a spoilt first line are the device's, and still due.
bool mayBeReadAsDevices(const QByteArray& line, const QString& deviceKey)
{
    const QJsonDocument header = QJsonDocument::fromJson(line);
    return !header.isObject() || !header.object().contains(deviceField) || namesDevice(header.object(), deviceKey);
}

QByteArray entryRecord(const InterruptedUploadLog::Entry& entry)
{
    QByteArray out;
    out.reserve(96 + entry.name.size() + entry.keptCopy.size());
    out += '{';
    appendFolder(out, entry.folder);
    if (!entry.keptCopy.isEmpty()) {
        out += "\"kept\":";
        appendString(out, entry.keptCopy);
        out += ',';
    }
    out += "\"name\":";
    appendString(out, entry.name);
    out += ",\"size\":";
    out += QByteArray::number(entry.size);
    out += ",\"storage\":";
    appendString(out, entry.storageID);
    out += "}\n";
    return out;
}

// The removal of the entry for the same target.
QByteArray removalRecord(const InterruptedUploadLog::Entry& entry)
{
    QByteArray out;
    out.reserve(80 + entry.name.size());
    out += '{';
    appendFolder(out, entry.folder);
    out += "\"name\":";
    appendString(out, entry.name);
    out += ",\"removed\":true,\"storage\":";
    appendString(out, entry.storageID);
    out += "}\n";
    return out;
}

// An entry as written, or none when any field is missing or of the wrong kind. A removal names
// only its target.
std::optional<InterruptedUploadLog::Entry> entryOf(const QJsonValue& value, bool targetOnly = false)
{
    const QJsonObject object = value.toObject();
    const QJsonValue storage = object.value(storageField);
    const QJsonValue folder = object.value(folderField);
    const QJsonValue name = object.value(nameField);
    const QJsonValue size = object.value(sizeField);
    const QJsonValue kept = object.value(keptField);
    if (!storage.isString() || !folder.isArray() || !name.isString() || (!targetOnly && !size.isDouble()) ||
        (!kept.isUndefined() && !kept.isString())) {
        return std::nullopt;
    }
    InterruptedUploadLog::Entry entry;
    entry.storageID = storage.toString();
    for (const QJsonValue& component : folder.toArray()) {
        if (!component.isString()) {
            return std::nullopt;
        }
        entry.folder.append(component.toString());
    }
    entry.name = name.toString();
    entry.size = static_cast<qint64>(size.toDouble());
    entry.keptCopy = kept.toString();
    return entry;
}

void put(QList<InterruptedUploadLog::Entry>& entries, const InterruptedUploadLog::Entry& entry)
{
    entries.removeIf([&entry](const InterruptedUploadLog::Entry& known) { return known.sameTarget(entry); });
    entries.append(entry);
}

} // namespace

bool InterruptedUploadLog::Entry::sameTarget(const Entry& other) const
{
    return storageID == other.storageID && folder == other.folder && name == other.name;
}

InterruptedUploadLog::InterruptedUploadLog(QString folder) : m_folder(std::move(folder)) {}

std::shared_ptr<InterruptedUploadLog> InterruptedUploadLog::standard()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state)) {
        state = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return std::make_shared<InterruptedUploadLog>(state + QStringLiteral("/quillbarrow/interrupted-uploads"));
}

namespace {

QString keyOf(const AndroidDevice& device)
{
    const QChar separator(0x1F);
    return device.manufacturer.value_or(QString()) + separator + device.model.value_or(QString()) + separator +
           device.serialNumber.value_or(QString());
}

// A phone whose serial number was never set reports a stand-in that every such phone of its model
// reports too: the Android default, "unknown", or one digit over and over.
bool isStandInSerial(const QString& serial)
{
    return serial.compare(QLatin1String("0123456789ABCDEF"), Qt::CaseInsensitive) == 0 ||
           serial.compare(QLatin1String("unknown"), Qt::CaseInsensitive) == 0 ||
           serial.count(serial.front()) == serial.size();
}

} // namespace

std::optional<QString> InterruptedUploadLog::deviceKey(const AndroidDevice& device)
{
    const QString serial = device.serialNumber.value_or(QString()).trimmed();
    if (serial.isEmpty() || isStandInSerial(serial)) {
        return std::nullopt;
    }
    return keyOf(device);
}

std::optional<QString> InterruptedUploadLog::formerDeviceKey(const AndroidDevice& device)
{
    if (!device.serialNumber || device.serialNumber->isEmpty() || deviceKey(device)) {
        return std::nullopt;
    }
    const QString serial = device.serialNumber->trimmed();
    return serial.isEmpty() || !isStandInSerial(serial) ? std::nullopt : std::optional(keyOf(device));
}

QString InterruptedUploadLog::fileOf(const QString& deviceKey) const
{
    const QByteArray digest = QCryptographicHash::hash(deviceKey.toUtf8(), QCryptographicHash::Sha256).toHex();
    return m_folder + QLatin1Char('/') + QString::fromLatin1(digest.left(32)) + QStringLiteral(".json");
}

InterruptedUploadLog::~InterruptedUploadLog() = default;

// The log: a first line naming the device, then one record a line: an entry, or the removal of the
// entry for a target ("removed": true). A line that does not parse (the last one, torn by a crash)
// is passed over. An earlier version wrote the device and all its entries as one document on the
// first line; that is read too, and so are the records after a first line that a crash or the disk
// spoilt. None when the log is there but cannot be read whole: it cannot be opened or read, or its
// first line names another device; its records may still be due.
std::optional<QList<InterruptedUploadLog::Entry>> InterruptedUploadLog::read(const QString& deviceKey) const
{
    QFile file(fileOf(deviceKey));
    if (!file.open(QIODevice::ReadOnly)) {
        struct stat info {};
        if (::stat(QFile::encodeName(file.fileName()).constData(), &info) != 0 && errno == ENOENT) {
            return QList<Entry>(); // never written, or nothing was due
        }
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    if (bytes.isEmpty()) {
        return QList<Entry>(); // made, and nothing written before a crash
    }
    const QList<QByteArray> lines = bytes.split('\n');
    if (!mayBeReadAsDevices(lines.first(), deviceKey)) {
        return std::nullopt;
    }
    const QJsonObject header = QJsonDocument::fromJson(lines.first()).object();
    QList<Entry> entries;
    for (const QJsonValue& value : header.value(uploadsField).toArray()) {
        if (const std::optional<Entry> entry = entryOf(value)) {
            put(entries, *entry);
        }
    }
    for (qsizetype index = 1; index < lines.size(); ++index) {
        const QJsonObject record = QJsonDocument::fromJson(lines.at(index)).object();
        const bool removal = record.value(removedField).toBool();
        const std::optional<Entry> entry = entryOf(record, removal);
        if (!entry) {
            continue;
        }
        if (removal) {
            entries.removeIf([&entry](const Entry& known) { return known.sameTarget(*entry); });
        } else {
            put(entries, *entry);
        }
    }
    return entries;
}

// Appends one record to the device's open log, opening it first when needed. Not synced to the
// disk: a record has to outlive the program, which it does without, and an upload of many small
// files must not wait for the disk.
bool InterruptedUploadLog::append(const QString& deviceKey, const QByteArray& record)
{
    std::shared_ptr<QFile>& file = m_open[deviceKey];
    if (!file) {
        if (!QDir().mkpath(m_folder)) {
            m_open.remove(deviceKey);
            return false;
        }
        auto opened = std::make_shared<QFile>(fileOf(deviceKey));
        if (!opened->open(QIODevice::ReadWrite | QIODevice::Append)) {
            m_open.remove(deviceKey);
            return false;
        }
        QByteArray start;
        if (opened->size() == 0) {
            start = headerRecord(deviceKey);
        } else if (!opened->seek(0) || !mayBeReadAsDevices(opened->readLine(), deviceKey)) {
            // A log that is not read as this device's: what went in would never come out.
            m_open.remove(deviceKey);
            return false;
        } else if (opened->seek(opened->size() - 1) && opened->read(1) != "\n") {
            start = "\n"; // a record torn by a crash ends here, so that it spoils no other
        }
        if (!start.isEmpty() && opened->write(start) != start.size()) {
            m_open.remove(deviceKey);
            return false;
        }
        file = std::move(opened);
    }
    if (file->write(record) != record.size() || !file->flush()) {
        closeLog(deviceKey);
        return false;
    }
    return true;
}

void InterruptedUploadLog::closeLog(const QString& deviceKey)
{
    m_open.remove(deviceKey);
}

QList<InterruptedUploadLog::Entry> InterruptedUploadLog::entries(const QString& deviceKey) const
{
    const std::lock_guard lock(m_mutex);
    return read(deviceKey).value_or(QList<Entry>());
}

bool InterruptedUploadLog::add(const QString& deviceKey, const Entry& entry)
{
    const std::lock_guard lock(m_mutex);
    return append(deviceKey, entryRecord(entry));
}

bool InterruptedUploadLog::remove(const QString& deviceKey, const Entry& entry)
{
    const std::lock_guard lock(m_mutex);
    return append(deviceKey, removalRecord(entry));
}

void InterruptedUploadLog::compact(const QString& deviceKey)
{
    const std::lock_guard lock(m_mutex);
    closeLog(deviceKey);
    // A log that could not be read whole is left as it is: its records may still be due.
    const std::optional<QList<Entry>> entries = read(deviceKey);
    if (!entries) {
        return;
    }
    const QString path = fileOf(deviceKey);
    if (entries->isEmpty()) {
        QFile::remove(path);
        return;
    }
    QByteArray bytes = headerRecord(deviceKey);
    for (const Entry& entry : *entries) {
        bytes += entryRecord(entry);
    }
    // Written beside the log and renamed over it only once it is whole on the disk, so that a crash
    // leaves one or the other whole. A rewrite that fails leaves the log as it was: a full disk often
    // shows only when the buffered bytes go out, or when the file is synced or closed.
    const QString temporary = path + QStringLiteral(".new");
    QFile file(temporary);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
    file.close();
    if (!written || file.error() != QFileDevice::NoError ||
        std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(temporary);
    }
}

} // namespace quillbarrow
