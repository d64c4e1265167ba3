#include "QSettingsUserDefaults.h"

namespace quillbarrow {

namespace {

const QString organisation = QStringLiteral("Quillbarrow");

} // namespace

QSettingsUserDefaults::QSettingsUserDefaults()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, organisation, organisation))
{
}

QSettingsUserDefaults::QSettingsUserDefaults(const QString& filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{
}

QSettingsUserDefaults::~QSettingsUserDefaults() = default;

QString QSettingsUserDefaults::escapedKey(const QString& key)
{
    QString escaped;
    escaped.reserve(key.size());
    for (const QChar character : key) {
        if (character == u'%') {
            escaped += QLatin1StringView("%25");
        } else if (character == u'/') {
            escaped += QLatin1StringView("%2F");
        } else if (character == u'\\') {
            escaped += QLatin1StringView("%5C");
        } else {
            escaped += character;
        }
    }
    return escaped;
}

QString QSettingsUserDefaults::unescapedKey(const QString& storedKey)
{
    QString key;
    key.reserve(storedKey.size());
    for (qsizetype index = 0; index < storedKey.size(); ++index) {
        const QStringView escape = QStringView(storedKey).mid(index, 3);
        if (escape == QLatin1StringView("%25")) {
            key += u'%';
        } else if (escape == QLatin1StringView("%2F")) {
            key += u'/';
        } else if (escape == QLatin1StringView("%5C")) {
            key += u'\\';
        } else {
            key += storedKey.at(index);
            continue;
        }
        index += 2;
    }
    return key;
}

std::optional<QByteArray> QSettingsUserDefaults::data(const QString& key) const
{
    const QVariant value = m_settings->value(escapedKey(key));
    if (value.metaType() != QMetaType::fromType<QByteArray>()) {
        return std::nullopt;
    }
    return value.toByteArray();
}

std::optional<QString> QSettingsUserDefaults::string(const QString& key) const
{
    const QVariant value = m_settings->value(escapedKey(key));
    if (value.metaType() != QMetaType::fromType<QString>()) {
        return std::nullopt;
    }
    return value.toString();
}

std::optional<QStringList> QSettingsUserDefaults::stringList(const QString& key) const
{
    const QString stored = escapedKey(key);
    if (!m_settings->contains(stored)) {
        return std::nullopt;
    }
    // The INI form reads a list of one back as a plain string and an empty list as no value.
    const QVariant value = m_settings->value(stored);
    if (value.metaType() == QMetaType::fromType<QStringList>()) {
        return value.toStringList();
    }
    if (value.metaType() == QMetaType::fromType<QString>()) {
        return QStringList{value.toString()};
    }
    if (!value.isValid()) {
        return QStringList{};
    }
    return std::nullopt;
}

std::optional<bool> QSettingsUserDefaults::boolean(const QString& key) const
{
    const QVariant value = m_settings->value(escapedKey(key));
    if (value.metaType() == QMetaType::fromType<bool>()) {
        return value.toBool();
    }
    // The INI form keeps a Boolean as its text.
    if (value.metaType() == QMetaType::fromType<QString>()) {
        const QString text = value.toString();
        if (text == QLatin1StringView("true")) {
            return true;
        }
        if (text == QLatin1StringView("false")) {
            return false;
        }
    }
    return std::nullopt;
}

void QSettingsUserDefaults::setData(const QString& key, const QByteArray& value)
{
    m_settings->setValue(escapedKey(key), value);
}

void QSettingsUserDefaults::setString(const QString& key, const QString& value)
{
    m_settings->setValue(escapedKey(key), value);
}

void QSettingsUserDefaults::setStringList(const QString& key, const QStringList& value)
{
    m_settings->setValue(escapedKey(key), value);
}

void QSettingsUserDefaults::setBoolean(const QString& key, bool value)
{
    m_settings->setValue(escapedKey(key), value);
}

void QSettingsUserDefaults::remove(const QString& key)
{
    m_settings->remove(escapedKey(key));
}

QStringList QSettingsUserDefaults::allKeys() const
{
    QStringList keys;
    for (const QString& stored : m_settings->allKeys()) {
        keys.append(unescapedKey(stored));
    }
    return keys;
}

} // namespace quillbarrow
