#include "CoordinatorHarness.h"
#include "viewmodels/transfers/DownloadStaging.h"
#include "viewmodels/transfers/LocalFileOperations.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Sets the rename hook of LocalFileOperations for one test and removes it afterwards.
struct RenameHookScope {
    explicit RenameHookScope(LocalFileOperations::RenameHook hook)
    {
        LocalFileOperations::setRenameHookForTesting(std::move(hook));
    }
    ~RenameHookScope() { LocalFileOperations::setRenameHookForTesting({}); }
    RenameHookScope(const RenameHookScope&) = delete;
    RenameHookScope& operator=(const RenameHookScope&) = delete;
};

void setMode(const QString& path, mode_t mode)
{
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0) << path.toStdString();
}

mode_t modeOf(const QString& path)
{
    struct stat info {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

// Gives every folder below `folder` back to its owner, so that the temporary folder can go.
void makeWritable(const QString& folder)
{
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    QDirIterator walk(folder, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        ::chmod(QFile::encodeName(walk.next()).constData(), 0755);
    }
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
            urls.append(QUrl::fromLocalFile(QDir::isAbsolutePath(source) ? source : path(source)));
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

TEST_F(LocalCopyTest, KeepBothShortensTheStemOfALongNameByBytesWithoutSplittingALetter)
{
    const QString wide(QChar(u'\u0436')); // two bytes in UTF-8
    // Four bytes in UTF-8, two UTF-16 units; the second unit of the camera looks like a kept byte.
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString camera = QString::fromUtf8("\xF0\x9F\x93\xB7");
    struct Case {
        QString name;
        QString kept;
    };
    const Case cases[] = {
        {QString(251, u'a') + ".txt", QString(249, u'a') + " 2.txt"},
        {QString(254, u'b'), QString(253, u'b') + " 2"},
        {wide.repeated(127) + "c", wide.repeated(126) + " 2"},
        {wide.repeated(125) + "d.txt", wide.repeated(124) + " 2.txt"},
        {"e." + QString(253, u'x'), "e." + QString(251, u'x') + " 2"},
        {"fg" + smile.repeated(63), "fg" + smile.repeated(62) + " 2"},
        {"hi" + camera.repeated(62) + ".txt", "hi" + camera.repeated(61) + " 2.txt"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name.toStdString());
        writeFile(path("mac/" + row.name), "new");
        writeFile(dest(row.name), "old");
        paste({"mac/" + row.name}, {answer(Resolution::keepBoth)});
        EXPECT_EQ(readFile(dest(row.kept)), "new");
        EXPECT_EQ(readFile(dest(row.name)), "old");
        EXPECT_LE(row.kept.toUtf8().size(), 255);
    }
    EXPECT_EQ(fixture.coordinator.lastError(), std::nullopt);
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

    // Numbering many items of one name goes on from the last number given instead of from 2.
    qint64 next = 0;
    EXPECT_EQ(LocalFileOperations::uniqueLocalName("photo.jpg", folder, reserved, &next), "photo 3.jpg");
    EXPECT_EQ(next, 4);
    EXPECT_EQ(LocalFileOperations::uniqueLocalName("free.txt", folder, {}, &next), "free.txt");
    EXPECT_EQ(next, 4) << "a free name uses no number";
}

TEST_F(LocalCopyTest, AnItemThisPasteCopiedIsNeverReplacedByALaterOneOfTheSameName)
{
    const QString refusal = "Could not replace %1: items copied by this same paste would be lost.";
    // What another program does meanwhile to the user's "b.txt", which "y/b.txt" replaces: moves it beside
    // the destination, named as the row, and puts the paste's "B.txt" there, renamed as the user's is moved
    // aside (`moved`: the way back says "File exists", as a share still answering the moved name would), or
    // as a second name, a hard link, at the item's turn (`linked`: a way back would fail).
    enum class Meanwhile { nothing, moved, linked };
    struct Case {
        const char* name;
        QStringList sources;
        QList<ConflictAnswerer::Answer> answers;
        qsizetype questions;
        QStringList jobs;
        QStringList tree;
        std::optional<QString> error;
        Meanwhile meanwhile = Meanwhile::nothing;
    };
    const QList<Case> cases{
        {"two files of one name, Replace",
         {"x/a.txt", "y/a.txt"},
         {answer(Resolution::replace)},
         1,
         {"a.txt: completed", "a.txt: failed"},
         {"Photos/", "Photos/old.jpg", "a.txt"},
         refusal.arg("a.txt")},
        {"a folder that replaced the user's, then a file of its name answered Replace for all",
         {"x/Photos", "y/Photos"},
         {answer(Resolution::replace, true)},
         1,
         {"Photos: completed", "Photos: failed"},
         {"Photos/", "Photos/new.jpg"},
         refusal.arg("Photos")},
        {"an item of this paste reaching the name only as it is moved aside", {"x/B.txt", "y/b.txt"},
         {answer(Resolution::replace)}, 1, {"B.txt: completed", "b.txt: failed"},
         {"Photos/", "Photos/old.jpg", "b.txt"}, refusal.arg("b.txt"), Meanwhile::moved},
        {"an item of this paste reached by another name", {"x/B.txt", "y/b.txt"}, {answer(Resolution::replace)}, 1,
         {"B.txt: completed", "b.txt: failed"}, {"B.txt", "Photos/", "Photos/old.jpg", "b.txt"},
         refusal.arg("b.txt"), Meanwhile::linked},
        {"Keep Both still copies the second",
         {"x/a.txt", "y/a.txt"},
         {answer(Resolution::keepBoth)},
         1,
         {"a.txt: completed", "a 2.txt: completed"},
         {"Photos/", "Photos/old.jpg", "a 2.txt", "a.txt"},
         std::nullopt},
    };
    writeFile(path("x/a.txt"), "x");
    writeFile(path("y/a.txt"), "y");
    writeFile(path("x/Photos/new.jpg"), "copied by the paste");
    writeFile(path("y/Photos"), "a file named like the folder");
    writeFile(path("x/B.txt"), "copied B");
    writeFile(path("y/b.txt"), "copied b");
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        fixture.coordinator.clearCompletedTransfers();
        fixture.coordinator.clearLastError();
        QDir(dest()).removeRecursively();
        writeFile(dest("Photos/old.jpg"), "the user's folder");
        if (test.meanwhile != Meanwhile::nothing) {
            writeFile(dest("b.txt"), "the user's");
        }
        const auto swapIn = [&](bool asSecondName) {
            EXPECT_TRUE(QFile::rename(dest("b.txt"), path(test.name)));
            const QByteArray from = QFile::encodeName(dest("B.txt")), to = QFile::encodeName(dest("b.txt"));
            EXPECT_EQ((asSecondName ? ::link : ::rename)(from.constData(), to.constData()), 0);
        };
        const bool moved = test.meanwhile == Meanwhile::moved, linked = test.meanwhile == Meanwhile::linked;
        RenameHookScope hook([&](const QString& from, const QString& to) {
            if (moved && from == dest("b.txt") && to.endsWith(".replaced")) {
                swapIn(false);
            }
            return (moved || linked) && from.endsWith(".replaced") ? (moved ? EEXIST : EIO) : 0;
        });
        QObject observer;
        QObject::connect(&fixture.coordinator, &TransferCoordinator::transferJobsChanged, &observer, [&] {
            if (linked && shownJobs().value(1) == "b.txt: running" && !QFile::exists(path(test.name))) {
                swapIn(true);
            }
        });

        const auto asked = paste(test.sources, test.answers);
        EXPECT_EQ(asked.size(), test.questions);
        EXPECT_EQ(shownJobs(), test.jobs);
        EXPECT_EQ(localTreeOf(dest()), test.tree);
        EXPECT_EQ(fixture.coordinator.lastError(),
                  test.error ? std::optional(QuillbarrowError::localFileFailed(*test.error)) : std::nullopt);
    }
    EXPECT_EQ(readFile(dest("a.txt")), "x");
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
        QuillbarrowError::localFileFailed(QStringLiteral("Could not copy missing.txt: No such file or directory"));
    EXPECT_EQ(failed.state.error(), expected);
    EXPECT_EQ(fixture.coordinator.lastError(), expected);
    EXPECT_EQ(readFile(dest("c.txt")), "c");
}

TEST_F(LocalCopyTest, AReplaceThatFailsKeepsTheOldItem)
{
    // A file that vanished from the source, and a folder whose copy cannot be made in full.
    writeFile(dest("gone.txt"), "old file");
    writeFile(path("mac/Album/fine.jpg"), "fine");
    ASSERT_TRUE(QFile::link("loop", path("mac/Album/loop")));
    writeFile(dest("Album/keep.jpg"), "old album");
    // The copy of the folder is stopped half-way, as a failing disk would.
    QObject observer;
    QObject::connect(&fixture.coordinator, &TransferCoordinator::transferJobsChanged, &observer, [&] {
        const auto& jobs = fixture.coordinator.transferJobs();
        if (jobs.size() == 2 && jobs[1].state.kind() == Kind::running) {
            fixture.coordinator.cancelTransfer(jobs[1].id);
        }
    });

    paste({"mac/gone.txt", "mac/Album"}, {answer(Resolution::replace), answer(Resolution::replace)});
    EXPECT_EQ(shownJobs(), (QStringList{"gone.txt: failed", "Album: cancelled"}));
    EXPECT_EQ(readFile(dest("gone.txt")), "old file");
    EXPECT_EQ(entriesOf(dest("Album")), QStringList{"keep.jpg"});
    EXPECT_EQ(readFile(dest("Album/keep.jpg")), "old album");
    ASSERT_TRUE(fixture.coordinator.lastError().has_value());
    EXPECT_EQ(fixture.coordinator.lastError()->message(), "Could not copy gone.txt: No such file or directory");
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
    EXPECT_EQ(fixture.coordinator.lastError(), QuillbarrowError::localFileFailed(refusal));
    EXPECT_EQ(readFile(path("mac/Photos/2023/a.txt")), "a") << "the batch goes on";

    fixture.coordinator.clearCompletedTransfers();
    paste({"mac/Photos"}, {}, path("mac/Photos"));
    paste({"mac/Photos"}, {}, path("shortcut")); // the same folder reached through a link
    EXPECT_EQ(shownJobs(), (QStringList{"Photos: failed", "Photos: failed"}));
    EXPECT_EQ(entriesOf(path("mac/Photos/2023")), (QStringList{"a.txt", "img.jpg"}));
}

// A folder pasted into one inside it (however spelled, or moved there once queued), or deeper than a
// copy walks, fails with a short sentence. Disk rows run in tests/support/run-on-case-folding-disk.sh.
TEST_F(LocalCopyTest, AFolderTooDeepOrCopiedIntoItselfFailsByNameWithAShortSentence)
{
    const QString disk = qEnvironmentVariable("QUILLBARROW_CASE_FOLDING_FOLDER");
    // "Deep" holds "d" folders as deep as a copy walks; so its first "d" is just as deep as that.
    const QString chain = QStringList(LocalFileOperations::maximumCopyDepth, "d").join('/');
    writeFile(path("mac/Deep/" + chain + "/z"), "z");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("mac/Deep/" + chain + "/pipe")).constData(), 0600), 0);
    writeFile(path("mac/Src/sub/Src/old.txt"), "old");
    QDir().mkpath(path("mac/SRC/sub"));
    QDir().mkpath(path("mac/spare"));
    // "Bound" shows "Src" through a bind mount (as root): no path tells that "Bound/sub" is inside "Src".
    QDir().mkpath(path("mac/Bound"));
    const QByteArray bound = QFile::encodeName(path("mac/Bound"));
    const bool bindMounted =
        ::mount(QFile::encodeName(path("mac/Src")).constData(), bound.constData(), nullptr, MS_BIND, nullptr) == 0;
    const auto unbind = qScopeGuard([&] {
        if (bindMounted) {
            ::umount2(bound.constData(), MNT_DETACH);
        }
    });
    // Where the copy would land, the disk holds an "Src" already: a copy not refused at planning asks.
    ASSERT_TRUE(disk.isEmpty() || (QDir().mkpath(disk + "/Src/sub/Src") && QDir().mkpath(disk + "/Src/Src")));
    const auto at = [this](const QString& p) { return QDir::isAbsolutePath(p) ? p : path(p); };
    const QString pipe = "Could not copy d/d/d/…/d/d/pipe: it is not a regular file, folder or link.";
    const QString intoItself = "Could not copy Src: " + LocalFileOperations::intoItselfReason();
    // The item, the folder pasted into, whether that is moved into the item once the copy is queued.
    const std::tuple<QString, QString, bool, QString, QString> cases[] = {
        {"mac/Deep/d", "dest", false, "d: completed,pipe: failed", pipe},
        {"mac/Deep", "dest", false, "Deep: failed",
         "Could not copy Deep: it holds folders more than 256 levels deep."},
        {"mac/Src", "mac/Src/sub", false, "Src: failed", intoItself},
        {"mac/Src", "mac/Bound/sub", false, "Src: failed", intoItself},
        {"mac/Src", "mac/spare", true, "Src: failed", intoItself},
        {"mac/Src", "mac/SRC/sub", false, "Src: completed", {}},
        {disk + "/Src", disk + "/SRC/sub", false, "Src: failed", intoItself},
        {disk + "/Src", disk + "/sRC", false, "Src: failed", intoItself},
    };
    for (const auto& [item, into, moved, job, error] : cases) {
        if ((QDir::isAbsolutePath(item) && disk.isEmpty()) || (into.startsWith("mac/Bound") && !bindMounted)) {
            continue; // a row for the disk that ignores case, or for the bind mount
        }
        SCOPED_TRACE((item + " into " + into).toStdString());
        const QString landed = moved ? at(item + "/moved") : at(into);
        const QStringList tree = localTreeOf(at(item)).filter(QRegularExpression("^(?!.*pipe$)"));
        const QStringList before = localTreeOf(at(into));
        QObject observer;
        QObject::connect(&fixture.coordinator, &TransferCoordinator::transferJobsChanged, &observer, [&] {
            ASSERT_TRUE(!moved || QFileInfo::exists(landed) || QDir().rename(at(into), landed));
        });
        EXPECT_EQ(paste({at(item)}, {}, at(into)).size(), 0);
        EXPECT_EQ(shownJobs(), job.split(','));
        EXPECT_EQ(fixture.coordinator.lastError(),
                  error.isEmpty() ? std::nullopt : std::optional(QuillbarrowError::localFileFailed(error)));
        const bool copied = error.isEmpty() || error == pipe;
        EXPECT_EQ(localTreeOf(copied ? landed + '/' + item.section('/', -1) : landed), copied ? tree : before);
        fixture.coordinator.clearCompletedTransfers();
        fixture.coordinator.clearLastError();
    }
}

TEST_F(LocalCopyTest, ReplacingAnItemWithItselfOrWithWhatHoldsItNeverRemovesIt)
{
    // The folders holding the items, each pasted into as spelled with its last letter in lower case;
    // "X" on a disk that ignores case (through tests/support/run-on-case-folding-disk.sh) is "x".
    const QString disk = qEnvironmentVariable("QUILLBARROW_CASE_FOLDING_FOLDER");
    for (const QString& home : QStringList{path("mac"), disk + "/X"}.mid(0, disk.isEmpty() ? 1 : 2)) {
        SCOPED_TRACE(home.toStdString());
        fixture.coordinator.clearCompletedTransfers();
        fixture.coordinator.clearLastError();
        const QString into = home.chopped(1) + home.back().toLower();
        writeFile(home + "/a.txt", "a");
        writeFile(home + "/Outer/Outer/deep.txt", "deep");
        int moves = 0;
        RenameHookScope hook([&moves](const QString&, const QString&) { ++moves; return 0; });
        // Pasted into their own folders: Replace finds each already in place or inside its target.
        paste({home + "/a.txt"}, {answer(Resolution::replace)}, into);
        paste({home + "/Outer/Outer"}, {answer(Resolution::replace)}, into);
        EXPECT_EQ(moves, 0) << "nothing was moved aside";
        EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "Outer: failed"}));
        EXPECT_EQ(fixture.coordinator.lastError(),
                  QuillbarrowError::localFileFailed("Could not replace Outer: it holds the item being copied."));
        EXPECT_EQ(readFile(home + "/a.txt"), "a");
        EXPECT_EQ(readFile(home + "/Outer/Outer/deep.txt"), "deep");
    }

    // Keep Both into the item's own folder makes a numbered copy.
    paste({"mac/a.txt"}, {answer(Resolution::keepBoth)}, path("mac"));
    EXPECT_EQ(readFile(path("mac/a 2.txt")), "a");
}

// Where an item's path and its taken name's differ in letter case alone ("X/a.jpg" pasted into
// "x"), planning reads their folder's names to tell whether the disk takes them for one: once for
// the whole paste, however many items it has and however big that folder is.
TEST_F(LocalCopyTest, PlanningReadsEachFolderOnceHoweverManyItemsDifferInCaseAlone)
{
    QStringList items;
    for (int index = 0; index < 40; ++index) {
        const QString name = QStringLiteral("IMG_%1.jpg").arg(index);
        writeFile(path("mac/X/") + name, "new");
        writeFile(path("mac/x/") + name, "old");
        items.append("mac/X/" + name);
    }
    QStringList read; // on the planning thread, looked at once the paste is over
    LocalFileOperations::Places::setListingHookForTesting(
        [&read](const QString& folder) { read.append(folder); });
    const QList<ConflictRequest> asked = paste(items, {answer(Resolution::skip, true)}, path("mac/x"));
    LocalFileOperations::Places::setListingHookForTesting({});
    EXPECT_EQ(read, QStringList{QFileInfo(path("mac")).canonicalFilePath()});
    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(shownJobs(), QStringList());
    EXPECT_EQ(readFile(path("mac/x/IMG_39.jpg")), "old");
}

// A link is copied as a link: replacing the item it leads to (or holds what it leads to) with it
// would delete that item for good. A link to anything else replaces as any item does.
TEST_F(LocalCopyTest, ReplacingWhatAPastedLinkLeadsToNeverRemovesIt)
{
    writeFile(dest("Album/sub/precious.jpg"), "precious");
    writeFile(dest("notes.txt"), "notes");
    writeFile(dest("Deep/sub/kept.txt"), "kept");
    writeFile(dest("other.txt"), "other");
    writeFile(path("elsewhere.txt"), "elsewhere");
    QDir().mkpath(path("links"));
    ASSERT_TRUE(QFile::link(dest("Album"), path("links/Album")));
    ASSERT_TRUE(QFile::link(dest("notes.txt"), path("links/notes.txt")));
    ASSERT_TRUE(QFile::link(dest("Deep/sub"), path("links/Deep")));
    ASSERT_TRUE(QFile::link(path("elsewhere.txt"), path("links/other.txt")));
    ASSERT_TRUE(QFile::link(dest(), path("shortcut")));

    paste({"links/Album", "links/notes.txt", "links/Deep", "links/other.txt"},
          {answer(Resolution::replace), answer(Resolution::replace), answer(Resolution::replace),
           answer(Resolution::replace)});
    // The same folder reached through a link to it.
    paste({"links/Album"}, {answer(Resolution::replace)}, path("shortcut"));
    EXPECT_EQ(shownJobs(), (QStringList{"Album: failed", "notes.txt: failed", "Deep: failed", "other.txt: completed",
                                        "Album: failed"}));
    EXPECT_EQ(fixture.coordinator.lastError()->message(),
              "Could not replace Album: the item being copied is a link to it or to something inside it.");
    EXPECT_EQ(readFile(dest("Album/sub/precious.jpg")), "precious");
    EXPECT_EQ(readFile(dest("notes.txt")), "notes");
    EXPECT_EQ(readFile(dest("Deep/sub/kept.txt")), "kept");
    EXPECT_FALSE(QFileInfo(dest("Album")).isSymLink());
    EXPECT_FALSE(QFileInfo(dest("notes.txt")).isSymLink());
    EXPECT_TRUE(QFileInfo(dest("other.txt")).isSymLink());
    EXPECT_EQ(readFile(dest("other.txt")), "elsewhere");
    expectNoLeftovers(dest());
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

TEST_F(LocalCopyTest, ACancelClickedWhileAPasteRunsStopsTheItemsNotYetCopied)
{
    writeFile(path("mac/a.txt"), "a");
    writeFile(path("mac/Folder/inner.txt"), "inner");
    writeFile(path("mac/c.txt"), "c");
    fixture.coordinator.setPlanningSlice(std::chrono::nanoseconds(0));
    // The click arrives as an event once the first item is done.
    bool clicked = false;
    QObject observer;
    QObject::connect(&fixture.coordinator, &TransferCoordinator::transferJobsChanged, &observer, [&] {
        if (!clicked && shownJobs().contains("a.txt: completed")) {
            clicked = true;
            QMetaObject::invokeMethod(
                &observer, [&] { fixture.coordinator.cancelAllTransfers(); }, Qt::QueuedConnection);
        }
    });
    paste({"mac/a.txt", "mac/Folder", "mac/c.txt"});
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "Folder: cancelled", "c.txt: cancelled"}));
    EXPECT_EQ(entriesOf(dest()), QStringList{"a.txt"});
}

TEST_F(LocalCopyTest, CancelAllWhileAPasteQueuesItsJobsCancelsTheItemsNotYetQueuedToo)
{
    writeFile(path("mac/a.txt"), "a");
    writeFile(path("mac/b.txt"), "b");
    writeFile(path("mac/c.txt"), "c");
    fixture.coordinator.setPlanningSlice(std::chrono::nanoseconds(0));
    bool clicked = false;
    QObject observer;
    QObject::connect(&fixture.coordinator, &TransferCoordinator::transferJobsChanged, &observer, [&] {
        if (!clicked && !fixture.coordinator.transferJobs().isEmpty()) {
            clicked = true;
            QMetaObject::invokeMethod(
                &observer, [&] { fixture.coordinator.cancelAllTransfers(); }, Qt::QueuedConnection);
        }
    });
    paste({"mac/a.txt", "mac/b.txt", "mac/c.txt"});
    EXPECT_TRUE(clicked);
    const QStringList shown = shownJobs();
    EXPECT_LT(shown.size(), 3) << "the cancel came while the paste was queueing its jobs";
    for (const QString& job : shown) {
        EXPECT_TRUE(job.endsWith(": cancelled")) << job.toStdString();
    }
    EXPECT_TRUE(entriesOf(dest()).isEmpty());
}

TEST(LocalFileOperations, ACopyToldToStopLeavesNothingBehindAndOneLetGoOnCountsEveryByte)
{
    struct Case {
        const char* name;
        // The number of entries after which the copy is told to stop; -1 never.
        int stopAfter;
        bool arrives;
    };
    const Case cases[] = {
        {"never stopped", -1, true},
        {"stopped after the first entry", 1, false},
        {"stopped at the last entry", 4, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        QTemporaryDir temp;
        writeFile(temp.filePath("src/a.txt"), "12345");
        writeFile(temp.filePath("src/sub/b.txt"), "123");
        QDir().mkpath(temp.filePath("dest"));
        int entries = 0;
        QList<qint64> reported;
        const std::optional<QString> failure = LocalFileOperations::copyItem(
            temp.filePath("src"), temp.filePath("dest/src"), false, [&](qint64 bytes) {
                reported.append(bytes);
                return ++entries != test.stopAfter;
            });
        EXPECT_EQ(!failure.has_value(), test.arrives);
        EXPECT_EQ(QFileInfo::exists(temp.filePath("dest/src")), test.arrives);
        EXPECT_EQ(QDir(temp.filePath("dest")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  test.arrives ? QStringList{"src"} : QStringList{});
        if (test.arrives) {
            // Two files, a folder inside and the folder itself; the count ends at all the bytes.
            EXPECT_EQ(reported.size(), 4);
            EXPECT_EQ(reported.last(), 8);
        }
    }
}

// Between two disks the kernel cannot copy a file by itself: the bytes go through a buffer the
// thread keeps from file to file. Every file arrives whole: a long one across several fills of the
// buffer, then a short one with none of the long one's bytes.
TEST(LocalFileOperations, ACopyBetweenTwoDisksBringsEveryFileWholeAsWithinOne)
{
    QTemporaryDir temp;
    // Another disk: a small one mounted for the test (as root), else the memory disk.
    const ScratchDisk mounted(temp.filePath("disk"), 8 << 20);
    QTemporaryDir memory(QStringLiteral("/dev/shm/quillbarrow-test-XXXXXX"));
    QByteArray longBytes(2 * (1 << 20) + 5, '\0');
    for (qsizetype index = 0; index < longBytes.size(); ++index) {
        longBytes[index] = char(index * 7 % 251);
    }
    const std::pair<QString, QByteArray> files[] = {
        {"a-long.bin", longBytes}, {"b-short.txt", "short"}, {"c-empty", ""}};
    const QString within = temp.filePath("src");
    for (const QString& from :
         {within, (mounted.whyNot.isEmpty() ? mounted.folder : memory.path()) + "/src"}) {
        SCOPED_TRACE(from == within ? "within one disk" : "between two disks");
        for (const auto& [name, bytes] : files) {
            writeFile(from + "/Album/" + name, bytes);
        }
        const QString into = temp.filePath(from == within ? "dest-within" : "dest-between");
        QDir().mkpath(into);
        qint64 counted = 0;
        EXPECT_EQ(LocalFileOperations::copyItem(from + "/Album", into + "/Album", false,
                                                [&](qint64 bytes) { return (counted = bytes), true; }),
                  std::nullopt);
        for (const auto& [name, bytes] : files) {
            EXPECT_EQ(readFile(into + "/Album/" + name), bytes) << name.toStdString();
        }
        EXPECT_EQ(counted, longBytes.size() + 5);
    }
}

TEST(LocalFileOperations, ADownloadsSweepOfTheFolderLeavesARunningCopyAlone)
{
    QTemporaryDir temp;
    writeFile(temp.filePath("src/a.txt"), "12345");
    QDir().mkpath(temp.filePath("dest"));
    const auto record = std::make_shared<StagingRecord>(temp.filePath("staging-items"));
    const std::optional<QString> failure =
        LocalFileOperations::copyItem(temp.filePath("src/a.txt"), temp.filePath("dest/a.txt"), false, [&](qint64) {
            // A download into the same folder starts while the copy's file is staged.
            DownloadStaging::removeStale(temp.filePath("dest"), *record);
            return true;
        }, record);
    EXPECT_FALSE(failure.has_value()) << failure.value_or(QString()).toStdString();
    EXPECT_EQ(QDir(temp.filePath("dest")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"a.txt"});
    QFile copied(temp.filePath("dest/a.txt"));
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), "12345");
}

TEST_F(LocalCopyTest, BadDestinationsAndSourcesGetClearErrors)
{
    writeFile(path("mac/a.txt"), "a");
    writeFile(path("a file"), "not a folder");
    // A destination that is gone starts no job; one the system cannot reach says why.
    const std::tuple<QString, QStringList, QuillbarrowError> cases[] = {
        {path("no such folder"), {}, QuillbarrowError::pathNotFound()},
        {path("a file"), {}, QuillbarrowError::pathNotFound()},
        {path(QStringList(17, QString(255, 'x')).join('/')), {"a.txt: failed"},
         QuillbarrowError::localFileFailed("Could not copy a.txt: File name too long")},
    };
    for (const auto& [destination, jobs, error] : cases) {
        SCOPED_TRACE(destination.right(40).toStdString());
        paste({"mac/a.txt"}, {}, destination);
        EXPECT_EQ(fixture.coordinator.lastError(), error);
        EXPECT_EQ(shownJobs(), jobs);
        EXPECT_EQ(localTreeOf(path("")), (QStringList{"a file", "dest/", "mac/", "mac/a.txt"}));
        fixture.coordinator.clearCompletedTransfers();
    }

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

TEST_F(LocalCopyTest, AFolderThatTakesNoCopyIsNamedWithTheCauseNotAsTheDevicesFault)
{
    writeFile(path("mac/a.txt"), "a");
    setMode(dest(), 0555);
    if (::access(QFile::encodeName(dest()).constData(), W_OK) == 0) {
        makeWritable(m_temp.path());
        GTEST_SKIP() << "this user writes anywhere (root): run the suite as an unprivileged user for this case";
    }
    paste({"mac/a.txt"});
    makeWritable(m_temp.path());
    EXPECT_EQ(fixture.coordinator.lastError(), QuillbarrowError::localFileFailed("Could not copy a.txt: Permission denied"));
    EXPECT_EQ(shownJobs(), QStringList{"a.txt: failed"});
}

TEST_F(LocalCopyTest, ReadOnlyFoldersAreCopiedAndReplacedByTheirOwner)
{
    // Run as an ordinary user too (the unprivileged ctest entries): root ignores these modes.
    writeFile(path("mac/Locked/a.txt"), "a");
    writeFile(path("mac/Locked/Inner/b.txt"), "b");
    writeFile(dest("Old/Inner/stale.txt"), "stale");
    setMode(path("mac/Locked/a.txt"), 0444);
    for (const QString& folder : {path("mac/Locked/Inner"), path("mac/Locked"), dest("Old/Inner"), dest("Old")}) {
        setMode(folder, 0555);
    }
    writeFile(path("mac/Old/fresh.txt"), "fresh");

    // Copied into an empty place, then over a read-only folder of the same name with Replace.
    paste({"mac/Locked"});
    paste({"mac/Old"}, {answer(Resolution::replace)});

    EXPECT_EQ(shownJobs(), (QStringList{"Locked: completed", "Old: completed"}));
    EXPECT_FALSE(fixture.coordinator.lastError().has_value())
        << fixture.coordinator.lastError()->technicalDetails().toStdString();
    EXPECT_EQ(readFile(dest("Locked/a.txt")), "a");
    EXPECT_EQ(readFile(dest("Locked/Inner/b.txt")), "b");
    EXPECT_EQ(modeOf(dest("Locked")), 0555u) << "the folder's mode is kept, applied after its contents";
    EXPECT_EQ(modeOf(dest("Locked/Inner")), 0555u);
    EXPECT_EQ(modeOf(dest("Locked/a.txt")), 0444u);
    EXPECT_EQ(localTreeOf(dest("Old")), QStringList{"fresh.txt"}) << "the read-only folder was replaced";
    expectNoLeftovers(dest());
    makeWritable(m_temp.path());
}

// A copy takes the source's permission bits less the umask, and never set-user-ID or set-group-ID.
// Run as root, a copy of another user's set-user-ID program would otherwise be one of root's. In a
// set-group-ID folder (a group's shared folder) every folder of the copy keeps the set-group-ID bit
// the system gives it there, so that what is made in it later stays the group's, as with `cp -r`.
TEST_F(LocalCopyTest, CopiesTakeThePermissionBitsLessTheUmaskButNeverSetUserOrGroupID)
{
    // The folders copied into: the umask, the folder's mode, and whether the user copying is
    // outside the folder's group (as root: nobody, in a child process, into a folder of root's).
    const std::tuple<mode_t, mode_t, bool> folders[] = {
        {022, 0755, false}, {077, 0755, false}, {022, 02775, false}, {022, 02777, true}};
    // The item, its mode, and its copy's in each of those folders. A mode the copy must change is
    // set by a user outside the folder's group, so the system clears the bit there (`cp -r` too).
    const std::tuple<QString, mode_t, std::array<mode_t, 4>> items[] = {
        {"Kit", 07777, {01755, 01700, 03755, 03755}},     {"Kit/uid", 04755, {0755, 0700, 0755, 0755}},
        {"Kit/gid", 02755, {0755, 0700, 0755, 0755}},     {"Kit/shared", 02775, {0755, 0700, 02755, 02755}},
        {"Kit/open.txt", 0666, {0644, 0600, 0644, 0644}}, {"Kit/Locked", 0555, {0555, 0500, 02555, 0555}}};
    for (const char* file : {"uid", "gid", "open.txt"}) {
        writeFile(path("mac/Kit/") + file, "#!/bin/sh\n");
    }
    QDir().mkpath(path("mac/Kit/shared"));
    QDir().mkpath(path("mac/Kit/Locked"));
    for (const auto& [name, mode, copied] : items) {
        const QByteArray source = QFile::encodeName(path("mac/" + name));
        ASSERT_TRUE(::geteuid() != 0 || ::chown(source.constData(), 65534, 65534) == 0) << "owned by nobody";
        setMode(path("mac/" + name), mode);
        ASSERT_EQ(modeOf(path("mac/" + name)), mode);
    }
    setMode(m_temp.path(), 0755);
    for (std::size_t row = 0; row < std::size(folders); ++row) {
        const auto& [mask, folderMode, outsider] = folders[row];
        if (outsider && ::geteuid() != 0) {
            continue; // only root makes a folder of a group its user is not in
        }
        const QString into = path(QString::number(mask, 8) + "-" + QString::number(folderMode, 8));
        QDir().mkpath(into);
        setMode(into, folderMode);
        const mode_t before = ::umask(mask);
        if (outsider) {
            EXPECT_TRUE(inKilledProgram([&] {
                const bool nobody =
                    ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
                killedNow(nobody && !LocalFileOperations::copyItem(path("mac/Kit"), into + "/Kit", false));
            }));
        } else {
            paste({"mac/Kit"}, {}, into);
        }
        ::umask(before);
        for (const auto& [name, mode, copied] : items) {
            EXPECT_EQ(modeOf(into + "/" + name), copied.at(row))
                << name.toStdString() << " " << into.toStdString();
        }
    }
    makeWritable(m_temp.path());
}

// Whoever may write the folder could put something at a name being removed between the look at
// it and the opening up: only the folder looked at is ever opened up and emptied.
TEST(LocalFolder, RemovalOpensUpOnlyTheFolderItCheckedNeverWhatIsPutAtItsName)
{
    // What is put at the name ("" for nothing): a link to it, else it moved there.
    const std::tuple<const char*, QString, bool> cases[] = {
        {"nothing put there", "", false},
        {"a link to a read-only folder", "victim", true},
        {"a link to a read-only file", "victim.txt", true},
        {"another read-only folder moved there", "victim", false},
    };
    for (const auto& [name, victim, link] : cases) {
        SCOPED_TRACE(name);
        QTemporaryDir temp;
        const QString doomed = temp.filePath("holder/doomed"), put = temp.filePath(victim);
        const QString folder = link ? temp.filePath("victim") : doomed; // where the victim folder ends up
        writeFile(doomed + "/copied.txt", "copied");
        writeFile(temp.filePath("victim/keep.txt"), "the user's");
        writeFile(temp.filePath("victim.txt"), "the user's");
        setMode(doomed, 0500);
        setMode(temp.filePath("victim.txt"), 0400);
        LocalFolder::setRemovalHookForTesting([&](const QString& entry) {
            if (entry == "doomed" && !victim.isEmpty()) {
                ASSERT_TRUE(QDir().rename(doomed, doomed + "-moved"));
                ASSERT_TRUE(link ? QFile::link(put, doomed) : QDir().rename(put, doomed));
                setMode(folder, 0500); // only now: an ordinary user cannot move a read-only folder
            }
        });
        EXPECT_EQ(LocalFolder::open(temp.filePath("holder")).removeEntry("doomed"), victim.isEmpty());
        LocalFolder::setRemovalHookForTesting({});
        EXPECT_EQ(modeOf(temp.filePath("victim.txt")), 0400u);
        if (victim == "victim") {
            EXPECT_EQ(modeOf(folder), 0500u);
            EXPECT_EQ(readFile(folder + "/keep.txt"), "the user's");
        }
        EXPECT_EQ(QFileInfo::exists(doomed), !victim.isEmpty());
        makeWritable(temp.path());
    }
}

TEST(LocalFileOperations, PuttingAnItemInPlaceNeverOverwritesAndNeverLosesTheOldOne)
{
    struct Case {
        const char* name;
        bool replace;
        // Returns the errno for a rename of the staged (new) item, of the old item aside, and of
        // the old item back; 0 lets it happen.
        int newIntoPlace, oldAside, oldBack;
        // Something appears at the target just before the new item is renamed there.
        bool appearsMeanwhile;
        QString reason;
        QByteArray left;
        bool oldStranded;
        bool withoutNoReplace = false; // the disk refuses the rename that never replaces (EINVAL)
    };
    const QList<Case> cases{
        {"without Replace, an item already there", false, 0, 0, 0, false, std::strerror(EEXIST), "old", false},
        {"without Replace, an item that appears at the last moment", false, 0, 0, 0, true, std::strerror(EEXIST),
         "appeared", false},
        {"without Replace, an item already there, no no-replace rename", false, 0, 0, 0, false,
         std::strerror(EEXIST), "old", false, true},
        {"without Replace, an item that appears, no no-replace rename", false, 0, 0, 0, true,
         std::strerror(EEXIST), "appeared", false, true},
        {"with Replace, the new item cannot take the old one's place", true, EIO, 0, 0, false, std::strerror(EIO), "old",
         false},
        {"with Replace, the old item cannot be put back either", true, EIO, 0, EIO, false, std::strerror(EIO),
         "<missing>", true},
    };
    for (const bool download : {false, true}) {
        for (const Case& test : cases) {
            SCOPED_TRACE(std::string(download ? "download: " : "copy: ") + test.name);
            QTemporaryDir temp;
            const QString target = temp.filePath("dest/a.txt");
            writeFile(target, "old");
            const QString staging = DownloadStaging::stagingPath(target);
            writeFile(download ? staging : temp.filePath("mac/a.txt"), "new");

            RenameHookScope hook([&](const QString& from, const QString& to) {
                if (from == target) {
                    return test.oldAside;
                }
                if (to != target) {
                    return 0;
                }
                if (from.endsWith(".replaced")) {
                    return test.oldBack;
                }
                if (test.appearsMeanwhile) {
                    QFile::remove(target);
                    writeFile(target, "appeared");
                }
                return test.newIntoPlace;
            });
            LocalFolder::setNoReplaceRefusalForTesting(test.withoutNoReplace ? EINVAL : 0);
            const std::optional<QString> failure =
                download ? DownloadStaging::place(staging, target, test.replace)
                         : LocalFileOperations::copyItem(temp.filePath("mac/a.txt"), target, test.replace);
            LocalFolder::setNoReplaceRefusalForTesting(0);

            ASSERT_TRUE(failure.has_value());
            const QString lead =
                download ? "Could not save a.txt in " + temp.filePath("dest") + ": " : "Could not copy a.txt: ";
            EXPECT_TRUE(failure->startsWith(lead + test.reason)) << failure->toStdString();
            EXPECT_EQ(readFile(target), test.left);
            const QStringList left = entriesOf(temp.filePath("dest"));
            if (test.oldStranded) {
                // The message says where the user's item now is, and it is there intact.
                ASSERT_EQ(left.size(), 1);
                const QString stranded = temp.filePath("dest/" + left.front());
                EXPECT_TRUE(failure->endsWith(". The replaced a.txt could not be put back and is now at " + stranded))
                    << failure->toStdString();
                EXPECT_EQ(readFile(stranded), "old");
            } else {
                EXPECT_EQ(left, QStringList{"a.txt"}) << "nothing staged or set aside is left";
            }
        }
    }
}
