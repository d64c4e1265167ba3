// Two phones that number their objects and storages alike: what was chosen on one must never
// reach the other, and what one phone's session answers late must never show for the other.

#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"

#include <QTemporaryDir>

#include <functional>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

const QString deviceChangedText = QStringLiteral("The Android device changed since these items were chosen.");

// Both phones: the same storages, the same object ids, the same names.
FakeDeviceTree sameTree()
{
    return treeWith({folderItem("9", "Download"), fileItem("7", "notes.txt", 12),
                     fileItem("8", "inner.txt", 3, "s1", QStringLiteral("9")), folderItem("20", "Music", "s2")},
                    {testStorage("s1", "Internal"), testStorage("s2", "SD card")});
}

// How phone B takes phone A's place.
enum class Change { otherPhoneChosen, unpluggedAndOtherPluggedIn };

class DeviceBrowserSessionChangeTest : public DeviceBrowserTest {
protected:
    void SetUp() override
    {
        sessionA = sessionFor(phoneA, sameTree());
        sessionB = sessionFor(phoneB, sameTree());
        // Two phones listed: neither is chosen by itself.
        backend->attached = {phoneA, phoneB};
        viewModel().start();
        ASSERT_TRUE(processEventsUntil([this] { return viewModel().devices().size() == 2; }, 5s));
    }

    // Phone A chosen and connected, its storage root shown; both phones hold the same tree again.
    void connectA()
    {
        sessionA->tree() = sameTree();
        sessionB->tree() = sameTree();
        runTask(viewModel().selectDevice(phoneA), 10s);
        ASSERT_TRUE(isConnectedTo(phoneA));
        viewModel().clearError();
    }

    void bringInB(Change change)
    {
        if (change == Change::otherPhoneChosen) {
            // As another window's sidebar does.
            runTask(viewModel().selectDevice(phoneB), 10s);
        } else {
            backend->send(DeviceConnectionEvent::disconnected(phoneA.id));
            backend->send(DeviceConnectionEvent::connected(phoneB));
        }
        ASSERT_TRUE(processEventsUntil([this] { return isConnectedTo(phoneB); }, 10s));
        viewModel().clearError();
    }

    // B goes, and with it the device side, before the next round begins.
    void unplugB()
    {
        backend->send(DeviceConnectionEvent::disconnected(phoneB.id));
        ASSERT_TRUE(processEventsUntil([this] { return !viewModel().selectedDevice(); }, 5s));
    }

    bool isConnectedTo(const AndroidDevice& phone)
    {
        return viewModel().connectionPhase() == DeviceConnectionPhase::connected && viewModel().selectedDevice() &&
               viewModel().selectedDevice()->id == phone.id && !viewModel().isLoading();
    }

    RemoteItem rowOf(const QString& name)
    {
        for (const RemoteItem& item : viewModel().items()) {
            if (item.name == name) {
                return item;
            }
        }
        ADD_FAILURE() << "no row " << name.toStdString();
        return folderItem("missing", name);
    }

    const AndroidDevice phoneA = phone("A", "Pixel", "Google", "Pixel 8", QStringLiteral("SER-A"));
    const AndroidDevice phoneB = phone("B", "Galaxy", "Samsung", "S24", QStringLiteral("SER-B"));
    std::shared_ptr<FakeDeviceSession> sessionA;
    std::shared_ptr<FakeDeviceSession> sessionB;
};

} // namespace

TEST_F(DeviceBrowserSessionChangeTest, ItemsChosenOnOnePhoneAreRefusedOnTheOtherAndNothingIsSent)
{
    QTemporaryDir downloads;
    ASSERT_TRUE(downloads.isValid());
    struct Action {
        const char* name;
        std::function<QCoro::Task<>(DeviceBrowserViewModel&, RemoteItem folder, RemoteItem file)> run;
    };
    const QList<Action> actions = {
        {"delete", [](auto& browser, RemoteItem folder, RemoteItem file) { return browser.deleteItems({folder, file}); }},
        {"rename", [](auto& browser, RemoteItem folder, RemoteItem) {
             return browser.renameItem(folder, QStringLiteral("Renamed"));
         }},
        {"open the folder", [](auto& browser, RemoteItem folder, RemoteItem) { return browser.openFolder(folder); }},
        {"measure the folder", [](auto& browser, RemoteItem folder, RemoteItem) {
             return browser.calculateFolderSizes({folder});
         }},
        {"download the file", [&downloads](auto& browser, RemoteItem, RemoteItem file) {
             return browser.downloadFile(file, QUrl::fromLocalFile(downloads.path()));
         }},
    };
    for (const Change change : {Change::otherPhoneChosen, Change::unpluggedAndOtherPluggedIn}) {
        for (const Action& action : actions) {
            SCOPED_TRACE(std::string(action.name) +
                         (change == Change::otherPhoneChosen ? ", other phone chosen" : ", unplugged"));
            connectA();
            const RemoteItem folder = rowOf(QStringLiteral("Download"));
            const RemoteItem file = rowOf(QStringLiteral("notes.txt"));
            bringInB(change);
            const QStringList shownOnB = itemNames(viewModel().items());
            const qsizetype callsOnA = sessionA->calls().size();
            const qsizetype callsOnB = sessionB->calls().size();

            runTask(action.run(viewModel(), folder, file));

            ASSERT_TRUE(viewModel().errorBanner());
            EXPECT_EQ(viewModel().errorBanner()->message, deviceChangedText);
            EXPECT_EQ(sessionB->calls().mid(callsOnB), QStringList());
            EXPECT_EQ(sessionA->calls().mid(callsOnA), QStringList());
            EXPECT_EQ(itemNames(viewModel().items()), shownOnB);
            EXPECT_EQ(sessionB->tree().children(StorageID("s1"), std::nullopt),
                      sameTree().children(StorageID("s1"), std::nullopt));
            EXPECT_TRUE(QDir(downloads.path()).isEmpty());

            // The same action on B's own rows reaches B.
            if (std::string(action.name) == "measure the folder") {
                viewModel().clearError();
                runTask(action.run(viewModel(), rowOf(QStringLiteral("Download")), rowOf(QStringLiteral("notes.txt"))));
                EXPECT_FALSE(viewModel().errorBanner());
                EXPECT_EQ(sessionB->calls().mid(callsOnB), QStringList{"list 9"});
            }
            unplugB();
        }
    }
}

TEST_F(DeviceBrowserSessionChangeTest, AChangeWhoseSessionIsReplacedWhileItRunsShowsNothingForTheNewOne)
{
    struct Case {
        const char* name;
        const char* operation;
        std::function<QCoro::Task<>(DeviceBrowserViewModel&, RemoteItem folder)> run;
        // The change itself fails on A (else it goes through, and the listing would follow).
        bool fails;
    };
    const QList<Case> cases = {
        {"delete", "delete", [](auto& browser, RemoteItem folder) { return browser.deleteItems({folder}); }, false},
        {"rename", "rename", [](auto& browser, RemoteItem folder) {
             return browser.renameItem(folder, QStringLiteral("Renamed"));
         }, false},
        {"new folder", "createFolder", [](auto& browser, RemoteItem) {
             return browser.createFolder(QStringLiteral("Fresh"));
         }, false},
        {"failed delete", "delete", [](auto& browser, RemoteItem folder) { return browser.deleteItems({folder}); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        connectA();
        const RemoteItem folder = rowOf(QStringLiteral("Download"));
        auto held = std::make_shared<Hang>();
        sessionA->script(c.operation,
                         (c.fails ? Reply::fail(QuillbarrowError::permissionDenied()) : Reply::proceed()).heldBy(held));
        auto changing = startTask(c.run(viewModel(), folder));
        ASSERT_TRUE(processEventsUntil([&] { return held->isReached(); }, 5s));
        bringInB(Change::otherPhoneChosen);
        const std::optional<DirectoryPage> shownOnB = viewModel().currentPage();
        const qsizetype callsOnA = sessionA->calls().size();
        const qsizetype cachedOnB = probe().cacheSize();

        held->release();
        ASSERT_TRUE(processEventsUntil([&] { return changing->done; }, 5s));

        // A's session made its change (or failed) and was not asked to list for B's folder.
        EXPECT_EQ(sessionA->calls().mid(callsOnA), QStringList());
        EXPECT_EQ(viewModel().currentPage(), shownOnB);
        EXPECT_EQ(probe().cacheSize(), cachedOnB);
        EXPECT_FALSE(viewModel().errorBanner());
        EXPECT_FALSE(viewModel().isLoading());
        unplugB();
    }
}

TEST_F(DeviceBrowserSessionChangeTest, AReListingAfterAFileOperationAnsweredForAnotherPhoneIsDropped)
{
    // The rename itself ends before the change; its listing of the root is what answers late.
    connectA();
    const RemoteItem folder = rowOf(QStringLiteral("Download"));
    auto held = std::make_shared<Hang>();
    sessionA->script("root", Reply::give(page({folderItem("9", "Renamed on A")})).heldBy(held), "s1");
    auto renaming = startTask(viewModel().renameItem(folder, QStringLiteral("Renamed on A")));
    ASSERT_TRUE(processEventsUntil([&] { return held->isReached(); }, 5s));
    bringInB(Change::otherPhoneChosen);

    held->release();
    ASSERT_TRUE(processEventsUntil([&] { return renaming->done; }, 5s));

    // B's root has the same path as A's: only B's own listing may show there.
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Download", "notes.txt"}));
    ASSERT_TRUE(probe().cachedPage(rootPath("s1")));
    EXPECT_EQ(itemNames(probe().cachedPage(rootPath("s1"))->items), (QStringList{"Download", "notes.txt"}));
    EXPECT_FALSE(viewModel().errorBanner());
}

TEST_F(DeviceBrowserSessionChangeTest, AStorageSwitchAnsweredForAnotherPhoneIsDroppedAndNotCached)
{
    // Choosing a phone does not advance the storage-switch generation: only the session epoch
    // tells the switch that its answer is the old phone's.
    connectA();
    auto held = std::make_shared<Hang>();
    sessionA->script("root", Reply::give(page({folderItem("20", "A's music")}, rootPath("s2"), std::nullopt,
                                              testStorage("s2", "SD card")))
                                 .heldBy(held),
                     "s2");
    auto switching = startTask(viewModel().openStorage(testStorage("s2", "SD card")));
    ASSERT_TRUE(processEventsUntil([&] { return held->isReached(); }, 5s));
    bringInB(Change::otherPhoneChosen);

    held->release();
    ASSERT_TRUE(processEventsUntil([&] { return switching->done; }, 5s));

    EXPECT_EQ(viewModel().currentPage()->path, rootPath("s1"));
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Download", "notes.txt"}));
    EXPECT_FALSE(probe().cachedPage(rootPath("s2")));
    EXPECT_FALSE(viewModel().errorBanner());
}
