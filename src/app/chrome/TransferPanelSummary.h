#pragma once

#include "domain/TransferJob.h"

#include <QColor>
#include <QList>
#include <QString>

#include <optional>

namespace quillbarrow {

// What the transfer panel shows, worked out from the coordinator's job list: the header's counts
// and overall progress (one pass over the list, finished jobs included) and, per job, the texts,
// icon and controls of its row. Pure functions of their input, so the panel keeps no state.
struct TransferPanelSummary {
    // The counts of the header. "Active" means running, cancelling, queued or awaiting an answer.
    static TransferPanelSummary of(const QList<TransferJob>& jobs);

    qsizetype activeCount = 0;
    bool hasTerminalJobs = false;
    // Active jobs opened for viewing, in any active state.
    qsizetype viewingCount = 0;
    // Running, respectively queued, jobs that are plain transfers.
    qsizetype runningCount = 0;
    qsizetype waitingCount = 0;
    // Of either purpose.
    qsizetype confirmationCount = 0;
    qsizetype cancellingCount = 0;
    // Done over total of the jobs of known size (at least one byte); nothing without such a job.
    std::optional<double> overallFraction;

    // The header's count texts in display order ("2 transferring", "1 needs confirmation" ...),
    // each only when its count is at least 1; the boolean marks the orange one.
    QList<std::pair<QString, bool>> countTexts() const;
    // f × 100 to the nearest whole number, halves away from zero, and "%".
    static QString percentText(double fraction);

    // The second line of a row: "12 MB of 40 MB — 3.1 MB/s", "Waiting", "Failed: …".
    static QString stateLine(const TransferJob& job);
    // The row's own bar: only for a running or cancelling job whose progress has a total of at
    // least one byte.
    static std::optional<double> rowFraction(const TransferJob& job);
    // Only running and queued jobs can be cancelled from their row.
    static bool showsCancelButton(const TransferJob& job);
    static QString cancelHelpText(const TransferJob& job);
    // The row icon's symbol by purpose and direction, and its colour by state.
    static QString symbolName(const TransferJob& job);
    static QColor stateColour(TransferState::Kind kind);
};

} // namespace quillbarrow
