#pragma once

#include "JsonDecodingError.h"
#include "NfcText.h"

#include <QHashFunctions>
#include <QJsonValue>
#include <QString>

#include <cstddef>
#include <functional>
#include <utility>

namespace quillbarrow {

// The one implementation behind the text identifiers made by the device backends (DeviceID,
// StorageID, RemoteObjectID). The tag keeps the three apart: they never convert into one another.
//
// Construction never fails and keeps the text exactly as given (the empty text is valid), which is
// what is printed and encoded. Equality and hashing are those of the text under canonical
// equivalence (NfcText), which costs nothing more for the plain ASCII text devices use: only the
// raw text is kept, since big listings hold several identifiers per item. Encoded as one bare JSON
// string.
template <typename Tag>
class StringIdentifier {
public:
    StringIdentifier() = default;
    explicit StringIdentifier(QString rawValue) : m_rawValue(std::move(rawValue)) {}

    const QString& rawValue() const { return m_rawValue; }
    const QString& description() const { return m_rawValue; }

    QJsonValue toJson() const { return QJsonValue(m_rawValue); }

    // Throws JsonDecodingError unless the value is a JSON string.
    static StringIdentifier fromJson(const QJsonValue& json)
    {
        if (!json.isString()) {
            throw JsonDecodingError(QStringLiteral("Expected a JSON string for %1, found %2.")
                                        .arg(QLatin1StringView(Tag::typeName),
                                             JsonDecodingError::describeType(json.type())));
        }
        return StringIdentifier(json.toString());
    }

    friend bool operator==(const StringIdentifier& a, const StringIdentifier& b)
    {
        return NfcText::equal(a.m_rawValue, b.m_rawValue);
    }
    friend std::size_t qHash(const StringIdentifier& id, std::size_t seed = 0) noexcept
    {
        return NfcText::hash(id.m_rawValue, seed);
    }

private:
    QString m_rawValue;
};

} // namespace quillbarrow

template <typename Tag>
struct std::hash<quillbarrow::StringIdentifier<Tag>> {
    std::size_t operator()(const quillbarrow::StringIdentifier<Tag>& id) const noexcept { return qHash(id); }
};
