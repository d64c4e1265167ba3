#include "LibMTPProgressBridge.h"

#include <limits>
#include <optional>
#include <utility>

namespace quillbarrow::LibMTPProgressBridge {

namespace {

qint64 capped(std::uint64_t bytes)
{
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<qint64>::max());
    return static_cast<qint64>(bytes > largest ? largest : bytes);
}

} // namespace

Box::Box(TransferProgressFunction closure) : closure(std::move(closure)) {}

std::int32_t trampoline(std::uint64_t sent, std::uint64_t total, void* context)
{
    if (context == nullptr) {
        return 0;
    }
    Box& box = *static_cast<Box*>(context);
    if (!box.closure) {
        return 0;
    }
    const std::optional<qint64> knownTotal = total == 0 ? std::nullopt : std::optional<qint64>(capped(total));
    try {
        if (box.closure(capped(sent), knownTotal)) {
            return 0;
        }
        box.cancelled.store(true);
    } catch (...) {
        box.failure = std::current_exception();
    }
    return 1;
}

} // namespace quillbarrow::LibMTPProgressBridge
