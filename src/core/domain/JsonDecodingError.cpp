#include "JsonDecodingError.h"

namespace quillbarrow {

JsonDecodingError::JsonDecodingError(QString message)
    : m_message(std::move(message)), m_utf8(m_message.toUtf8())
{
}

QString JsonDecodingError::describeType(QJsonValue::Type type)
{
    switch (type) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("no value");
}

} // namespace quillbarrow
