// Moving many local items to the Trash through LocalBrowserViewModel, and how long the main
// thread stops meanwhile:
//
//   quillbarrow_bench_trash [--items N] [--rounds N]
//
// Each round makes a folder of N small files (1,000 by default) and a home Trash in a temporary
// folder, lists it, selects every item and deletes it as the Mac pane's confirmation does. A
// 1 ms heartbeat timer runs on the main thread from the delete until the listing that follows is
// applied; the longest gap between two beats, less the beat itself, is the longest stall of the
// main thread. Also gives the time from the delete to the applied listing.
//
// Prints detail lines and a Markdown table. Exits 1 when something fails (an item left, an
// error message). Never judges a time.

#include "../Samples.h"

#include "infrastructure/AppLogger.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

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
};

Round oneRound(int items)
{
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        throw BenchFailure(QStringLiteral("no temporary folder"));
    }
    const QString folder = scratch.filePath(QStringLiteral("shown"));
    QDir().mkpath(folder);
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("data"))));
    for (int index = 0; index < items; ++index) {
        QFile file(QDir(folder).filePath(QStringLiteral("item %1.txt").arg(index)));
        if (!file.open(QIODevice::WriteOnly) || file.write("contents") != 8) {
            throw BenchFailure(QStringLiteral("could not make ") + file.fileName());
        }
    }
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
    return Round{std::max(0.0, gap - 1.0), std::chrono::duration<double>(finished - started).count()};
}

void run(const Options& options)
{
    Samples stalls;
    Samples totals;
    double worstStall = 0;
    double worstTotal = 0;
    for (int round = 0; round < options.rounds; ++round) {
        const Round result = oneRound(options.items);
        stalls.add(result.longestStallMilliseconds);
        totals.add(result.seconds);
        worstStall = std::max(worstStall, result.longestStallMilliseconds);
        worstTotal = std::max(worstTotal, result.seconds);
    }
    say(QStringLiteral("detail: longest main-thread stall per round (ms): %1").arg(stalls.listed(2)));
    say(QStringLiteral("detail: delete to listed again per round (s): %1").arg(totals.listed(3)));
    say(QStringLiteral("| measurement | median | worst |"));
    say(QStringLiteral("|---|---|---|"));
    say(QStringLiteral("| longest main-thread stall while %1 items go to the Trash | %2 ms | %3 ms |")
            .arg(options.items)
            .arg(QString::number(stalls.median(), 'f', 2), QString::number(worstStall, 'f', 2)));
    say(QStringLiteral("| from the delete to the folder listed again | %1 s | %2 s |")
            .arg(QString::number(totals.median(), 'f', 3), QString::number(worstTotal, 'f', 3)));
}

} // namespace

} // namespace quillbarrow

int main(int argc, char** argv)
{
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
