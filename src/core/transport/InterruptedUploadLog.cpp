#include "InterruptedUploadLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cstdio>

namespace quillbarrow {

namespace {

const QString deviceField = QStringLiteral("device");
const QString uploadsField = QStringLiteral("uploads");
const QString storageField = QStringLiteral("storage");
const QString folderField = QStringLiteral("folder");
const QString nameField = QStringLiteral("name");
const QString sizeField = QStringLiteral("size");

QJsonObject toJson(const InterruptedUploadLog::Entry& entry)
{
    return QJsonObject{{storageField, entry.storageID},
                       {folderField, QJsonArray::fromStringList(entry.folder)},
                       {nameField, entry.name},
                       {sizeField, static_cast<double>(entry.size)}};
}

// An entry as written, or none when any field is missing or of the wrong kind.
std::optional<InterruptedUploadLog::Entry> entryOf(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    const QJsonValue storage = object.value(storageField);
    const QJsonValue folder = object.value(folderField);
    const QJsonValue name = object.value(nameField);
    const QJsonValue size = object.value(sizeField);
    if (!storage.isString() || !folder.isArray() || !name.isString() || !size.isDouble()) {
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
    return entry;
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

std::optional<QString> InterruptedUploadLog::deviceKey(const AndroidDevice& device)
{
    if (!device.serialNumber || device.serialNumber->isEmpty()) {
        return std::nullopt;
    }
    const QChar separator(0x1F);
    return device.manufacturer.value_or(QString()) + separator + device.model.value_or(QString()) + separator +
           *device.serialNumber;
}

QString InterruptedUploadLog::fileOf(const QString& deviceKey) const
{
    const QByteArray digest = QCryptographicHash::hash(deviceKey.toUtf8(), QCryptographicHash::Sha256).toHex();
    return m_folder + QLatin1Char('/') + QString::fromLatin1(digest.left(32)) + QStringLiteral(".json");
}

QList<InterruptedUploadLog::Entry> InterruptedUploadLog::read(const QString& deviceKey) const
{
    QFile file(fileOf(deviceKey));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QJsonObject document = QJsonDocument::fromJson(file.readAll()).object();
    // Another device's file under the same name is not this device's log.
    if (document.value(deviceField).toString() != deviceKey) {
        return {};
    }
    QList<Entry> entries;
    for (const QJsonValue& value : document.value(uploadsField).toArray()) {
        if (const std::optional<Entry> entry = entryOf(value)) {
            entries.append(*entry);
        }
    }
    return entries;
}

bool InterruptedUploadLog::write(const QString& deviceKey, const QList<Entry>& entries) const
{
    const QString path = fileOf(deviceKey);
    if (entries.isEmpty()) {
        return QFile::remove(path) || !QFileInfo::exists(path);
    }
    if (!QDir().mkpath(m_folder)) {
        return false;
    }
    QJsonArray uploads;
    for (const Entry& entry : entries) {
        uploads.append(toJson(entry));
    }
    const QByteArray bytes =
        QJsonDocument(QJsonObject{{deviceField, deviceKey}, {uploadsField, uploads}}).toJson(QJsonDocument::Compact);
    // Written beside the file and renamed over it, so that a reader never sees half of it. Not
    // synced to the disk: the entry has to outlive the program, which it does without, and an
    // upload of many small files must not wait for the disk twice per file.
    const QString temporary = path + QStringLiteral(".new");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        file.remove();
        return false;
    }
    file.close();
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(temporary);
        return false;
    }
    return true;
}

QList<InterruptedUploadLog::Entry> InterruptedUploadLog::entries(const QString& deviceKey) const
{
    const std::lock_guard lock(m_mutex);
    return read(deviceKey);
}

bool InterruptedUploadLog::add(const QString& deviceKey, const Entry& entry)
{
    const std::lock_guard lock(m_mutex);
    QList<Entry> entries = read(deviceKey);
    entries.removeIf([&entry](const Entry& known) { return known.sameTarget(entry); });
    entries.append(entry);
    return write(deviceKey, entries);
}

bool InterruptedUploadLog::remove(const QString& deviceKey, const Entry& entry)
{
    const std::lock_guard lock(m_mutex);
    QList<Entry> entries = read(deviceKey);
    if (entries.removeIf([&entry](const Entry& known) { return known.sameTarget(entry); }) == 0) {
        return true;
    }
    return write(deviceKey, entries);
}

} // namespace quillbarrow
