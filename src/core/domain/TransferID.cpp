#include "TransferID.h"

#include "JsonDecodingError.h"

#include <QJsonObject>

namespace quillbarrow {

namespace {

const QString rawValueKey = QStringLiteral("rawValue");

// Only the standard form: 36 characters, hexadecimal digits in groups of 8-4-4-4-12 joined by
// hyphens (either letter case). No braces, no other spellings QUuid would also take.
bool isStandardUuidText(const QString& text)
{
    if (text.size() != 36) {
        return false;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != QLatin1Char('-')) {
                return false;
            }
        } else if (!(c.isDigit() && c.unicode() < 128) && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')) &&
                   !(c >= QLatin1Char('A') && c <= QLatin1Char('F'))) {
            return false;
        }
    }
    return true;
}

} // namespace

TransferID TransferID::create()
{
    return TransferID(QUuid::createUuid());
}

QString TransferID::description() const
{
    return m_rawValue.toString(QUuid::WithoutBraces).toUpper();
}

QJsonValue TransferID::toJson() const
{
    return QJsonObject{{rawValueKey, description()}};
}

TransferID TransferID::fromJson(const QJsonValue& json)
{
    if (!json.isObject()) {
        throw JsonDecodingError(QStringLiteral("Expected a JSON object for TransferID, found %1.")
                                    .arg(JsonDecodingError::describeType(json.type())));
    }
    const QJsonObject object = json.toObject();
    if (!object.contains(rawValueKey)) {
        throw JsonDecodingError(QStringLiteral("TransferID has no \"rawValue\" key."));
    }
    const QJsonValue rawValue = object.value(rawValueKey);
    if (!rawValue.isString()) {
        throw JsonDecodingError(QStringLiteral("Expected a JSON string for TransferID's \"rawValue\", found %1.")
                                    .arg(JsonDecodingError::describeType(rawValue.type())));
    }
    const QString text = rawValue.toString();
    if (!isStandardUuidText(text)) {
        throw JsonDecodingError(QStringLiteral("\"%1\" is not a UUID.").arg(text));
    }
    return TransferID(QUuid::fromString(text));
}

} // namespace quillbarrow
