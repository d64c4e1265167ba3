#include "LocalNameSanitizer.h"

#include "LocalFileOperations.h"

#include <QDir>
#include <QFile>

namespace quillbarrow {

namespace {

// Extensions longer than this are not kept when a name is shortened.
constexpr qsizetype longestKeptExtensionBytes = 32;

qsizetype encodedSize(const QString& text)
{
    return QFile::encodeName(text).size();
}

// Drops whole characters from the end until the encoded text fits.
QString cutToBytes(QString text, qsizetype bytes)
{
    while (!text.isEmpty() && encodedSize(text) > bytes) {
        const bool pair = text.size() >= 2 && text.back().isLowSurrogate() && text.at(text.size() - 2).isHighSurrogate();
        text.chop(pair ? 2 : 1);
    }
    return text;
}

QString shortened(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) {
        const QString extension = name.mid(dot);
        const qsizetype extensionBytes = encodedSize(extension);
        if (extensionBytes <= longestKeptExtensionBytes) {
            return cutToBytes(name.left(dot), LocalNameSanitizer::shortenedNameBytes - extensionBytes) + extension;
        }
    }
    return cutToBytes(name, LocalNameSanitizer::shortenedNameBytes);
}

} // namespace

const QString LocalNameSanitizer::fallbackName = QStringLiteral("Android file");

QString LocalNameSanitizer::localName(const QString& deviceName)
{
    QString name = LocalFileOperations::lastComponent(deviceName);
    name.remove(QChar(u'\0'));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        return fallbackName;
    }
    if (encodedSize(name) > maximumNameBytes) {
        return shortened(name);
    }
    return name;
}

bool LocalNameSanitizer::liesInside(const QString& path, const QString& folder)
{
    const QString cleanPath = QDir::cleanPath(path);
    const QString cleanFolder = QDir::cleanPath(folder);
    if (!QDir::isAbsolutePath(cleanPath) || !QDir::isAbsolutePath(cleanFolder) || cleanPath == cleanFolder) {
        return false;
    }
    return LocalFileOperations::isSameOrInside(cleanPath, cleanFolder);
}

} // namespace quillbarrow
