#include "DeviceTransferFixture.h"

#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Resolution = ConflictResolution;
using Operation = ScriptedDeviceSession::Operation;

namespace {

enum class Direction { download, upload, localCopy };

// "A.jpg" and "b.txt" are at the source and at the destination of every direction; "new.txt" is
// at the source only.
class RowNameTest : public DeviceTransferTest {
protected:
    void startAfresh()
    {
        coordinator->clearCompletedTransfers();
        coordinator->clearLastError();
        for (const char* folder : {"source", "dest"}) {
            QDir(path(folder)).removeRecursively();
            for (const char* name : {"A.jpg", "b.txt"}) {
                writeFile(path(folder) + "/" + name, "old");
            }
        }
        writeFile(path("source/new.txt"), "new");
        useDevice({deviceFile("A.jpg", "A.jpg", 3), deviceFile("b.txt", "b.txt", 3),
                   deviceFile("new.txt", "new.txt", 3)});
    }

    void paste(Direction direction, const QStringList& names, QList<ConflictAnswerer::Answer> answers)
    {
        QList<RemoteItem> items;
        QStringList sources;
        QList<QUrl> urls;
        for (const QString& name : names) {
            items.append(*deviceChild(std::nullopt, name));
            sources.append("source/" + name);
            urls.append(QUrl::fromLocalFile(path(sources.last())));
        }
        if (direction == Direction::download) {
            pasteToLocal(items, path("dest"), std::move(answers));
        } else if (direction == Direction::upload) {
            pasteToDevice(sources, std::nullopt, std::move(answers));
        } else {
            clipboard.copyLocal(urls);
            ConflictAnswerer answerer(*coordinator, std::move(answers));
            runTask(coordinator->pasteIntoLocal(QUrl::fromLocalFile(path("dest")), nullptr));
        }
    }

    QStringList namesAtDestination(Direction direction)
    {
        return direction == Direction::upload ? deviceNames() : entriesOf(path("dest"));
    }
};

} // namespace

// A Keep Both answer gives the copy another name; its row shows that name once the copy is made,
// whichever way it went and whenever the answer was given.
TEST_F(RowNameTest, EveryRowShowsTheNameItsFileGot)
{
    struct Case {
        const char* name;
        Direction direction;
        QStringList pasted;
        QList<ConflictAnswerer::Answer> answers;
        QStringList rows;
    };
    const QList<ConflictAnswerer::Answer> keepBoth{answer(Resolution::keepBoth)};
    const QList<ConflictAnswerer::Answer> keepBothForAll{answer(Resolution::keepBoth, true)};
    const QStringList both{"A.jpg", "b.txt"};
    const QStringList bothKept{"A 2.jpg: completed", "b 2.txt: completed"};
    const Case cases[] = {
        {"download, asked while planning", Direction::download, {"A.jpg"}, keepBoth, {"A 2.jpg: completed"}},
        {"download, answered for all", Direction::download, both, keepBothForAll, bothKept},
        {"download, asked as it is put in place", Direction::download, {"new.txt"}, keepBoth,
         {"new 2.txt: completed"}},
        {"upload, asked while planning", Direction::upload, {"A.jpg"}, keepBoth, {"A 2.jpg: completed"}},
        {"upload, answered for all", Direction::upload, both, keepBothForAll, bothKept},
        {"local copy, asked while planning", Direction::localCopy, {"A.jpg"}, keepBoth, {"A 2.jpg: completed"}},
        {"local copy, answered for all", Direction::localCopy, both, keepBothForAll, bothKept},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        startAfresh();
        // "new.txt" appears at the destination while it is downloaded.
        session->script({.operation = Operation::downloadFile,
                         .subject = "new.txt",
                         .onCall = [this] { writeFile(path("dest/new.txt"), "appeared"); }});

        paste(test.direction, test.pasted, test.answers);

        EXPECT_EQ(shownJobs(), test.rows);
        const QStringList there = namesAtDestination(test.direction);
        for (const QString& row : test.rows) {
            const QString name = row.section(QStringLiteral(": "), 0, 0);
            EXPECT_TRUE(there.contains(name))
                << name.toStdString() << " is not among " << there.join(", ").toStdString();
        }
    }
}
