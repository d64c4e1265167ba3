#include "DetachedCall.h"

#include <QtGlobal>

namespace quillbarrow {

namespace {

QCoro::Task<> awaitAndDrop(QCoro::Task<> call)
{
    try {
        co_await std::move(call);
    } catch (...) {
        // Reported by the call itself.
    }
}

} // namespace

void startDetached(QCoro::Task<> call)
{
    QCoro::Task<> running = awaitAndDrop(std::move(call));
    Q_UNUSED(running) // runs on by itself
}

} // namespace quillbarrow
