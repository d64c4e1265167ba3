#pragma once

#include <QHashFunctions>
#include <QJsonValue>
#include <QString>
#include <QUuid>

#include <cstddef>
#include <functional>

namespace quillbarrow {

// The identity of one transfer job: a UUID, fresh for each job. Printed in the standard upper-case
// 8-4-4-4-12 form; encoded keyed, as {"rawValue": "<UUID>"}.
class TransferID {
public:
    explicit TransferID(QUuid rawValue) : m_rawValue(rawValue) {}
    // A new random identifier.
    static TransferID create();

    QUuid rawValue() const { return m_rawValue; }
    QString description() const;

    QJsonValue toJson() const;
    // Throws JsonDecodingError unless the value is an object whose "rawValue" is a UUID text in the
    // standard 36-character form.
    static TransferID fromJson(const QJsonValue& json);

    friend bool operator==(const TransferID& a, const TransferID& b) = default;
    friend std::size_t qHash(const TransferID& id, std::size_t seed = 0) noexcept { return qHash(id.m_rawValue, seed); }

private:
    QUuid m_rawValue;
};

} // namespace quillbarrow

template <>
struct std::hash<quillbarrow::TransferID> {
    std::size_t operator()(const quillbarrow::TransferID& id) const noexcept { return qHash(id); }
};
