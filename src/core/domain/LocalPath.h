#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace quillbarrow {

// Paths of the local file system as the bytes they are. A Linux name is any run of bytes except
// "/" and NUL, and need not be UTF-8; Qt's own conversions turn every invalid byte into U+FFFD,
// after which the name reaches no file, or another file whose name holds a real U+FFFD.
//
// Here a path is held as a QString in which valid UTF-8 reads as the text it is, and each byte
// that is not part of valid UTF-8 is kept as the lone surrogate U+DC80 + byte, which no valid
// name can produce; encoded() gives the bytes back exactly. A file address (QUrl) keeps such a
// byte percent-encoded ("%FF"), as file addresses do. Names and paths shown to people go through
// shown(), which puts U+FFFD in place of every kept byte.
class LocalPath {
public:
    // The bytes of `path` for the file system.
    static QByteArray encoded(const QString& path);
    // A path read from the file system, keeping every byte.
    static QString decoded(const QByteArray& bytes);
    // The file address of the absolute `path`; the same as QUrl::fromLocalFile for valid UTF-8.
    static QUrl url(const QString& path);
    // The path of a file address, keeping every byte; empty for an address that is not a local file.
    static QString fromUrl(const QUrl& url);
    // `text` for people: each kept byte becomes U+FFFD.
    static QString shown(const QString& text);
    // `text` holds a byte that is not valid UTF-8.
    static bool hasKeptBytes(const QString& text);
    // `text` without as many whole characters at its end as it takes for its bytes to fit in
    // `bytes`: a character, or a surrogate pair, is never split.
    static QString cutToBytes(const QString& text, qsizetype bytes);
};

} // namespace quillbarrow
