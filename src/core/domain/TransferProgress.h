#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <optional>

namespace quillbarrow {

// The measured state of a running transfer. Dates are UTC.
struct TransferProgress {
    TransferProgress(qint64 bytesCompleted, std::optional<qint64> bytesTotal, QDateTime startedAt,
                     QDateTime updatedAt);

    // Done divided by total, clamped to 0...1; nothing when the total is unknown or below 1 (the
    // panel then shows an indeterminate bar).
    std::optional<double> fractionCompleted() const;
    // Bytes done divided by the elapsed time, which counts as at least a millisecond (so equal or
    // reversed dates never divide by zero or give a negative rate).
    double bytesPerSecond() const;

    qint64 bytesCompleted;
    std::optional<qint64> bytesTotal;
    QDateTime startedAt;
    QDateTime updatedAt;

    friend bool operator==(const TransferProgress&, const TransferProgress&) = default;
};

} // namespace quillbarrow
