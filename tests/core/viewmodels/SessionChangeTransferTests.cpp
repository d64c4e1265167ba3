// Device items chosen in one session, then copied or opened with another session lent: phones
// number their objects alike, so the ids would fetch another phone's files.

#include "DeviceTransferFixture.h"

#include <functional>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

class SessionChangeTransferTest : public DeviceTransferTest {
protected:
    void SetUp() override
    {
        items = {deviceFolder("9", "Download"), deviceFile("7", "notes.txt", 12),
                 deviceFile("8", "inner.txt", 3, QStringLiteral("9"))};
        useDevice(items);
        QDir().mkpath(path("dest"));
    }

    // The folder and the file as a listing of `listing` gave them.
    QList<RemoteItem> listedIn(const std::shared_ptr<DeviceSession>& listing) const
    {
        QList<RemoteItem> listed = {items.at(0), items.at(1)};
        for (RemoteItem& item : listed) {
            item.listedIn = ListingSession(3, DeviceID(QStringLiteral("phone")), listing);
        }
        return listed;
    }

    QList<RemoteItem> items;
};

} // namespace

TEST_F(SessionChangeTransferTest, ItemsOfAnotherSessionAreNeitherCopiedNorOpened)
{
    struct Action {
        const char* name;
        std::function<void(const QList<RemoteItem>&)> run;
    };
    const QList<Action> actions = {
        {"paste into a local folder",
         [this](const QList<RemoteItem>& chosen) { pasteToLocal(chosen, path("dest")); }},
        {"open for viewing",
         [this](const QList<RemoteItem>& chosen) {
             runTask(coordinator->downloadFileForOpening(chosen.at(1), session));
         }},
    };
    for (const Action& action : actions) {
        useDevice(items);
        QDir(path("dest")).removeRecursively();
        QDir().mkpath(path("dest"));
        coordinator->clearCompletedTransfers();
        // The session that listed them: replaced and gone, or another one still open.
        auto gone = std::make_shared<ScriptedDeviceSession>(treeOf(items));
        const QList<RemoteItem> ofAGoneSession = listedIn(gone);
        gone.reset();
        const auto other = std::make_shared<ScriptedDeviceSession>(treeOf(items));
        for (const QList<RemoteItem>& chosen : {ofAGoneSession, listedIn(other)}) {
            SCOPED_TRACE(action.name);
            coordinator->clearLastError();
            action.run(chosen);
            ASSERT_TRUE(coordinator->lastError());
            EXPECT_EQ(coordinator->lastError()->userMessage(),
                      QStringLiteral("The Android device changed since these items were chosen."));
            EXPECT_EQ(session->calls(), QStringList());
            EXPECT_EQ(other->calls(), QStringList());
            EXPECT_EQ(entriesOf(path("dest")), QStringList());
            EXPECT_EQ(shownJobs(), QStringList());
        }
        // Listed in the session lent, the same items go.
        coordinator->clearLastError();
        action.run(listedIn(session));
        EXPECT_FALSE(coordinator->lastError());
        EXPECT_TRUE(session->calls().contains(QStringLiteral("download 7"))) << session->calls().join(u',').toStdString();
    }
}

TEST_F(SessionChangeTransferTest, ALocalPathGivenTwiceIsCopiedOnceWithoutAQuestion)
{
    writeFile(path("mac/a.txt"), "alpha");
    writeFile(path("mac/Photos/p.jpg"), "jpeg");
    const QUrl file = QUrl::fromLocalFile(path("mac/a.txt"));
    const QUrl folder = QUrl::fromLocalFile(path("mac/Photos"));
    // A second spelling of the same path is the same item too.
    const QUrl again = QUrl::fromLocalFile(path("mac/./a.txt"));
    clipboard.copyLocal({file, folder, again, folder});
    ConflictAnswerer answerer(*coordinator, {});
    runTask(coordinator->pasteIntoLocal(QUrl::fromLocalFile(path("dest")), session));
    EXPECT_TRUE(answerer.asked.isEmpty());
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "Photos: completed"}));
    EXPECT_EQ(localTreeOf(path("dest")), (QStringList{"Photos/", "Photos/p.jpg", "a.txt"}));
    EXPECT_FALSE(coordinator->lastError());
}
