#include "LocalPath.h"

namespace quillbarrow {

namespace {

constexpr char16_t firstKeptByte = 0xDC80;
constexpr char16_t lastKeptByte = 0xDCFF;

// A kept byte is a lone surrogate of that range; the low half of a real surrogate pair can fall
// in the same range and is part of its character.
bool isKeptByte(const QString& text, qsizetype index)
{
    const char16_t unit = text[index].unicode();
    return unit >= firstKeptByte && unit <= lastKeptByte && (index == 0 || !text[index - 1].isHighSurrogate());
}

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte there does not start one
// (overlong forms, surrogates and values past U+10FFFF are not valid).
qsizetype validSequenceAt(const QByteArray& bytes, qsizetype at)
{
    const auto byte = [&](qsizetype index) { return static_cast<unsigned char>(bytes[index]); };
    const unsigned char lead = byte(at);
    const qsizetype left = bytes.size() - at;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return left >= 2 && isContinuation(byte(at + 1)) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (left < 3 || !isContinuation(byte(at + 1)) || !isContinuation(byte(at + 2))) {
            return 0;
        }
        const unsigned char second = byte(at + 1);
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0)) {
            return 0;
        }
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (left < 4 || !isContinuation(byte(at + 1)) || !isContinuation(byte(at + 2)) ||
            !isContinuation(byte(at + 3))) {
            return 0;
        }
        const unsigned char second = byte(at + 1);
        if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) {
            return 0;
        }
        return 4;
    }
    return 0;
}

} // namespace

QByteArray LocalPath::encoded(const QString& path)
{
    if (!hasKeptBytes(path)) {
        return path.toUtf8();
    }
    QByteArray bytes;
    bytes.reserve(path.size() * 3);
    qsizetype runStart = 0;
    for (qsizetype index = 0; index <= path.size(); ++index) {
        if (index < path.size() && !isKeptByte(path, index)) {
            continue;
        }
        bytes += QStringView(path).mid(runStart, index - runStart).toUtf8();
        if (index < path.size()) {
            bytes += static_cast<char>(path[index].unicode() - 0xDC00);
        }
        runStart = index + 1;
    }
    return bytes;
}

QString LocalPath::decoded(const QByteArray& bytes)
{
    QString path;
    path.reserve(bytes.size());
    qsizetype runStart = 0;
    qsizetype index = 0;
    while (index < bytes.size()) {
        const qsizetype length = validSequenceAt(bytes, index);
        if (length > 0) {
            index += length;
            continue;
        }
        path += QString::fromUtf8(bytes.constData() + runStart, index - runStart);
        path += QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[index])));
        ++index;
        runStart = index;
    }
    path += QString::fromUtf8(bytes.constData() + runStart, bytes.size() - runStart);
    return path;
}

QUrl LocalPath::url(const QString& path)
{
    if (!hasKeptBytes(path)) {
        return QUrl::fromLocalFile(path);
    }
    return QUrl::fromEncoded(QByteArrayLiteral("file://") + encoded(path).toPercentEncoding("/"), QUrl::StrictMode);
}

QString LocalPath::fromUrl(const QUrl& url)
{
    if (!url.isLocalFile()) {
        return QString();
    }
    const QString encodedPath = url.path(QUrl::FullyEncoded);
    if (!encodedPath.contains(u'%')) {
        return url.toLocalFile();
    }
    return decoded(QByteArray::fromPercentEncoding(encodedPath.toLatin1()));
}

QString LocalPath::shown(const QString& text)
{
    if (!hasKeptBytes(text)) {
        return text;
    }
    QString shownText = text;
    for (qsizetype index = 0; index < text.size(); ++index) {
        if (isKeptByte(text, index)) {
            shownText[index] = QChar::ReplacementCharacter;
        }
    }
    return shownText;
}

bool LocalPath::hasKeptBytes(const QString& text)
{
    for (qsizetype index = 0; index < text.size(); ++index) {
        if (isKeptByte(text, index)) {
            return true;
        }
    }
    return false;
}

QString LocalPath::cutToBytes(const QString& text, qsizetype bytes)
{
    qsizetype size = encoded(text).size();
    qsizetype end = text.size();
    while (end > 0 && size > bytes) {
        const bool pair = end >= 2 && text[end - 1].isLowSurrogate() && text[end - 2].isHighSurrogate();
        const qsizetype width = pair ? 2 : 1;
        size -= encoded(text.mid(end - width, width)).size();
        end -= width;
    }
    return text.left(end);
}

} // namespace quillbarrow
