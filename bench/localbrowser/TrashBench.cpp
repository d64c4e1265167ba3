// Moving many local items to the Trash through LocalBrowserViewModel, and how long the main
// thread stops meanwhile:
//
//   quillbarrow_bench_trash [--items N] [--rounds N]
//
// Each round makes a folder of N small files (1,000 by default) and a home Trash in a temporary
// folder, lists it, selects every item and deletes it as the Mac pane's confirmation does. A
// 1 ms heartbeat timer runs on the main thread from the delete until the listing that follows is
// applied; the longest gap between two beats, less the beat itself, is the longest stall of the
// main thread. Also gives the time from the delete to the applied listing, the longest gap of the
// same heartbeat over as long with nothing to do (the machine's own noise), and the time the same
// moves take made one after another on the main thread (the stall of a synchronous delete).
//
// Prints detail lines and a Markdown table. Exits 1 when something fails (an item left, an
// error message). Never judges a time.

#include "../Samples.h"

#include "async/Allocator.h"
#include "logging/AppLogger.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalTrash.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace quillbarrow {

namespace {

using Clock = std::chrono::steady_clock;

class BenchFailure : public std::runtime_error {
public:
    explicit BenchFailure(const QString& message) : std::runtime_error(message.toStdString()) {}
};

struct Options {
    int items = 1'000;
    int rounds = 5;
};

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

Options parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString& argument = arguments[index];
        const bool hasValue = index + 1 < arguments.size();
        bool valid = hasValue;
        if (argument == QLatin1StringView("--items") && hasValue) {
            options.items = arguments[++index].toInt(&valid);
        } else if (argument == QLatin1StringView("--rounds") && hasValue) {
            options.rounds = arguments[++index].toInt(&valid);
        } else {
            valid = false;
        }
        if (!valid || options.items < 1 || options.rounds < 1) {
            throw BenchFailure(QStringLiteral("usage: quillbarrow_bench_trash [--items N] [--rounds N]"));
        }
    }
    return options;
}

void waitUntilLoaded(const LocalBrowserViewModel& model)
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

struct Round {
    double longestStallMilliseconds = 0;
    double seconds = 0;
    // The longest gap of the heartbeat over as long a time with nothing to do: what the machine's
    // load alone costs.
    double idleStallMilliseconds = 0;
    // The same moves made one after another on the main thread, as a synchronous delete would.
    double onMainThreadSeconds = 0;
};

// The longest gap between beats of a 1 ms heartbeat, less the beat, over `duration` of an
// otherwise idle event loop.
double idleStall(Clock::duration duration)
{
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    Clock::time_point lastBeat = Clock::now();
    Clock::duration longestGap{};
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        longestGap = std::max(longestGap, now - lastBeat);
        lastBeat = now;
    });
    QEventLoop loop;
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(duration), &loop, &QEventLoop::quit);
    lastBeat = Clock::now();
    heartbeat.start();
    loop.exec();
    return std::max(0.0, std::chrono::duration<double, std::milli>(longestGap).count() - 1.0);
}

// Makes `items` files in a new folder `name` of `scratch`; their paths.
QStringList makeItems(const QTemporaryDir& scratch, const QString& name, int items)
{
    const QString folder = scratch.filePath(name);
    QDir().mkpath(folder);
    QStringList paths;
    for (int index = 0; index < items; ++index) {
        QFile file(QDir(folder).filePath(QStringLiteral("item %1.txt").arg(index)));
        if (!file.open(QIODevice::WriteOnly) || file.write("contents") != 8) {
            throw BenchFailure(QStringLiteral("could not make ") + file.fileName());
        }
        paths.append(file.fileName());
    }
    return paths;
}

Round oneRound(int items)
{
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        throw BenchFailure(QStringLiteral("no temporary folder"));
    }
    const QString folder = scratch.filePath(QStringLiteral("shown"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("data"))));
    makeItems(scratch, QStringLiteral("shown"), items);
    const QStringList direct = makeItems(scratch, QStringLiteral("direct"), items);
    LocalBrowserViewModel model(QUrl::fromLocalFile(folder), AppLogger(QStringLiteral("Bench")),
                                std::make_shared<InMemoryUserDefaults>());
    model.refresh();
    waitUntilLoaded(model);
    if (model.items().size() != items) {
        throw BenchFailure(QStringLiteral("listed %1 of %2 items").arg(model.items().size()).arg(items));
    }

    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    Clock::time_point lastBeat = Clock::now();
    Clock::duration longestGap{};
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        longestGap = std::max(longestGap, now - lastBeat);
        lastBeat = now;
    });
    heartbeat.start();
    const Clock::time_point started = Clock::now();
    lastBeat = started;
    model.deleteItems(model.items());
    waitUntilLoaded(model);
    const Clock::time_point finished = Clock::now();
    longestGap = std::max(longestGap, finished - lastBeat);
    heartbeat.stop();

    if (!model.items().isEmpty() || model.errorMessage()) {
        throw BenchFailure(QStringLiteral("%1 items left: %2")
                               .arg(model.items().size())
                               .arg(model.errorMessage().value_or(QString())));
    }
    const double gap = std::chrono::duration<double, std::milli>(longestGap).count();
    Round round{std::max(0.0, gap - 1.0), std::chrono::duration<double>(finished - started).count()};
    round.idleStallMilliseconds = idleStall(finished - started);

    const Clock::time_point directStart = Clock::now();
    for (const QString& path : direct) {
        if (const std::optional<QString> refusal = LocalTrash::moveToTrash(path)) {
            throw BenchFailure(QStringLiteral("the Trash refused %1: %2").arg(path, *refusal));
        }
    }
    round.onMainThreadSeconds = std::chrono::duration<double>(Clock::now() - directStart).count();
    return round;
}

void run(const Options& options)
{
    Samples stalls;
    Samples totals;
    double worstStall = 0;
    double worstTotal = 0;
    Samples idle;
    Samples direct;
    for (int round = 0; round < options.rounds; ++round) {
        const Round result = oneRound(options.items);
        stalls.add(result.longestStallMilliseconds);
        totals.add(result.seconds);
        worstStall = std::max(worstStall, result.longestStallMilliseconds);
        worstTotal = std::max(worstTotal, result.seconds);
        idle.add(result.idleStallMilliseconds);
        direct.add(result.onMainThreadSeconds);
    }
    say(QStringLiteral("detail: longest main-thread stall per round (ms): %1").arg(stalls.listed(2)));
    say(QStringLiteral("detail: delete to listed again per round (s): %1").arg(totals.listed(3)));
    say(QStringLiteral("detail: longest heartbeat gap of an idle loop over as long (ms): %1").arg(idle.listed(2)));
    say(QStringLiteral("detail: the same moves on the main thread, one after another (s): %1").arg(direct.listed(3)));
    say(QStringLiteral("| measurement | median | worst |"));
    say(QStringLiteral("|---|---|---|"));
    say(QStringLiteral("| longest main-thread stall while %1 items go to the Trash | %2 ms | %3 ms |")
            .arg(options.items)
            .arg(QString::number(stalls.median(), 'f', 2), QString::number(worstStall, 'f', 2)));
    say(QStringLiteral("| from the delete to the folder listed again | %1 s | %2 s |")
            .arg(QString::number(totals.median(), 'f', 3), QString::number(worstTotal, 'f', 3)));
    say(QStringLiteral("| longest heartbeat gap of an idle loop over as long (the machine's load) | %1 ms | - |")
            .arg(QString::number(idle.median(), 'f', 2)));
    say(QStringLiteral("| the same moves on the main thread: the stall a synchronous delete makes | %1 s | - |")
            .arg(QString::number(direct.median(), 'f', 3)));
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
        std::fprintf(stderr, "quillbarrow_bench_trash: %s\n", error.what());
        return 1;
    }
    return 0;
}
