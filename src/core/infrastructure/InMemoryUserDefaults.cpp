#include "InMemoryUserDefaults.h"

namespace quillbarrow {

namespace {

template <typename T>
std::optional<T> valueOfType(const QMap<QString, QVariant>& values, const QString& key)
{
    const auto found = values.constFind(key);
    if (found == values.constEnd() || found->metaType() != QMetaType::fromType<T>()) {
        return std::nullopt;
    }
    return found->value<T>();
}

} // namespace

std::optional<QByteArray> InMemoryUserDefaults::data(const QString& key) const
{
    return valueOfType<QByteArray>(m_values, key);
}

std::optional<QString> InMemoryUserDefaults::string(const QString& key) const
{
    return valueOfType<QString>(m_values, key);
}

std::optional<QStringList> InMemoryUserDefaults::stringList(const QString& key) const
{
    return valueOfType<QStringList>(m_values, key);
}

std::optional<bool> InMemoryUserDefaults::boolean(const QString& key) const
{
    return valueOfType<bool>(m_values, key);
}

void InMemoryUserDefaults::setData(const QString& key, const QByteArray& value)
{
    m_values.insert(key, QVariant(value));
}

void InMemoryUserDefaults::setString(const QString& key, const QString& value)
{
    m_values.insert(key, QVariant(value));
}

void InMemoryUserDefaults::setStringList(const QString& key, const QStringList& value)
{
    m_values.insert(key, QVariant(value));
}

void InMemoryUserDefaults::setBoolean(const QString& key, bool value)
{
    m_values.insert(key, QVariant(value));
}

void InMemoryUserDefaults::remove(const QString& key)
{
    m_values.remove(key);
}

QStringList InMemoryUserDefaults::allKeys() const
{
    return m_values.keys();
}

} // namespace quillbarrow
