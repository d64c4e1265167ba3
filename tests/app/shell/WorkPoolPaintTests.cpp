#include "async/WorkPool.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QSemaphore>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

using namespace quillbarrow;

// Qt's raster painter splits a big fill over its shared thread pool and waits for the parts. Our
// long jobs (a copy of thousands of files, a Trash move) hold threads of the program's own pool,
// so a paint still finishes while every one of them is busy.
TEST(WorkPool, APaintFinishesWhileEveryThreadOfThePoolIsHeld)
{
    QThreadPool& pool = workPool();
    const int threads = pool.maxThreadCount();
    QSemaphore started;
    QSemaphore release;
    for (int i = 0; i < threads; ++i) {
        pool.start([&] {
            started.release();
            release.acquire();
        });
    }
    started.acquire(threads);

    // Blended fills over a large image are the ones the painter spreads over threads.
    std::packaged_task<QRgb()> paint([] {
        QImage image(2400, 2400, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.fillRect(image.rect(), QColor(255, 0, 0, 128));
        painter.end();
        return image.pixel(1200, 1200);
    });
    std::future<QRgb> painted = paint.get_future();
    std::thread painter(std::move(paint));
    // A guard against a hang, not a measure of speed: a paint waiting on a held pool never ends.
    const bool finished = painted.wait_for(std::chrono::minutes(2)) == std::future_status::ready;
    release.release(threads);
    painter.join();
    pool.waitForDone();
    ASSERT_TRUE(finished) << "the paint waited for the program's jobs";
    const QRgb centre = painted.get();
    EXPECT_EQ(qRed(centre), 255);
    EXPECT_EQ(qGreen(centre), 127);
}
