#include "RunTask.h"

#include "viewmodels/transfers/XdgDefaultApplicationOpener.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;

// The desktop's helper is asked without blocking, and only its success counts as an opened file:
// a helper that exits with a failure, or cannot start, means no application took the file.
TEST(DesktopOpener, OnlyAHelperThatSucceedsOpensTheFile)
{
    const struct {
        QString helper;
        bool opened;
    } cases[] = {
        {QStringLiteral("true"), true},
        {QStringLiteral("false"), false},
        {QStringLiteral("/nonexistent/quillbarrow-missing-helper"), false},
    };
    for (const auto& each : cases) {
        XdgDefaultApplicationOpener opener(each.helper);
        QCoro::Task<bool> opening = opener.open(QStringLiteral("/tmp/picture.jpg"));
        EXPECT_FALSE(opening.isReady()) << qPrintable(each.helper) << ": the call waited for the helper";
        EXPECT_EQ(runTask(std::move(opening)), each.opened) << qPrintable(each.helper);
    }
}

// The helper reads an argument that looks like an address of another kind as that address, and
// would hand it to the browser: it is always given the file's own address, whatever the name holds.
TEST(DesktopOpener, TheHelperIsGivenTheFilesAddress)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile helper(dir.filePath(QStringLiteral("helper")));
    ASSERT_TRUE(helper.open(QIODevice::WriteOnly));
    helper.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/argument\"\n");
    helper.close();
    helper.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    XdgDefaultApplicationOpener opener(helper.fileName());
    ASSERT_TRUE(runTask(opener.open(QStringLiteral("/tmp/cache/notes\nmailto:a@b"))));

    QFile argument(dir.filePath(QStringLiteral("argument")));
    ASSERT_TRUE(argument.open(QIODevice::ReadOnly));
    EXPECT_EQ(argument.readAll(), QByteArrayLiteral("file:///tmp/cache/notes%0Amailto:a@b"));
}
