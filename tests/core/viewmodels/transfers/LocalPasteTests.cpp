// Local items pasted into a local folder through the clipboard, as the panes paste them.

#include "DeviceTransferFixture.h"

using namespace quillbarrow;
using namespace quillbarrow::testing;

using LocalPasteTest = DeviceTransferTest;

TEST_F(LocalPasteTest, ALocalPathGivenTwiceIsCopiedOnceWithoutAQuestion)
{
    QDir().mkpath(path("dest"));
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
