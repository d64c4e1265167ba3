#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <exception>

namespace quillbarrow {

// Thrown when a stored JSON value does not have the shape a value type is decoded from. Its
// message names the type and what was found, so a bad stored value can be told from a good one.
class JsonDecodingError : public std::exception {
public:
    explicit JsonDecodingError(QString message);

    const QString& message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

    // The name of a JSON value's type as used in messages: "a string", "an object", ...
    static QString describeType(QJsonValue::Type type);

private:
    QString m_message;
    QByteArray m_utf8;
};

} // namespace quillbarrow
