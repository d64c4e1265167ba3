#include "BenchMain.h"

#include "domain/QuillbarrowError.h"

#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <memory>

namespace quillbarrow {

namespace {

QCoro::Task<> runReporting(std::function<QCoro::Task<>()> work, const char* program, std::shared_ptr<int> exitCode)
{
    try {
        QCoro::Task<> running = work();
        co_await std::move(running);
        *exitCode = 0;
    } catch (const QuillbarrowError& error) {
        std::fprintf(stderr, "%s: %s\n", program, error.technicalDetails().toUtf8().constData());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", program, error.what());
    }
    QCoreApplication::exit(*exitCode);
}

} // namespace

int runBenchmark(QCoreApplication& app, const char* program, std::function<QCoro::Task<>()> work)
{
    QLoggingCategory::setFilterRules(QStringLiteral("com.quillbarrow.*=false"));
    auto exitCode = std::make_shared<int>(1);
    // Started from the event loop, so that even a failure before the first wait ends the loop.
    std::unique_ptr<QCoro::Task<>> running;
    QTimer::singleShot(0, &app, [&] {
        running = std::make_unique<QCoro::Task<>>(runReporting(std::move(work), program, exitCode));
    });
    const int code = app.exec();
    running.reset();
    return code;
}

} // namespace quillbarrow
