// Benchmarks of the libmtp path against libmtp itself, on the same device in the same run. Runs
// inside the emulated-device guest (bench/run.sh boots it once per responder and workload):
//
//   quillbarrow_bench transfers FILE [--rounds N]
//       Downloads and uploads FILE through LibMTPDeviceSession and through the TransferCoordinator
//       (paste into a local folder, paste into the device folder), beside mtp-getfile,
//       mtp-sendfile and the plain libmtp calls. With --downloads-only, the downloads alone.
//   quillbarrow_bench listing FOLDER [--rounds N] [--mtp-files] [--uploads N]
//       Lists FOLDER through the session beside a plain LIBMTP_Get_Files_And_Folders of it (and,
//       with --mtp-files, one run of mtp-files over the whole device); with --uploads, also sends
//       N files of 1 MB into FOLDER through the session, as one paste through the coordinator and
//       through plain libmtp.
//   quillbarrow_bench photos FOLDER [--rounds N]
//       Pastes the device folder FOLDER (many small files, see make-photos) into a local folder
//       through the TransferCoordinator, and the same files back into a new folder beside FOLDER,
//       each beside a plain libmtp loop over the same files in one session (quillbarrow_bench_libmtp
//       get-folder and send-folder); prints each direction's time and the ratio ours / plain.
//   quillbarrow_bench make-photos PATH COUNT
//       Fills the local folder PATH with COUNT files of 20 to 200 KB of random bytes, each of a
//       size that QEMU's device can take (the same sizes on every run).
//   quillbarrow_bench memory FILE
//       One process that moves FILE both ways through the session and the coordinator and prints
//       its peak resident memory (getrusage). Start it from a small process such as the shell:
//       the peak counts the memory of the process that started it, up to its exec.
//
// FILE and FOLDER are paths from the root of the device's first storage, e.g. bench/big.bin.
// Every figure is the median of the rounds; each round runs ours and theirs in turn and swaps
// their order every round, so that a slow drift of the machine weighs on both alike. Our times
// are taken around the awaited operation; libmtp's tools are timed as whole processes, less the
// same tool's time for a one-byte file (their open and their listing of the device).
//
// Prints detail lines and a Markdown table; exits 1 when something fails (the reason on stderr).

#include "BenchFailure.h"
#include "BenchMain.h"
#include "ChildProcess.h"
#include "CoordinatorRig.h"
#include "QemuUploadSizes.h"
#include "Samples.h"

#include "async/Allocator.h"
#include "domain/QuillbarrowError.h"
#include "domain/RemoteItem.h"
#include "logging/AppLogger.h"
#include "transport/DeviceSession.h"
#include "async/SerialExecutor.h"
#include "transport/DynamicLibraryProbe.h"
#include "transport/InterruptedUploadLog.h"
#include "transport/LibMTPBackend.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/TransferQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QUrl>

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>
#include <memory>
#include <optional>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

namespace quillbarrow {

namespace {

constexpr double megabyte = 1'000'000.0;

struct Options {
    QString mode;
    QString target;
    int rounds = 3;
    bool mtpFiles = false;
    int uploads = 0;
    bool downloadsOnly = false;
    int count = 0;
    QString responder;
    QString share;
    QString work;
    QString baseline;
    QString self;
};

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The guest's CPU time since it started, in clock ticks of /proc/stat: busy (whatever ran, the
// emulated device's work included, which the guest sees as time its CPU was taken) and idle.
struct GuestTicks {
    long long busy = 0;
    long long idle = 0;
};

GuestTicks guestTicks()
{
    GuestTicks ticks;
    if (FILE* stat = std::fopen("/proc/stat", "r")) {
        long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
        if (std::fscanf(stat, "cpu %lld %lld %lld %lld %lld %lld %lld", &user, &nice, &system, &idle, &iowait, &irq,
                        &softirq) == 7) {
            ticks.busy = user + nice + system + irq + softirq;
            ticks.idle = idle + iowait;
        }
        std::fclose(stat);
    }
    return ticks;
}

double cpuSeconds(const timeval& user, const timeval& system)
{
    return static_cast<double>(user.tv_sec + system.tv_sec) + static_cast<double>(user.tv_usec + system.tv_usec) / 1e6;
}

// Where the time of a timed part went, per file, in ms of the guest's CPU: this process's main
// thread, its other threads, and the rest of the guest's busy time (the emulated device, the
// kernel's work for no process).
class CpuShare {
public:
    struct Mark {
        GuestTicks guest;
        double process = 0;
        double mainThread = 0;
    };
    static Mark mark()
    {
        Mark now{guestTicks(), 0, 0};
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        now.process = cpuSeconds(usage.ru_utime, usage.ru_stime);
        getrusage(RUSAGE_THREAD, &usage);
        now.mainThread = cpuSeconds(usage.ru_utime, usage.ru_stime);
        return now;
    }
    // This process's part since `start`, over `files` files.
    void addOurs(const Mark& start, int files)
    {
        const Mark end = mark();
        add(end.mainThread - start.mainThread, (end.process - start.process) - (end.mainThread - start.mainThread),
            static_cast<double>(end.guest.busy - start.guest.busy) / 100.0, files);
    }
    // A child's part, as it printed it ("busy=" in ticks, "process=" in seconds).
    void addChild(const ChildRun& run, int files)
    {
        const double process = run.field("seconds=", "process").toDouble();
        add(process, 0, run.field("seconds=", "busy").toDouble() / 100.0, files);
    }
    QString summary() const
    {
        return QStringLiteral("main thread %1, other threads %2, rest of the guest %3")
            .arg(m_main.median(), 0, 'f', 3)
            .arg(m_others.median(), 0, 'f', 3)
            .arg(m_rest.median(), 0, 'f', 3);
    }
    bool isEmpty() const { return m_main.isEmpty(); }

private:
    void add(double main, double others, double busy, int files)
    {
        const double perFile = 1000.0 / files;
        m_main.add(main * perFile);
        m_others.add(others * perFile);
        m_rest.add(std::max(0.0, busy - main - others) * perFile);
    }
    Samples m_main, m_others, m_rest;
};

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString lastComponent(const QString& path)
{
    return path.section(QLatin1Char('/'), -1);
}

QString folderOf(const QString& path)
{
    return path.contains(QLatin1Char('/')) ? path.section(QLatin1Char('/'), 0, -2) : QString();
}

qint64 fileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}

// Byte for byte, in chunks, so that a large file never sits whole in memory.
bool sameContents(const QString& a, const QString& b)
{
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) || first.size() != second.size()) {
        return false;
    }
    while (!first.atEnd()) {
        if (first.read(1 << 20) != second.read(1 << 20)) {
            return false;
        }
    }
    return true;
}

void requireFile(const QString& path, qint64 size, const QString& reference, bool compare, const QString& what)
{
    const qint64 actual = fileSize(path);
    if (actual != size) {
        throw BenchFailure(QStringLiteral("%1: %2 has %3 bytes, expected %4").arg(what, path).arg(actual).arg(size));
    }
    if (compare && !sameContents(path, reference)) {
        throw BenchFailure(QStringLiteral("%1: %2 differs from %3").arg(what, path, reference));
    }
}

// ---- Our side ------------------------------------------------------------------------------------

struct Located {
    StorageID storage;
    RemoteItem item;
    // The folder that holds the item: its id (absent for the root) and path.
    std::optional<RemoteObjectID> folderID;
    RemotePath folderPath;
};

QCoro::Task<std::shared_ptr<DeviceSession>> openFirstDevice(std::shared_ptr<LibMTPBackend> backend)
{
    const QList<AndroidDevice> devices = co_await backend->currentDevices();
    if (devices.isEmpty()) {
        throw BenchFailure(QStringLiteral("no MTP device is attached"));
    }
    co_return co_await backend->openSession(devices.first().id);
}

// Walks `path` from the first storage's root, listing every folder on the way (QEMU's device
// accepts uploads only into folders listed in the session), the item's own folder included.
QCoro::Task<Located> locate(std::shared_ptr<DeviceSession> session, QString path)
{
    const QList<StorageRoot> storages = co_await session->storages();
    if (storages.isEmpty()) {
        throw BenchFailure(QStringLiteral("the device has no storage"));
    }
    const StorageID storage = storages.first().id;
    DirectoryPage page = co_await session->rootDirectory(storage);
    const QStringList names = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype index = 0; index < names.size(); ++index) {
        std::optional<RemoteItem> found;
        for (const RemoteItem& item : std::as_const(page.items)) {
            if (item.name == names.at(index)) {
                found = item;
            }
        }
        if (!found) {
            throw BenchFailure(QStringLiteral("the device has no %1").arg(path));
        }
        if (index == names.size() - 1) {
            co_return Located{storage, *found, page.parentID, page.path};
        }
        page = co_await session->listDirectory(found->id, page.path.appending(found->name));
    }
    throw BenchFailure(QStringLiteral("an empty path names nothing"));
}

QCoro::Task<std::optional<RemoteItem>> childNamed(std::shared_ptr<DeviceSession> session, Located where, QString name)
{
    std::optional<DirectoryPage> page;
    if (where.folderID) {
        page.emplace(co_await session->listDirectory(*where.folderID, where.folderPath));
    } else {
        page.emplace(co_await session->rootDirectory(where.storage));
    }
    for (const RemoteItem& item : std::as_const(page->items)) {
        if (item.name == name) {
            co_return item;
        }
    }
    co_return std::nullopt;
}

// A progress function such as the app's: cheap, thread-safe, never stops the transfer.
TransferProgressFunction countingProgress(std::shared_ptr<std::atomic<qint64>> calls)
{
    return [calls](qint64, std::optional<qint64>) {
        calls->fetch_add(1, std::memory_order_relaxed);
        return true;
    };
}

// A session that passes every call on and adds up the time spent in listings, so that a paste's
// own listing is measured inside the paste (listings of one folder vary by a quarter from one to
// the next on the emulated device), and in downloads, so that a paste's time splits into the
// device's and the coordinator's own.
class ListingClock : public DeviceSession {
public:
    explicit ListingClock(std::shared_ptr<DeviceSession> inner) : m_inner(std::move(inner)) {}

    double listingSeconds() const { return m_listingSeconds; }
    double downloadSeconds() const { return m_downloadSeconds; }

    AndroidDevice device() const override { return m_inner->device(); }
    QCoro::Task<QList<StorageRoot>> storages() override { co_return co_await m_inner->storages(); }
    QCoro::Task<DirectoryPage> rootDirectory(StorageID storageID) override
    {
        const auto start = std::chrono::steady_clock::now();
        DirectoryPage page = co_await m_inner->rootDirectory(std::move(storageID));
        m_listingSeconds += secondsSince(start);
        co_return page;
    }
    QCoro::Task<DirectoryPage> listDirectory(RemoteObjectID parentID, RemotePath path) override
    {
        const auto start = std::chrono::steady_clock::now();
        DirectoryPage page = co_await m_inner->listDirectory(std::move(parentID), std::move(path));
        m_listingSeconds += secondsSince(start);
        co_return page;
    }
    QCoro::Task<RemoteItem> createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                         StorageID storageID) override
    {
        co_return co_await m_inner->createFolder(std::move(name), std::move(parentID), std::move(storageID));
    }
    QCoro::Task<> rename(RemoteObjectID itemID, QString newName) override
    {
        co_await m_inner->rename(std::move(itemID), std::move(newName));
    }
    QCoro::Task<> deleteItem(RemoteObjectID itemID) override { co_await m_inner->deleteItem(std::move(itemID)); }
    QCoro::Task<> downloadFile(RemoteObjectID itemID, QString destination, TransferProgressFunction progress) override
    {
        const auto start = std::chrono::steady_clock::now();
        co_await m_inner->downloadFile(std::move(itemID), std::move(destination), std::move(progress));
        m_downloadSeconds += secondsSince(start);
    }
    QCoro::Task<RemoteItem> uploadFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                       StorageID storageID, TransferProgressFunction progress) override
    {
        co_return co_await m_inner->uploadFile(std::move(source), std::move(name), std::move(parentID),
                                               std::move(storageID), std::move(progress));
    }
    QCoro::Task<> close() override { co_await m_inner->close(); }

private:
    std::shared_ptr<DeviceSession> m_inner;
    double m_listingSeconds = 0;
    double m_downloadSeconds = 0;
};

// ---- The figures -----------------------------------------------------------------------------------

QString rate(double bytes, double seconds)
{
    return seconds > 0 ? QStringLiteral("%1 MB/s").arg(bytes / megabyte / seconds, 0, 'f', 1) : QStringLiteral("-");
}

QString ratioText(double value)
{
    return QString::number(value, 'f', 2);
}

struct Row {
    QString measurement;
    QString ours;
    QString tool;
    QString oursToTool;
    QString plain;
    QString oursToPlain;
};

void printTable(const QString& responder, const QList<Row>& rows)
{
    say(QStringLiteral("| responder | measurement | ours | libmtp's tool | ours vs tool | plain libmtp | ours vs plain |"));
    say(QStringLiteral("|---|---|---|---|---|---|---|"));
    for (const Row& row : rows) {
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 |")
                .arg(responder, row.measurement, row.ours, row.tool, row.oursToTool, row.plain, row.oursToPlain));
    }
}

void detail(const QString& what, const Samples& samples, int decimals = 3)
{
    say(QStringLiteral("detail: %1: %2 (median %3)")
            .arg(what, samples.listed(decimals), QString::number(samples.median(), 'f', decimals)));
}

// ---- The benchmark ----------------------------------------------------------------------------------

class Bench {
public:
    explicit Bench(Options options)
        : m_options(std::move(options)),
          m_backend(std::make_shared<LibMTPBackend>(AppLogger(QStringLiteral("Bench")), DynamicLibraryProbe()))
    {
    }

    QCoro::Task<> transfers();
    QCoro::Task<> listing();
    QCoro::Task<> memory();
    QCoro::Task<> photos();
    void makePhotos() const;

private:
    // One round of the photo pastes: ours and plain libmtp's, each way.
    QCoro::Task<> photoRound(int round, const QMap<QString, qint64>& expected, bool verify);
    // Deletes the device folder `name` in the folder at `parentPath`, with what it holds.
    QCoro::Task<> deleteDeviceFolder(QString parentPath, QString name);
    QCoro::Task<QList<Row>> uploadsIntoFolder(qint64 objects, double listingSeconds);
    // The paste's time and, within it, the time of its listings.
    QCoro::Task<std::pair<double, double>> coordinatorUploadsIntoFolder(QString small, int count);
    // libmtp's side. Each call is its own process that opens and releases the device.
    ChildRun child(const QStringList& arguments, const QString& what) const;
    ChildRun baseline(const QStringList& arguments, const QString& what) const;
    double baselineSeconds(const QStringList& arguments, const QString& what, CpuShare* share = nullptr,
                           int files = 0) const;

    QCoro::Task<> ourRound(int round, qint64 size, bool verify);
    void theirRound(int round, qint64 size, bool verify);
    QString sharePath(const QString& devicePath) const { return m_options.share + QLatin1Char('/') + devicePath; }
    QString workPath(const QString& name) const { return m_options.work + QLatin1Char('/') + name; }
    QString targetFolder() const { return folderOf(m_options.target); }

    Options m_options;
    std::shared_ptr<LibMTPBackend> m_backend;
    QString m_source;
    QString m_toolFileID;
    QString m_toolTinyID;

    Samples m_sessionDown, m_sessionUp, m_coordinatorDown, m_coordinatorUp;
    // The part of each coordinator download spent in the session's download call.
    Samples m_coordinatorDownInSession;
    Samples m_photosDown, m_photosUp, m_plainPhotosDown, m_plainPhotosUp, m_sessionPhotosDown;
    CpuShare m_cpuDown, m_cpuUp, m_plainCpuDown, m_plainCpuUp, m_sessionCpuDown;
    Samples m_toolGet, m_toolGetTiny, m_toolSend, m_toolSendTiny, m_plainGet, m_plainSend;
    qint64 m_progressCalls = 0;
};

ChildRun Bench::child(const QStringList& arguments, const QString& what) const
{
    ChildRun run = runChild(arguments, m_options.work);
    if (!run.succeeded()) {
        throw BenchFailure(QStringLiteral("%1 failed (exit %2): %3").arg(what).arg(run.exitCode).arg(run.errorSummary()));
    }
    return run;
}

ChildRun Bench::baseline(const QStringList& arguments, const QString& what) const
{
    return child(QStringList{m_options.baseline} + arguments, what);
}

double Bench::baselineSeconds(const QStringList& arguments, const QString& what, CpuShare* share, int files) const
{
    const ChildRun run = baseline(arguments, what);
    bool ok = false;
    const double seconds = run.field("seconds=", "seconds").toDouble(&ok);
    if (!ok) {
        throw BenchFailure(what + QStringLiteral(" printed no time"));
    }
    if (share) {
        share->addChild(run, files);
    }
    return seconds;
}

QCoro::Task<> Bench::ourRound(int round, qint64 size, bool verify)
{
    const std::shared_ptr<DeviceSession> session = co_await openFirstDevice(m_backend);
    const Located file = co_await locate(session, m_options.target);
    const auto calls = std::make_shared<std::atomic<qint64>>(0);
    CoordinatorRig rig(workPath(QStringLiteral("opened-files")));

    const std::function<QCoro::Task<>()> sessionDown = [&]() -> QCoro::Task<> {
        const QString destination = workPath(QStringLiteral("session-download.bin"));
        const auto start = std::chrono::steady_clock::now();
        co_await session->downloadFile(file.item.id, destination, countingProgress(calls));
        m_sessionDown.add(secondsSince(start));
        requireFile(destination, size, m_source, verify, QStringLiteral("session download"));
        QFile::remove(destination);
    };
    const std::function<QCoro::Task<>()> coordinatorDown = [&]() -> QCoro::Task<> {
        const QString folder = workPath(QStringLiteral("coordinator-download"));
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        rig.clipboard.copyDevice({file.item}, file.storage);
        const auto clocked = std::make_shared<ListingClock>(session);
        const auto start = std::chrono::steady_clock::now();
        co_await rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(folder), clocked);
        m_coordinatorDown.add(secondsSince(start));
        m_coordinatorDownInSession.add(clocked->downloadSeconds());
        rig.requireCompleted(QStringLiteral("coordinator download"));
        requireFile(folder + QLatin1Char('/') + file.item.name, size, m_source, verify,
                    QStringLiteral("coordinator download"));
        QDir(folder).removeRecursively();
    };
    const std::function<QCoro::Task<>()> sessionUp = [&]() -> QCoro::Task<> {
        const QString name = QStringLiteral("session-upload-%1.bin").arg(round);
        const auto start = std::chrono::steady_clock::now();
        const RemoteItem sent =
            co_await session->uploadFile(m_source, name, file.folderID, file.storage, countingProgress(calls));
        m_sessionUp.add(secondsSince(start));
        requireFile(sharePath(folderOf(m_options.target) + QLatin1Char('/') + name), size, m_source, verify,
                    QStringLiteral("session upload"));
        co_await session->deleteItem(sent.id);
    };
    const std::function<QCoro::Task<>()> coordinatorUp = [&]() -> QCoro::Task<> {
        // The coordinator sends a file under its own name: a fresh link to the source gives it one.
        const QString name = QStringLiteral("coordinator-upload-%1.bin").arg(round);
        const QString local = workPath(name);
        QFile::remove(local);
        if (::link(QFile::encodeName(m_source).constData(), QFile::encodeName(local).constData()) != 0) {
            throw BenchFailure(QStringLiteral("cannot link %1").arg(local));
        }
        rig.clipboard.copyLocal({QUrl::fromLocalFile(local)});
        const auto start = std::chrono::steady_clock::now();
        co_await rig.coordinator.pasteIntoDevice(file.folderID, file.storage, session);
        m_coordinatorUp.add(secondsSince(start));
        rig.requireCompleted(QStringLiteral("coordinator upload"));
        QFile::remove(local);
        requireFile(sharePath(targetFolder() + QLatin1Char('/') + name), size, m_source, verify,
                    QStringLiteral("coordinator upload"));
        const std::optional<RemoteItem> sent = co_await childNamed(session, file, name);
        if (!sent) {
            throw BenchFailure(QStringLiteral("coordinator upload: the device does not list %1").arg(name));
        }
        co_await session->deleteItem(sent->id);
    };

    QList<std::function<QCoro::Task<>()>> steps{sessionDown, coordinatorDown, sessionUp, coordinatorUp};
    if (m_options.downloadsOnly) {
        steps = {sessionDown, coordinatorDown};
    }
    for (int step = 0; step < steps.size(); ++step) {
        const std::function<QCoro::Task<>()>& next = steps.at((step + round) % steps.size());
        co_await next();
    }
    m_progressCalls = calls->load();
    co_await session->close();
}

void Bench::theirRound(int round, qint64 size, bool verify)
{
    const QString folder = targetFolder();
    const QString tiny = workPath(QStringLiteral("tiny.bin"));
    QList<std::function<void()>> steps{
        [&] {
            const QString destination = workPath(QStringLiteral("tool-download.bin"));
            const ChildRun run = child({QStringLiteral("mtp-getfile"), m_toolFileID, destination},
                                       QStringLiteral("mtp-getfile"));
            m_toolGet.add(run.seconds);
            requireFile(destination, size, m_source, verify, QStringLiteral("mtp-getfile"));
            QFile::remove(destination);
        },
        [&] {
            const QString destination = workPath(QStringLiteral("tool-download-tiny.bin"));
            const ChildRun run = child({QStringLiteral("mtp-getfile"), m_toolTinyID, destination},
                                       QStringLiteral("mtp-getfile (one byte)"));
            m_toolGetTiny.add(run.seconds);
            requireFile(destination, 1, tiny, verify, QStringLiteral("mtp-getfile (one byte)"));
            QFile::remove(destination);
        },
        [&] {
            // mtp-sendfile sends a file under its own name into the folder at a path.
            const QString name = QStringLiteral("tool-upload-%1.bin").arg(round);
            const QString local = workPath(name);
            QFile::remove(local);
            if (::link(QFile::encodeName(m_source).constData(), QFile::encodeName(local).constData()) != 0) {
                throw BenchFailure(QStringLiteral("cannot link %1").arg(local));
            }
            const ChildRun run = child({QStringLiteral("mtp-sendfile"), local, QLatin1Char('/') + folder},
                                       QStringLiteral("mtp-sendfile"));
            m_toolSend.add(run.seconds);
            QFile::remove(local);
            requireFile(sharePath(folder + QLatin1Char('/') + name), size, m_source, verify,
                        QStringLiteral("mtp-sendfile"));
            baseline({QStringLiteral("delete"), folder + QLatin1Char('/') + name}, QStringLiteral("delete"));
        },
        [&] {
            const QString name = QStringLiteral("tool-upload-tiny-%1.bin").arg(round);
            const QString local = workPath(name);
            QFile::copy(tiny, local);
            const ChildRun run = child({QStringLiteral("mtp-sendfile"), local, QLatin1Char('/') + folder},
                                       QStringLiteral("mtp-sendfile (one byte)"));
            m_toolSendTiny.add(run.seconds);
            QFile::remove(local);
            requireFile(sharePath(folder + QLatin1Char('/') + name), 1, tiny, verify,
                        QStringLiteral("mtp-sendfile (one byte)"));
            baseline({QStringLiteral("delete"), folder + QLatin1Char('/') + name}, QStringLiteral("delete"));
        },
        [&] {
            const QString destination = workPath(QStringLiteral("plain-download.bin"));
            m_plainGet.add(baselineSeconds({QStringLiteral("get"), m_options.target, destination},
                                           QStringLiteral("plain libmtp download")));
            requireFile(destination, size, m_source, verify, QStringLiteral("plain libmtp download"));
            QFile::remove(destination);
        },
        [&] {
            const QString name = QStringLiteral("plain-upload-%1.bin").arg(round);
            m_plainSend.add(baselineSeconds({QStringLiteral("send"), m_source, folder, name},
                                            QStringLiteral("plain libmtp upload")));
            requireFile(sharePath(folder + QLatin1Char('/') + name), size, m_source, verify,
                        QStringLiteral("plain libmtp upload"));
            baseline({QStringLiteral("delete"), folder + QLatin1Char('/') + name}, QStringLiteral("delete"));
        },
    };
    if (m_options.downloadsOnly) {
        // The two downloads of the tool and plain libmtp's.
        steps = {steps.at(0), steps.at(1), steps.at(4)};
    }
    for (int step = 0; step < steps.size(); ++step) {
        steps.at((step + round) % steps.size())();
    }
}

QCoro::Task<> Bench::transfers()
{
    const QString folder = targetFolder();
    const QString name = lastComponent(m_options.target);
    if (folder.isEmpty()) {
        // uMTP-Responder wedges on an upload into the storage root.
        throw BenchFailure(QStringLiteral("the file must lie in a folder, not in the storage root"));
    }

    // The source of every upload and the reference of every comparison: the file as plain libmtp
    // downloads it (a warm-up, not timed), compared once with the served file.
    m_source = workPath(name);
    baseline({QStringLiteral("get"), m_options.target, m_source}, QStringLiteral("the first download"));
    const qint64 size = fileSize(m_source);
    if (!sameContents(m_source, sharePath(m_options.target))) {
        throw BenchFailure(QStringLiteral("the first download differs from the served file"));
    }
    // A one-byte file beside it for the tools' fixed cost: opening and listing the device.
    const QString tiny = workPath(QStringLiteral("tiny.bin"));
    {
        QFile file(tiny);
        if (!file.open(QIODevice::WriteOnly) || file.write("q", 1) != 1) {
            throw BenchFailure(QStringLiteral("cannot write %1").arg(tiny));
        }
    }
    const QString tinyOnDevice = folder + QStringLiteral("/quillbarrow-bench-tiny.bin");
    baseline({QStringLiteral("send"), tiny, folder, lastComponent(tinyOnDevice)}, QStringLiteral("the one-byte upload"));
    // The tools take object ids; the device keeps them for the objects it already lists.
    m_toolFileID = QString::fromUtf8(baseline({QStringLiteral("lookup"), m_options.target}, QStringLiteral("lookup"))
                                         .field("storage=", "id"));
    m_toolTinyID = QString::fromUtf8(
        baseline({QStringLiteral("lookup"), tinyOnDevice}, QStringLiteral("lookup")).field("storage=", "id"));
    say(QStringLiteral("transfers of %1 (%2 bytes), %3 rounds; tool ids %4 and %5")
            .arg(m_options.target)
            .arg(size)
            .arg(m_options.rounds)
            .arg(m_toolFileID, m_toolTinyID));

    for (int round = 0; round < m_options.rounds; ++round) {
        const bool verify = round == 0;
        const auto start = std::chrono::steady_clock::now();
        if (round % 2 == 0) {
            co_await ourRound(round, size, verify);
            theirRound(round, size, verify);
        } else {
            theirRound(round, size, verify);
            co_await ourRound(round, size, verify);
        }
        say(QStringLiteral("round %1 done in %2 s").arg(round + 1).arg(secondsSince(start), 0, 'f', 1));
    }
    baseline({QStringLiteral("delete"), tinyOnDevice}, QStringLiteral("delete"));

    const double sizeBytes = static_cast<double>(size);
    const double toolGet = m_toolGet.median() - m_toolGetTiny.median();
    const double toolSend = m_toolSend.median() - m_toolSendTiny.median();
    detail(QStringLiteral("session download s"), m_sessionDown);
    detail(QStringLiteral("coordinator download s"), m_coordinatorDown);
    detail(QStringLiteral("coordinator download s in the session's call"), m_coordinatorDownInSession);
    detail(QStringLiteral("mtp-getfile process s"), m_toolGet);
    detail(QStringLiteral("mtp-getfile one-byte process s"), m_toolGetTiny);
    detail(QStringLiteral("plain libmtp download s"), m_plainGet);
    detail(QStringLiteral("session upload s"), m_sessionUp);
    detail(QStringLiteral("coordinator upload s"), m_coordinatorUp);
    detail(QStringLiteral("mtp-sendfile process s"), m_toolSend);
    detail(QStringLiteral("mtp-sendfile one-byte process s"), m_toolSendTiny);
    detail(QStringLiteral("plain libmtp upload s"), m_plainSend);
    say(QStringLiteral("detail: progress calls in the last round of ours: %1").arg(m_progressCalls));

    const QString label = QStringLiteral("%1 MB").arg(sizeBytes / megabyte, 0, 'f', 0);
    const auto transferRow = [&](const QString& what, const Samples& ours, double tool, const QString& toolName,
                                 const Samples& plain) {
        return Row{what + QStringLiteral(" ") + label,
                   rate(sizeBytes, ours.median()),
                   rate(sizeBytes, tool) + QStringLiteral(" (") + toolName + QStringLiteral(")"),
                   ratioText(tool / ours.median()),
                   rate(sizeBytes, plain.median()),
                   ratioText(plain.median() / ours.median())};
    };
    QList<Row> rows{
        transferRow(QStringLiteral("download, session"), m_sessionDown, toolGet, QStringLiteral("mtp-getfile"), m_plainGet),
        transferRow(QStringLiteral("download, coordinator"), m_coordinatorDown, toolGet, QStringLiteral("mtp-getfile"),
                    m_plainGet),
        transferRow(QStringLiteral("upload, session"), m_sessionUp, toolSend, QStringLiteral("mtp-sendfile"), m_plainSend),
        transferRow(QStringLiteral("upload, coordinator"), m_coordinatorUp, toolSend, QStringLiteral("mtp-sendfile"),
                    m_plainSend),
    };
    if (m_options.downloadsOnly) {
        rows = rows.mid(0, 2);
    }
    printTable(m_options.responder, rows);
}

QCoro::Task<> Bench::listing()
{
    // A warm-up: the first listing of a folder also makes the device read it.
    const ChildRun warmUp = baseline({QStringLiteral("list"), m_options.target}, QStringLiteral("the first listing"));
    const qint64 count = warmUp.field("seconds=", "count").toLongLong();
    say(QStringLiteral("listing of %1 (%2 objects), %3 rounds").arg(m_options.target).arg(count).arg(m_options.rounds));

    Samples ours;
    Samples plain;
    for (int round = 0; round < m_options.rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                const std::shared_ptr<DeviceSession> session = co_await openFirstDevice(m_backend);
                const Located folder = co_await locate(session, m_options.target);
                const RemotePath path = folder.folderPath.appending(folder.item.name);
                const auto start = std::chrono::steady_clock::now();
                const DirectoryPage page = co_await session->listDirectory(folder.item.id, path);
                ours.add(secondsSince(start));
                co_await session->close();
                if (page.items.size() != count) {
                    throw BenchFailure(QStringLiteral("the session lists %1 objects, plain libmtp %2")
                                           .arg(page.items.size())
                                           .arg(count));
                }
            } else {
                plain.add(baselineSeconds({QStringLiteral("list"), m_options.target},
                                          QStringLiteral("plain libmtp listing")));
            }
        }
    }
    detail(QStringLiteral("session listing s"), ours);
    detail(QStringLiteral("plain libmtp listing s"), plain);

    QString tool = QStringLiteral("-");
    QString oursToTool = QStringLiteral("-");
    if (m_options.mtpFiles) {
        const ChildRun run = child({QStringLiteral("mtp-files")}, QStringLiteral("mtp-files"));
        const qsizetype listed = run.output.count("File ID:");
        say(QStringLiteral("detail: mtp-files: %1 s for %2 objects of the whole device, listed after its own "
                           "enumeration of the device")
                .arg(run.seconds, 0, 'f', 2)
                .arg(listed));
        tool = QStringLiteral("%1 s (mtp-files, whole device)").arg(run.seconds, 0, 'f', 2);
        oursToTool = QStringLiteral("%1x").arg(ours.median() / run.seconds, 0, 'f', 2);
    }
    QList<Row> rows{Row{QStringLiteral("list a folder of %1 objects").arg(count),
                        QStringLiteral("%1 s").arg(ours.median(), 0, 'f', 2), tool, oursToTool,
                        QStringLiteral("%1 s").arg(plain.median(), 0, 'f', 2),
                        QStringLiteral("%1x").arg(ours.median() / plain.median(), 0, 'f', 2)}};
    if (m_options.uploads > 0) {
        QCoro::Task<QList<Row>> uploading = uploadsIntoFolder(count, ours.median());
        rows.append(co_await uploading);
    }
    printTable(m_options.responder, rows);
}

// `listingSeconds` is the session's time for one listing of the folder. The coordinator lists it
// once for its name questions, so its paste is compared with its own listing plus libmtp's uploads.
QCoro::Task<QList<Row>> Bench::uploadsIntoFolder(qint64 objects, double listingSeconds)
{
    const QString small = workPath(QStringLiteral("small.bin"));
    {
        QFile file(small);
        QByteArray bytes(1'000'000, '\0');
        for (qsizetype index = 0; index < bytes.size(); ++index) {
            bytes[index] = static_cast<char>((index * 131) ^ (index >> 9));
        }
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            throw BenchFailure(QStringLiteral("cannot write %1").arg(small));
        }
    }
    const int count = m_options.uploads;
    const double bytes = 1'000'000.0 * count;

    const std::shared_ptr<DeviceSession> session = co_await openFirstDevice(m_backend);
    const Located folder = co_await locate(session, m_options.target);
    const RemotePath path = folder.folderPath.appending(folder.item.name);
    // QEMU's device accepts uploads only into a folder listed in the session; not timed, as for
    // plain libmtp.
    co_await session->listDirectory(folder.item.id, path);
    const auto calls = std::make_shared<std::atomic<qint64>>(0);
    QList<RemoteObjectID> sent;
    const auto start = std::chrono::steady_clock::now();
    for (int index = 1; index <= count; ++index) {
        const RemoteItem item = co_await session->uploadFile(small, QStringLiteral("session-upload-%1.bin").arg(index),
                                                             folder.item.id, folder.storage, countingProgress(calls));
        sent.append(item.id);
    }
    const double ours = secondsSince(start);
    for (const RemoteObjectID& id : std::as_const(sent)) {
        co_await session->deleteItem(id);
    }
    co_await session->close();

    // The same files as one paste through the coordinator, in a fresh session as the app's first
    // upload into the folder: its conflict listing is the only listing of the folder it may cost.
    const auto [coordinator, coordinatorListing] = co_await coordinatorUploadsIntoFolder(small, count);

    const double plain = baselineSeconds({QStringLiteral("send-many"), small, m_options.target, QString::number(count)},
                                         QStringLiteral("plain libmtp uploads"));
    const double allowed = coordinatorListing + plain;
    say(QStringLiteral("detail: %1 uploads of 1 MB into the folder of %2 objects: session %3 s, coordinator %4 s "
                       "(of which its listings %5 s; the session's listing of the folder: %6 s), plain libmtp "
                       "%7 s; coordinator vs its listings plus plain libmtp: %8x")
            .arg(count)
            .arg(objects)
            .arg(ours, 0, 'f', 3)
            .arg(coordinator, 0, 'f', 3)
            .arg(coordinatorListing, 0, 'f', 3)
            .arg(listingSeconds, 0, 'f', 3)
            .arg(plain, 0, 'f', 3)
            .arg(coordinator / allowed, 0, 'f', 2));
    co_return QList<Row>{
        Row{QStringLiteral("upload %1 files of 1 MB into that folder, session").arg(count), rate(bytes, ours),
            QStringLiteral("-"), QStringLiteral("-"), rate(bytes, plain), ratioText(plain / ours)},
        Row{QStringLiteral("upload %1 files of 1 MB into that folder, coordinator (plain: its listing plus the uploads)")
                .arg(count),
            QStringLiteral("%1 s").arg(coordinator, 0, 'f', 2), QStringLiteral("-"), QStringLiteral("-"),
            QStringLiteral("%1 s").arg(allowed, 0, 'f', 2), ratioText(allowed / coordinator)}};
}

QCoro::Task<std::pair<double, double>> Bench::coordinatorUploadsIntoFolder(QString small, int count)
{
    const std::shared_ptr<DeviceSession> opened = co_await openFirstDevice(m_backend);
    const Located folder = co_await locate(opened, m_options.target);
    const auto session = std::make_shared<ListingClock>(opened);
    CoordinatorRig rig(workPath(QStringLiteral("opened-files")));
    QList<QUrl> sources;
    QStringList names;
    for (int index = 1; index <= count; ++index) {
        // The coordinator sends a file under its own name: a fresh link to the source gives it one.
        const QString name = QStringLiteral("coordinator-upload-%1.bin").arg(index);
        const QString local = workPath(name);
        QFile::remove(local);
        if (::link(QFile::encodeName(small).constData(), QFile::encodeName(local).constData()) != 0) {
            throw BenchFailure(QStringLiteral("cannot link %1").arg(local));
        }
        sources.append(QUrl::fromLocalFile(local));
        names.append(name);
    }
    rig.clipboard.copyLocal(sources);
    const auto start = std::chrono::steady_clock::now();
    co_await rig.coordinator.pasteIntoDevice(folder.item.id, folder.storage, session);
    const double seconds = secondsSince(start);
    const double listing = session->listingSeconds();
    rig.requireCompleted(QStringLiteral("coordinator uploads"), count);
    for (const QUrl& source : std::as_const(sources)) {
        QFile::remove(source.toLocalFile());
    }
    const DirectoryPage page =
        co_await session->listDirectory(folder.item.id, folder.folderPath.appending(folder.item.name));
    qsizetype removed = 0;
    for (const RemoteItem& item : std::as_const(page.items)) {
        if (names.contains(item.name)) {
            co_await session->deleteItem(item.id);
            ++removed;
        }
    }
    co_await session->close();
    if (removed != count) {
        throw BenchFailure(QStringLiteral("coordinator uploads: the device lists %1 of the %2 files").arg(removed).arg(count));
    }
    co_return std::pair{seconds, listing};
}

QCoro::Task<> Bench::memory()
{
    const std::shared_ptr<DeviceSession> session = co_await openFirstDevice(m_backend);
    const Located file = co_await locate(session, m_options.target);
    const qint64 size = file.item.size.value_or(0);
    const long open = peakResidentKiB();
    const auto calls = std::make_shared<std::atomic<qint64>>(0);

    const QString downloaded = workPath(QStringLiteral("memory-download.bin"));
    co_await session->downloadFile(file.item.id, downloaded, countingProgress(calls));
    requireFile(downloaded, size, QString(), false, QStringLiteral("session download"));
    const RemoteItem sent = co_await session->uploadFile(downloaded, QStringLiteral("memory-session-upload.bin"),
                                                         file.folderID, file.storage, countingProgress(calls));
    co_await session->deleteItem(sent.id);

    CoordinatorRig rig(workPath(QStringLiteral("opened-files")));
    const QString folder = workPath(QStringLiteral("memory-coordinator"));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    rig.clipboard.copyDevice({file.item}, file.storage);
    co_await rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(folder), session);
    rig.requireCompleted(QStringLiteral("coordinator download"));
    const QString local = workPath(QStringLiteral("memory-coordinator-upload.bin"));
    QFile::remove(local);
    QFile::rename(downloaded, local);
    rig.clipboard.copyLocal({QUrl::fromLocalFile(local)});
    co_await rig.coordinator.pasteIntoDevice(file.folderID, file.storage, session);
    rig.requireCompleted(QStringLiteral("coordinator upload"));
    const std::optional<RemoteItem> coordinatorSent =
        co_await childNamed(session, file, QStringLiteral("memory-coordinator-upload.bin"));
    if (coordinatorSent) {
        co_await session->deleteItem(coordinatorSent->id);
    }
    co_await session->close();
    QFile::remove(local);
    QDir(folder).removeRecursively();
    const long peak = peakResidentKiB();
    say(QStringLiteral("detail: memory of our transfers of %1 (%2 bytes): %3 KiB after opening, peak %4 KiB")
            .arg(m_options.target)
            .arg(size)
            .arg(open)
            .arg(peak));
    printTable(m_options.responder,
               {Row{QStringLiteral("peak memory, our transfers of %1 MB").arg(static_cast<double>(size) / megabyte, 0, 'f', 0),
                    QStringLiteral("%1 MiB (%2 MiB after opening)")
                        .arg(static_cast<double>(peak) / 1024.0, 0, 'f', 1)
                        .arg(static_cast<double>(open) / 1024.0, 0, 'f', 1),
                    QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-")}});
}

// ---- Many small files ---------------------------------------------------------------------------

namespace {

// The regular files of a local folder (not below it), by name, with their sizes.
QMap<QString, qint64> filesIn(const QString& folder)
{
    QMap<QString, qint64> files;
    QDirIterator entries(folder, QDir::Files | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        files.insert(entries.fileName(), entries.fileInfo().size());
    }
    return files;
}

// Throws unless `folder` holds exactly the expected files; with `reference`, byte for byte the
// same as the files of that name there.
void requireFiles(const QString& folder, const QMap<QString, qint64>& expected, const QString& reference,
                  const QString& what)
{
    const QMap<QString, qint64> found = filesIn(folder);
    if (found != expected) {
        throw BenchFailure(QStringLiteral("%1: %2 holds %3 files, not the %4 expected (or their sizes differ)")
                               .arg(what, folder)
                               .arg(found.size())
                               .arg(expected.size()));
    }
    if (!reference.isEmpty()) {
        for (auto file = expected.constBegin(); file != expected.constEnd(); ++file) {
            if (!sameContents(folder + QLatin1Char('/') + file.key(), reference + QLatin1Char('/') + file.key())) {
                throw BenchFailure(QStringLiteral("%1: %2 differs").arg(what, file.key()));
            }
        }
    }
}

qint64 totalBytes(const QMap<QString, qint64>& files)
{
    qint64 bytes = 0;
    for (const qint64 size : files) {
        bytes += size;
    }
    return bytes;
}

} // namespace

void Bench::makePhotos() const
{
    const QString folder = m_options.target;
    if (!QDir().mkpath(folder)) {
        throw BenchFailure(QStringLiteral("cannot create %1").arg(folder));
    }
    // The same sizes and bytes on every run: a fixed seed.
    quint64 state = 0x9E3779B97F4A7C15ull;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int index = 1; index <= m_options.count; ++index) {
        qint64 size = 0;
        do {
            size = 20'000 + static_cast<qint64>(next() % 180'001);
        } while (!qemuTakesUploadOf(size));
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype at = 0; at < bytes.size(); at += 8) {
            const quint64 word = next();
            std::memcpy(bytes.data() + at, &word, static_cast<std::size_t>(std::min<qsizetype>(8, bytes.size() - at)));
        }
        QFile file(folder + QStringLiteral("/IMG_%1.jpg").arg(index, 5, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            throw BenchFailure(QStringLiteral("cannot write %1").arg(file.fileName()));
        }
    }
}

QCoro::Task<> Bench::deleteDeviceFolder(QString parentPath, QString name)
{
    const std::shared_ptr<DeviceSession> session = co_await openFirstDevice(m_backend);
    const Located parent = co_await locate(session, parentPath);
    const Located where{parent.storage, parent.item, parent.item.id, parent.folderPath.appending(parent.item.name)};
    const std::optional<RemoteItem> folder = co_await childNamed(session, where, name);
    if (folder) {
        // File by file, then the empty folder: QEMU's device deletes only empty folders, and
        // uMTP-Responder deletes a folder of thousands of files (each through the guest's 9p share)
        // for longer than libmtp waits for its answer, which then arrives in place of the next
        // request's data and fails it ("PTP code 0x02FE").
        const RemotePath path = where.folderPath.appending(name);
        const DirectoryPage page = co_await session->listDirectory(folder->id, path);
        for (const RemoteItem& item : std::as_const(page.items)) {
            co_await session->deleteItem(item.id);
        }
        co_await session->deleteItem(folder->id);
    }
    co_await session->close();
}

QCoro::Task<> Bench::photoRound(int round, const QMap<QString, qint64>& expected, bool verify)
{
    const QString parentPath = targetFolder();
    const QString name = lastComponent(m_options.target);
    const QString reference = workPath(QStringLiteral("photos-source"));
    const int files = static_cast<int>(expected.size());

    const std::function<QCoro::Task<>()> oursDown = [&]() -> QCoro::Task<> {
        const std::shared_ptr<DeviceSession> session = co_await openFirstDevice(m_backend);
        const Located folder = co_await locate(session, m_options.target);
        const QString destination = workPath(QStringLiteral("down-ours"));
        QDir(destination).removeRecursively();
        QDir().mkpath(destination);
        CoordinatorRig rig(workPath(QStringLiteral("opened-files")));
        rig.clipboard.copyDevice({folder.item}, folder.storage);
        const CpuShare::Mark cpu = CpuShare::mark();
        const auto start = std::chrono::steady_clock::now();
        co_await rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(destination), session);
        m_photosDown.add(secondsSince(start));
        m_cpuDown.addOurs(cpu, files);
        co_await session->close();
        rig.requireCompleted(QStringLiteral("coordinator photo download"), files);
        requireFiles(destination + QLatin1Char('/') + name, expected, verify ? reference : QString(),
                     QStringLiteral("coordinator photo download"));
        QDir(destination).removeRecursively();
    };
    // The session alone, file by file as the coordinator calls it: what of ours lies below it.
    const std::function<QCoro::Task<>()> sessionDown = [&]() -> QCoro::Task<> {
        const std::shared_ptr<DeviceSession> session = co_await openFirstDevice(m_backend);
        const Located folder = co_await locate(session, m_options.target);
        const QString destination = workPath(QStringLiteral("down-session"));
        QDir(destination).removeRecursively();
        QDir().mkpath(destination);
        const auto calls = std::make_shared<std::atomic<qint64>>(0);
        const CpuShare::Mark cpu = CpuShare::mark();
        const auto start = std::chrono::steady_clock::now();
        const DirectoryPage page =
            co_await session->listDirectory(folder.item.id, folder.folderPath.appending(folder.item.name));
        for (const RemoteItem& item : std::as_const(page.items)) {
            co_await session->downloadFile(item.id, destination + QLatin1Char('/') + item.name, countingProgress(calls));
        }
        m_sessionPhotosDown.add(secondsSince(start));
        m_sessionCpuDown.addOurs(cpu, files);
        co_await session->close();
        requireFiles(destination, expected, QString(), QStringLiteral("session photo download"));
        QDir(destination).removeRecursively();
    };
    const std::function<QCoro::Task<>()> plainDown = [&]() -> QCoro::Task<> {
        const QString destination = workPath(QStringLiteral("down-plain"));
        QDir(destination).removeRecursively();
        m_plainPhotosDown.add(baselineSeconds({QStringLiteral("get-folder"), m_options.target, destination},
                                              QStringLiteral("plain libmtp photo download"), &m_plainCpuDown, files));
        requireFiles(destination, expected, verify ? reference : QString(), QStringLiteral("plain libmtp photo download"));
        QDir(destination).removeRecursively();
        co_return;
    };
    const std::function<QCoro::Task<>()> oursUp = [&]() -> QCoro::Task<> {
        // The pasted folder's name is the new device folder's.
        const QString upName = QStringLiteral("up-ours-%1").arg(round + 1);
        const QString source = workPath(upName);
        if (!QDir().rename(reference, source)) {
            throw BenchFailure(QStringLiteral("cannot rename %1").arg(reference));
        }
        const std::shared_ptr<DeviceSession> session = co_await openFirstDevice(m_backend);
        const Located parent = co_await locate(session, parentPath);
        CoordinatorRig rig(workPath(QStringLiteral("opened-files")));
        rig.clipboard.copyLocal({QUrl::fromLocalFile(source)});
        const CpuShare::Mark cpu = CpuShare::mark();
        const auto start = std::chrono::steady_clock::now();
        co_await rig.coordinator.pasteIntoDevice(parent.item.id, parent.storage, session);
        m_photosUp.add(secondsSince(start));
        m_cpuUp.addOurs(cpu, files);
        co_await session->close();
        QDir().rename(source, reference);
        rig.requireCompleted(QStringLiteral("coordinator photo upload"), files);
        requireFiles(sharePath(parentPath + QLatin1Char('/') + upName), expected, verify ? reference : QString(),
                     QStringLiteral("coordinator photo upload"));
        co_await deleteDeviceFolder(parentPath, upName);
    };
    const std::function<QCoro::Task<>()> plainUp = [&]() -> QCoro::Task<> {
        const QString upName = QStringLiteral("up-plain-%1").arg(round + 1);
        m_plainPhotosUp.add(baselineSeconds({QStringLiteral("send-folder"), reference, parentPath, upName},
                                            QStringLiteral("plain libmtp photo upload"), &m_plainCpuUp, files));
        requireFiles(sharePath(parentPath + QLatin1Char('/') + upName), expected, verify ? reference : QString(),
                     QStringLiteral("plain libmtp photo upload"));
        co_await deleteDeviceFolder(parentPath, upName);
    };

    // Each direction's two sides one after the other, in an order that swaps every round. Each
    // step says when it is done, with what it took besides its timed part (listing, checking,
    // clearing up), so that a slow responder shows where the time goes.
    using Step = std::pair<QString, std::function<QCoro::Task<>()>>;
    const Step stepOursDown{QStringLiteral("coordinator download"), oursDown};
    const Step stepSessionDown{QStringLiteral("session download"), sessionDown};
    const Step stepPlainDown{QStringLiteral("plain libmtp download"), plainDown};
    const Step stepOursUp{QStringLiteral("coordinator upload"), oursUp};
    const Step stepPlainUp{QStringLiteral("plain libmtp upload"), plainUp};
    const QList<Step> steps = round % 2 == 0
                                  ? QList<Step>{stepOursDown, stepSessionDown, stepPlainDown, stepOursUp, stepPlainUp}
                                  : QList<Step>{stepPlainDown, stepSessionDown, stepOursDown, stepPlainUp, stepOursUp};
    for (const Step& step : steps) {
        const auto start = std::chrono::steady_clock::now();
        co_await step.second();
        say(QStringLiteral("step %1 done in %2 s with its setup and checks")
                .arg(step.first)
                .arg(secondsSince(start), 0, 'f', 1));
    }
}

QCoro::Task<> Bench::photos()
{
    const QString parentPath = targetFolder();
    if (parentPath.isEmpty()) {
        // uMTP-Responder wedges on an upload into the storage root.
        throw BenchFailure(QStringLiteral("the folder must lie in a folder, not in the storage root"));
    }
    // The reference and the source of every upload: the served files, copied into the guest's memory.
    const QString served = sharePath(m_options.target);
    const QString reference = workPath(QStringLiteral("photos-source"));
    QDir().mkpath(reference);
    const QMap<QString, qint64> expected = filesIn(served);
    if (expected.isEmpty()) {
        throw BenchFailure(QStringLiteral("%1 holds no files").arg(served));
    }
    for (auto file = expected.constBegin(); file != expected.constEnd(); ++file) {
        if (!QFile::copy(served + QLatin1Char('/') + file.key(), reference + QLatin1Char('/') + file.key())) {
            throw BenchFailure(QStringLiteral("cannot copy %1").arg(file.key()));
        }
    }
    const qint64 bytes = totalBytes(expected);
    say(QStringLiteral("photos: %1 files of %2 (%3 bytes), %4 rounds")
            .arg(expected.size())
            .arg(m_options.target)
            .arg(bytes)
            .arg(m_options.rounds));
    for (int round = 0; round < m_options.rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        co_await photoRound(round, expected, round == 0);
        say(QStringLiteral("round %1 done in %2 s").arg(round + 1).arg(secondsSince(start), 0, 'f', 1));
    }
    // What the interrupted-upload note costs per upload as the session writes it: its record
    // added before the file is sent and removed after, each on the session's worker, in a log
    // folder beside the user's own.
    {
        InterruptedUploadLog log(InterruptedUploadLog::standard()->folder() + QStringLiteral("-bench"));
        SerialExecutor worker;
        const QString device = QStringLiteral("bench");
        const int uploads = static_cast<int>(expected.size());
        const auto start = std::chrono::steady_clock::now();
        for (int index = 0; index < uploads; ++index) {
            const InterruptedUploadLog::Entry entry{QStringLiteral("65537"), {QStringLiteral("bench")},
                                                    QStringLiteral("IMG_%1.jpg").arg(index), 100'000, QString()};
            QFuture<bool> adding = worker.run([&log, device, entry] { return log.add(device, entry); });
            co_await adding;
            QFuture<bool> removing = worker.run([&log, device, entry] { return log.remove(device, entry); });
            co_await removing;
        }
        const double withHandOffs = secondsSince(start);
        const auto handOffStart = std::chrono::steady_clock::now();
        for (int index = 0; index < uploads; ++index) {
            QFuture<bool> nothing = worker.run([] { return true; });
            co_await nothing;
        }
        const double handOffs = secondsSince(handOffStart);
        QDir(log.folder()).removeRecursively();
        say(QStringLiteral("detail: interrupted-upload note in %1: %2 ms per upload (its two records on the worker), "
                           "of which the two hand-offs to the worker and back %3 ms")
                .arg(log.folder())
                .arg(withHandOffs * 1000.0 / uploads, 0, 'f', 3)
                .arg(2.0 * handOffs * 1000.0 / uploads, 0, 'f', 3));
    }
    detail(QStringLiteral("coordinator photo download s"), m_photosDown);
    detail(QStringLiteral("session photo download s (its listing and one download after the other)"),
           m_sessionPhotosDown);
    detail(QStringLiteral("plain libmtp photo download s"), m_plainPhotosDown);
    detail(QStringLiteral("coordinator photo upload s"), m_photosUp);
    detail(QStringLiteral("plain libmtp photo upload s"), m_plainPhotosUp);
    // Where the difference lies: in the emulated machine every instruction is dear, and the
    // device's work takes the guest's CPU while it runs.
    if (!m_plainCpuDown.isEmpty()) {
        say(QStringLiteral("detail: guest CPU per file, ms, medians: download: coordinator: %1; session alone: %2; "
                           "plain libmtp: %3")
                .arg(m_cpuDown.summary(), m_sessionCpuDown.summary(), m_plainCpuDown.summary()));
        say(QStringLiteral("detail: guest CPU per file, ms, medians: upload: coordinator: %1; plain libmtp: %2")
                .arg(m_cpuUp.summary(), m_plainCpuUp.summary()));
    }

    const double count = static_cast<double>(expected.size());
    const auto pace = [&](double seconds) {
        return QStringLiteral("%1 s, %2 files/s, %3")
            .arg(seconds, 0, 'f', 2)
            .arg(count / seconds, 0, 'f', 1)
            .arg(rate(static_cast<double>(bytes), seconds));
    };
    say(QStringLiteral("| responder | paste of %1 files (%2 MB) | ours | plain libmtp, one session | ours / plain (time) |")
            .arg(expected.size())
            .arg(static_cast<double>(bytes) / megabyte, 0, 'f', 0));
    say(QStringLiteral("|---|---|---|---|---|"));
    say(QStringLiteral("| %1 | download (coordinator) | %2 | %3 | %4 |")
            .arg(m_options.responder, pace(m_photosDown.median()), pace(m_plainPhotosDown.median()),
                 ratioText(m_photosDown.median() / m_plainPhotosDown.median())));
    say(QStringLiteral("| %1 | upload (coordinator) | %2 | %3 | %4 |")
            .arg(m_options.responder, pace(m_photosUp.median()), pace(m_plainPhotosUp.median()),
                 ratioText(m_photosUp.median() / m_plainPhotosUp.median())));
}

// ---- Command line ----------------------------------------------------------------------------------

[[noreturn]] void usage()
{
    std::fputs("usage: quillbarrow_bench transfers FILE [--rounds N] [--downloads-only]\n"
               "       quillbarrow_bench listing FOLDER [--rounds N] [--mtp-files] [--uploads N]\n"
               "       quillbarrow_bench memory FILE\n"
               "       quillbarrow_bench photos FOLDER [--rounds N]\n"
               "       quillbarrow_bench make-photos PATH COUNT\n"
               "Runs inside the emulated-device guest (see bench/run.sh).\n",
               stderr);
    std::exit(2);
}

Options parse(const QStringList& arguments)
{
    if (arguments.size() < 3) {
        usage();
    }
    Options options;
    options.self = QCoreApplication::applicationFilePath();
    options.mode = arguments.at(1);
    options.target = arguments.at(2);
    if (options.mode != QLatin1String("transfers") && options.mode != QLatin1String("listing") &&
        options.mode != QLatin1String("memory") && options.mode != QLatin1String("photos") &&
        options.mode != QLatin1String("make-photos")) {
        usage();
    }
    qsizetype first = 3;
    if (options.mode == QLatin1String("make-photos")) {
        bool ok = false;
        options.count = arguments.size() == 4 ? arguments.at(3).toInt(&ok) : 0;
        if (!ok || options.count < 1) {
            usage();
        }
        first = 4;
    }
    for (qsizetype index = first; index < arguments.size(); ++index) {
        const QString& argument = arguments.at(index);
        const bool hasValue = index + 1 < arguments.size();
        if (argument == QLatin1String("--rounds") && hasValue) {
            bool ok = false;
            options.rounds = arguments.at(++index).toInt(&ok);
            if (!ok || options.rounds < 1) {
                usage();
            }
        } else if (argument == QLatin1String("--uploads") && hasValue) {
            bool ok = false;
            options.uploads = arguments.at(++index).toInt(&ok);
            if (!ok || options.uploads < 0) {
                usage();
            }
        } else if (argument == QLatin1String("--downloads-only")) {
            options.downloadsOnly = true;
        } else if (argument == QLatin1String("--mtp-files")) {
            options.mtpFiles = true;
        } else {
            usage();
        }
    }
    options.responder = qEnvironmentVariable("QUILLBARROW_E2E_RESPONDER", QStringLiteral("?"));
    options.share = qEnvironmentVariable("QUILLBARROW_E2E_SHARE");
    if (options.share.isEmpty()) {
        std::fputs("quillbarrow_bench: QUILLBARROW_E2E_SHARE is not set: run me through bench/run.sh\n", stderr);
        std::exit(2);
    }
    options.baseline = QCoreApplication::applicationDirPath() + QStringLiteral("/quillbarrow_bench_libmtp");
    options.work = QDir::tempPath() + QStringLiteral("/quillbarrow-bench-") + options.mode;
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
    QDir(options.work).removeRecursively();
    if (!QDir().mkpath(options.work)) {
        std::fprintf(stderr, "quillbarrow_bench: cannot create %s\n", options.work.toUtf8().constData());
        return 1;
    }
    auto bench = std::make_shared<quillbarrow::Bench>(options);
    if (options.mode == QLatin1String("make-photos")) {
        try {
            bench->makePhotos();
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "quillbarrow_bench: %s\n", failure.what());
            return 1;
        }
        QDir(options.work).removeRecursively();
        return 0;
    }
    const int code = quillbarrow::runBenchmark(app, "quillbarrow_bench", [bench, mode = options.mode] {
        if (mode == QLatin1String("transfers")) {
            return bench->transfers();
        }
        if (mode == QLatin1String("photos")) {
            return bench->photos();
        }
        if (mode == QLatin1String("listing")) {
            return bench->listing();
        }
        return bench->memory();
    });
    bench.reset();
    QDir(options.work).removeRecursively();
    return code;
}
