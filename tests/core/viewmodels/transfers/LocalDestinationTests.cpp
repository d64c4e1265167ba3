#include "DeviceTransferFixture.h"
#include "transport/MockDeviceSession.h"
#include "viewmodels/transfers/LocalFileOperations.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Kind = TransferState::Kind;
using Resolution = ConflictResolution;
using Operation = ScriptedDeviceSession::Operation;

namespace {

// Pastes into local folders, of device items and of local items alike, with the folder each row
// of a table writes into made afresh.
class LocalDestinationTest : public DeviceTransferTest {
protected:
    // A new empty folder `name` below `base` (the test's temporary folder when empty).
    QString freshFolder(const QString& name, const QString& base = QString())
    {
        const QString folder = (base.isEmpty() ? m_temp.path() : base) + "/" + name;
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        return folder;
    }

    // Puts the local items on the clipboard and pastes them into the local folder.
    QList<ConflictRequest> copyToLocal(const QStringList& sources, const QString& folder,
                                       QList<ConflictAnswerer::Answer> answers = {})
    {
        QList<QUrl> urls;
        for (const QString& source : sources) {
            urls.append(QUrl::fromLocalFile(source));
        }
        clipboard.copyLocal(urls);
        ConflictAnswerer answerer(*coordinator, std::move(answers));
        runTask(coordinator->pasteIntoLocal(QUrl::fromLocalFile(folder), nullptr));
        return answerer.asked;
    }

    void startAfresh()
    {
        coordinator->clearCompletedTransfers();
        coordinator->clearLastError();
    }
};

// Replaces the folder with a link to `target`; the folder itself moves to `<folder>-moved`.
void swapForLink(const QString& folder, const QString& target)
{
    ASSERT_TRUE(QDir().rename(folder, folder + "-moved"));
    ASSERT_TRUE(QFile::link(target, folder));
}

// Sets the rename hook for one test and removes it afterwards.
struct RenameHookScope {
    explicit RenameHookScope(LocalFileOperations::RenameHook hook)
    {
        LocalFileOperations::setRenameHookForTesting(std::move(hook));
    }
    ~RenameHookScope() { LocalFileOperations::setRenameHookForTesting({}); }
    RenameHookScope(const RenameHookScope&) = delete;
    RenameHookScope& operator=(const RenameHookScope&) = delete;
};

const QString sessionMessage = QuillbarrowError::sessionFailed(QString()).userMessage();

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
    useDevice({upper, lower});
    writeFile(path("x/B.txt"), "copied B");
    writeFile(path("y/b.txt"), "copied b");
    const QString refusal = "Could not replace a.jpg: items copied by this same paste would be lost.";
    struct Case {
        const char* name;
        // The folder holds an "a.jpg" of the user's first.
        bool userFile;
        QList<RemoteItem> download;
        QStringList copy;
        QList<ConflictAnswerer::Answer> answers;
        qsizetype questions;
        QStringList jobs;
        // What is in the folder afterwards, by exact name.
        QMap<QString, QByteArray> left;
        std::optional<QString> error;
    };
    const QList<Case> cases{
        {"two downloads answered Replace for all where the user's a.jpg is",
         true,
         {upper, lower},
         {},
         {answer(Resolution::replace, true)},
         1,
         {"A.jpg: completed", "a.jpg: failed"},
         {{"A.jpg", MockDeviceSession::downloadText(upper)}},
         refusal},
        {"two downloads into an empty folder, the disk's clash answered Replace",
         false,
         {upper, lower},
         {},
         {answer(Resolution::replace)},
         1,
         {"A.jpg: completed", "a.jpg: failed"},
         {{"A.jpg", MockDeviceSession::downloadText(upper)}},
         refusal},
        {"two downloads answered Keep Both for all where the user's a.jpg is",
         true,
         {upper, lower},
         {},
         {answer(Resolution::keepBoth, true)},
         1,
         {"A.jpg: completed", "a.jpg: completed"},
         {{"A 2.jpg", MockDeviceSession::downloadText(upper)},
          {"a 3.jpg", MockDeviceSession::downloadText(lower)},
          {"a.jpg", "the user's"}},
         std::nullopt},
        {"two copies into an empty folder, the disk's clash answered Keep Both",
         false,
         {},
         {path("x/B.txt"), path("y/b.txt")},
         {answer(Resolution::keepBoth)},
         1,
         {"B.txt: completed", "b 2.txt: completed"},
         {{"B.txt", "copied B"}, {"b 2.txt", "copied b"}},
         std::nullopt},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        startAfresh();
        const QString folder = freshFolder("dest", disk);
        if (test.userFile) {
            writeFile(folder + "/a.jpg", "the user's");
        }
        const auto asked = test.download.isEmpty() ? copyToLocal(test.copy, folder, test.answers)
                                                   : pasteToLocal(test.download, folder, test.answers);
        EXPECT_EQ(asked.size(), test.questions);
        EXPECT_EQ(shownJobs(), test.jobs);
        EXPECT_EQ(entriesOf(folder), test.left.keys());
        for (auto entry = test.left.cbegin(); entry != test.left.cend(); ++entry) {
            EXPECT_EQ(readFile(folder + "/" + entry.key()), entry.value()) << entry.key().toStdString();
        }
        EXPECT_EQ(coordinator->lastError(),
                  test.error ? std::optional(QuillbarrowError::localFileFailed(*test.error)) : std::nullopt);
    }
}

TEST_F(LocalDestinationTest, AFolderSwappedForALinkAfterPlanningIsNeverWrittenThrough)
{
    const RemoteItem first = deviceFile("first", "first.txt", 1);
    const RemoteItem second = deviceFile("second", "second.txt", 1);
    const RemoteItem docs = deviceFolder("docs", "Docs");
    const RemoteItem inDocs = deviceFile("in", "a.txt", 1, "docs");
    writeFile(path("mac/c.txt"), "c");
    writeFile(path("mac/d.txt"), "d");
    struct Case {
        const char* name;
        QList<RemoteItem> download;
        QStringList copy;
        // Which folder (below the destination; "" for the destination) becomes a link.
        QString swapped;
        QStringList jobs;
        // Where everything is afterwards, below the test's folder.
        QStringList tree;
        std::optional<QString> error;
    };
    const QList<Case> cases{
        {"a folder inside the destination, before its file is saved",
         {first, docs},
         {},
         "Docs",
         {"first.txt: completed", "a.txt: failed"},
         {"dest/", "dest/Docs", "dest/Docs-moved/", "dest/first.txt", "outside/"},
         "Could not save a.txt in " + path("dest/Docs") +
             ": it is now a link to another place, and nothing is written through links."},
        {"the destination itself, while the first file downloads",
         {first, second},
         {},
         "",
         {"first.txt: completed", "second.txt: completed"},
         {"dest", "dest-moved/", "dest-moved/first.txt", "dest-moved/second.txt", "outside/"},
         std::nullopt},
        {"the destination of a copy between local folders, once its jobs are queued",
         {},
         {path("mac/c.txt"), path("mac/d.txt")},
         "",
         {"c.txt: completed", "d.txt: completed"},
         {"dest", "dest-moved/", "dest-moved/c.txt", "dest-moved/d.txt", "outside/"},
         std::nullopt},
    };
    useDevice({first, second, docs, inDocs});
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        startAfresh();
        QDir(path("dest-moved")).removeRecursively();
        QFile::remove(path("dest"));
        const QString dest = freshFolder("dest");
        QDir().mkpath(dest + "/Docs");
        const QString outside = freshFolder("outside");
        const QString swapped = test.swapped.isEmpty() ? dest : dest + "/" + test.swapped;
        bool swappedOnce = false;
        const auto swap = [&] {
            if (!swappedOnce) {
                swappedOnce = true;
                swapForLink(swapped, outside);
            }
        };
        QObject observer;
        if (test.download.isEmpty()) {
            QObject::connect(coordinator.get(), &TransferCoordinator::transferJobsChanged, &observer, [&] {
                if (!coordinator->transferJobs().isEmpty()) {
                    swap();
                }
            });
            copyToLocal(test.copy, dest);
        } else {
            session->script({.operation = Operation::downloadFile, .subject = "first", .onCall = swap});
            pasteToLocal(test.download, dest);
        }
        EXPECT_TRUE(swappedOnce);
        EXPECT_EQ(shownJobs(), test.jobs);
        QStringList tree = localTreeOf(m_temp.path()).filter(QRegularExpression("^(dest|outside)"));
        tree.removeIf([](const QString& entry) { return entry.startsWith("dest-moved/Docs"); });
        EXPECT_EQ(tree, test.tree);
        EXPECT_EQ(coordinator->lastError(),
                  test.error ? std::optional(QuillbarrowError::localFileFailed(*test.error)) : std::nullopt);
        QFile::remove(swapped);
    }
}

TEST_F(LocalDestinationTest, AFailedLocalStepNamesTheItemAndTheSystemsReasonNeverTheDevice)
{
    const RemoteItem refused = deviceFile("r", "a:b.jpg", 1);
    useDevice({refused});
    writeFile(path("mac/Album/fine.jpg"), "fine");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("mac/Album/pipe")).constData(), 0600), 0);
    writeFile(path("mac/a.txt"), "a");
    struct Case {
        const char* name;
        QList<RemoteItem> download;
        QStringList copy;
        // The rename into this name fails with this errno, as a disk that refuses it would.
        QString refusedName;
        int refusal;
        QStringList jobs;
        QStringList tree;
        QString message;
    };
    const QList<Case> cases{
        {"a download's name the disk refuses",
         {refused},
         {},
         "a:b.jpg",
         EINVAL,
         {"a:b.jpg: failed"},
         {},
         "Could not save a:b.jpg in " + path("dest") + ": Invalid argument"},
        {"a named pipe inside a copied folder",
         {},
         {path("mac/Album")},
         {},
         0,
         {"Album: completed", "pipe: failed"},
         {"Album/", "Album/fine.jpg"},
         "Could not copy Album/pipe: it is not a regular file, folder or link."},
        {"a copy the disk does not take",
         {},
         {path("mac/a.txt")},
         "a.txt",
         EIO,
         {"a.txt: failed"},
         {},
         "Could not copy a.txt: Input/output error"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        startAfresh();
        const QString dest = freshFolder("dest");
        const RenameHookScope hook([&](const QString&, const QString& to) {
            return !test.refusedName.isEmpty() && to == dest + "/" + test.refusedName ? test.refusal : 0;
        });
        if (test.download.isEmpty()) {
            copyToLocal(test.copy, dest);
        } else {
            pasteToLocal(test.download, dest);
        }
        EXPECT_EQ(shownJobs(), test.jobs);
        EXPECT_EQ(localTreeOf(dest), test.tree);
        ASSERT_TRUE(coordinator->lastError().has_value());
        EXPECT_EQ(*coordinator->lastError(), QuillbarrowError::localFileFailed(test.message));
        EXPECT_EQ(coordinator->lastError()->userMessage(), test.message) << "the window names the item";
        EXPECT_NE(coordinator->lastError()->userMessage(), sessionMessage);
    }
}

// A copy killed with its process leaves its hidden ".copying" item; the next transfer into the
// folder, a copy or a download, removes those nobody holds and leaves held ones and the user's.
TEST_F(LocalDestinationTest, CopiesLeftByKilledPastesGoWithTheNextTransferIntoTheFolderAndHeldOnesStay)
{
    const QString staleFolder = ".quillbarrow-0b1c2d3e-4f50-4a6b-8c7d-9e0f1a2b3c4d.copying";
    const QString staleFile = ".quillbarrow-3e4f5061-7283-4d9e-af01-2b3c4d5e6f70.copying";
    const QString held = ".quillbarrow-1c2d3e4f-5061-4b7c-9d8e-0f1a2b3c4d5e.copying";
    const QString users = ".quillbarrow-notes.copying";
    const RemoteItem photo = deviceFile("p", "photo.jpg", 1);
    useDevice({photo});
    writeFile(path("mac/a.txt"), "a");
    struct Case {
        const char* name;
        QList<RemoteItem> download;
        QStringList copy;
        QString arrived;
    };
    const QList<Case> cases{
        {"a copy between local folders", {}, {path("mac/a.txt")}, "a.txt"},
        {"a download", {photo}, {}, "photo.jpg"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        startAfresh();
        const QString dest = freshFolder("dest");
        writeFile(dest + "/" + staleFolder + "/Inner/big.bin", QByteArray(4096, 'x'));
        writeFile(dest + "/" + staleFile, "a file copy killed half-way");
        writeFile(dest + "/" + held + "/part.txt", "a copy of another process, running");
        writeFile(dest + "/" + users + "/mine.txt", "the user's own");
        // Another process's running copy holds its folder.
        const int running = ::open(QFile::encodeName(dest + "/" + held).constData(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(running, 0);
        ASSERT_EQ(::flock(running, LOCK_EX | LOCK_NB), 0);

        if (test.download.isEmpty()) {
            copyToLocal(test.copy, dest);
        } else {
            pasteToLocal(test.download, dest);
        }
        ::close(running);

        EXPECT_EQ(shownJobs(), QStringList{test.arrived + ": completed"});
        EXPECT_EQ(entriesOf(dest), (QStringList{held, users, test.arrived}));
        EXPECT_EQ(readFile(dest + "/" + held + "/part.txt"), "a copy of another process, running");
    }
}

// A disk that answers "File exists" for every name ends the Keep Both numbering with its reason,
// instead of trying numbers for ever on the window's thread.
TEST_F(LocalDestinationTest, KeepBothOnADiskThatRefusesEveryNameFailsWithItsReason)
{
    writeFile(path("mac/a.txt"), "new");
    const QString dest = freshFolder("dest");
    writeFile(dest + "/a.txt", "old");
    const RenameHookScope hook([&](const QString&, const QString& to) {
        return to.startsWith(dest + "/a ") ? EEXIST : 0;
    });
    copyToLocal({path("mac/a.txt")}, dest, {{Resolution::keepBoth, false}});
    EXPECT_EQ(shownJobs(), QStringList{"a 2.txt: failed"});
    EXPECT_EQ(localTreeOf(dest), QStringList{"a.txt"});
    ASSERT_TRUE(coordinator->lastError().has_value());
    EXPECT_TRUE(coordinator->lastError()->userMessage().endsWith(": File exists"))
        << coordinator->lastError()->userMessage().toStdString();
}
