#include "CoordinatorHarness.h"
#include "viewmodels/transfers/Clipboard.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

RemoteItem deviceFile(const QString& id, const QString& name)
{
    return RemoteItem(RemoteObjectID(id), StorageID(QStringLiteral("s1")), std::nullopt, name, RemoteItemKind::file, 10,
                      std::nullopt, std::nullopt);
}

QUrl local(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

} // namespace

TEST(Clipboard, SummaryCountsItemsWithThePluralOnlyAboveOne)
{
    Clipboard clipboard;
    EXPECT_EQ(clipboard.contents().summary(), "Clipboard empty");
    EXPECT_TRUE(clipboard.contents().isEmpty());

    clipboard.copyLocal({local("/a")});
    EXPECT_EQ(clipboard.contents().summary(), "1 Mac item");
    clipboard.copyLocal({local("/a"), local("/b"), local("/c")});
    EXPECT_EQ(clipboard.contents().summary(), "3 Mac items");
    EXPECT_FALSE(clipboard.contents().isEmpty());

    clipboard.copyDevice({deviceFile("1", "a.jpg")}, StorageID(QStringLiteral("s1")));
    EXPECT_EQ(clipboard.contents().summary(), "1 Android item");
    clipboard.copyDevice({deviceFile("1", "a.jpg"), deviceFile("2", "b.jpg")}, StorageID(QStringLiteral("s1")));
    EXPECT_EQ(clipboard.contents().summary(), "2 Android items");
}

TEST(Clipboard, EachCopyReplacesTheWholeContentsAndEmptyListsStoreEmpty)
{
    Clipboard clipboard;
    clipboard.copyLocal({local("/b"), local("/a")});
    EXPECT_EQ(clipboard.contents().kind(), ClipboardContents::Kind::localFiles);
    EXPECT_EQ(clipboard.contents().urls(), (QList<QUrl>{local("/b"), local("/a")})); // order kept as given

    clipboard.copyDevice({deviceFile("7", "x")}, StorageID(QStringLiteral("s2")));
    EXPECT_EQ(clipboard.contents().kind(), ClipboardContents::Kind::deviceFiles);
    EXPECT_TRUE(clipboard.contents().urls().isEmpty());
    EXPECT_EQ(clipboard.contents().storageID(), StorageID(QStringLiteral("s2")));

    clipboard.copyLocal({});
    EXPECT_EQ(clipboard.contents(), ClipboardContents::empty());
    clipboard.copyDevice({deviceFile("7", "x")}, StorageID(QStringLiteral("s2")));
    clipboard.copyDevice({}, StorageID(QStringLiteral("s2")));
    EXPECT_EQ(clipboard.contents().summary(), "Clipboard empty");
    clipboard.copyLocal({local("/a")});
    clipboard.clear();
    EXPECT_TRUE(clipboard.contents().isEmpty());
}

TEST(Clipboard, ContentsEqualOnlyWithTheSameCaseAndPayload)
{
    const QList<RemoteItem> items{deviceFile("1", "a")};
    EXPECT_EQ(ClipboardContents::deviceFiles(items, StorageID(QStringLiteral("s1"))),
              ClipboardContents::deviceFiles(items, StorageID(QStringLiteral("s1"))));
    EXPECT_FALSE(ClipboardContents::deviceFiles(items, StorageID(QStringLiteral("s1"))) ==
                 ClipboardContents::deviceFiles(items, StorageID(QStringLiteral("s2"))));
    EXPECT_FALSE(ClipboardContents::localFiles({local("/a")}) == ClipboardContents::localFiles({local("/b")}));
    EXPECT_FALSE(ClipboardContents::localFiles({}) == ClipboardContents::empty());
}

TEST(Clipboard, EveryAssignmentNotifiesAndTheCoordinatorForwardsIt)
{
    CoordinatorFixture fixture;
    QSignalSpy clipboardSpy(&fixture.clipboard, &Clipboard::contentsChanged);
    QSignalSpy coordinatorSpy(&fixture.coordinator, &TransferCoordinator::clipboardChanged);
    fixture.clipboard.copyLocal({local("/a")});
    fixture.clipboard.copyLocal({local("/a")});
    fixture.clipboard.clear();
    fixture.clipboard.clear();
    EXPECT_EQ(clipboardSpy.count(), 4);
    EXPECT_EQ(coordinatorSpy.count(), 4);
    EXPECT_EQ(fixture.coordinator.clipboard(), &fixture.clipboard);
}
