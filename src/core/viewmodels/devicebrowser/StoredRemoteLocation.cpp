#include "StoredRemoteLocation.h"

#include "domain/NfcText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

namespace quillbarrow {

namespace {

// One JSON string with the standard escaping: Qt writes a one-element array, whose brackets
// come off.
QByteArray jsonString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray objectJson(const StoredRemoteLocation& location)
{
    QByteArray json = "{\"storageID\":" + jsonString(location.storageID.rawValue()) + ",\"components\":[";
    for (qsizetype i = 0; i < location.components.size(); ++i) {
        if (i > 0) {
            json += ',';
        }
        json += jsonString(location.components[i]);
    }
    return json + "]}";
}

std::optional<StoredRemoteLocation> fromObject(const QJsonValue& value)
{
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    const QJsonValue storage = object.value(QStringLiteral("storageID"));
    const QJsonValue components = object.value(QStringLiteral("components"));
    if (!storage.isString() || !components.isArray()) {
        return std::nullopt;
    }
    QStringList names;
    for (const QJsonValue& name : components.toArray()) {
        if (!name.isString()) {
            return std::nullopt;
        }
        names.append(name.toString());
    }
    return StoredRemoteLocation(StorageID(storage.toString()), names);
}

QJsonDocument parsed(const QByteArray& json)
{
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(json, &error);
    return error.error == QJsonParseError::NoError ? document : QJsonDocument();
}

} // namespace

StoredRemoteLocation::StoredRemoteLocation(StorageID storageID, QStringList components)
    : storageID(std::move(storageID)), components(std::move(components))
{
}

StoredRemoteLocation::StoredRemoteLocation(const RemotePath& path) : storageID(path.storageID), components(path.components)
{
}

RemotePath StoredRemoteLocation::path() const
{
    return RemotePath(storageID, components);
}

QByteArray StoredRemoteLocation::toJson() const
{
    return objectJson(*this);
}

std::optional<StoredRemoteLocation> StoredRemoteLocation::fromJson(const QByteArray& json)
{
    const QJsonDocument document = parsed(json);
    if (!document.isObject()) {
        return std::nullopt;
    }
    return fromObject(document.object());
}

QByteArray StoredRemoteLocation::listToJson(const QList<StoredRemoteLocation>& locations)
{
    QByteArray json = "[";
    for (qsizetype i = 0; i < locations.size(); ++i) {
        if (i > 0) {
            json += ',';
        }
        json += objectJson(locations[i]);
    }
    return json + "]";
}

QList<StoredRemoteLocation> StoredRemoteLocation::listFromJson(const QByteArray& json)
{
    const QJsonDocument document = parsed(json);
    if (!document.isArray()) {
        return {};
    }
    QList<StoredRemoteLocation> locations;
    for (const QJsonValue& element : document.array()) {
        std::optional<StoredRemoteLocation> location = fromObject(element);
        if (!location) {
            return {};
        }
        locations.append(std::move(*location));
    }
    return locations;
}

bool operator==(const StoredRemoteLocation& a, const StoredRemoteLocation& b)
{
    return NfcText::equal(a.storageID.rawValue(), b.storageID.rawValue()) &&
           std::equal(a.components.begin(), a.components.end(), b.components.begin(), b.components.end(),
                      [](const QString& x, const QString& y) { return NfcText::equal(x, y); });
}

} // namespace quillbarrow
