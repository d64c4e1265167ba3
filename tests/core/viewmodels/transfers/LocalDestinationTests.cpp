#include "DeviceTransferFixture.h"
#include "transport/MockDeviceSession.h"
#include "viewmodels/transfers/DownloadStaging.h"
#include "viewmodels/transfers/LocalFileOperations.h"
#include "viewmodels/transfers/StagingLock.h"

#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QStorageInfo>
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

// What is left in a folder, by path below it.
using Left = QMap<QString, QByteArray>;

// What a row pastes into a local folder: items of the device, or else files below the test's folder.
struct Pasted {
    QList<RemoteItem> download;
    QStringList copy = {};
};

// `text` with the ids of items set aside, which are new each time, shown as <id>.
QString general(QString text)
{
    return text.replace(QRegularExpression("\\.quillbarrow-[0-9a-f-]{36}\\."), ".quillbarrow-<id>.");
}

class LocalDestinationTest : public DeviceTransferTest {
protected:
    void TearDown() override
    {
        LocalFileOperations::setRenameHookForTesting({});
        LocalFolder::setRemovalHookForTesting({});
    }

    // Starts a row afresh (no jobs shown, no last error) in `folder`, made anew and empty.
    QString startIn(const QString& folder)
    {
        coordinator->clearCompletedTransfers();
        coordinator->clearLastError();
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        return folder;
    }

    // What is left in `folder`, by name (ids shown as <id>; folders end in "/", with no contents).
    static Left leftIn(const QString& folder)
    {
        Left left;
        for (const QString& entry : localTreeOf(folder)) {
            left.insert(general(entry), entry.endsWith('/') ? QByteArray() : readFile(folder + "/" + entry));
        }
        return left;
    }

    // The last error's text, ids shown as <id>; an unknown error's where there is none.
    QString lastMessage() const
    {
        return general(coordinator->lastError().value_or(QuillbarrowError::unknown({})).message());
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
        return answerer.asked;
    }
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
    const RemoteItem folderLowerB = deviceFolder("lb", "b"), fileInLowerB = deviceFile("y", "y.txt", 9, "lb");
    const RemoteItem fileUpperB = deviceFile("ub", "B", 10);
    useDevice({upper, lower, folderB, fileInB, fileB, folderLowerB, fileInLowerB, fileUpperB});
    const QByteArray upperText = MockDeviceSession::downloadText(upper);
    const QByteArray lowerText = MockDeviceSession::downloadText(lower);
    writeFile(path("x/B.txt"), "copied B");
    writeFile(path("y/b.txt"), "copied b");
    writeFile(path("x/B/x.txt"), "copied x");
    QDir().mkpath(path("y/b"));
    writeFile(path("x/b/y.txt"), "copied y"); // "x" holds folders whose names differ in case alone
    writeFile(path("x/z.txt"), "copied z");
    const QString refusal = "Could not replace a.jpg: items copied by this same paste would be lost.";
    const auto refused = QuillbarrowError::localFileFailed(refusal);
    const auto refusedB = QuillbarrowError::localFileFailed(QString(refusal).replace("a.jpg", "b"));
    const auto refusedUpperB = QuillbarrowError::localFileFailed(QString(refusal).replace("a.jpg", "B"));
    struct Case {
        const char* name;
        bool userFile; // the folder holds an "a.jpg" of the user's first
        Pasted items;
        ConflictAnswerer::Answer answer;
        QStringList jobs;
        QMap<QString, QByteArray> left; // by exact name, folders ending in "/"
        std::optional<QuillbarrowError> error;
        int putBack = 0; // the errno of a failed rename of an item set aside back to its name
        qsizetype questions = 1;
    };
    const QList<Case> cases{
        {"two downloads answered Replace for all where the user's a.jpg is", true, {{upper, lower}},
         answer(Resolution::replace, true), {"A.jpg: completed", "a.jpg: failed"}, {{"A.jpg", upperText}},
         refused},
        {"two downloads into an empty folder, the disk's clash answered Replace", false, {{upper, lower}},
         answer(Resolution::replace), {"A.jpg: completed", "a.jpg: failed"}, {{"A.jpg", upperText}}, refused},
        {"two downloads into an empty folder, Replace, where the first one could not be put back: it is never "
         "moved", false, {{upper, lower}}, answer(Resolution::replace), {"A.jpg: completed", "a.jpg: failed"},
         {{"A.jpg", upperText}}, refused, EIO},
        {"two copied folders into an empty folder, the disk's clash answered Replace", false,
         {{}, {"x/B", "y/b"}}, answer(Resolution::replace), {"B: completed", "b: failed"},
         {{"B/", {}}, {"B/x.txt", "copied x"}}, refusedB},
        {"a download's folder and a file of the folder's name, the disk's clash answered Replace", false,
         {{folderB, fileB}}, answer(Resolution::replace), {"b: failed", "x.txt: completed"},
         {{"B/", {}}, {"B/x.txt", MockDeviceSession::downloadText(fileInB)}}, refusedB},
        {"a download's file and a folder of the file's name, the disk's clash answered Replace", false,
         {{folderLowerB, fileUpperB}}, answer(Resolution::replace), {"B: failed", "y.txt: completed"},
         {{"b/", {}}, {"b/y.txt", MockDeviceSession::downloadText(fileInLowerB)}}, refusedUpperB},
        {"a copied folder holding folders whose names differ in case alone", false, {{}, {"x"}},
         answer(Resolution::replace), {"x: completed", "b: failed"},
         {{"x/", {}}, {"x/B/", {}}, {"x/B/x.txt", "copied x"}, {"x/B.txt", "copied B"}, {"x/z.txt", "copied z"}},
         QuillbarrowError::localFileFailed("Could not copy x/b: File exists"), 0, 0},
        {"two downloads answered Keep Both for all where the user's a.jpg is", true, {{upper, lower}},
         answer(Resolution::keepBoth, true), {"A 2.jpg: completed", "a 3.jpg: completed"},
         {{"A 2.jpg", upperText}, {"a 3.jpg", lowerText}, {"a.jpg", "the user's"}}, {}},
        {"two copies into an empty folder, the disk's clash answered Keep Both", false,
         {{}, {"x/B.txt", "y/b.txt"}}, answer(Resolution::keepBoth),
         {"B.txt: completed", "b 2.txt: completed"}, {{"B.txt", "copied B"}, {"b 2.txt", "copied b"}}, {}},
    };
    // Each row where no item of the user's is replaced runs twice more as on a share that ignores case
    // and keeps a name moved away answering, under any case, with what was there: answered as given,
    // and with "for all" switched.
    for (qsizetype row = 0; row < 3 * cases.size(); ++row) {
        const Case& test = cases[row / 3];
        const bool late = row % 3 != 0, switched = row % 3 == 2;
        if (late && test.userFile) {
            continue;
        }
        SCOPED_TRACE(std::string(test.name) + (late ? ", the moved name answering late" : "") +
                     (switched ? ", for all switched" : ""));
        const QString folder = startIn(disk + "/dest");
        if (test.userFile) {
            writeFile(folder + "/a.jpg", "the user's");
        }
        LocalFileOperations::setRenameHookForTesting([&](const QString& from, const QString&) {
            return from.endsWith(".replaced") ? test.putBack : 0;
        });
        LocalFolder::setMovedNamesLingerForTesting(late);
        const ConflictAnswerer::Answer given{test.answer.resolution, test.answer.applyToAll != switched};
        EXPECT_EQ(paste(test.items, folder, {given}).size(), test.questions);
        EXPECT_EQ(shownJobs(), test.jobs);
        EXPECT_EQ(leftIn(folder), test.left);
        const std::optional<QuillbarrowError> error = coordinator->lastError();
        EXPECT_EQ(error && test.putBack ? QuillbarrowError::localFileFailed(general(error->message())) : error,
                  test.error);
    }
    LocalFolder::setMovedNamesLingerForTesting(false);
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

// Whoever may write the destination can put another of the user's items at the name of one the paste
// set aside or wrote, as the paste moves or removes it: only the item the paste holds is ever put in
// place, put back or removed; the other item stays, and the row says where the replaced one is.
TEST_F(LocalDestinationTest, AnItemPutWhereThePasteSetAsideOrWroteOneIsNeverRemovedNorPutInPlace)
{
    const RemoteItem doc = deviceFile("doc", "doc.txt", 60000), added = deviceFile("new", "new.txt", 7);
    useDevice({doc, added});
    writeFile(path("mac/doc.txt"), "the new doc");
    writeFile(path("mac/Album/a.jpg"), "copied");
    writeFile(path("mac/photos/new.jpg"), "copied");
    const QuillbarrowError interrupted = QuillbarrowError::transferInterrupted();
    // The set-aside item is swapped (moved to "elsewhere.txt", "photos" put at its name) as the new
    // item is put in place or as it is about to be removed; a staged item (moved to "copy-moved", or
    // a file deleted; "photos" at its name) as it is put in place; a download's file (deleted, another
    // file written at its name, or more written to it) as the phone's bytes arrive.
    enum class Meanwhile {
        nothing,
        setAsideSwapped,
        setAsideSwappedAsItIsRemoved,
        stagedSwapped,
        stagedSwappedAsItFails,
        // From here on, the paste has nothing to put in place.
        stagedSwappedAsBytesArrive,
        stagedSwappedForAnothersAsBytesArrive,
        stagedGrownAsBytesArrive,
        thenItFails
    };
    struct Case {
        const char* name;
        Pasted items;
        Meanwhile meanwhile;
        QString job;
        Left left;
        QString error; // %1 is the destination
    };
    const QByteArray userDoc = "the user's doc", photo = "the user's photo";
    const QString set = ".quillbarrow-<id>.replaced", copying = ".quillbarrow-<id>.copying";
    const QString partial = ".quillbarrow-<id>.partial";
    const QString movedAway =
        "Could not replace doc.txt whole: the replaced doc.txt was moved away from %1/" + set +
        " meanwhile, and is at %1/elsewhere.txt; the item now there stays";
    const auto swappedFor = [](const QString& staged) {
        return "what was written for it at %1/" + staged +
               " was replaced by another item meanwhile, which stays there";
    };
    // `others` and the user's photos at `name`.
    const auto photosAt = [&](const QString& name, Left others) {
        others.insert(name + "/", {});
        others.insert(name + "/one.jpg", photo);
        return others;
    };
    const Left photosSetAside = photosAt(set, {{"doc.txt", "the new doc"}, {"elsewhere.txt", userDoc}});
    const Left photosCopying =
        photosAt(copying, {{"copy-moved/", {}}, {"copy-moved/a.jpg", "copied"}, {"doc.txt", userDoc}});
    const auto otherPartial = [&](const QByteArray& other) {
        return photosAt("photos", {{partial, other}, {"doc.txt", userDoc}});
    };
    const Pasted copiedDoc{{}, {"mac/doc.txt"}}, copiedAlbum{{}, {"mac/Album"}}, download{{doc}},
        failing{{added}};
    const QList<Case> cases{
        {"a copied folder answered Replace", Pasted{{}, {"mac/photos"}}, Meanwhile::nothing,
         "photos: completed", Left{{"doc.txt", userDoc}, {"photos/", {}}, {"photos/new.jpg", "copied"}},
         QString()},
        {"a copy answered Replace, the item set aside swapped for the user's photos", copiedDoc,
         Meanwhile::setAsideSwapped, "doc.txt: failed", photosSetAside, movedAway},
        {"a download answered Replace, the item set aside swapped for the user's photos", download,
         Meanwhile::setAsideSwapped, "doc.txt: failed",
         photosAt(set, {{"doc.txt", MockDeviceSession::downloadText(doc)}, {"elsewhere.txt", userDoc}}),
         movedAway},
        {"a copy answered Replace, the item set aside swapped for the user's photos as it is removed",
         copiedDoc, Meanwhile::setAsideSwappedAsItIsRemoved, "doc.txt: failed", photosSetAside, movedAway},
        {"a copied folder, its copy swapped for the user's photos as it takes its name", copiedAlbum,
         Meanwhile::stagedSwapped, "Album: failed", photosCopying,
         "Could not copy Album: " + swappedFor(copying)},
        {"a copied folder that cannot take its name, its copy swapped for the user's photos", copiedAlbum,
         Meanwhile::stagedSwappedAsItFails, "Album: failed", photosCopying,
         "Could not copy Album: Input/output error"},
        {"a download that cannot take its name, its file swapped for the user's photos", failing,
         Meanwhile::stagedSwappedAsItFails, "new.txt: failed", photosAt(partial, {{"doc.txt", userDoc}}),
         "Could not save new.txt in %1: Input/output error"},
        {"a download answered Replace, its file swapped for another as the bytes arrive", download,
         Meanwhile::stagedSwappedAsBytesArrive, "doc.txt: failed", otherPartial("user text"),
         "Could not save doc.txt in %1: " + swappedFor(partial)},
        {"a download, its file swapped for another user's as long as the phone's as the bytes arrive",
         download, Meanwhile::stagedSwappedForAnothersAsBytesArrive, "doc.txt: failed",
         otherPartial(QByteArray(60000, 'x')), "Could not save doc.txt in %1: " + swappedFor(partial)},
        {"a download, its file written to by another as the bytes arrive", download,
         Meanwhile::stagedGrownAsBytesArrive, "doc.txt: failed",
         otherPartial(QByteArray(60000, 'p') + "user text"),
         "Could not save doc.txt in %1: " + swappedFor(partial)},
        {"a download failing, its file swapped for another", failing, Meanwhile::thenItFails,
         "new.txt: failed", otherPartial("user text"), interrupted.message()},
    };
    // Only the user may write the destination, its group may (a shared folder), or everybody.
    for (const mode_t mode : {0755, 0775, 0757}) {
        for (const Case& test : cases) {
            SCOPED_TRACE(std::string(test.name) + ", in a folder of mode " +
                         QString::number(mode, 8).toStdString());
            const bool anothers = test.meanwhile == Meanwhile::stagedSwappedForAnothersAsBytesArrive;
            if (anothers && ::geteuid() != 0) {
                continue; // only root makes a file of another user's
            }
            const QString dest = startIn(path("dest"));
            ASSERT_EQ(::chmod(QFile::encodeName(dest).constData(), mode), 0);
            writeFile(dest + "/doc.txt", userDoc);
            writeFile(dest + "/photos/one.jpg", photo);
            const auto staged = [&](const char* suffix) {
                return dest + "/" + entriesOf(dest).filter(suffix).value(0);
            };
            bool done = false;
            QStringList moved; // every rename into place, aside or back, from -> to
            const auto swapSetAside = [&] {
                const QString setAside = staged(".replaced");
                EXPECT_TRUE(QDir().rename(setAside, dest + "/elsewhere.txt"));
                EXPECT_TRUE(QDir().rename(dest + "/photos", setAside));
            };
            LocalFileOperations::setRenameHookForTesting([&](const QString& from, const QString& to) {
                moved.append(from + " -> " + to);
                const bool intoPlace = QFileInfo(to).path() == dest && !to.contains("/.quillbarrow-") &&
                                       !from.endsWith(".replaced");
                if (!intoPlace || test.meanwhile == Meanwhile::setAsideSwappedAsItIsRemoved ||
                    std::exchange(done, true)) {
                    return 0;
                }
                if (test.meanwhile == Meanwhile::setAsideSwapped) {
                    swapSetAside();
                } else if (test.meanwhile == Meanwhile::stagedSwapped ||
                           test.meanwhile == Meanwhile::stagedSwappedAsItFails) {
                    EXPECT_TRUE(QFileInfo(from).isDir() ? QDir().rename(from, dest + "/copy-moved")
                                                        : QFile::remove(from));
                    EXPECT_TRUE(QDir().rename(dest + "/photos", from));
                    return test.meanwhile == Meanwhile::stagedSwapped ? 0 : EIO;
                }
                return 0;
            });
            std::optional<bool> reachable; // the set-aside folder at its name as it was last emptied
            LocalFolder::setRemovalHookForTesting([&](const QString& entry) {
                reachable = QFileInfo::exists(dest + "/" + entry);
                if (test.meanwhile == Meanwhile::setAsideSwappedAsItIsRemoved &&
                    entry.endsWith(".replaced") && !std::exchange(done, true)) {
                    swapSetAside();
                }
            });
            if (test.meanwhile >= Meanwhile::stagedSwappedAsBytesArrive) {
                // The session writes the phone's bytes, if any come, into the file it opened.
                const bool fails = test.meanwhile == Meanwhile::thenItFails;
                const bool grown = test.meanwhile == Meanwhile::stagedGrownAsBytesArrive;
                session->script(
                    {.operation = Operation::downloadFile,
                     .onCall =
                         [&, anothers, fails, grown] {
                             const QString file = staged(".partial");
                             const QByteArray name = QFile::encodeName(file);
                             const int opened = ::open(name.constData(), O_WRONLY);
                             ASSERT_TRUE(opened >= 0 && (grown || QFile::remove(file)));
                             const QByteArray bytes(fails ? 0 : 60000, 'p');
                             EXPECT_EQ(::write(opened, bytes.constData(), bytes.size()), bytes.size());
                             ::close(opened);
                             // Written at the name afterwards: in a new file, or at the end of the staged
                             // one.
                             const int other = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
                             const QByteArray written = anothers ? QByteArray(60000, 'x') : "user text";
                             EXPECT_EQ(::write(other, written.constData(), written.size()), written.size());
                             ::close(other);
                             ASSERT_TRUE(!anothers || ::chown(name.constData(), 65534, 65534) == 0);
                         },
                     .reportBytes = fails ? std::nullopt : std::optional<qint64>(60000),
                     .error = fails ? std::optional(interrupted) : std::nullopt,
                     .endsHere = !fails});
            }
            paste(test.items, dest, {answer(Resolution::replace)});
            LocalFileOperations::setRenameHookForTesting({});
            LocalFolder::setRemovalHookForTesting({});
            EXPECT_EQ(shownJobs(), QStringList{test.job});
            EXPECT_EQ(leftIn(dest), test.left);
            if (test.meanwhile >= Meanwhile::stagedSwappedAsBytesArrive) {
                EXPECT_EQ(moved, QStringList()) << "nothing is moved for another item, nor set aside";
            }
            if (test.meanwhile == Meanwhile::nothing) {
                EXPECT_EQ(reachable, mode == 0755) << "where others may write, emptied out of their reach";
            }
            EXPECT_EQ(lastMessage(), test.error.contains("%1") ? test.error.arg(dest) : test.error);
        }
    }
}

// A paste folder that is gone when a file is to be saved in it (never there, or deleted since) is
// made again at its path, and only as a real folder: a link put in its place is never followed.
TEST_F(LocalDestinationTest, APasteFolderThatIsGoneIsMadeAgainOnlyAsARealFolder)
{
    const RemoteItem first = deviceFile("first", "first.txt", 1), second = deviceFile("second", "second.txt", 1);
    useDevice({first, second});
    struct Case {
        const char* name;
        bool deleted; // while the first file downloads, else missing with the folder above it from the start
        bool link;    // and a link to "outside" put in its place
        QStringList jobs;
        QStringList tree;   // below the row's folder afterwards
        QString error = {}; // %1 is the paste folder
        bool chosenLink = false; // "above" is a link to "real" the user went through
    };
    const Case cases[] = {
        {"missing from the start", false, false, {"first.txt: completed", "second.txt: completed"},
         {"above/", "above/dest/", "above/dest/first.txt", "above/dest/second.txt", "outside/"}},
        {"missing from the start below a link the user chose", false, false,
         {"first.txt: completed", "second.txt: completed"},
         {"above", "outside/", "real/", "real/dest/", "real/dest/first.txt", "real/dest/second.txt"}, {}, true},
        {"deleted below a link the user chose", true, false, {"first.txt: failed", "second.txt: completed"},
         {"above", "outside/", "real/", "real/dest/", "real/dest/second.txt"},
         "Could not save first.txt in %1: No such file or directory", true},
        {"deleted", true, false, {"first.txt: failed", "second.txt: completed"},
         {"above/", "above/dest/", "above/dest/second.txt", "outside/"},
         "Could not save first.txt in %1: No such file or directory"},
        {"deleted for a link", true, true, {"first.txt: failed", "second.txt: failed"},
         {"above/", "above/dest", "outside/"},
         "Could not save second.txt in %1: it is now a link to another place, and nothing is written through "
         "links."},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QString row = startIn(path(test.name)), dest = row + "/above/dest";
        QDir().mkpath(row + "/outside");
        ASSERT_TRUE(!test.chosenLink ||
                    (QDir().mkpath(row + "/real") && QFile::link(row + "/real", row + "/above")));
        if (test.deleted) {
            QDir().mkpath(dest);
            session->script({.operation = Operation::downloadFile, .subject = "first", .onCall = [&] {
                                 ASSERT_TRUE(QDir(dest).removeRecursively());
                                 ASSERT_TRUE(!test.link || QFile::link(row + "/outside", dest));
                             }});
        }
        paste({{first, second}}, dest);
        EXPECT_EQ(shownJobs(), test.jobs);
        EXPECT_EQ(localTreeOf(row), test.tree);
        const auto error = QuillbarrowError::localFileFailed(test.error.arg(dest));
        EXPECT_EQ(coordinator->lastError(), test.error.isEmpty() ? std::nullopt : std::optional(error));
    }
}

// A paste folder deleted while the paste runs is made again, only inside the folder that held it and
// only while that folder stands at its path: a folder above it swapped for a link, gone or replaced by
// another folder, or a chosen link's folder deleted, fails the rest naming it; nothing lands in those.
TEST_F(LocalDestinationTest, APasteFolderGoneWhileAPasteRunsIsMadeAgainOnlyWhereItWas)
{
    const RemoteItem one = deviceFile("one", "one.txt", 1), two = deviceFile("two", "two.txt", 1);
    const RemoteItem three = deviceFile("three", "three.txt", 1), docs = deviceFolder("D", "Docs");
    useDevice({one, two, three, docs, deviceFile("a", "a.txt", 1, "D"), deviceFile("b", "b.txt", 1, "D")});
    writeFile(path("mac/one.txt"), "1");
    writeFile(path("mac/two.txt"), "2");
    const Pasted files{{one, two, three}}, copies{{}, {"mac/one.txt", "mac/two.txt"}}, folder{{docs}};
    const QString now = ": it is now a link to another place, and nothing is written through links.";
    const QString gone = ": it is a link, and the folder it led to is gone.", docsPath = "home/P/Documents";
    const QStringList late{"one.txt: completed", "two.txt: failed", "three.txt: failed"};
    const QStringList copyLate = late.first(2), aLink{"home/", "home/P/", "home/P/Documents"};
    // What is pasted; below the row's folder, once the first item is done, the folder deleted, the one
    // renamed "<name>-moved" and where a link to "victim" is put (an empty folder if that ends in "/");
    // the jobs; the tree below the row's folder after, "victim" aside; the error (%1: the row's folder).
    const std::tuple<const char*, Pasted, QString, QString, QString, QStringList, QStringList, QString>
        cases[] = {
        {"files, the parent renamed away", files, docsPath, "home/P", "home/P", late,
         {"home/", "home/P", "home/P-moved/"}, "Could not save three.txt in %1/home/P" + now},
        {"files, the grandparent deleted", files, "home", {}, "home", late, {"home"},
         "Could not save three.txt in %1/home" + now},
        {"a folder, the paste folder deleted", folder, docsPath, {}, docsPath,
         {"a.txt: completed", "b.txt: failed"}, aLink, "Could not save b.txt in %1/home/P/Documents" + now},
        {"copies, the grandparent renamed away", copies, docsPath, "home", "home", copyLate,
         {"home", "home-moved/", "home-moved/P/"}, "Could not copy two.txt into %1/home" + now},
        {"copies, the paste folder deleted", copies, docsPath, {}, {},
         {"one.txt: completed", "two.txt: completed"},
         {"home/", "home/P/", "home/P/Documents/", "home/P/Documents/two.txt"}, {}},
        {"copies, a chosen link's folder deleted", copies, "home/real", {}, {}, copyLate, aLink,
         "Could not copy two.txt into %1/home/P/Documents" + gone},
        {"files, the parent replaced by another folder", files, docsPath, "home/P", "home/P/", late,
         {"home/", "home/P-moved/", "home/P/"},
         "Could not save three.txt in %1/home/P: it was replaced by another folder since the paste began."},
        {"files, the parent deleted", files, "home/P", {}, {}, late, {"home/"},
         "Could not create %1/home/P/Documents: No such file or directory"},
    };
    for (const auto& [name, items, removed, renamed, linked, jobs, tree, error] : cases) {
        SCOPED_TRACE(name);
        const QString row = startIn(path(name)), pasteFolder = row + "/" + docsPath;
        const auto at = [&row](const QString& below) { return row + "/" + below; };
        writeFile(at("victim/Documents/three.txt"), "the victim's");
        const bool linkFromStart = removed == "home/real";
        QDir().mkpath(at(linkFromStart ? "home/real" : docsPath));
        ASSERT_TRUE(!linkFromStart ||
                    (QDir().mkpath(at("home/P")) && QFile::link(at("home/real"), pasteFolder)));
        QObject observer;
        bool changed = false;
        QObject::connect(coordinator.get(), &TransferCoordinator::transferJobsChanged, &observer, [&] {
            if (shownJobs().value(0).endsWith(": completed") && !std::exchange(changed, true)) {
                ASSERT_TRUE(QDir(at(removed)).removeRecursively());
                ASSERT_TRUE(renamed.isEmpty() || QDir().rename(at(renamed), at(renamed + "-moved")));
                const QString link = at(linked);
                ASSERT_TRUE(linked.isEmpty() ||
                            (linked.endsWith('/') ? QDir().mkdir(link) : QFile::link(at("victim"), link)));
            }
        });
        paste(items, pasteFolder);
        EXPECT_EQ(shownJobs(), jobs);
        EXPECT_EQ(localTreeOf(row).filter(QRegularExpression("^(?!victim/)")), tree);
        EXPECT_EQ(localTreeOf(at("victim")), (QStringList{"Documents/", "Documents/three.txt"}));
        EXPECT_EQ(readFile(at("victim/Documents/three.txt")), "the victim's");
        const auto failed = QuillbarrowError::localFileFailed(error.arg(row));
        EXPECT_EQ(coordinator->lastError(), error.isEmpty() ? std::nullopt : std::optional(failed));
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

// The next transfer into a folder removes the staging items killed transfers left and the record notes,
// nothing else: not one a running transfer holds, the user's of such a name (renamed, read-only), nor
// what a link a killed copy left leads to. With the record gone, unreadable or garbled, nothing goes.
TEST_F(LocalDestinationTest, CopiesLeftByKilledPastesGoWithTheNextTransferIntoTheFolderAndHeldOnesStay)
{
    const RemoteItem photo = deviceFile("p", "photo.jpg", 1);
    useDevice({photo});
    writeFile(path("mac/a.txt"), "a");
    writeFile(path("mac/Album/Inner/big.bin"), "a folder copy killed");
    writeFile(path("mac/Linked/kept.txt"), "what a killed copy's link leads to");
    ASSERT_TRUE(QFile::link(path("mac/Linked"), path("mac/link")));
    const std::shared_ptr<StagingRecord> record = coordinator->stagingRecord();
    const Pasted copy{{}, {"mac/a.txt"}}, download{{photo}};
    const std::tuple<const char*, Pasted, QString, std::function<void()>> cases[] = {
        {"a copy between local folders", copy, "a.txt", {}},
        {"a download", download, "photo.jpg", {}},
        {"a copy, the record gone", copy, "a.txt", [&] { QFile::remove(record->file()); }},
        {"a download, the record unreadable", download, "photo.jpg",
         [&] { QFile::remove(record->file()), QDir().mkpath(record->file()); }},
        {"a copy, the record saying nothing readable", copy, "a.txt",
         [&] { writeFile(record->file(), QByteArray("+ 12 x 3\n\0\xff+ 1 2 3 4\n", 22)); }},
    };
    for (const auto& [name, items, arrived, spoil] : cases) {
        SCOPED_TRACE(name);
        const QString dest = startIn(path("dest"));
        QDir(record->file()).removeRecursively();
        EXPECT_TRUE(inKilledProgram([&] { // killed copying a folder and a link, and downloading
            const LocalFolder folder = LocalFolder::open(dest);
            const auto album = LocalFileOperations::stageCopy(path("mac/Album"), folder, {}, record);
            const auto link = LocalFileOperations::stageCopy(path("mac/link"), folder, {}, record);
            killedNow(!album.failure && !link.failure &&
                      StagingLock::file(folder, DownloadStaging::stagingName(), record).isHeld());
        }));
        const QStringList killed = entriesOf(dest);
        const auto isLink = [&](const QString& entry) { return QFileInfo(dest + "/" + entry).isSymLink(); };
        const QString link = killed.value(std::ranges::find_if(killed, isLink) - killed.begin());
        const QString running = DownloadStaging::stagingName();
        const StagingLock held = StagingLock::file(LocalFolder::open(dest), running, record);
        const QString renamed = LocalFileOperations::hiddenName(".copying");
        writeFile(dest + "/photos/more/one.jpg", "the user's");
        ASSERT_TRUE(QDir(dest).rename("photos", renamed)) << "by someone who may write to the folder";
        const QString readOnly = LocalFileOperations::hiddenName(".copying");
        writeFile(dest + "/" + readOnly + "/two.jpg", "the user's, read-only");
        ASSERT_EQ(::chmod(QFile::encodeName(dest + "/" + readOnly).constData(), 0555), 0);
        QStringList expected{running, renamed, readOnly, arrived};
        expected += spoil ? (spoil(), killed) : QStringList{link}; // spoilt, the record removes nothing
        paste(items, dest);
        EXPECT_EQ(shownJobs(), QStringList{arrived + ": completed"});
        expected.sort();
        EXPECT_EQ(entriesOf(dest), expected);
        EXPECT_EQ(localTreeOf(dest + "/" + renamed), (QStringList{"more/", "more/one.jpg"}));
        EXPECT_EQ(readFile(dest + "/" + readOnly + "/two.jpg"), "the user's, read-only");
        EXPECT_FALSE(QFile::permissions(dest + "/" + readOnly) & QFile::WriteOwner) << "never opened up";
        EXPECT_EQ(QFileInfo(dest + "/" + link).symLinkTarget(), path("mac/Linked"));
        EXPECT_EQ(readFile(path("mac/Linked/kept.txt")), "what a killed copy's link leads to");
        ::chmod(QFile::encodeName(dest + "/" + readOnly).constData(), 0755);
    }
}

// Nothing on another file system is ever removed: a disk mounted in the item a Replace or removal meets
// stays, the item too, and the row says so; one mounted as it is removed keeps its files, the row where.
// So does a folder of the same disk bound there, and a single file bound there.
TEST_F(LocalDestinationTest, NothingOnADiskMountedInsideAReplacedItemIsRemoved)
{
    const RemoteItem media = deviceFile("m", "media", 5);
    useDevice({media});
    writeFile(path("mac/media/new.jpg"), "the copy");
    writeFile(path("bound/usb/photo.jpg"), "on the disk");
    writeFile(path("bound/usb.jpg"), "on the disk");
    const QString dest = path("dest"), set = ".quillbarrow-<id>.replaced/";
    if (const ScratchDisk probe(path("probe"), 1 << 20); !probe.whyNot.isEmpty()) {
        GTEST_SKIP() << probe.whyNot.toStdString();
    }
    // What lies in "media": a small disk mounted at "usb", a folder of the same disk bound there, or a
    // single file of it bound at "usb.jpg".
    enum class Mounted { disk, folder, file };
    for (const auto& [kind, what] :
         {std::pair(Mounted::disk, ""), std::pair(Mounted::folder, ", a folder of the same disk bound"),
          std::pair(Mounted::file, ", a single file bound")}) {
        const QString spot = kind == Mounted::file ? "usb.jpg" : "usb";
        const auto below = [&](const QString& folder) {
            return kind == Mounted::file ? QStringList{folder + spot}
                                         : QStringList{folder + "usb/", folder + "usb/photo.jpg"};
        };
        const QString refused = "Could not replace media: a disk is mounted at " + dest + "/media/" + spot +
                                ", and nothing on another file system is removed. media stays where it is.";
        const QStringList untouched = QStringList{"media/", "media/own.txt"} + below("media/");
        const std::tuple<const char*, std::optional<Pasted>, bool, QStringList, QString> cases[] = {
            {"a copied folder answered Replace", Pasted{{}, {"mac/media"}}, false, untouched, refused},
            {"a downloaded file answered Replace", Pasted{{media}}, false, untouched, refused},
            {"a removal", std::nullopt, false, QStringList{"media/"} + below("media/"), {}},
            {"a copied folder answered Replace, the disk mounted as the old one is removed",
             Pasted{{}, {"mac/media"}}, true,
             QStringList{set} + below(set) + QStringList{"media/", "media/new.jpg"},
             "Could not replace media whole: what is left of the replaced media is at " + dest + "/" +
                 set.chopped(1)},
        };
        for (const auto& [name, items, mountedLate, tree, error] : cases) {
            SCOPED_TRACE(std::string(name) + what);
            startIn(dest);
            writeFile(dest + "/media/own.txt", "the user's");
            std::shared_ptr<void> mount; // a small disk or a binding, unmounted as it goes
            QString mounted;
            const auto mountAt = [&](const QString& folder) {
                mounted = folder + "/" + spot;
                if (kind == Mounted::disk) {
                    mount = std::make_shared<ScratchDisk>(mounted, 1 << 20);
                    writeFile(mounted + "/photo.jpg", "on the disk");
                } else {
                    mount = std::make_shared<BindMount>(path("bound/" + spot), mounted);
                }
            };
            if (kind == Mounted::file) {
                writeFile(dest + "/media/" + spot, "under the mount");
            } else {
                QDir().mkpath(dest + "/media/" + spot);
            }
            LocalFolder::setRemovalHookForTesting([&](const QString& entry) {
                // Mounted late, on the old item set aside, as "usb" (or the item itself) is emptied.
                if (entry.endsWith(kind == Mounted::file ? ".replaced" : "usb") && mounted.isEmpty()) {
                    mountAt(dest + "/" + entriesOf(dest).filter(".replaced").value(0));
                }
            });
            if (!mountedLate) {
                mountAt(dest + "/media");
            }
            if (items) {
                paste(*items, dest, {answer(Resolution::replace)});
                EXPECT_EQ(shownJobs(), QStringList{"media: failed"});
                EXPECT_EQ(lastMessage(), error);
            } else {
                EXPECT_FALSE(LocalFileOperations::removeItem(dest + "/media"));
            }
            LocalFolder::setRemovalHookForTesting({});
            EXPECT_EQ(general(localTreeOf(dest).join('\n')), tree.join('\n'));
            EXPECT_EQ(readFile(kind == Mounted::file ? mounted : mounted + "/photo.jpg"), "on the disk");
            EXPECT_EQ(QStorageInfo(mounted).rootPath(), mounted) << "still mounted where it was";
        }
    }
    EXPECT_EQ(readFile(path("bound/usb/photo.jpg")), "on the disk");
    EXPECT_EQ(readFile(path("bound/usb.jpg")), "on the disk");
}

// A copy failing on a full disk gives its space back, its staged file gone and closed, before its row
// says so. A download not put in place leaves no staged file, also one the session wrote anew.
TEST_F(LocalDestinationTest, AFailedCopyOnAFullDiskGivesItsSpaceBackBeforeItsRowSaysSo)
{
    const RemoteItem big = deviceFile("big", "big.bin", 4 << 20);
    useDevice({big});
    writeFile(path("mac/big.bin"), QByteArray(4 << 20, 'b'));
    const QString skipped = startIn(path("skipped"));
    // The disk holds the name, as one that ignores case may, only when the file is put in place.
    LocalFileOperations::setRenameHookForTesting(
        [&](const QString&, const QString& to) { return to == skipped + "/big.bin" ? EEXIST : 0; });
    paste({{big}}, skipped, {answer(Resolution::skip)});
    EXPECT_EQ(entriesOf(skipped), QStringList()) << "a download answered Skip as it is put in place";
    for (const auto& [name, items] : {std::pair("download", Pasted{{big}}), {"copy", Pasted{{}, {"mac/big.bin"}}}}) {
        SCOPED_TRACE(name);
        const ScratchDisk disk(path("disk"), 1 << 20);
        if (!disk.whyNot.isEmpty()) {
            GTEST_SKIP() << disk.whyNot.toStdString();
        }
        const QString dest = startIn(disk.folder + "/dest");
        const qint64 freeBefore = QStorageInfo(disk.folder).bytesFree();
        // The session meets the full disk half way.
        session->script({.operation = Operation::downloadFile, .partialBytes = QByteArray(512 << 10, 'p'),
                         .error = QuillbarrowError::localFileFailed("Could not write big.bin: No space left", ENOSPC)});
        std::optional<std::pair<qint64, QStringList>> whenFailed;
        QObject observer;
        QObject::connect(coordinator.get(), &TransferCoordinator::transferJobsChanged, &observer, [&] {
            if (!whenFailed && shownJobs() == QStringList{"big.bin: failed"}) {
                QStringList open; // the staging items held open, removed or not
                for (QDirIterator fd("/proc/self/fd", QDir::AllEntries | QDir::System); fd.hasNext();) {
                    open += QFileInfo(fd.next()).symLinkTarget();
                }
                whenFailed.emplace(QStorageInfo(disk.folder).bytesFree(), open.filter("/.quillbarrow-"));
            }
        });
        paste(items, dest);
        EXPECT_EQ(whenFailed, std::pair(freeBefore, QStringList()));
        EXPECT_EQ(entriesOf(dest), QStringList());
    }
}
