#include "QSettingsUserDefaults.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace quillbarrow {

namespace {

// Why the settings file cannot be written now, in the system's words: QSettings tells only that it
// could not. Tried in the order QSettings writes: the folder made, the file opened for writing, a
// new file beside it, and that file's contents, which a full disk refuses after taking the file.
QString whyUnwritable(const QString& file)
{
    const QFileInfo info(file);
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(info.absolutePath()).toStdString(), error);
    if (error) {
        return QString::fromStdString(error.message());
    }
    if (info.exists()) {
        QFile existing(file);
        if (!existing.open(QIODevice::ReadWrite)) {
            return existing.errorString();
        }
    }
    QSaveFile replacement(file);
    if (!replacement.open(QIODevice::WriteOnly)) {
        return replacement.errorString();
    }
    const QByteArray contents(std::max<qint64>(info.size(), 0) + 4096, '\n');
    if (replacement.write(contents) != contents.size() || !replacement.flush()) {
        return replacement.errorString();
    }
    replacement.cancelWriting();
    return QStringLiteral("Unknown error");
}

} // namespace

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

bool QSettingsUserDefaults::hasUnsavedValues() const
{
    return m_unsaved;
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

std::optional<QString> QSettingsUserDefaults::setValue(const QString& key, const QVariant& value)
{
    // QSettings keeps the first error it met for as long as it lives, so each write goes through
    // a settings object of its own, whose status tells how this write went. QSettings keeps one
    // copy of a file's values for all its objects: m_settings reads the new value at once, and a
    // value that could not be written is written again with the next write.
    const QString file = fileName();
    QSettings writer(file, QSettings::IniFormat);
    writer.setValue(escapedKey(key), value);
    writer.sync();
    m_unsaved = writer.status() != QSettings::NoError;
    if (!m_unsaved) {
        return std::nullopt;
    }
    return QStringLiteral("Could not save settings in %1: %2").arg(file, whyUnwritable(file));
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
