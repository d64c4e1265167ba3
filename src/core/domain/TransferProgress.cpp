#include "TransferProgress.h"

#include <algorithm>

namespace quillbarrow {

TransferProgress::TransferProgress(qint64 bytesCompleted, std::optional<qint64> bytesTotal, QDateTime startedAt,
                                   QDateTime updatedAt)
    : bytesCompleted(bytesCompleted), bytesTotal(bytesTotal), startedAt(std::move(startedAt)),
      updatedAt(std::move(updatedAt))
{
}

std::optional<double> TransferProgress::fractionCompleted() const
{
    if (!bytesTotal || *bytesTotal < 1) {
        return std::nullopt;
    }
    const double fraction = static_cast<double>(bytesCompleted) / static_cast<double>(*bytesTotal);
    return std::clamp(fraction, 0.0, 1.0);
}

double TransferProgress::bytesPerSecond() const
{
    const double elapsedSeconds = static_cast<double>(startedAt.msecsTo(updatedAt)) / 1000.0;
    return static_cast<double>(bytesCompleted) / std::max(elapsedSeconds, 0.001);
}

} // namespace quillbarrow
