// How the transfer panel keeps up with a big queue: N jobs, all listed, of which R step their
// progress every interval for a while, each step published once by the coordinator as in a real
// paste. Prints the main thread's longest stall (the longest single event it handled, painting
// included), the longest event spent in the panel, and the share of the wall time spent in the
// panel (its refreshes and its painting).
//
//   quillbarrow_bench_chrome_panel [--jobs 10000] [--running 10000] [--interval-ms 120] [--seconds 10]

#include "async/Allocator.h"
#include "chrome/TransferPanel.h"
#include "logging/AppLogger.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/TransferQueue.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

using namespace quillbarrow;

namespace {

// The coordinator with its job plumbing reachable, as a paste would drive it.
class BenchCoordinator final : public TransferCoordinator {
public:
    BenchCoordinator(Clipboard* clipboard, std::shared_ptr<TransferQueue> queue)
        : TransferCoordinator(clipboard, std::move(queue), AppLogger(QStringLiteral("TransferCoordinator")), std::nullopt)
    {
    }
    using TransferCoordinator::enqueueTransfer;
    using TransferCoordinator::refreshTransferJobs;
};

// Times every outermost event the main thread handles, and those aimed at the panel.
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (m_depth > 0) {
            ++m_depth;
            const bool handled = QApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        // Asked before delivery: the receiver may be gone afterwards (a single-shot timer).
        const bool inPanel = belongsToPanel(receiver);
        ++m_depth;
        QElapsedTimer clock;
        clock.start();
        const bool handled = QApplication::notify(receiver, event);
        const qint64 spent = clock.nsecsElapsed();
        --m_depth;
        if (measuring) {
            longestEvent = std::max(longestEvent, spent);
            if (inPanel) {
                panelTime += spent;
                longestPanelEvent = std::max(longestPanelEvent, spent);
            }
        }
        return handled;
    }

    QObject* panel = nullptr;
    bool measuring = false;
    qint64 longestEvent = 0;
    qint64 longestPanelEvent = 0;
    qint64 panelTime = 0;

private:
    bool belongsToPanel(QObject* object) const
    {
        for (; object; object = object->parent()) {
            if (object == panel) {
                return true;
            }
        }
        return false;
    }

    int m_depth = 0;
};

int option(int argc, char** argv, const char* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return std::atoi(argv[i + 1]);
        }
    }
    return fallback;
}

} // namespace

int main(int argc, char** argv)
{
    // The allocator as the program sets it, before anything allocates from another thread.
    quillbarrow::configureAllocator();
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QLoggingCategory::setFilterRules(QStringLiteral("com.quillbarrow.*=false"));
    TimedApplication app(argc, argv);
    const int jobCount = option(argc, argv, "--jobs", 10'000);
    const int runningCount = std::min(jobCount, option(argc, argv, "--running", jobCount));
    const int intervalMs = option(argc, argv, "--interval-ms", 120);
    const int seconds = option(argc, argv, "--seconds", 10);

    Clipboard clipboard;
    auto queue = std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue")));
    BenchCoordinator coordinator(&clipboard, queue);
    const QDateTime start = QDateTime::currentDateTimeUtc();
    QList<TransferID> running;
    for (int i = 0; i < jobCount; ++i) {
        const TransferJob job(TransferID::create(), TransferDirection::androidToMac, TransferPurpose::fileTransfer,
                              QStringLiteral("IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0')), 50'000'000,
                              TransferState::queued(), 0);
        coordinator.enqueueTransfer(job);
        if (i < runningCount) {
            queue->start(job.id, start);
            running.append(job.id);
        }
    }
    coordinator.refreshTransferJobs();

    TransferPanel panel(&coordinator);
    panel.resize(900, 400);
    panel.setPanelHeight(400);
    panel.show();
    app.panel = &panel;

    qint64 publishTime = 0;
    int ticks = 0;
    qint64 step = 0;
    QTimer publisher;
    publisher.setTimerType(Qt::PreciseTimer);
    publisher.setInterval(intervalMs);
    QObject::connect(&publisher, &QTimer::timeout, [&] {
        QElapsedTimer clock;
        clock.start();
        ++step;
        const QDateTime now = start.addMSecs(step * intervalMs);
        for (const TransferID& id : std::as_const(running)) {
            queue->updateProgress(id, std::min<qint64>(step * 250'000, 50'000'000), now);
        }
        coordinator.refreshTransferJobs();
        publishTime += clock.nsecsElapsed();
        ++ticks;
    });

    QElapsedTimer wall;
    QTimer::singleShot(200, [&] { // let the first layout and paint settle
        app.measuring = true;
        wall.start();
        publisher.start();
        QTimer::singleShot(seconds * 1000, [&] {
            publisher.stop();
            app.measuring = false;
            app.quit();
        });
    });
    app.exec();

    const double wallMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
    std::printf("transfer panel: %d jobs, %d stepping every %d ms for %d s\n", jobCount, runningCount, intervalMs, seconds);
    std::printf("%-44s %10d\n", "publications", ticks);
    std::printf("%-44s %10.2f\n", "longest main-thread stall (ms)", static_cast<double>(app.longestEvent) / 1e6);
    std::printf("%-44s %10.2f\n", "longest event in the panel (ms)", static_cast<double>(app.longestPanelEvent) / 1e6);
    std::printf("%-44s %10.2f\n", "time in the panel (% of wall)", 100.0 * static_cast<double>(app.panelTime) / 1e6 / wallMs);
    std::printf("%-44s %10.2f\n", "time publishing in core (% of wall)", 100.0 * static_cast<double>(publishTime) / 1e6 / wallMs);
    std::printf("%-44s %10s\n", "target: no stall over 16 ms",
                app.longestEvent <= 16'000'000 ? "met" : "missed");
    return 0;
}
