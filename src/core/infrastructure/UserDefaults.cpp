#include "UserDefaults.h"

namespace quillbarrow {

std::optional<QByteArray> UserDefaults::data(const QString& key) const
{
    const QVariant stored = value(key);
    if (stored.typeId() != QMetaType::QByteArray) {
        return std::nullopt;
    }
    return stored.toByteArray();
}

std::optional<QString> UserDefaults::setData(const QString& key, const QByteArray& value)
{
    if (data(key) == value) {
        return std::nullopt;
    }
    return setValue(key, QVariant(value));
}

std::optional<QString> UserDefaults::string(const QString& key) const
{
    const QVariant stored = value(key);
    if (stored.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return stored.toString();
}

std::optional<QString> UserDefaults::setString(const QString& key, const QString& value)
{
    if (string(key) == value) {
        return std::nullopt;
    }
    return setValue(key, QVariant(value));
}

std::optional<QStringList> UserDefaults::stringList(const QString& key) const
{
    return stringListFrom(value(key));
}

std::optional<QString> UserDefaults::setStringList(const QString& key, const QStringList& value)
{
    if (stringList(key) == value) {
        return std::nullopt;
    }
    return setValue(key, QVariant(value));
}

bool UserDefaults::boolValue(const QString& key) const
{
    return boolFrom(value(key)).value_or(false);
}

std::optional<QString> UserDefaults::setBool(const QString& key, bool value)
{
    if (boolFrom(this->value(key)) == value) {
        return std::nullopt;
    }
    return setValue(key, QVariant(value));
}

bool UserDefaults::hasUnsavedValues() const
{
    return false;
}

std::optional<QStringList> UserDefaults::stringListFrom(const QVariant& stored) const
{
    if (stored.typeId() == QMetaType::QStringList) {
        return stored.toStringList();
    }
    return std::nullopt;
}

std::optional<bool> UserDefaults::boolFrom(const QVariant& stored) const
{
    if (stored.typeId() == QMetaType::Bool) {
        return stored.toBool();
    }
    return std::nullopt;
}

} // namespace quillbarrow
