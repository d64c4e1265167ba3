#include "domain/LocalPath.h"

#include <gtest/gtest.h>

using namespace quillbarrow;

namespace {

TEST(LocalPath, EveryByteOfANameComesBackAndOnlyTheShownNameCarriesUFFFD)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        QString shown;
        QByteArray encodedPath;
    };
    const QString replacement(QChar::ReplacementCharacter);
    const Case cases[] = {
        {"valid text", "/home/me/caf\xc3\xa9 50%", QString::fromUtf8("/home/me/caf\xc3\xa9 50%"),
         "/home/me/caf%C3%A9%2050%25"},
        {"a byte that is not UTF-8", "/tmp/a\xff", "/tmp/a" + replacement, "/tmp/a%FF"},
        {"a real U+FFFD", "/tmp/a\xef\xbf\xbd", "/tmp/a" + replacement, "/tmp/a%EF%BF%BD"},
        {"a letter beyond the first plane whose low half looks like a kept byte", "/tmp/\xf0\x90\x82\x80",
         QString::fromUtf8("/tmp/\xf0\x90\x82\x80"), "/tmp/%F0%90%82%80"},
        {"a surrogate written as UTF-8", "/tmp/\xed\xb2\x80", "/tmp/" + replacement.repeated(3), "/tmp/%ED%B2%80"},
        {"an overlong slash", "/tmp/\xc0\xaf", "/tmp/" + replacement.repeated(2), "/tmp/%C0%AF"},
        {"a sequence cut short at the end", "/tmp/\xe2\x82", "/tmp/" + replacement.repeated(2), "/tmp/%E2%82"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const QString path = LocalPath::decoded(row.bytes);
        EXPECT_EQ(LocalPath::encoded(path), row.bytes);
        EXPECT_EQ(LocalPath::shown(path), row.shown);
        const QUrl url = LocalPath::url(path);
        EXPECT_EQ(url.path(QUrl::FullyEncoded).toLatin1(), row.encodedPath);
        EXPECT_EQ(LocalPath::encoded(LocalPath::fromUrl(url)), row.bytes);
    }
    EXPECT_NE(LocalPath::url(LocalPath::decoded("/tmp/a\xff")), LocalPath::url(LocalPath::decoded("/tmp/a\xef\xbf\xbd")));
    EXPECT_EQ(LocalPath::url(QStringLiteral("/tmp/caf\u00e9 #1")), QUrl::fromLocalFile(QStringLiteral("/tmp/caf\u00e9 #1")));
}

} // namespace
