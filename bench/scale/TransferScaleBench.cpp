// How the transfer engine scales with the number of files in one paste. No device is needed: the
// coordinator works against a pretend device whose operations run on a worker thread, as the
// libmtp session's do, so the figures show the coordinator's own cost per file.
//
//   quillbarrow_scale_bench [--sizes 1000,8000,32000] [--rounds N] [--directions up,down,copy,disks]
//                           [--copies 2000] [--copied-folders 500] [--between-disks 4000]
//                           [--other-disk PATH]
//
// For each size N and direction, one paste of N small files:
//   up    a local folder of N files pasted into the device's storage root (pasteIntoDevice);
//   down  a device folder of N files pasted into an empty local folder (pasteIntoLocal).
// It prints the planning time (from the paste until the first file reaches the device session),
// the whole paste, the time per file, and the main thread's longest stall during the paste: the
// largest gap between the ticks of a 5 ms timer on the main thread.
//   copy  between local folders: the copies' small files, selected one by one, pasted into an
//         empty folder, then again onto those copies (each rewritten first with other bytes of
//         the same size, as an older copy would be), the one question answered Replace for all;
//         the same for the copied folders, each holding one small file. In the temporary folder
//         and, when QUILLBARROW_CASE_FOLDING_FOLDER names one (tests/support/run-on-case-
//         folding-disk.sh mounts it), on a disk that ignores case.
//   disks a folder of small files (4,000) pasted into the temporary folder from a folder on
//         the same disk and from one on another disk (--other-disk, else the first of /var/tmp,
//         the home folder, /tmp and /dev/shm that lies on another one), each beside `cp -r` of
//         the same folder. Between two disks the kernel cannot copy a file by itself: the copy
//         moves the bytes through a buffer of its own.
// Every figure is the median of the rounds. Each paste is checked: every job completed, every
// file arrived (a replaced one with the new bytes, nothing left beside it). Exits 1 when
// something fails (the reason on stderr). Nothing here asserts a time.

#include "../BenchFailure.h"
#include "../BenchMain.h"
#include "../ChildProcess.h"
#include "../CoordinatorRig.h"
#include "../Samples.h"
#include "../StallMeter.h"
#include "WorkerMockSession.h"

#include "async/Allocator.h"
#include "domain/QuillbarrowError.h"
#include "logging/AppLogger.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace quillbarrow {

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    QList<int> sizes{1'000, 8'000, 32'000};
    int rounds = 1;
    bool up = true;
    bool down = true;
    bool copy = true;
    bool disks = true;
    int copiedFiles = 2'000;
    int copiedFolders = 500;
    int betweenDisks = 4'000;
    // A folder on another disk than the temporary folder; found when empty.
    QString otherDisk;
};

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

double secondsBetween(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double>(end - start).count();
}

const StorageID storageID(QStringLiteral("bench-internal"));

StorageRoot benchStorage()
{
    return StorageRoot(storageID, QStringLiteral("Internal shared storage"), 256'000'000'000LL, 141'000'000'000LL);
}

QString fileName(int index)
{
    return QStringLiteral("IMG_%1.jpg").arg(index, 6, 10, QLatin1Char('0'));
}

QString folderName(int files)
{
    return QStringLiteral("Camera-%1").arg(files);
}

QString albumName(int index)
{
    return QStringLiteral("Album-%1").arg(index, 6, 10, QLatin1Char('0'));
}

// The 16 bytes of the small file `index`, and those of an older copy of it: the same size, so
// that nothing but the item itself tells the two apart.
QByteArray fileBytes(int index)
{
    return QByteArray::number(index).rightJustified(16, '0');
}

QByteArray olderBytes()
{
    return QByteArrayLiteral("an older copy...");
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        throw BenchFailure(QStringLiteral("cannot write ") + path);
    }
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The device number of the file system that holds `path`; nothing when it cannot be read.
std::optional<dev_t> deviceOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return info.st_dev;
}

QString fileSystemOf(const QString& path)
{
    return QString::fromUtf8(QStorageInfo(path).fileSystemType());
}

// A folder to write into on another disk than `here`: `chosen` when given (and it is one), else
// the first of a few usual places that is.
std::optional<QString> otherDiskThan(const QString& here, const QString& chosen)
{
    const std::optional<dev_t> device = deviceOf(here);
    const QStringList candidates = chosen.isEmpty()
                                       ? QStringList{QStringLiteral("/var/tmp"), QDir::homePath(),
                                                     QStringLiteral("/tmp"), QStringLiteral("/dev/shm")}
                                       : QStringList{chosen};
    for (const QString& candidate : candidates) {
        const std::optional<dev_t> other = deviceOf(candidate);
        if (other && device && *other != *device && QFileInfo(candidate).isWritable()) {
            return candidate;
        }
    }
    if (!chosen.isEmpty()) {
        throw BenchFailure(
            chosen + QStringLiteral(" is not a folder this user may write on another disk than ") + here);
    }
    return std::nullopt;
}

// A folder of `files` small files at `folder`.
void makeSmallFiles(const QString& folder, int files)
{
    if (!QDir().mkpath(folder)) {
        throw BenchFailure(QStringLiteral("cannot create ") + folder);
    }
    for (int index = 0; index < files; ++index) {
        writeBytes(folder + QLatin1Char('/') + fileName(index), fileBytes(index));
    }
}

// `copy` holds the small files of makeSmallFiles and nothing else.
void requireSmallFiles(const QString& copy, int files, const QString& what)
{
    const QStringList entries = QDir(copy).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (entries.size() != files) {
        throw BenchFailure(QStringLiteral("%1: %2 holds %3 entries, expected %4")
                               .arg(what, copy)
                               .arg(entries.size())
                               .arg(files));
    }
    for (int index = 0; index < files; ++index) {
        if (readBytes(copy + QLatin1Char('/') + fileName(index)) != fileBytes(index)) {
            throw BenchFailure(
                QStringLiteral("%1: %2 does not hold the copied bytes").arg(what, fileName(index)));
        }
    }
}

struct Figures {
    Samples planning;
    Samples paste;
    Samples stall;
};

struct Measured {
    double planning = 0;
    double paste = 0;
    double stall = 0;
};

// Copies between local folders on one disk: into an empty folder, and Replace for all onto them.
struct CopyFigures {
    Samples empty;
    Samples emptyStall;
    Samples replace;
    Samples replaceStall;
};

class ScaleBench {
public:
    explicit ScaleBench(Options options) : m_options(std::move(options)) {}

    QCoro::Task<> run();

private:
    QCoro::Task<Measured> upload(int files, QString source);
    QCoro::Task<Measured> download(int files);
    // A local folder of `files` small files.
    QString makeLocalFolder(int files);
    // `count` local items, small files or folders holding one small file each; their addresses.
    QList<QUrl> makeLocalItems(int count, bool folders);
    // One round of the copy rows for those items into `disk`.
    QCoro::Task<> copyRound(QList<QUrl> items, bool folders, QString disk, CopyFigures* figures);
    // One paste of `items` into `destination` between local folders, checked.
    QCoro::Task<Measured> copy(QList<QUrl> items, bool folders, QString destination, bool replace);
    // Every item arrived in `destination` with its new bytes, and nothing is beside them.
    static void requireCopies(const QList<QUrl>& items, bool folders, const QString& destination,
                              const QString& what);
    // The copies in `destination` become older ones, of the same size.
    static void ageCopies(const QList<QUrl>& items, bool folders, const QString& destination);
    QCoro::Task<> runCopies();
    // A folder of small files pasted into the temporary folder from the same disk and from
    // another one, each beside `cp -r`.
    QCoro::Task<> runBetweenDisks();

    Options m_options;
    QTemporaryDir m_work;
    CoordinatorRig m_rig{m_work.filePath(QStringLiteral("opened-files"))};
    bench::StallMeter m_meter{5};
};

QString ScaleBench::makeLocalFolder(int files)
{
    const QString folder = m_work.filePath(QStringLiteral("sources/") + folderName(files));
    if (!QDir().mkpath(folder)) {
        throw BenchFailure(QStringLiteral("cannot create ") + folder);
    }
    for (int index = 0; index < files; ++index) {
        QFile file(folder + QLatin1Char('/') + fileName(index));
        const QByteArray bytes = QByteArray::number(index).rightJustified(16, '0');
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            throw BenchFailure(QStringLiteral("cannot write ") + file.fileName());
        }
    }
    return folder;
}

QList<QUrl> ScaleBench::makeLocalItems(int count, bool folders)
{
    const QString kind = folders ? QStringLiteral("folders") : QStringLiteral("files");
    const QString folder = m_work.filePath(QStringLiteral("copied/%1-%2").arg(kind).arg(count));
    QList<QUrl> items;
    items.reserve(count);
    for (int index = 0; index < count; ++index) {
        QString item = folder + QLatin1Char('/') + (folders ? albumName(index) : fileName(index));
        if (folders && !QDir().mkpath(item)) {
            throw BenchFailure(QStringLiteral("cannot create ") + item);
        }
        if (!folders && index == 0 && !QDir().mkpath(folder)) {
            throw BenchFailure(QStringLiteral("cannot create ") + folder);
        }
        writeBytes(folders ? item + QLatin1Char('/') + fileName(index) : item, fileBytes(index));
        items.append(QUrl::fromLocalFile(item));
    }
    return items;
}

void ScaleBench::requireCopies(const QList<QUrl>& items, bool folders, const QString& destination, const QString& what)
{
    const QStringList entries = QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (entries.size() != items.size()) {
        throw BenchFailure(QStringLiteral("%1: the folder holds %2 entries, expected %3")
                               .arg(what)
                               .arg(entries.size())
                               .arg(items.size()));
    }
    for (int index = 0; index < items.size(); ++index) {
        const QString name = QFileInfo(items.at(index).toLocalFile()).fileName();
        const QString file =
            destination + QLatin1Char('/') + name + (folders ? QLatin1Char('/') + fileName(index) : QString());
        if (readBytes(file) != fileBytes(index)) {
            throw BenchFailure(QStringLiteral("%1: %2 does not hold the copied bytes").arg(what, file));
        }
        if (folders && QDir(destination + QLatin1Char('/') + name)
                               .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                               .size() != 1) {
            throw BenchFailure(QStringLiteral("%1: %2 holds more than its file").arg(what, name));
        }
    }
}

void ScaleBench::ageCopies(const QList<QUrl>& items, bool folders, const QString& destination)
{
    for (int index = 0; index < items.size(); ++index) {
        const QString name = QFileInfo(items.at(index).toLocalFile()).fileName();
        writeBytes(destination + QLatin1Char('/') + name + (folders ? QLatin1Char('/') + fileName(index) : QString()),
                   olderBytes());
    }
}

QCoro::Task<Measured> ScaleBench::copy(QList<QUrl> items, bool folders, QString destination, bool replace)
{
    const QString what = QStringLiteral("%1 %2 %3")
                             .arg(replace ? QStringLiteral("Replace all of") : QStringLiteral("copy of"))
                             .arg(items.size())
                             .arg(folders ? QStringLiteral("folders") : QStringLiteral("files"));
    m_rig.clipboard.copyLocal(items);
    if (replace) {
        m_rig.answerForAll = ConflictResolution::replace;
    }
    m_meter.start();
    const Clock::time_point start = Clock::now();
    co_await m_rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(destination), nullptr);
    const Clock::time_point end = Clock::now();
    const double stall = m_meter.stop();
    m_rig.answerForAll.reset();

    m_rig.requireCompleted(what, items.size(), replace ? 1 : 0);
    requireCopies(items, folders, destination, what);
    co_return Measured{0, secondsBetween(start, end), stall};
}

QCoro::Task<> ScaleBench::copyRound(QList<QUrl> items, bool folders, QString disk, CopyFigures* figures)
{
    const QString destination = disk + QStringLiteral("/quillbarrow-scale-copies");
    QDir(destination).removeRecursively();
    if (!QDir().mkpath(destination)) {
        throw BenchFailure(QStringLiteral("cannot create ") + destination);
    }
    const Measured empty = co_await copy(items, folders, destination, false);
    figures->empty.add(empty.paste);
    figures->emptyStall.add(empty.stall);
    ageCopies(items, folders, destination);
    const Measured replaced = co_await copy(items, folders, destination, true);
    figures->replace.add(replaced.paste);
    figures->replaceStall.add(replaced.stall);
    QDir(destination).removeRecursively();
}

QCoro::Task<> ScaleBench::runCopies()
{
    QList<std::pair<QString, QString>> disks{
        {QStringLiteral("temporary folder"), m_work.filePath(QStringLiteral("disk"))}};
    if (const QString caseless = qEnvironmentVariable("QUILLBARROW_CASE_FOLDING_FOLDER"); !caseless.isEmpty()) {
        disks.append({QStringLiteral("disk that ignores case"), caseless});
    }
    struct Row {
        QString disk;
        QString items;
        CopyFigures figures;
    };
    QList<Row> rows;
    for (const bool folders : {false, true}) {
        const int count = folders ? m_options.copiedFolders : m_options.copiedFiles;
        const QList<QUrl> items = makeLocalItems(count, folders);
        for (const auto& [label, disk] : std::as_const(disks)) {
            CopyFigures figures;
            for (int round = 0; round < m_options.rounds; ++round) {
                co_await copyRound(items, folders, disk, &figures);
            }
            const QString named =
                QStringLiteral("%1 %2").arg(count).arg(folders ? QStringLiteral("folders") : QStringLiteral("files"));
            say(QStringLiteral("detail: %1 on the %2: into an empty folder s %3, Replace all s %4")
                    .arg(named, label, figures.empty.listed(3), figures.replace.listed(3)));
            rows.append(Row{label, named, figures});
        }
    }
    say(QStringLiteral("| disk | items | into an empty folder | Replace all onto their copies | Replace all / empty | "
                       "longest main-thread stall |"));
    say(QStringLiteral("|---|---|---|---|---|---|"));
    for (const Row& row : std::as_const(rows)) {
        const double empty = row.figures.empty.median();
        const double replace = row.figures.replace.median();
        say(QStringLiteral("| %1 | %2 | %3 s | %4 s | %5 | %6 / %7 ms |")
                .arg(row.disk, row.items)
                .arg(empty, 0, 'f', 3)
                .arg(replace, 0, 'f', 3)
                .arg(empty > 0 ? replace / empty : 0.0, 0, 'f', 2)
                .arg(row.figures.emptyStall.median(), 0, 'f', 1)
                .arg(row.figures.replaceStall.median(), 0, 'f', 1));
    }
}

QCoro::Task<> ScaleBench::runBetweenDisks()
{
    const int files = m_options.betweenDisks;
    const QString into = m_work.filePath(QStringLiteral("between-disks"));
    const std::optional<QString> other = otherDiskThan(m_work.path(), m_options.otherDisk);
    if (!other) {
        say(QStringLiteral(
                "detail: no folder on another disk than %1 was found (--other-disk names one): the rows "
                "between two disks are left out")
                .arg(m_work.path()));
        co_return;
    }
    QTemporaryDir away(*other + QStringLiteral("/quillbarrow-scale-XXXXXX"));
    if (!away.isValid()) {
        throw BenchFailure(QStringLiteral("cannot create a folder in ") + *other);
    }
    // The same name on both disks, so that both copies make the same entries.
    const QString name = folderName(files);
    const QList<std::pair<QString, QString>> sources{
        {QStringLiteral("the same disk"), m_work.filePath(QStringLiteral("within/") + name)},
        {QStringLiteral("another disk"), away.filePath(name)}};
    for (const auto& [from, source] : sources) {
        makeSmallFiles(source, files);
    }
    if (deviceOf(sources.at(0).second) != deviceOf(m_work.path()) ||
        deviceOf(sources.at(1).second) == deviceOf(m_work.path())) {
        throw BenchFailure(QStringLiteral("the copied folders do not lie on the disks their rows name"));
    }
    say(QStringLiteral(
            "detail: a folder of %1 files of 16 bytes pasted into %2 (%3) from %4 (%5) and from %6 (%7)")
            .arg(files)
            .arg(into, fileSystemOf(m_work.path()), sources.at(0).second, fileSystemOf(sources.at(0).second),
                 sources.at(1).second, fileSystemOf(sources.at(1).second)));
    Samples ours[2], cp[2];
    for (int round = 0; round < m_options.rounds; ++round) {
        // Each round starts with the other disk, so that neither always goes first.
        for (int turn = 0; turn < 2; ++turn) {
            const int side = (round + turn) % 2;
            const QString source = sources.at(side).second;
            const QString what =
                QStringLiteral("copy of %1 files from %2").arg(files).arg(sources.at(side).first);
            QDir(into).removeRecursively();
            if (!QDir().mkpath(into)) {
                throw BenchFailure(QStringLiteral("cannot create ") + into);
            }
            m_rig.clipboard.copyLocal({QUrl::fromLocalFile(source)});
            const Clock::time_point start = Clock::now();
            co_await m_rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(into), nullptr);
            ours[side].add(secondsBetween(start, Clock::now()));
            m_rig.requireCompleted(what);
            requireSmallFiles(into + QLatin1Char('/') + name, files, what);

            QDir(into).removeRecursively();
            QDir().mkpath(into);
            const ChildRun copied =
                runChild({QStringLiteral("cp"), QStringLiteral("-r"), source, into}, m_work.path());
            if (!copied.succeeded()) {
                throw BenchFailure(QStringLiteral("cp -r: ") + copied.errorSummary());
            }
            requireSmallFiles(into + QLatin1Char('/') + name, files, QStringLiteral("cp -r: ") + what);
            cp[side].add(copied.seconds);
        }
    }
    QDir(into).removeRecursively();
    for (int side = 0; side < 2; ++side) {
        say(QStringLiteral("detail: from %1: ours s %2, cp -r s %3")
                .arg(sources.at(side).first, ours[side].listed(3), cp[side].listed(3)));
    }
    say(QStringLiteral(
            "| a folder of %1 files of 16 bytes pasted into %2 | ours | per file | cp -r | ours / cp -r |")
            .arg(files)
            .arg(fileSystemOf(m_work.path())));
    say(QStringLiteral("|---|---|---|---|---|"));
    for (int side = 0; side < 2; ++side) {
        const double mine = ours[side].median();
        const double theirs = cp[side].median();
        say(QStringLiteral("| from %1 (%2) | %3 s | %4 ms | %5 s | %6 |")
                .arg(sources.at(side).first, fileSystemOf(sources.at(side).second))
                .arg(mine, 0, 'f', 3)
                .arg(mine * 1000.0 / files, 0, 'f', 4)
                .arg(theirs, 0, 'f', 3)
                .arg(theirs > 0 ? mine / theirs : 0.0, 0, 'f', 2));
    }
    const double within = ours[0].median();
    const double withinCp = cp[0].median();
    say(QStringLiteral("| between two disks / within one | %1 | | %2 | |")
            .arg(within > 0 ? ours[1].median() / within : 0.0, 0, 'f', 2)
            .arg(withinCp > 0 ? cp[1].median() / withinCp : 0.0, 0, 'f', 2));
}

QCoro::Task<Measured> ScaleBench::upload(int files, QString source)
{
    auto session = std::make_shared<WorkerMockSession>(MockTree({benchStorage()}, {}));
    m_rig.clipboard.copyLocal({QUrl::fromLocalFile(source)});

    m_meter.start();
    const Clock::time_point start = Clock::now();
    co_await m_rig.coordinator.pasteIntoDevice(std::nullopt, storageID, session);
    const Clock::time_point end = Clock::now();
    const double stall = m_meter.stop();

    m_rig.requireCompleted(QStringLiteral("upload of %1 files").arg(files), files);
    const QList<RemoteItem> root = co_await session->children(std::nullopt, storageID);
    if (root.size() != 1 || root.front().name != folderName(files)) {
        throw BenchFailure(QStringLiteral("upload of %1 files: the device's root does not hold the folder alone").arg(files));
    }
    const QList<RemoteItem> sent = co_await session->children(root.front().id, storageID);
    if (sent.size() != files) {
        throw BenchFailure(QStringLiteral("upload of %1 files: the device holds %2").arg(files).arg(sent.size()));
    }
    const std::optional<Clock::time_point> firstTransfer = session->firstTransferStarted();
    co_return Measured{firstTransfer ? secondsBetween(start, *firstTransfer) : 0, secondsBetween(start, end), stall};
}

QCoro::Task<Measured> ScaleBench::download(int files)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const RemoteObjectID folderID(QStringLiteral("folder"));
    const RemoteItem folder(folderID, storageID, std::nullopt, folderName(files), RemoteItemKind::folder, std::nullopt,
                            now, RemotePath(storageID, {folderName(files)}));
    QList<RemoteItem> items{folder};
    items.reserve(files + 1);
    for (int index = 0; index < files; ++index) {
        items.append(RemoteItem(RemoteObjectID(QStringLiteral("file-%1").arg(index)), storageID, folderID,
                                fileName(index), RemoteItemKind::file, 16, now,
                                RemotePath(storageID, {folderName(files), fileName(index)})));
    }
    auto session = std::make_shared<WorkerMockSession>(MockTree({benchStorage()}, items));
    const QString destination = m_work.filePath(QStringLiteral("downloads-%1").arg(files));
    QDir(destination).removeRecursively();
    if (!QDir().mkpath(destination)) {
        throw BenchFailure(QStringLiteral("cannot create ") + destination);
    }
    m_rig.clipboard.copyDevice({folder}, storageID);

    m_meter.start();
    const Clock::time_point start = Clock::now();
    co_await m_rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(destination), session);
    const Clock::time_point end = Clock::now();
    const double stall = m_meter.stop();

    m_rig.requireCompleted(QStringLiteral("download of %1 files").arg(files), files);
    const qsizetype arrived =
        QDir(destination + QLatin1Char('/') + folderName(files)).entryList(QDir::Files | QDir::NoDotAndDotDot).size();
    if (arrived != files) {
        throw BenchFailure(QStringLiteral("download of %1 files: %2 arrived").arg(files).arg(arrived));
    }
    QDir(destination).removeRecursively();
    const std::optional<Clock::time_point> firstTransfer = session->firstTransferStarted();
    co_return Measured{firstTransfer ? secondsBetween(start, *firstTransfer) : 0, secondsBetween(start, end), stall};
}

QCoro::Task<> ScaleBench::run()
{
    if (!m_work.isValid()) {
        throw BenchFailure(QStringLiteral("cannot create a temporary folder"));
    }
    struct Row {
        QString direction;
        int files;
        Figures figures;
    };
    QList<Row> rows;
    for (const int files : m_options.up || m_options.down ? m_options.sizes : QList<int>()) {
        const QString source = m_options.up ? makeLocalFolder(files) : QString();
        Figures up;
        Figures down;
        for (int round = 0; round < m_options.rounds; ++round) {
            if (m_options.up) {
                const Measured measured = co_await upload(files, source);
                up.planning.add(measured.planning);
                up.paste.add(measured.paste);
                up.stall.add(measured.stall);
            }
            if (m_options.down) {
                const Measured measured = co_await download(files);
                down.planning.add(measured.planning);
                down.paste.add(measured.paste);
                down.stall.add(measured.stall);
            }
        }
        for (const auto& [direction, figures] : {std::pair{QStringLiteral("upload"), &up},
                                                 std::pair{QStringLiteral("download"), &down}}) {
            if (figures->paste.isEmpty()) {
                continue;
            }
            say(QStringLiteral("detail: %1 of %2 files: planning s %3, paste s %4, longest stall ms %5")
                    .arg(direction)
                    .arg(files)
                    .arg(figures->planning.listed(3), figures->paste.listed(3), figures->stall.listed(1)));
            rows.append(Row{direction, files, *figures});
        }
        if (!source.isEmpty()) {
            QDir(source).removeRecursively();
        }
    }

    if (!rows.isEmpty()) {
        say(QStringLiteral("| direction | files | planning | whole paste | per file | longest main-thread stall |"));
        say(QStringLiteral("|---|---|---|---|---|---|"));
    }
    for (const Row& row : std::as_const(rows)) {
        const double paste = row.figures.paste.median();
        say(QStringLiteral("| %1 | %2 | %3 s | %4 s | %5 ms | %6 ms |")
                .arg(row.direction)
                .arg(row.files)
                .arg(row.figures.planning.median(), 0, 'f', 3)
                .arg(paste, 0, 'f', 3)
                .arg(paste * 1000.0 / row.files, 0, 'f', 3)
                .arg(row.figures.stall.median(), 0, 'f', 1));
    }
    if (m_options.copy) {
        co_await runCopies();
    }
    if (m_options.disks) {
        co_await runBetweenDisks();
    }
}

[[noreturn]] void usage()
{
    std::fputs(
        "usage: quillbarrow_scale_bench [--sizes N,N,...] [--rounds N] [--directions up,down,copy,disks]\n"
        "                              [--copies N] [--copied-folders N] [--between-disks N]\n"
        "                              [--other-disk PATH]\n"
        "Pastes N small files each way through the transfer coordinator and a pretend device\n"
        "(default sizes 1000,8000,32000; 1 round; every direction), and copies files and\n"
        "folders between local folders, into an empty one and Replace for all onto them\n"
        "(default 2000 files, 500 folders), and a folder of small files (default 4000) into\n"
        "the temporary folder from the same disk and from another one (PATH, else found).\n",
        stderr);
    std::exit(2);
}

Options parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString& argument = arguments.at(index);
        if (index + 1 >= arguments.size()) {
            usage();
        }
        const QString value = arguments.at(++index);
        if (argument == QLatin1String("--sizes")) {
            options.sizes.clear();
            for (const QString& size : value.split(QLatin1Char(','))) {
                bool ok = false;
                options.sizes.append(size.toInt(&ok));
                if (!ok || options.sizes.last() < 1) {
                    usage();
                }
            }
        } else if (argument == QLatin1String("--rounds")) {
            bool ok = false;
            options.rounds = value.toInt(&ok);
            if (!ok || options.rounds < 1) {
                usage();
            }
        } else if (argument == QLatin1String("--directions")) {
            const QStringList directions = value.split(QLatin1Char(','));
            options.up = directions.contains(QLatin1String("up"));
            options.down = directions.contains(QLatin1String("down"));
            options.copy = directions.contains(QLatin1String("copy"));
            options.disks = directions.contains(QLatin1String("disks"));
            if (!options.up && !options.down && !options.copy && !options.disks) {
                usage();
            }
        } else if (argument == QLatin1String("--copies") || argument == QLatin1String("--copied-folders") ||
                   argument == QLatin1String("--between-disks")) {
            bool ok = false;
            (argument == QLatin1String("--copies")           ? options.copiedFiles
             : argument == QLatin1String("--copied-folders") ? options.copiedFolders
                                                             : options.betweenDisks) = value.toInt(&ok);
            if (!ok || options.copiedFiles < 1 || options.copiedFolders < 1 || options.betweenDisks < 1) {
                usage();
            }
        } else if (argument == QLatin1String("--other-disk")) {
            options.otherDisk = value;
        } else {
            usage();
        }
    }
    return options;
}

} // namespace

} // namespace quillbarrow

int main(int argc, char** argv)
{
    // The allocator as the program sets it, before anything allocates from another thread.
    quillbarrow::configureAllocator();
    QCoreApplication app(argc, argv);
    const quillbarrow::Options options = quillbarrow::parse(QCoreApplication::arguments());
    auto bench = std::make_shared<quillbarrow::ScaleBench>(options);
    return quillbarrow::runBenchmark(app, "quillbarrow_scale_bench", [bench] { return bench->run(); });
}
