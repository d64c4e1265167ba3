#include "QSettingsUserDefaults.h"

namespace quillbarrow {

QSettingsUserDefaults::QSettingsUserDefaults()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QStringLiteral("Quillbarrow"), QStringLiteral("Quillbarrow")))
{
}

QSettingsUserDefaults::QSettingsUserDefaults(const QString& iniFilePath)
    : m_settings(std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat))
{
}

QString QSettingsUserDefaults::escapedKey(const QString& key)
{
    QString escaped;
    escaped.reserve(key.size());
    for (const QChar c : key) {
        if (c == u'%') {
            escaped += QStringLiteral("%25");
        } else if (c == u'/') {
            escaped += QStringLiteral("%2F");
        } else if (c == u'\\') {
            escaped += QStringLiteral("%5C");
        } else {
            escaped += c;
        }
    }
    return escaped;
}

QString QSettingsUserDefaults::unescapedKey(const QString& stored)
{
    QString key;
    key.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const QStringView rest = QStringView(stored).mid(i, 3);
        if (rest == u"%25") {
            key += u'%';
        } else if (rest.compare(u"%2F", Qt::CaseInsensitive) == 0) {
            key += u'/';
        } else if (rest.compare(u"%5C", Qt::CaseInsensitive) == 0) {
            key += u'\\';
        } else {
            key += stored[i];
            continue;
        }
        i += 2;
    }
    return key;
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

void QSettingsUserDefaults::sync()
{
    m_settings->sync();
}

QString QSettingsUserDefaults::fileName() const
{
    return m_settings->fileName();
}

QVariant QSettingsUserDefaults::value(const QString& key) const
{
    const QString stored = escapedKey(key);
    QVariant found = m_settings->value(stored);
    // An empty list of texts is written as an invalid value; a key that exists with no value
    // holds nothing else.
    if (!found.isValid() && m_settings->contains(stored)) {
        return QVariant(QStringList());
    }
    return found;
}

void QSettingsUserDefaults::setValue(const QString& key, const QVariant& value)
{
    m_settings->setValue(escapedKey(key), value);
}

std::optional<QStringList> QSettingsUserDefaults::stringListFrom(const QVariant& stored) const
{
    // On disk a list of one text reads back as that text.
    if (stored.typeId() == QMetaType::QString) {
        return QStringList{stored.toString()};
    }
    return UserDefaults::stringListFrom(stored);
}

std::optional<bool> QSettingsUserDefaults::boolFrom(const QVariant& stored) const
{
    if (stored.typeId() == QMetaType::QString) {
        const QString text = stored.toString();
        if (text == u"true") {
            return true;
        }
        if (text == u"false") {
            return false;
        }
        return std::nullopt;
    }
    return UserDefaults::boolFrom(stored);
}

} // namespace quillbarrow
