#include "CoordinatorHarness.h"
#include "viewmodels/LocalFileOperations.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Kind = TransferState::Kind;
using Resolution = ConflictResolution;

namespace {

QCoro::Task<> holdGate(CoordinatorHarness* coordinator, bool* holding, OneShot<bool> release)
{
    AsyncGate::Lease lease = co_await coordinator->acquireTransferWorkflow();
    *holding = static_cast<bool>(lease);
    const std::optional<bool> released = co_await release.wait();
    Q_UNUSED(released)
}

class LocalCopyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.isValid());
        QDir().mkpath(dest());
    }

    QString path(const QString& relative) const { return m_temp.filePath(relative); }
    QString dest(const QString& relative = QString()) const
    {
        return relative.isEmpty() ? path("dest") : path("dest/" + relative);
    }

    // Puts the items on the clipboard and pastes them into `into`, answering questions by script.
    QList<ConflictRequest> paste(const QStringList& relativeSources, QList<ConflictAnswerer::Answer> answers = {},
                                 const QString& into = QString())
    {
        QList<QUrl> urls;
        for (const QString& source : relativeSources) {
            urls.append(QUrl::fromLocalFile(path(source)));
        }
        fixture.clipboard.copyLocal(urls);
        ConflictAnswerer answerer(fixture.coordinator, std::move(answers));
        runTask(fixture.coordinator.pasteIntoLocal(QUrl::fromLocalFile(into.isEmpty() ? dest() : into), nullptr));
        return answerer.asked;
    }

    QStringList shownJobs() const
    {
        QStringList shown;
        for (const TransferJob& job : fixture.coordinator.transferJobs()) {
            shown.append(job.displayName + QStringLiteral(": ") + stateName(job.state.kind()));
        }
        return shown;
    }

    static QString stateName(Kind kind)
    {
        switch (kind) {
        case Kind::queued:
            return QStringLiteral("queued");
        case Kind::awaitingConfirmation:
            return QStringLiteral("awaiting");
        case Kind::running:
            return QStringLiteral("running");
        case Kind::cancelling:
            return QStringLiteral("cancelling");
        case Kind::completed:
            return QStringLiteral("completed");
        case Kind::failed:
            return QStringLiteral("failed");
        case Kind::cancelled:
            return QStringLiteral("cancelled");
        }
        return {};
    }

    // No temporary copy or set-aside item was left in the destination.
    void expectNoLeftovers(const QString& folder)
    {
        for (const QString& entry : entriesOf(folder)) {
            EXPECT_FALSE(entry.startsWith(".quillbarrow-")) << entry.toStdString();
        }
    }

    QTemporaryDir m_temp;
    CoordinatorFixture fixture;
};

} // namespace

TEST_F(LocalCopyTest, CopiesFilesAndNestedFoldersWithoutAsking)
{
    writeFile(path("mac/a.txt"), "alpha");
    const QDateTime old(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC);
    {
        QFile file(path("mac/a.txt"));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    writeFile(path("mac/Photos/top.txt"), "top");
    writeFile(path("mac/Photos/2023/img.jpg"), "jpeg");
    QDir().mkpath(path("mac/Photos/empty"));
    ASSERT_TRUE(QFile::link("top.txt", path("mac/Photos/link")));

    EXPECT_TRUE(paste({"mac/a.txt", "mac/Photos"}).isEmpty());

    EXPECT_EQ(readFile(dest("a.txt")), "alpha");
    EXPECT_EQ(QFileInfo(dest("a.txt")).lastModified().toUTC(), old);
    EXPECT_EQ(readFile(dest("Photos/top.txt")), "top");
    EXPECT_EQ(readFile(dest("Photos/2023/img.jpg")), "jpeg");
    EXPECT_TRUE(QFileInfo(dest("Photos/empty")).isDir());
    EXPECT_EQ(QFileInfo(dest("Photos/link")).symLinkTarget(), dest("Photos/top.txt")) << "a link stays a link";
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "Photos: completed"}));
    const TransferJob first = fixture.coordinator.transferJobs().front();
    EXPECT_EQ(first.totalBytes, 5);
    EXPECT_EQ(first.direction, TransferDirection::macToAndroid);
    EXPECT_FALSE(fixture.coordinator.lastError().has_value());
    EXPECT_EQ(readFile(path("mac/a.txt")), "alpha") << "the source is untouched";
    expectNoLeftovers(dest());
}

TEST_F(LocalCopyTest, SkipLeavesTheItemOutWithoutAJob)
{
    writeFile(path("mac/a.txt"), "new");
    writeFile(path("mac/b.txt"), "b");
    writeFile(dest("a.txt"), "old");
    const auto asked = paste({"mac/a.txt", "mac/b.txt"}, {answer(Resolution::skip)});
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].fileName, "a.txt");
    EXPECT_EQ(asked[0].destinationName, "dest");
    EXPECT_FALSE(asked[0].transferID.has_value()) << "questions come before any job exists";
    EXPECT_EQ(readFile(dest("a.txt")), "old");
    EXPECT_EQ(shownJobs(), (QStringList{"b.txt: completed"}));
}

TEST_F(LocalCopyTest, ReplaceSwapsTheNewItemInForFilesAndFolders)
{
    writeFile(path("mac/a.txt"), "new");
    writeFile(path("mac/Album/fresh.jpg"), "fresh");
    writeFile(path("mac/report"), "a file now");
    writeFile(dest("a.txt"), "old");
    writeFile(dest("Album/stale.jpg"), "stale");
    writeFile(dest("report/inside.txt"), "was a folder");

    const auto asked = paste({"mac/a.txt", "mac/Album", "mac/report"},
                             {answer(Resolution::replace), answer(Resolution::replace), answer(Resolution::replace)});
    EXPECT_EQ(asked.size(), 3);
    EXPECT_EQ(readFile(dest("a.txt")), "new");
    EXPECT_EQ(entriesOf(dest("Album")), QStringList{"fresh.jpg"}) << "the old folder's contents are gone";
    EXPECT_EQ(readFile(dest("report")), "a file now");
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "Album: completed", "report: completed"}));
    expectNoLeftovers(dest());
}

TEST_F(LocalCopyTest, KeepBothNumbersTheCopyPastNamesOnDiskAndInTheBatch)
{
    writeFile(path("x/photo.jpg"), "x");
    writeFile(path("y/photo.jpg"), "y");
    writeFile(dest("photo.jpg"), "old");
    writeFile(dest("photo 2.jpg"), "old 2");
    paste({"x/photo.jpg", "y/photo.jpg"}, {answer(Resolution::keepBoth), answer(Resolution::keepBoth)});
    EXPECT_EQ(readFile(dest("photo 3.jpg")), "x");
    EXPECT_EQ(readFile(dest("photo 4.jpg")), "y") << "the first Keep Both name was reserved";
    EXPECT_EQ(readFile(dest("photo.jpg")), "old");
    EXPECT_EQ(shownJobs(), (QStringList{"photo 3.jpg: completed", "photo 4.jpg: completed"}));
}

TEST(LocalFileOperations, KeepBothNamesPutTheNumberBeforeTheExtension)
{
    QTemporaryDir temp;
    const QString folder = temp.path();
    writeFile(folder + "/README", "");
    writeFile(folder + "/archive.tar.gz", "");
    writeFile(folder + "/.bashrc", "");
    writeFile(folder + "/photo.jpg", "");
    const QSet<QString> reserved{folder + "/photo 2.jpg"};
    EXPECT_EQ(LocalFileOperations::uniqueLocalName("README", folder, {}), "README 2");
    EXPECT_EQ(LocalFileOperations::uniqueLocalName("archive.tar.gz", folder, {}), "archive.tar 2.gz");
    EXPECT_EQ(LocalFileOperations::uniqueLocalName(".bashrc", folder, {}), ".bashrc 2");
    EXPECT_EQ(LocalFileOperations::uniqueLocalName("photo.jpg", folder, reserved), "photo 3.jpg");
    EXPECT_EQ(LocalFileOperations::uniqueLocalName("free.txt", folder, {}), "free.txt");
    EXPECT_EQ(LocalFileOperations::uniqueLocalName("free.txt", folder, {folder + "/free.txt"}), "free 2.txt");
}

TEST_F(LocalCopyTest, TheSameNameTwiceInOneBatchIsAskedAboutAndReplaceLeavesTheLastOne)
{
    writeFile(path("x/a.txt"), "x");
    writeFile(path("y/a.txt"), "y");
    const auto asked = paste({"x/a.txt", "y/a.txt"}, {answer(Resolution::replace)});
    EXPECT_EQ(asked.size(), 1) << "the second meets the first one's reserved name";
    EXPECT_EQ(readFile(dest("a.txt")), "y");
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "a.txt: completed"}));
}

TEST_F(LocalCopyTest, AnAnswerForAllHoldsForTheRestOfTheBatchButNotTheNext)
{
    for (const QString name : {"a", "b", "c"}) {
        writeFile(path("mac/" + name), "new " + name.toUtf8());
        writeFile(dest(name), "old");
    }
    EXPECT_EQ(paste({"mac/a", "mac/b", "mac/c"}, {answer(Resolution::replace, true)}).size(), 1);
    EXPECT_EQ(readFile(dest("c")), "new c");

    writeFile(path("mac/a"), "newer");
    const auto asked = paste({"mac/a", "mac/b", "mac/c"},
                             {answer(Resolution::skip), answer(Resolution::skip), answer(Resolution::keepBoth)});
    EXPECT_EQ(asked.size(), 3) << "the next batch asks again";
    EXPECT_EQ(readFile(dest("a")), "new a");
    EXPECT_EQ(readFile(dest("c 2")), "new c");
}

TEST_F(LocalCopyTest, CancelAtAQuestionCopiesAndQueuesNothingAndFreesTheGate)
{
    writeFile(path("mac/a.txt"), "a");
    writeFile(path("mac/b.txt"), "b");
    writeFile(path("mac/c.txt"), "c");
    writeFile(dest("b.txt"), "old");
    QSignalSpy jobsSpy(&fixture.coordinator, &TransferCoordinator::transferJobsChanged);
    EXPECT_EQ(paste({"mac/a.txt", "mac/b.txt", "mac/c.txt"}, {cancelAnswer()}).size(), 1);
    EXPECT_EQ(entriesOf(dest()), QStringList{"b.txt"}) << "not even the item planned before the question";
    EXPECT_EQ(jobsSpy.count(), 0);
    EXPECT_FALSE(fixture.coordinator.lastError().has_value());

    paste({"mac/a.txt"});
    EXPECT_EQ(shownJobs(), QStringList{"a.txt: completed"});
}

TEST_F(LocalCopyTest, AFailingItemBecomesTheLastErrorAndTheBatchGoesOn)
{
    writeFile(path("mac/a.txt"), "a");
    writeFile(path("mac/c.txt"), "c");
    // An item deleted after it was put on the clipboard.
    paste({"mac/a.txt", "mac/missing.txt", "mac/c.txt"});
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "missing.txt: failed", "c.txt: completed"}));
    const TransferJob failed = fixture.coordinator.transferJobs()[1];
    EXPECT_FALSE(failed.totalBytes.has_value());
    const QuillbarrowError expected =
        QuillbarrowError::sessionFailed(QStringLiteral("Could not copy missing.txt: No such file or directory"));
    EXPECT_EQ(failed.state.error(), expected);
    EXPECT_EQ(fixture.coordinator.lastError(), expected);
    EXPECT_EQ(readFile(dest("c.txt")), "c");
}

TEST_F(LocalCopyTest, AReplaceThatFailsKeepsTheOldItem)
{
    // A file that vanished from the source, and a folder holding something that cannot be copied.
    writeFile(dest("gone.txt"), "old file");
    writeFile(path("mac/Album/fine.jpg"), "fine");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("mac/Album/pipe")).constData(), 0600), 0);
    writeFile(dest("Album/keep.jpg"), "old album");

    paste({"mac/gone.txt", "mac/Album"}, {answer(Resolution::replace), answer(Resolution::replace)});
    EXPECT_EQ(shownJobs(), (QStringList{"gone.txt: failed", "Album: failed"}));
    EXPECT_EQ(readFile(dest("gone.txt")), "old file");
    EXPECT_EQ(entriesOf(dest("Album")), QStringList{"keep.jpg"});
    EXPECT_EQ(readFile(dest("Album/keep.jpg")), "old album");
    ASSERT_TRUE(fixture.coordinator.lastError().has_value());
    EXPECT_EQ(fixture.coordinator.lastError()->message(),
              "Could not copy Album: pipe: it is not a regular file, folder or link");
    expectNoLeftovers(dest());
}

TEST_F(LocalCopyTest, AFolderIsNeverCopiedIntoItselfOrItsOwnSubfolder)
{
    writeFile(path("mac/Photos/2023/img.jpg"), "jpeg");
    writeFile(path("mac/a.txt"), "a");
    ASSERT_TRUE(QFile::link(path("mac/Photos/2023"), path("shortcut")));
    const QString refusal =
        QStringLiteral("Could not copy Photos: a folder cannot be copied into itself or into a folder inside it.");

    paste({"mac/Photos", "mac/a.txt"}, {}, path("mac/Photos/2023"));
    EXPECT_EQ(shownJobs(), (QStringList{"Photos: failed", "a.txt: completed"}));
    EXPECT_EQ(fixture.coordinator.lastError(), QuillbarrowError::sessionFailed(refusal));
    EXPECT_EQ(readFile(path("mac/Photos/2023/a.txt")), "a") << "the batch goes on";

    fixture.coordinator.clearCompletedTransfers();
    paste({"mac/Photos"}, {}, path("mac/Photos"));
    paste({"mac/Photos"}, {}, path("shortcut")); // the same folder reached through a link
    EXPECT_EQ(shownJobs(), (QStringList{"Photos: failed", "Photos: failed"}));
    EXPECT_EQ(entriesOf(path("mac/Photos/2023")), (QStringList{"a.txt", "img.jpg"}));
}

TEST_F(LocalCopyTest, ReplacingAnItemWithItselfOrWithWhatHoldsItNeverRemovesIt)
{
    writeFile(path("mac/a.txt"), "a");
    writeFile(path("mac/Outer/Outer/deep.txt"), "deep");
    // Pasted into their own folders: Replace finds each already in place or inside its target.
    paste({"mac/a.txt"}, {answer(Resolution::replace)}, path("mac"));
    paste({"mac/Outer/Outer"}, {answer(Resolution::replace)}, path("mac"));
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "Outer: failed"}));
    EXPECT_EQ(fixture.coordinator.lastError()->message(), "Could not replace Outer: it holds the item being copied.");
    EXPECT_EQ(readFile(path("mac/a.txt")), "a");
    EXPECT_EQ(readFile(path("mac/Outer/Outer/deep.txt")), "deep");

    // Keep Both into the item's own folder makes a numbered copy.
    paste({"mac/a.txt"}, {answer(Resolution::keepBoth)}, path("mac"));
    EXPECT_EQ(readFile(path("mac/a 2.txt")), "a");
}

TEST_F(LocalCopyTest, AJobCancelledBeforeItsTurnIsSkipped)
{
    writeFile(path("mac/a.txt"), "a");
    writeFile(path("mac/b.txt"), "b");
    QObject observer;
    QObject::connect(&fixture.coordinator, &TransferCoordinator::transferJobsChanged, &observer, [&] {
        const auto& jobs = fixture.coordinator.transferJobs();
        if (jobs.size() == 2 && jobs[1].state.kind() == Kind::queued) {
            fixture.coordinator.cancelTransfer(jobs[1].id);
        }
    });
    paste({"mac/a.txt", "mac/b.txt"});
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "b.txt: cancelled"}));
    EXPECT_FALSE(QFile::exists(dest("b.txt")));
}

TEST_F(LocalCopyTest, BadDestinationsAndSourcesGetClearErrors)
{
    writeFile(path("mac/a.txt"), "a");
    paste({"mac/a.txt"}, {}, path("no such folder"));
    EXPECT_EQ(fixture.coordinator.lastError(), QuillbarrowError::pathNotFound());
    EXPECT_TRUE(fixture.coordinator.transferJobs().isEmpty());
    EXPECT_FALSE(QFile::exists(path("no such folder")));

    fixture.clipboard.copyLocal(
        {QUrl(QStringLiteral("https://example.com/x.txt")), QUrl::fromLocalFile(path("mac/a.txt"))});
    runTask(fixture.coordinator.pasteIntoLocal(QUrl::fromLocalFile(dest()), nullptr));
    EXPECT_EQ(shownJobs(), (QStringList{"https://example.com/x.txt: failed", "a.txt: completed"}));
    EXPECT_EQ(fixture.coordinator.lastError()->message(),
              "Could not copy https://example.com/x.txt: it is not a file or folder on this computer.");
}

TEST_F(LocalCopyTest, PastesWithNothingToCopy)
{
    // An empty clipboard does nothing at all.
    runTask(fixture.coordinator.pasteIntoLocal(QUrl::fromLocalFile(dest()), nullptr));
    EXPECT_TRUE(fixture.coordinator.transferJobs().isEmpty());

    // An empty list still takes the gate and clears an answer applied to all.
    auto first = fixture.coordinator.requestResolution(std::nullopt, "x", "y");
    fixture.coordinator.resolveConflict(Resolution::replace, true);
    runTask(std::move(first));
    runTask(fixture.coordinator.copyLocalToLocal({}, QUrl::fromLocalFile(dest())));
    auto asked = fixture.coordinator.requestResolution(std::nullopt, "x", "y");
    EXPECT_TRUE(fixture.coordinator.pendingConflict().has_value());
    fixture.coordinator.cancelConflicts();
    runTask(std::move(asked));

    // Device items without a session: the error, no job, and no wait for the gate.
    bool holding = false;
    OneShot<bool> release;
    auto holder = holdGate(&fixture.coordinator, &holding, release);
    ASSERT_TRUE(holding);
    fixture.clipboard.copyDevice({RemoteItem(RemoteObjectID("1"), StorageID("s"), std::nullopt, "a.jpg",
                                             RemoteItemKind::file, 1, std::nullopt, std::nullopt)},
                                 StorageID("s"));
    runTask(fixture.coordinator.pasteIntoLocal(QUrl::fromLocalFile(dest()), nullptr), std::chrono::seconds(5));
    EXPECT_EQ(fixture.coordinator.lastError(),
              QuillbarrowError::sessionFailed(QStringLiteral("No Android device session is open.")));
    EXPECT_TRUE(fixture.coordinator.transferJobs().isEmpty());
    EXPECT_TRUE(entriesOf(dest()).isEmpty());
    release.fulfil(true);
    runTask(std::move(holder));
}
