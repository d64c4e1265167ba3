#include "DeviceTransferFixture.h"
#include "transport/MockDeviceSession.h"
#include "viewmodels/transfers/LocalFileOperations.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Resolution = ConflictResolution;
using Operation = ScriptedDeviceSession::Operation;

namespace {

// What a row pastes into a local folder: items of the device, or else files below the test's folder.
struct Pasted {
    QList<RemoteItem> download;
    QStringList copy = {};
};

class LocalDestinationTest : public DeviceTransferTest {
protected:
    void TearDown() override { LocalFileOperations::setRenameHookForTesting({}); }

    // Starts a row afresh (no jobs shown, no last error) in `folder`, made anew and empty.
    QString startIn(const QString& folder)
    {
        coordinator->clearCompletedTransfers();
        coordinator->clearLastError();
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        return folder;
    }

    // Runs `change` once, while the paste of `items` runs: as the device file `whileWritten` is
    // downloaded, or, for a copy between local folders, once the first item is in place.
    void changeDuring(const Pasted& items, const RemoteItem& whileWritten, std::function<void()> change)
    {
        const auto done = std::make_shared<bool>(false);
        const auto once = [change = std::move(change), done] {
            if (!std::exchange(*done, true)) {
                change();
            }
        };
        if (!items.download.isEmpty()) {
            session->script({.operation = Operation::downloadFile, .subject = whileWritten.id.rawValue(), .onCall = once});
            return;
        }
        m_changeContext = std::make_unique<QObject>();
        QObject::connect(coordinator.get(), &TransferCoordinator::transferJobsChanged, m_changeContext.get(),
                         [this, once] {
                             if (shownJobs().value(0).endsWith(": completed")) {
                                 once();
                             }
                         });
    }

    QList<ConflictRequest> paste(const Pasted& items, const QString& folder,
                                 QList<ConflictAnswerer::Answer> answers = {})
    {
        if (!items.download.isEmpty()) {
            return pasteToLocal(items.download, folder, std::move(answers));
        }
        QList<QUrl> urls;
        for (const QString& source : items.copy) {
            urls.append(QUrl::fromLocalFile(path(source)));
        }
        clipboard.copyLocal(urls);
        ConflictAnswerer answerer(*coordinator, std::move(answers));
        runTask(coordinator->pasteIntoLocal(QUrl::fromLocalFile(folder), nullptr));
        m_changeContext.reset();
        return answerer.asked;
    }

    std::unique_ptr<QObject> m_changeContext;
};

} // namespace

// Runs on a disk that ignores case, as exFAT and FAT sticks do: tests/support/run-on-case-folding-
// disk.sh mounts one and names it in QUILLBARROW_CASE_FOLDING_FOLDER (the e2e label's run).
TEST_F(LocalDestinationTest, OnADiskThatIgnoresCaseNoItemOfAPasteReplacesAnotherAndEveryItemDoneIsThere)
{
    const QString disk = qEnvironmentVariable("QUILLBARROW_CASE_FOLDING_FOLDER");
    if (disk.isEmpty()) {
        GTEST_SKIP() << "needs a disk that ignores case: run through tests/support/run-on-case-folding-disk.sh";
    }
    const RemoteItem upper = deviceFile("up", "A.jpg", 5);
    const RemoteItem lower = deviceFile("low", "a.jpg", 6);
    const RemoteItem folderB = deviceFolder("B", "B"), fileInB = deviceFile("x", "x.txt", 7, "B");
    const RemoteItem fileB = deviceFile("b", "b", 8);
    useDevice({upper, lower, folderB, fileInB, fileB});
    const QByteArray upperText = MockDeviceSession::downloadText(upper);
    const QByteArray lowerText = MockDeviceSession::downloadText(lower);
    writeFile(path("x/B.txt"), "copied B");
    writeFile(path("y/b.txt"), "copied b");
    writeFile(path("x/B/x.txt"), "copied x");
    QDir().mkpath(path("y/b"));
    const QString refusal = "Could not replace a.jpg: items copied by this same paste would be lost.";
    const auto refused = QuillbarrowError::localFileFailed(refusal);
    const auto refusedB = QuillbarrowError::localFileFailed(QString(refusal).replace("a.jpg", "b"));
    struct Case {
        const char* name;
        bool userFile; // the folder holds an "a.jpg" of the user's first
        Pasted items;
        ConflictAnswerer::Answer answer;
        QStringList jobs;
        QMap<QString, QByteArray> left; // by exact name, folders ending in "/"
        std::optional<QuillbarrowError> error;
        int putBack = 0; // the errno of a failed rename of an item set aside back to its name
    };
    // Items set aside get a new id each time.
    const auto general = [](QString text) {
        return text.replace(QRegularExpression("\\.quillbarrow-[0-9a-f-]{36}\\."), ".quillbarrow-<id>.");
    };
    const QList<Case> cases{
        {"two downloads answered Replace for all where the user's a.jpg is", true, {{upper, lower}},
         answer(Resolution::replace, true), {"A.jpg: completed", "a.jpg: failed"}, {{"A.jpg", upperText}},
         refused},
        {"two downloads into an empty folder, the disk's clash answered Replace", false, {{upper, lower}},
         answer(Resolution::replace), {"A.jpg: completed", "a.jpg: failed"}, {{"A.jpg", upperText}}, refused},
        {"two downloads into an empty folder, Replace, the first one cannot be put back", false,
         {{upper, lower}}, answer(Resolution::replace), {"A.jpg: completed", "a.jpg: failed"},
         {{".quillbarrow-<id>.replaced", upperText}},
         QuillbarrowError::localFileFailed("Could not replace a.jpg: Input/output error. The item this paste put "
                                           "there is now at " + disk + "/dest/.quillbarrow-<id>.replaced"),
         EIO},
        {"two copied folders into an empty folder, the disk's clash answered Replace", false,
         {{}, {"x/B", "y/b"}}, answer(Resolution::replace), {"B: completed", "b: failed"},
         {{"B/", {}}, {"B/x.txt", "copied x"}}, refusedB},
        {"a download's folder and a file of the folder's name, the disk's clash answered Replace", false,
         {{folderB, fileB}}, answer(Resolution::replace), {"b: failed", "x.txt: completed"},
         {{"B/", {}}, {"B/x.txt", MockDeviceSession::downloadText(fileInB)}}, refusedB},
        {"two downloads answered Keep Both for all where the user's a.jpg is", true, {{upper, lower}},
         answer(Resolution::keepBoth, true), {"A 2.jpg: completed", "a 3.jpg: completed"},
         {{"A 2.jpg", upperText}, {"a 3.jpg", lowerText}, {"a.jpg", "the user's"}}, {}},
        {"two copies into an empty folder, the disk's clash answered Keep Both", false,
         {{}, {"x/B.txt", "y/b.txt"}}, answer(Resolution::keepBoth),
         {"B.txt: completed", "b 2.txt: completed"}, {{"B.txt", "copied B"}, {"b 2.txt", "copied b"}}, {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QString folder = startIn(disk + "/dest");
        if (test.userFile) {
            writeFile(folder + "/a.jpg", "the user's");
        }
        LocalFileOperations::setRenameHookForTesting([&](const QString& from, const QString&) {
            return from.endsWith(".replaced") ? test.putBack : 0;
        });
        EXPECT_EQ(paste(test.items, folder, {test.answer}).size(), 1);
        EXPECT_EQ(shownJobs(), test.jobs);
        QMap<QString, QByteArray> left;
        for (const QString& entry : localTreeOf(folder)) {
            left.insert(general(entry), entry.endsWith('/') ? QByteArray() : readFile(folder + "/" + entry));
        }
        EXPECT_EQ(left, test.left);
        const std::optional<QuillbarrowError> error = coordinator->lastError();
        EXPECT_EQ(error && test.putBack ? QuillbarrowError::localFileFailed(general(error->message())) : error,
                  test.error);
    }
}

TEST_F(LocalDestinationTest, AFolderSwappedForALinkAfterPlanningIsNeverWrittenThrough)
{
    const RemoteItem first = deviceFile("first", "first.txt", 1);
    const RemoteItem second = deviceFile("second", "second.txt", 1);
    const RemoteItem docs = deviceFolder("docs", "Docs");
    useDevice({first, second, docs, deviceFile("in", "a.txt", 1, "docs")});
    writeFile(path("mac/c.txt"), "c");
    writeFile(path("mac/d.txt"), "d");
    struct Case {
        const char* name;
        Pasted items;
        QString swapped; // the folder, below the row's folder, that becomes a link to "outside"
        QStringList jobs;
        QStringList tree; // below the row's folder afterwards
        std::optional<QString> error = {}; // %1 is the swapped folder
    };
    const QList<Case> cases{
        {"a folder inside the destination, before its file is saved", {{first, docs}}, "dest/Docs",
         {"first.txt: completed", "a.txt: failed"},
         {"dest/", "dest/Docs", "dest/Docs-moved/", "dest/first.txt", "outside/"},
         "Could not save a.txt in %1: it is now a link to another place, and nothing is written through "
         "links."},
        {"the destination itself, while the first file downloads", {{first, second}}, "dest",
         {"first.txt: completed", "second.txt: completed"},
         {"dest", "dest-moved/", "dest-moved/Docs/", "dest-moved/first.txt", "dest-moved/second.txt",
          "outside/"}},
        {"the destination of a copy between local folders, once its jobs are queued",
         {{}, {"mac/c.txt", "mac/d.txt"}}, "dest", {"c.txt: completed", "d.txt: completed"},
         {"dest", "dest-moved/", "dest-moved/Docs/", "dest-moved/c.txt", "dest-moved/d.txt", "outside/"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QString row = startIn(path(test.name)), swapped = row + "/" + test.swapped;
        QDir().mkpath(row + "/dest/Docs");
        QDir().mkpath(row + "/outside");
        bool swappedOnce = false;
        const auto swap = [&] {
            if (!coordinator->transferJobs().isEmpty() && !std::exchange(swappedOnce, true)) {
                ASSERT_TRUE(QDir().rename(swapped, swapped + "-moved"));
                ASSERT_TRUE(QFile::link(row + "/outside", swapped));
            }
        };
        QObject observer;
        if (test.items.download.isEmpty()) {
            QObject::connect(coordinator.get(), &TransferCoordinator::transferJobsChanged, &observer, swap);
        } else {
            session->script({.operation = Operation::downloadFile, .subject = "first", .onCall = swap});
        }
        paste(test.items, row + "/dest");
        EXPECT_EQ(shownJobs(), test.jobs);
        EXPECT_EQ(localTreeOf(row), test.tree);
        EXPECT_EQ(coordinator->lastError(),
                  test.error ? std::optional(QuillbarrowError::localFileFailed(test.error->arg(swapped)))
                             : std::nullopt);
    }
}

// A paste folder that is gone when an item is to be saved in it (never there, or deleted since) is
// made again at its path, and only as a real folder: a link put in its place is never followed, and
// a folder chosen through a link whose folder is deleted says so.
TEST_F(LocalDestinationTest, APasteFolderThatIsGoneIsMadeAgainOnlyAsARealFolder)
{
    const RemoteItem first = deviceFile("first", "first.txt", 1), second = deviceFile("second", "second.txt", 1);
    useDevice({first, second});
    writeFile(path("mac/first.txt"), "1");
    writeFile(path("mac/second.txt"), "2");
    const Pasted downloads{{first, second}}, copies{{}, {"mac/first.txt", "mac/second.txt"}};
    enum class Gone {
        missing,    // missing with the folder above it from the start
        deleted,    // while the first file downloads, or once the first copy is in place
        forALink,   // deleted so, and a link to "outside" put in its place
        linkTarget, // it is a link to "outside/real" from the start, and that folder is deleted so
    };
    struct Case {
        const char* name;
        Pasted items;
        Gone gone;
        QStringList jobs;
        QStringList tree;   // below the row's folder afterwards
        QString error = {}; // %1 is the paste folder
    };
    const QString linkGone = ": it is a link, and the folder it led to is gone.";
    const QString nowALink = ": it is now a link to another place, and nothing is written through links.";
    const Case cases[] = {
        {"missing from the start", downloads, Gone::missing, {"first.txt: completed", "second.txt: completed"},
         {"above/", "above/dest/", "above/dest/first.txt", "above/dest/second.txt", "outside/"}},
        {"deleted", downloads, Gone::deleted, {"first.txt: failed", "second.txt: completed"},
         {"above/", "above/dest/", "above/dest/second.txt", "outside/"},
         "Could not save first.txt in %1: No such file or directory"},
        {"deleted for a link", downloads, Gone::forALink, {"first.txt: failed", "second.txt: failed"},
         {"above/", "above/dest", "outside/"}, "Could not save second.txt in %1" + nowALink},
        {"a link whose folder is deleted", downloads, Gone::linkTarget, {"first.txt: failed", "second.txt: failed"},
         {"above/", "above/dest", "outside/"}, "Could not save second.txt in %1" + linkGone},
        {"deleted, copies", copies, Gone::deleted, {"first.txt: completed", "second.txt: completed"},
         {"above/", "above/dest/", "above/dest/second.txt", "outside/"}},
        {"deleted for a link, copies", copies, Gone::forALink, {"first.txt: completed", "second.txt: failed"},
         {"above/", "above/dest", "outside/"}, "Could not copy second.txt into %1" + nowALink},
        {"a link whose folder is deleted, copies", copies, Gone::linkTarget,
         {"first.txt: completed", "second.txt: failed"}, {"above/", "above/dest", "outside/"},
         "Could not copy second.txt into %1" + linkGone},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QString row = startIn(path(test.name)), dest = row + "/above/dest", real = row + "/outside/real";
        QDir().mkpath(row + "/outside");
        if (test.gone == Gone::linkTarget) {
            QDir().mkpath(real);
            QDir().mkpath(row + "/above");
            ASSERT_TRUE(QFile::link(real, dest));
        } else if (test.gone != Gone::missing) {
            QDir().mkpath(dest);
        }
        if (test.gone != Gone::missing) {
            changeDuring(test.items, first, [&] {
                ASSERT_TRUE(QDir(test.gone == Gone::linkTarget ? real : dest).removeRecursively());
                ASSERT_TRUE(test.gone != Gone::forALink || QFile::link(row + "/outside", dest));
            });
        }
        paste(test.items, dest);
        EXPECT_EQ(shownJobs(), test.jobs);
        EXPECT_EQ(localTreeOf(row), test.tree);
        const auto error = QuillbarrowError::localFileFailed(test.error.arg(dest));
        EXPECT_EQ(coordinator->lastError(), test.error.isEmpty() ? std::nullopt : std::optional(error));
    }
}

// A folder above the paste folder swapped for a link while the paste runs, the paste folder
// deleted with it: the rest of the paste fails naming the folder that is now a link, and nothing is
// written at the link's target, neither into a folder of the paste folder's name there nor as a new one.
TEST_F(LocalDestinationTest, AFolderAboveThePasteFolderSwappedForALinkLeadsNothingToTheLinksTarget)
{
    const RemoteItem one = deviceFile("one", "one.txt", 1), two = deviceFile("two", "two.txt", 1);
    const RemoteItem three = deviceFile("three", "three.txt", 1), docs = deviceFolder("docs", "Docs");
    const RemoteItem inTwo = deviceFile("in2", "b.txt", 1, "docs");
    useDevice({one, two, three, docs, deviceFile("in1", "a.txt", 1, "docs"), inTwo, deviceFile("in3", "c.txt", 1, "docs")});
    for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
        writeFile(path("mac/") + name, name);
    }
    const QStringList copied{"mac/one.txt", "mac/two.txt", "mac/three.txt"};
    const QString linkSentence = ": it is now a link to another place, and nothing is written through links.";
    struct Case {
        const char* name;
        Pasted items;
        // Below the row's folder: "home/P" (the paste folder's parent), "home" (its grandparent) or
        // the paste folder itself.
        QString swapped;
        bool deleted;   // deleted before the link is put at its name, else renamed away to "-moved"
        bool victimHas; // the link's target holds a folder at the paste folder's place, with a three.txt
        QStringList jobs;
        QStringList tree; // below the row's folder afterwards, the link's target left out
        QString error;    // %1 is the swapped folder
    };
    const QString lateSave = "Could not save three.txt in %1" + linkSentence;
    const QString lateCopy = "Could not copy three.txt into %1" + linkSentence;
    const QStringList downloaded{"one.txt: completed", "two.txt: failed", "three.txt: failed"};
    const QList<Case> cases{
        {"downloads, the parent renamed away", {{one, two, three}}, "home/P", false, true, downloaded,
         {"home/", "home/P", "home/P-moved/"}, lateSave},
        {"downloads, the parent deleted", {{one, two, three}}, "home/P", true, false, downloaded,
         {"home/", "home/P"}, lateSave},
        {"downloads, the grandparent renamed away", {{one, two, three}}, "home", false, false, downloaded,
         {"home", "home-moved/", "home-moved/P/"}, lateSave},
        {"downloads, the grandparent deleted", {{one, two, three}}, "home", true, true, downloaded,
         {"home"}, lateSave},
        {"a phone folder, the parent deleted", {{docs}}, "home/P", true, true,
         {"a.txt: completed", "b.txt: failed", "c.txt: failed"}, {"home/", "home/P"},
         "Could not save c.txt in %1" + linkSentence},
        {"a phone folder, the paste folder itself deleted", {{docs}}, "home/P/Documents", true, true,
         {"a.txt: completed", "b.txt: failed", "c.txt: failed"}, {"home/", "home/P/", "home/P/Documents"},
         "Could not save c.txt in %1" + linkSentence},
        {"copies, the parent renamed away", {{}, copied}, "home/P", false, true,
         {"one.txt: completed", "two.txt: failed", "three.txt: failed"}, {"home/", "home/P", "home/P-moved/"},
         lateCopy},
        {"copies, the grandparent deleted", {{}, copied}, "home", true, false,
         {"one.txt: completed", "two.txt: failed", "three.txt: failed"}, {"home"}, lateCopy},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QString row = startIn(path(test.name)), pasteFolder = row + "/home/P/Documents";
        const QString swapped = row + "/" + test.swapped, victim = row + "/victim";
        QDir().mkpath(pasteFolder);
        QDir().mkpath(victim);
        const QString victimFile = victim + pasteFolder.mid(swapped.size()) + "/three.txt";
        if (test.victimHas) {
            writeFile(victimFile, "the victim's");
        }
        const QStringList victimTree = localTreeOf(victim);
        // While the second file is written, or once the first copy is in place.
        changeDuring(test.items, test.items.download.size() > 1 ? two : inTwo, [&] {
            ASSERT_TRUE(QDir(pasteFolder).removeRecursively());
            ASSERT_TRUE(test.deleted ? QDir(swapped).removeRecursively() : QDir().rename(swapped, swapped + "-moved"));
            ASSERT_TRUE(QFile::link(victim, swapped));
        });
        paste(test.items, pasteFolder);
        EXPECT_EQ(shownJobs(), test.jobs);
        QStringList tree = localTreeOf(row);
        tree.removeIf([](const QString& entry) { return entry.startsWith("victim/"); });
        EXPECT_EQ(tree, test.tree);
        EXPECT_EQ(localTreeOf(victim), victimTree);
        if (test.victimHas) {
            EXPECT_EQ(readFile(victimFile), "the victim's");
        }
        EXPECT_EQ(coordinator->lastError(), QuillbarrowError::localFileFailed(test.error.arg(swapped)));
    }
}

// Where the disk refuses a name, the paste ends that item with the disk's reason; Keep Both on a disk
// that answers "File exists" for every name gives up with it instead of numbering for ever.
TEST_F(LocalDestinationTest, AFailedLocalStepNamesTheItemAndTheSystemsReasonNeverTheDevice)
{
    const RemoteItem refused = deviceFile("r", "a:b.jpg", 1);
    useDevice({refused});
    writeFile(path("mac/Album/fine.jpg"), "fine");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("mac/Album/pipe")).constData(), 0600), 0);
    writeFile(path("mac/a.txt"), "new");
    struct Case {
        const char* name;
        Pasted items;
        // Renames into names that start with this fail with this errno, as a disk that refuses them would.
        QString refusedName;
        int refusal;
        QStringList jobs;
        QStringList tree;
        QString message;
    };
    const QList<Case> cases{
        {"a download's name the disk refuses", {{refused}}, "a:b.jpg", EINVAL, {"a:b.jpg: failed"},
         {"a.txt"}, "Could not save a:b.jpg in " + path("dest") + ": Invalid argument"},
        {"a named pipe inside a copied folder", {{}, {"mac/Album"}}, {}, 0,
         {"Album: completed", "pipe: failed"}, {"Album/", "Album/fine.jpg", "a.txt"},
         "Could not copy Album/pipe: it is not a regular file, folder or link."},
        {"a named pipe on its own", {{}, {"mac/Album/pipe"}}, {}, 0, {"pipe: failed"}, {"a.txt"},
         "Could not copy pipe: it is not a regular file, folder or link."},
        {"a copy the disk does not take", {{}, {"mac/Album/fine.jpg"}}, "fine.jpg", EIO, {"fine.jpg: failed"},
         {"a.txt"}, "Could not copy fine.jpg: Input/output error"},
        {"Keep Both where the disk holds every name", {{}, {"mac/a.txt"}}, "a ", EEXIST, {"a 2.txt: failed"},
         {"a.txt"}, "Could not copy a.txt: File exists"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QString dest = startIn(path("dest"));
        writeFile(dest + "/a.txt", "the user's");
        int renames = 0; // a Keep Both numbering for ever stops here, failing by name
        LocalFileOperations::setRenameHookForTesting([&](const QString&, const QString& to) {
            const bool refused = test.refusal != 0 && to.startsWith(dest + "/" + test.refusedName);
            return refused && ++renames <= 1100 ? test.refusal : 0;
        });
        paste(test.items, dest, {answer(Resolution::keepBoth)});
        EXPECT_EQ(shownJobs(), test.jobs);
        EXPECT_EQ(localTreeOf(dest), test.tree);
        EXPECT_EQ(readFile(dest + "/a.txt"), "the user's");
        EXPECT_EQ(coordinator->lastError(), QuillbarrowError::localFileFailed(test.message));
    }
}

// A copy killed with its process leaves its hidden ".copying" item; the next transfer into the
// folder, a copy or a download, removes those nobody holds and leaves held ones and the user's.
TEST_F(LocalDestinationTest, CopiesLeftByKilledPastesGoWithTheNextTransferIntoTheFolderAndHeldOnesStay)
{
    const QString held = ".quillbarrow-1c2d3e4f-5061-4b7c-9d8e-0f1a2b3c4d5e.copying";
    const QString users = ".quillbarrow-notes.copying";
    const RemoteItem photo = deviceFile("p", "photo.jpg", 1);
    useDevice({photo});
    writeFile(path("mac/a.txt"), "a");
    const std::pair<Pasted, QString> cases[] = {{{{}, {"mac/a.txt"}}, "a.txt"}, {{{photo}}, "photo.jpg"}};
    for (const auto& [items, arrived] : cases) {
        SCOPED_TRACE(items.download.isEmpty() ? "a copy between local folders" : "a download");
        const QString dest = startIn(path("dest"));
        writeFile(dest + "/.quillbarrow-0b1c2d3e-4f50-4a6b-8c7d-9e0f1a2b3c4d.copying/Inner/big.bin", "stale");
        writeFile(dest + "/.quillbarrow-3e4f5061-7283-4d9e-af01-2b3c4d5e6f70.copying", "a file copy killed");
        writeFile(dest + "/" + held + "/part.txt", "a copy of another process, running");
        writeFile(dest + "/" + users + "/mine.txt", "the user's own");
        // Another process's running copy holds its folder.
        const int running = ::open(QFile::encodeName(dest + "/" + held).constData(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(running, 0);
        ASSERT_EQ(::flock(running, LOCK_EX | LOCK_NB), 0);
        paste(items, dest);
        ::close(running);
        EXPECT_EQ(shownJobs(), QStringList{arrived + ": completed"});
        EXPECT_EQ(entriesOf(dest), (QStringList{held, users, arrived}));
        EXPECT_EQ(readFile(dest + "/" + held + "/part.txt"), "a copy of another process, running");
    }
}
