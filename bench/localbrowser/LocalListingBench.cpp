// Listing and sorting a big local folder through LocalBrowserViewModel, against `ls -l` of the
// same folder in the same run:
//
//   quillbarrow_bench_local_listing [--files N] [--rounds N] [--folder PATH]
//
// Makes a folder of N files (100,000 by default; names in no particular order, sizes from 0 to
// 4,095 bytes, sparse so that making them is quick) in a temporary folder, or in PATH when given
// (kept for later runs; an existing folder with N entries is used as it is). Each round times
// ours, from refresh() until the model has applied the listing sorted by name, and `ls -l` as a
// process writing to a file, swapping their order every round after one warm-up of each (the
// folder is then in the page cache for both). Also times one re-sort of the listing by size,
// descending (the table header's click), and gives the peak resident memory of this process
// (getrusage) before and after the listings, and that of `ls -l`.
//
// Prints detail lines and a Markdown table; the ratio is ours over ls -l (1.5 or less is the
// target). Exits 1 when something fails (the reason on stderr). Never judges a time.

#include "../ChildProcess.h"
#include "../Samples.h"

#include "async/Allocator.h"
#include "logging/AppLogger.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

namespace quillbarrow {

namespace {

class BenchFailure : public std::runtime_error {
public:
    explicit BenchFailure(const QString& message) : std::runtime_error(message.toStdString()) {}
};

struct Options {
    int files = 100'000;
    int rounds = 5;
    QString folder;
};

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

QString mebibytes(long kibibytes)
{
    return QString::number(static_cast<double>(kibibytes) / 1024.0, 'f', 1) + QStringLiteral(" MiB");
}

Options parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString& argument = arguments[index];
        const bool hasValue = index + 1 < arguments.size();
        bool valid = hasValue;
        if (argument == QLatin1StringView("--files") && hasValue) {
            options.files = arguments[++index].toInt(&valid);
        } else if (argument == QLatin1StringView("--rounds") && hasValue) {
            options.rounds = arguments[++index].toInt(&valid);
        } else if (argument == QLatin1StringView("--folder") && hasValue) {
            options.folder = arguments[++index];
        } else {
            valid = false;
        }
        if (!valid || options.files < 1 || options.rounds < 1) {
            throw BenchFailure(QStringLiteral("usage: quillbarrow_bench_local_listing [--files N] [--rounds N] [--folder PATH]"));
        }
    }
    return options;
}

// The entries of a folder, counted without holding them.
qint64 entryCount(const QString& folder)
{
    DIR* directory = ::opendir(QFile::encodeName(folder).constData());
    if (directory == nullptr) {
        return -1;
    }
    qint64 count = 0;
    while (const dirent* entry = ::readdir(directory)) {
        if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0) {
            ++count;
        }
    }
    ::closedir(directory);
    return count;
}

// N files in an order unrelated to their names, each with a size set without writing data.
void makeFolder(const QString& folder, int files)
{
    if (entryCount(folder) == files) {
        return;
    }
    if (!QDir(folder).removeRecursively() || !QDir().mkpath(folder)) {
        throw BenchFailure(QStringLiteral("cannot make ") + folder);
    }
    QList<int> numbers(files);
    for (int index = 0; index < files; ++index) {
        numbers[index] = index;
    }
    QRandomGenerator random(17);
    for (qsizetype index = numbers.size() - 1; index > 0; --index) {
        std::swap(numbers[index], numbers[random.bounded(static_cast<int>(index + 1))]);
    }
    for (const int number : numbers) {
        const QByteArray path =
            QFile::encodeName(QStringLiteral("%1/IMG_%2 copy %3.jpg").arg(folder).arg(number % 7919).arg(number));
        const int descriptor = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (descriptor < 0 || ::ftruncate(descriptor, number % 4096) != 0) {
            throw BenchFailure(QStringLiteral("cannot make a file in ") + folder);
        }
        ::close(descriptor);
    }
}

// Runs the event loop until the model has applied its newest listing.
void waitForListing(const LocalBrowserViewModel& model)
{
    QEventLoop loop;
    const QMetaObject::Connection done = QObject::connect(&model, &LocalBrowserViewModel::isLoadingChanged, &loop, [&] {
        if (!model.isLoading()) {
            loop.quit();
        }
    });
    if (model.isLoading()) {
        loop.exec();
    }
    QObject::disconnect(done);
}

// One listing through a new model, as the application's first listing of a folder: seconds from
// refresh() to the applied, sorted items.
double listThroughModel(const QString& folder, int expected, const std::shared_ptr<UserDefaults>& defaults)
{
    LocalBrowserViewModel model(QUrl::fromLocalFile(folder), AppLogger(QStringLiteral("Bench")), defaults);
    const auto started = std::chrono::steady_clock::now();
    model.refresh();
    waitForListing(model);
    const double seconds = secondsSince(started);
    if (model.items().size() != expected || model.errorMessage()) {
        throw BenchFailure(QStringLiteral("the model listed %1 of %2 items: %3")
                               .arg(model.items().size())
                               .arg(expected)
                               .arg(model.errorMessage().value_or(QString())));
    }
    return seconds;
}

double resortThroughModel(const QString& folder, const std::shared_ptr<UserDefaults>& defaults)
{
    LocalBrowserViewModel model(QUrl::fromLocalFile(folder), AppLogger(QStringLiteral("Bench")), defaults);
    model.refresh();
    waitForListing(model);
    const auto started = std::chrono::steady_clock::now();
    model.setSort(FileSort::size, false);
    return secondsSince(started);
}

ChildRun listWithLs(const QString& folder, const QString& scratch)
{
    ChildRun run = runChild({QStringLiteral("ls"), QStringLiteral("-l"), folder}, scratch);
    if (!run.succeeded()) {
        throw BenchFailure(QStringLiteral("ls -l failed: ") + run.errorSummary());
    }
    return run;
}

QString seconds(double value)
{
    return QString::number(value, 'f', 3) + QStringLiteral(" s");
}

void run(const Options& options)
{
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        throw BenchFailure(QStringLiteral("no temporary folder"));
    }
    const QString folder = options.folder.isEmpty() ? scratch.filePath(QStringLiteral("listing")) : options.folder;
    makeFolder(folder, options.files);
    const auto defaults = std::make_shared<InMemoryUserDefaults>();

    // A spawned process counts the memory of its parent up to its exec, so ls is measured while
    // this process is still small: its peak is then its own.
    const long before = peakResidentKiB();
    const long lsPeak = listWithLs(folder, scratch.path()).maxResidentKiB;
    listThroughModel(folder, options.files, defaults);
    Samples ours;
    Samples theirs;
    for (int round = 0; round < options.rounds; ++round) {
        const bool oursFirst = round % 2 == 0;
        if (oursFirst) {
            ours.add(listThroughModel(folder, options.files, defaults));
        }
        theirs.add(listWithLs(folder, scratch.path()).seconds);
        if (!oursFirst) {
            ours.add(listThroughModel(folder, options.files, defaults));
        }
    }
    const long after = peakResidentKiB();
    Samples resort;
    for (int round = 0; round < options.rounds; ++round) {
        resort.add(resortThroughModel(folder, defaults));
    }

    say(QStringLiteral("detail: ours, list and sort %1 files: %2 (median %3)")
            .arg(options.files)
            .arg(ours.listed(3), QString::number(ours.median(), 'f', 3)));
    say(QStringLiteral("detail: ls -l of the same folder: %1 (median %2)")
            .arg(theirs.listed(3), QString::number(theirs.median(), 'f', 3)));
    say(QStringLiteral("detail: ours, re-sort by size descending: %1 (median %2)")
            .arg(resort.listed(3), QString::number(resort.median(), 'f', 3)));
    say(QStringLiteral("detail: peak memory: ours %1 KiB before listing, %2 KiB after; ls -l %3 KiB (at least "
                       "ours before listing, %1 KiB)")
            .arg(before)
            .arg(after)
            .arg(lsPeak));
    const double ratio = theirs.median() > 0 ? ours.median() / theirs.median() : 0;
    say(QStringLiteral("| measurement | ours | ls -l | ours / ls -l |"));
    say(QStringLiteral("|---|---|---|---|"));
    say(QStringLiteral("| list and sort a folder of %1 files | %2 | %3 | %4 |")
            .arg(options.files)
            .arg(seconds(ours.median()), seconds(theirs.median()), QString::number(ratio, 'f', 2)));
    say(QStringLiteral("| re-sort it by size, descending | %1 | - | - |").arg(seconds(resort.median())));
    say(QStringLiteral("| peak memory | %1 (%2 before listing) | %3 | - |")
            .arg(mebibytes(after), mebibytes(before), mebibytes(lsPeak)));
}

} // namespace

} // namespace quillbarrow

int main(int argc, char** argv)
{
    // The allocator as the program sets it, before anything allocates from another thread.
    quillbarrow::configureAllocator();
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("com.quillbarrow.*=false"));
    try {
        quillbarrow::run(quillbarrow::parse(QCoreApplication::arguments()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillbarrow_bench_local_listing: %s\n", error.what());
        return 1;
    }
    return 0;
}
