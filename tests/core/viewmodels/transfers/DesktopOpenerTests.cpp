#include "RunTask.h"

#include "viewmodels/transfers/XdgDefaultApplicationOpener.h"

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
