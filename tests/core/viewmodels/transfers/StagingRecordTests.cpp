#include "CoordinatorHarness.h"
#include "viewmodels/transfers/LocalFileOperations.h"
#include "viewmodels/transfers/LocalFolder.h"
#include "viewmodels/transfers/StagingLock.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Note = StagingRecord::Note;

namespace quillbarrow {
void PrintTo(const StagingRecord::Note& note, std::ostream* out)
{
    *out << note.item.device << ' ' << note.item.inode << ' ' << note.item.born << " gen "
         << (note.generation ? std::to_string(*note.generation) : "-") << " in " << note.folder.inode << ' '
         << note.name.toStdString();
}
} // namespace quillbarrow

namespace {

// A note of a staging item with the inode `inode` in the folder with the inode 2.
Note noteOf(quint64 inode)
{
    return Note{{1, inode, 7}, std::nullopt, {1, 2, 7}, ".quillbarrow-" + QByteArray::number(inode) + ".partial"};
}

// Runs `call` on a thread of its own and waits for it; when it is still waiting on what stands at
// `file` (a pipe, opened to wait for the other end) after some seconds, the test fails by name and
// the pipe is opened from both ends once, so that the call ends.
void callNotWaitingOn(const QString& file, const std::function<void()>& call)
{
    std::packaged_task<void()> task(call);
    std::future<void> done = task.get_future();
    std::thread running(std::move(task));
    if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the call waits on " << file.toStdString();
        for (const int flags : {O_WRONLY, O_RDONLY}) {
            if (const int end = ::open(QFile::encodeName(file).constData(), flags | O_NONBLOCK); end >= 0) {
                ::close(end);
            }
        }
    }
    running.join();
}

// `program` with `arguments`; its output, or none when it fails.
std::optional<QString> ran(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// The disk a sweep runs on: the temporary folder's, as it is or as one that keeps no birth times,
// or neither those nor inode generations; or a loop disk's.
enum class Disk { own, ownWithoutBirthTimes, ownWithNeither, ext4SmallInodes, exfatThroughFuse };

// A small disk that keeps no birth times, made in `image` on a loop device and mounted at `folder`
// while it lives: ext4 with 128-byte inodes, or exFAT through FUSE. Root only; otherwise, or
// without the tools, `whyNot` says why.
struct LoopDisk {
    LoopDisk(Disk kind, const QString& image, QString at)
        : folder(std::move(at)), ext4(kind == Disk::ext4SmallInodes)
    {
        QFile made(image);
        if (::geteuid() != 0) {
            whyNot = "mounting a disk needs root";
        } else if (!made.open(QIODevice::WriteOnly) || !made.resize(16 << 20) ||
                   !ran(ext4 ? "mkfs.ext4" : "mkfs.exfat",
                        ext4 ? QStringList{"-q", "-F", "-I", "128", image} : QStringList{image})) {
            whyNot = "the disk image could not be made (mkfs.ext4 or mkfs.exfat missing?)";
        } else if ((device = ran("losetup", {"-f", "--show", image}).value_or(QString())).isEmpty() ||
                   !QDir().mkpath(folder) || !mount()) {
            whyNot = "the disk could not be mounted (losetup, mount, mount.exfat-fuse or /dev/fuse missing?)";
        }
    }
    ~LoopDisk()
    {
        if (mounted) {
            ran("umount", {"-l", folder});
        }
        if (!device.isEmpty()) {
            ran("losetup", {"-d", device});
        }
    }
    LoopDisk(const LoopDisk&) = delete;

    bool mount()
    {
        mounted = ran(ext4 ? "mount" : "mount.exfat-fuse",
                      ext4 ? QStringList{"-t", "ext4", device, folder} : QStringList{device, folder})
                      .has_value();
        return mounted;
    }
    // Unmounts the disk and mounts it again, as a stick pulled out and put back in is.
    bool mountAnew() { return ran("umount", {folder}) && (mounted = false, mount()); }

    const QString folder;
    const bool ext4;
    QString device, whyNot;
    bool mounted = false;
};

quint64 inodeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

// A record that is not a plain file of the user's is neither read nor written, and nothing waits on
// it: with a pipe at its name every paste waited for a writer that never came.
TEST(StagingRecord, ARecordThatIsNotAPlainFileOfTheUsersIsNeitherReadNorWrittenAndNothingWaitsOnIt)
{
    QTemporaryDir temp;
    const QByteArray noted = "+ 1 5 7\n"; // an item a record of the user's would vouch for
    const std::tuple<const char*, std::function<bool(const QString&)>> cases[] = {
        {"a pipe",
         [](const QString& file) { return ::mkfifo(QFile::encodeName(file).constData(), 0600) == 0; }},
        {"a folder", [](const QString& file) { return QDir().mkpath(file); }},
        {"a link to a record of the user's",
         [&](const QString& file) {
             return (writeFile(file + ".real", noted), QFile::link(file + ".real", file));
         }},
        // Only root can give a file away; an unprivileged run passes over the row.
        {"a file of another user's",
         [&](const QString& file) {
             writeFile(file, noted);
             return ::chown(QFile::encodeName(file).constData(), 65534, 65534) == 0 || ::geteuid() != 0;
         }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        const QString file = temp.filePath(QString("%1/staging-items").arg(name));
        QDir().mkpath(QFileInfo(file).path());
        ASSERT_TRUE(make(file));
        if (QFileInfo(file).ownerId() == ::geteuid() && QFileInfo(file).isFile() && !QFileInfo(file).isSymLink()) {
            continue;
        }
        const QByteArray before = QFileInfo(file).isFile() ? readFile(file) : QByteArray();
        StagingRecord record(file);
        QList<Note> known{noteOf(0)};
        bool added = true;
        callNotWaitingOn(file, [&] {
            known = record.known();
            added = record.add(noteOf(1));
            record.remove(noteOf(1));
        });
        EXPECT_EQ(known, QList<Note>());
        EXPECT_FALSE(added);
        if (QFileInfo(file).isFile()) {
            EXPECT_EQ(readFile(file), before) << "never written";
        }
    }
}

// The record is the user's alone and stays small however many items transfers note and drop, also
// while other running copies of the program have it open to note in, and so does what a reading at
// a paste's start reads; what the others note meanwhile is not lost to a rewrite.
TEST(StagingRecord, StaysSmallHoweverManyRunningCopiesOfTheProgramNoteInIt)
{
    enum class Beside { nothing, secondRecord, secondProgram };
    for (const Beside beside : {Beside::nothing, Beside::secondRecord, Beside::secondProgram}) {
        SCOPED_TRACE(beside == Beside::nothing        ? "alone"
                     : beside == Beside::secondRecord ? "beside a second record holding the file open"
                                                      : "beside a second running copy of the program");
        QTemporaryDir temp;
        StagingRecord record(temp.filePath("state/staging-items"));
        std::optional<StagingRecord> second;
        int ended[2] = {-1, -1}; // the second program runs until the write end is closed
        QList<Note> others;      // the other's items, still being written
        if (beside == Beside::secondRecord) {
            second.emplace(record.file());
            others.append(noteOf(0));
            ASSERT_TRUE(second->add(noteOf(0)));
        } else if (beside == Beside::secondProgram) {
            others.append(noteOf(0));
            ASSERT_EQ(::pipe(ended), 0);
            const pid_t child = ::fork();
            if (child == 0) {
                StagingRecord itsOwn(record.file());
                char byte = 0;
                ::close(ended[1]);
                ::_exit(itsOwn.add(noteOf(0)) && ::read(ended[0], &byte, 1) == 0 ? 0 : 1);
            }
            ::close(ended[0]);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !record.known().isEmpty(); }, 10'000));
        }
        const auto ending = qScopeGuard([&] {
            if (ended[1] >= 0) {
                ::close(ended[1]);
                int status = 0;
                ::wait(&status);
            }
        });
        qint64 largest = 0;
        for (quint64 inode = 1; inode <= 10'000; ++inode) {
            ASSERT_TRUE(record.add(noteOf(inode)));
            record.remove(noteOf(inode));
            largest = std::max(largest, QFileInfo(record.file()).size());
            if (second && inode % 500 == 0) { // noted in whatever file the rewrites left it
                others.append(noteOf(1'000'000 + inode));
                ASSERT_TRUE(second->add(others.back()));
            }
            if (inode % 5'000 == 0) {
                ASSERT_EQ(record.known(), others) << "after " << inode << " notes";
            }
        }
        EXPECT_LE(largest, StagingRecord::growthBeforeRewrite + 4096) << "what a paste's reading reads";
        EXPECT_EQ(record.known(), others);
        EXPECT_LE(readFile(record.file()).count('\n'), 2 * others.size() + 256) << "rewritten at the reading";
        if (beside == Beside::nothing) {
            EXPECT_EQ(readFile(record.file()), QByteArray()) << "nothing left to note";
        }
        EXPECT_FALSE(QFile::permissions(record.file()) & (QFile::ReadGroup | QFile::ReadOther))
            << "the user's alone";
    }
}

// What the record reads of its file: notes an older program wrote (the item alone) beside its own,
// an older program's drop of an item dropping every note of it and this program's only the note it
// repeats; and a line torn by a crash (or a full disk) as it was written ends before the next note.
TEST(StagingRecord, ReadsOlderProgramsNotesBesideItsOwnAndALineTornByACrashSwallowsNoNoteAfterIt)
{
    const QByteArray older = "+ 1 3 7\n", olderDrop = "- 1 3 7\n";
    const QByteArray own = "+ 1 3 7 - 1 2 7 .quillbarrow-3.partial\n", ownDrop = "-" + own.mid(1);
    const QByteArray fourth = "+ 1 4 7 - 1 2 7 .quillbarrow-4.partial\n";
    const Note olderNote{{1, 3, 7}, std::nullopt, {}, {}};
    const QList<Note> added{noteOf(5), noteOf(6)}, fourToSix{noteOf(4), noteOf(5), noteOf(6)};
    // The file's text, the notes then added, and what is read.
    const std::tuple<const char*, QByteArray, QList<Note>, QList<Note>> cases[] = {
        {"an older note", older, {}, {olderNote}},
        {"an older note and this program's of the same item", older + own, {}, {olderNote, noteOf(3)}},
        {"an older note dropped", older + olderDrop, {}, {}},
        {"this program's note dropped by an older program", own + olderDrop, {}, {}},
        {"an older note left by this program's drop", older + own + ownDrop, {}, {olderNote}},
        {"a note torn in its folder", fourth + "+ 1 3 7 - 1 2", added, fourToSix},
        {"a note torn after its sign", fourth + "+", added, fourToSix},
        {"a drop torn in its name", fourth + "- 1 4 7 - 1 2 7 .quillbar", added, fourToSix},
    };
    for (const auto& [name, text, then, known] : cases) {
        SCOPED_TRACE(name);
        QTemporaryDir temp;
        StagingRecord record(temp.filePath("staging-items"));
        writeFile(record.file(), text);
        for (const Note& note : then) {
            ASSERT_TRUE(record.add(note));
        }
        EXPECT_EQ(record.known(), known);
    }
}

// Killed transfers whose items are never swept leave notes for good: the record keeps the newest
// maximumItems of them and no more, in its file too.
TEST(StagingRecord, KeepsAtMostItsMaximumHoweverManyStaleNotes)
{
    QTemporaryDir temp;
    StagingRecord record(temp.filePath("staging-items"));
    const qsizetype noted = StagingRecord::maximumItems + 500;
    for (quint64 inode = 1; inode <= quint64(noted); ++inode) {
        ASSERT_TRUE(record.add(noteOf(inode)));
    }
    const QList<Note> known = record.known();
    ASSERT_EQ(known.size(), StagingRecord::maximumItems);
    EXPECT_EQ(known.front(), noteOf(501));
    EXPECT_EQ(known.back(), noteOf(quint64(noted)));
    const QByteArray rewritten = readFile(record.file());
    EXPECT_EQ(rewritten.count('\n'), StagingRecord::maximumItems);
    // A line as older programs began theirs, then what tells the item on a disk without birth times.
    EXPECT_TRUE(rewritten.startsWith("+ 1 501 7 - 1 2 7 .quillbarrow-501.partial\n"));
}

// On a disk that keeps no birth time an inode number comes back: ext4 with 128-byte inodes gives a
// removed leftover's to the next new item, exFAT through FUSE numbers afresh each time it is
// mounted. The sweep removes an item only when every part of its note matches and the disk cannot
// have given the number to another item since (a birth time or an inode generation says so); where
// nothing says so, the item stays, whatever it is.
TEST(StagingRecord, TheSweepRemovesOnlyAnItemItsNoteTellsFromEveryOther)
{
    enum class Then {
        nothing,
        renamedToAnotherStagingName,
        movedInFromAnotherFolder,
        notedByAnOlderProgram,
        removedAndItsInodeGivenToTheUsersFolderNamedAsIt,
        mountedAnewAndItsInodeGivenToTheUsersFolderNamedAsIt,
    };
    QTemporaryDir temp;
    writeFile(temp.filePath("photos/one.jpg"), "the copied photo");
    const auto keptAsTheDiskDoes = qScopeGuard([] { StagingRecord::setDiskKeepsForTesting(true, true); });
    // Whether the temporary folder's disk gives inode generations (ext4 does, tmpfs not).
    const int probe = ::open(QFile::encodeName(temp.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool generations = StagingRecord::noteOf({}, probe, probe, "x").generation.has_value();
    ::close(probe);
    struct Case {
        const char* name;
        Disk disk;
        Then then;
        bool removed;
    };
    const Case cases[] = {
        {"the leftover", Disk::own, Then::nothing, true},
        {"the leftover renamed to another staging name", Disk::own, Then::renamedToAnotherStagingName, false},
        {"the leftover moved in from another folder", Disk::own, Then::movedInFromAnotherFolder, false},
        {"the leftover as an older program noted it", Disk::own, Then::notedByAnOlderProgram, true},
        {"the leftover, no birth times", Disk::ownWithoutBirthTimes, Then::nothing, generations},
        {"the leftover as an older program noted it, no birth times", Disk::ownWithoutBirthTimes,
         Then::notedByAnOlderProgram, false},
        {"the leftover, no birth times nor generations", Disk::ownWithNeither, Then::nothing, false},
        {"the leftover on ext4 with 128-byte inodes", Disk::ext4SmallInodes, Then::nothing, true},
        {"the user's folder given the removed leftover's inode and name, on ext4 with 128-byte inodes",
         Disk::ext4SmallInodes, Then::removedAndItsInodeGivenToTheUsersFolderNamedAsIt, false},
        {"the leftover on exFAT through FUSE", Disk::exfatThroughFuse, Then::nothing, false},
        {"the user's folder given the leftover's inode when the exFAT disk was mounted anew, and its name",
         Disk::exfatThroughFuse, Then::mountedAnewAndItsInodeGivenToTheUsersFolderNamedAsIt, false},
    };
    QStringList skipped;
    int row = 0;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QString place = temp.filePath(QString("row-%1").arg(++row));
        std::unique_ptr<LoopDisk> disk;
        if (test.disk >= Disk::ext4SmallInodes) {
            disk = std::make_unique<LoopDisk>(test.disk, place + ".img", place);
            if (!disk->whyNot.isEmpty()) {
                skipped.append(QString(test.name) + ": " + disk->whyNot);
                continue;
            }
        }
        StagingRecord::setDiskKeepsForTesting(test.disk != Disk::ownWithoutBirthTimes &&
                                                  test.disk != Disk::ownWithNeither,
                                              test.disk != Disk::ownWithNeither);
        const QString dest = place + "/dest";
        const QString made = test.then == Then::movedInFromAnotherFolder ? place + "/other" : dest;
        QDir().mkpath(dest);
        QDir().mkpath(made);
        auto record = std::make_shared<StagingRecord>(temp.filePath(QString("state-%1/staging-items").arg(row)));
        ASSERT_TRUE(inKilledProgram([&] { // killed copying a folder
            killedNow(
                !LocalFileOperations::stageCopy(temp.filePath("photos"), LocalFolder::open(made), {}, record).failure);
        }));
        const QString leftover = entriesOf(made).value(0);
        ASSERT_TRUE(leftover.endsWith(".copying"));
        const quint64 inode = inodeOf(made + "/" + leftover);
        QString there = leftover; // the name the sweep finds in `dest`
        const QString users = dest + "/photos2";
        writeFile(users + "/mine.jpg", "the user's");
        switch (test.then) {
        case Then::nothing:
            break;
        case Then::renamedToAnotherStagingName:
            there = LocalFileOperations::hiddenName(".copying");
            ASSERT_TRUE(QDir(dest).rename(leftover, there));
            break;
        case Then::movedInFromAnotherFolder:
            ASSERT_TRUE(QDir().rename(made + "/" + leftover, dest + "/" + leftover));
            break;
        case Then::notedByAnOlderProgram: {
            const std::optional<StagingRecord::Identity> item =
                StagingRecord::identityAt(LocalFolder::open(dest).descriptor(), QFile::encodeName(leftover));
            ASSERT_TRUE(item);
            writeFile(record->file(),
                      QString("+ %1 %2 %3\n").arg(item->device).arg(item->inode).arg(item->born).toUtf8());
            break;
        }
        case Then::removedAndItsInodeGivenToTheUsersFolderNamedAsIt:
            ASSERT_TRUE(QDir(dest + "/" + leftover).removeRecursively()) << "by someone who may write to the folder";
            QDir(users).removeRecursively();
            writeFile(users + "/mine.jpg", "the user's");
            ASSERT_EQ(inodeOf(users), inode) << "the disk gives the inode to the next new folder";
            ASSERT_TRUE(QDir(dest).rename("photos2", leftover));
            break;
        case Then::mountedAnewAndItsInodeGivenToTheUsersFolderNamedAsIt:
            ASSERT_TRUE(disk->mountAnew());
            ASSERT_NE(inodeOf(dest), 0U);
            ASSERT_EQ(inodeOf(users), inode) << "the disk numbers items in the order they are looked up";
            ASSERT_TRUE(QDir(dest).rename(leftover, "moved away"));
            ASSERT_TRUE(QDir(dest).rename("photos2", leftover));
            break;
        }
        const bool handed = test.then == Then::removedAndItsInodeGivenToTheUsersFolderNamedAsIt ||
                            test.then == Then::mountedAnewAndItsInodeGivenToTheUsersFolderNamedAsIt;
        StagingLock::removeStale(LocalFolder::open(dest), *record);
        EXPECT_EQ(QFileInfo::exists(dest + "/" + there), !test.removed);
        if (handed) {
            EXPECT_EQ(readFile(dest + "/" + leftover + "/mine.jpg"), "the user's");
        } else {
            EXPECT_EQ(readFile(dest + "/photos2/mine.jpg"), "the user's");
        }
    }
    if (!skipped.isEmpty()) {
        GTEST_SKIP() << "rows passed over: " << skipped.join("; ").toStdString();
    }
}
