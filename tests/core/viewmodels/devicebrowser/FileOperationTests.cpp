#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"
#include "domain/ItemNameCheck.h"

#include <QSignalSpy>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

class DeviceBrowserFileOperationTest : public ConnectedDeviceBrowserTest {
protected:
    DeviceBrowserFileOperationTest()
    {
        useTree(treeWith({docs, one, two, three, fileItem("in", "inside.txt", 1, "s1", "d")}));
    }

    // Whatever the operation did, both flags are down at its end and went up while it ran.
    void expectFlagsRaisedAndLowered(const QSignalSpy& loading, const QSignalSpy& waiting)
    {
        EXPECT_EQ(loading.count(), 2);
        EXPECT_EQ(waiting.count(), 2);
        EXPECT_FALSE(viewModel().isLoading());
        EXPECT_FALSE(viewModel().isWaitingForTransfer());
    }

    const RemoteItem docs = folderItem("d", "Docs");
    const RemoteItem one = fileItem("1", "one.txt", 1);
    const RemoteItem two = fileItem("2", "two.txt", 2);
    const RemoteItem three = fileItem("3", "three.txt", 3);
};

} // namespace

TEST_F(DeviceBrowserFileOperationTest, ADeleteStopsAtTheFirstFailureWithTheBannerAndNoListing)
{
    connect();
    session->script("delete", Reply::fail(QuillbarrowError::permissionDenied()), "2");
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    QSignalSpy waiting(&viewModel(), &DeviceBrowserViewModel::isWaitingForTransferChanged);
    runTask(viewModel().deleteItems({one, two, three}));
    EXPECT_EQ(newCalls(), (QStringList{"delete 1", "delete 2"}));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, QuillbarrowError::permissionDenied().userMessage());
    // The rows stay until the next listing, the deleted one included.
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Docs", "one.txt", "three.txt", "two.txt"}));
    expectFlagsRaisedAndLowered(loading, waiting);

    runTask(viewModel().deleteItems({three}));
    EXPECT_EQ(newCalls().mid(2), (QStringList{"delete 3", "root s1"}));
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Docs", "two.txt"}));
    EXPECT_FALSE(viewModel().errorBanner());
}

TEST_F(DeviceBrowserFileOperationTest, ANameThatCannotNameOneItemIsRefusedBeforeTheDeviceIsAsked)
{
    connect();
    // The reasons themselves are the local side's too; here what matters is that they are shown
    // and the device is never asked.
    const QString hostileNames[] = {
        QStringLiteral(" \n\t"), QStringLiteral("."),          QStringLiteral(" .. "),
        QStringLiteral("a/b"),   QStringLiteral("../escaped"), QStringLiteral("nul") + QChar(u'\0') + QStringLiteral("x"),
    };
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    for (const QString& name : hostileNames) {
        SCOPED_TRACE(name.toStdString());
        const QString reason = ItemNameCheck::problem(name.trimmed()).value_or(QStringLiteral("(accepted)"));
        runTask(viewModel().createFolder(name));
        ASSERT_TRUE(viewModel().errorBanner());
        EXPECT_EQ(viewModel().errorBanner()->message, QStringLiteral("Could not create folder: ") + reason);
        viewModel().clearError();
        runTask(viewModel().renameItem(docs, name));
        ASSERT_TRUE(viewModel().errorBanner());
        EXPECT_EQ(viewModel().errorBanner()->message, QStringLiteral("Could not rename: ") + reason);
        EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("The name was not sent to the device."));
    }
    EXPECT_TRUE(newCalls().isEmpty());
    EXPECT_EQ(loading.count(), 0);
    EXPECT_EQ(itemNames(viewModel().items()).first(), QStringLiteral("Docs"));
}

TEST_F(DeviceBrowserFileOperationTest, ACreatedFolderAppearsInTheListingOfTheFolderShown)
{
    connect();
    runTask(viewModel().createFolder(QStringLiteral("New")));
    EXPECT_EQ(newCalls(), (QStringList{"createFolder New", "root s1"}));
    EXPECT_EQ(itemNames(viewModel().items()).mid(0, 2), (QStringList{"Docs", "New"}));

    runTask(viewModel().openFolder(docs));
    const TransferID job = queueJob();
    queue->start(job, QDateTime::currentDateTimeUtc());
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    QSignalSpy waiting(&viewModel(), &DeviceBrowserViewModel::isWaitingForTransferChanged);
    auto hang = std::make_shared<Hang>();
    session->script("createFolder", Reply::proceed().heldBy(hang));
    auto creating = startTask(viewModel().createFolder(QStringLiteral("Inner")));
    ASSERT_TRUE(hang->isReached());
    EXPECT_TRUE(viewModel().isLoading());
    EXPECT_TRUE(viewModel().isWaitingForTransfer());
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return creating->done; }, 5s));
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Inner", "inside.txt"}));
    EXPECT_EQ(newCalls().mid(3), (QStringList{"createFolder Inner", "list d"}));
    expectFlagsRaisedAndLowered(loading, waiting);
}

TEST_F(DeviceBrowserFileOperationTest, BehindATransferTheListingAfterACreationWaitsForTheDeviceAndShowsTheFolder)
{
    timing.listingLimit = 10ms;
    connect();
    const TransferID job = queueJob();
    queue->start(job, QDateTime::currentDateTimeUtc());
    // The transfer keeps the device busy well past the listing limit.
    session->script("root", Reply::proceed().delayedBy(100ms));
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    QSignalSpy waiting(&viewModel(), &DeviceBrowserViewModel::isWaitingForTransferChanged);
    runTask(viewModel().createFolder(QStringLiteral("New")));
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_TRUE(itemNames(viewModel().items()).contains(QStringLiteral("New")));
    EXPECT_EQ(newCalls(), (QStringList{"createFolder New", "root s1"}));
    expectFlagsRaisedAndLowered(loading, waiting);
}

TEST_F(DeviceBrowserFileOperationTest, ARenameIsListedAgainAndAFailedOneIsNot)
{
    connect();
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    QSignalSpy waiting(&viewModel(), &DeviceBrowserViewModel::isWaitingForTransferChanged);
    runTask(viewModel().renameItem(one, QStringLiteral("uno.txt")));
    EXPECT_TRUE(itemNames(viewModel().items()).contains(QStringLiteral("uno.txt")));
    expectFlagsRaisedAndLowered(loading, waiting);

    // The device's answer for a taken name names the item, for a rename and a new folder alike.
    session->script("rename", Reply::fail(QuillbarrowError::nameConflict(QStringLiteral("two.txt"))));
    runTask(viewModel().renameItem(three, QStringLiteral("two.txt")));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, QStringLiteral("An item named \"two.txt\" already exists."));
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("Conflicting item: two.txt"));
    EXPECT_EQ(newCalls(), (QStringList{"rename 1", "root s1", "rename 3"}));
    runTask(viewModel().createFolder(QStringLiteral("Docs")));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, QStringLiteral("An item named \"Docs\" already exists."));
    EXPECT_EQ(newCalls().mid(3), (QStringList{"createFolder Docs"}));
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_FALSE(viewModel().isWaitingForTransfer());
}
