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
// Construction never fails and keeps the text exactly as given (the empty text is valid). Equality
// and hashing are those of the text under canonical equivalence, so the normalised form is worked
// out once at construction and kept beside the raw text, which is what is printed and encoded.
// Encoded as one bare JSON string.
template <typename Tag>
class StringIdentifier {
public:
    StringIdentifier() = default;
    explicit StringIdentifier(QString rawValue)
        : m_rawValue(std::move(rawValue)), m_key(NfcText::normalized(m_rawValue))
    {
    }

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

    friend bool operator==(const StringIdentifier& a, const StringIdentifier& b) { return a.m_key == b.m_key; }
    friend std::size_t qHash(const StringIdentifier& id, std::size_t seed = 0) noexcept
    {
        return qHash(id.m_key, seed);
    }

private:
    QString m_rawValue;
    QString m_key;
};

} // namespace quillbarrow

template <typename Tag>
struct std::hash<quillbarrow::StringIdentifier<Tag>> {
    std::size_t operator()(const quillbarrow::StringIdentifier<Tag>& id) const noexcept { return qHash(id); }
};
