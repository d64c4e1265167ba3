#include "chrome/TransferPanelSummary.h"

#include "domain/ByteCountFormatter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillbarrow {

namespace {

bool isActive(TransferState::Kind kind)
{
    switch (kind) {
    case TransferState::Kind::running:
    case TransferState::Kind::cancelling:
    case TransferState::Kind::queued:
    case TransferState::Kind::awaitingConfirmation:
        return true;
    default:
        return false;
    }
}

// The rate as a whole number of bytes a second, truncated toward zero; kept inside 64 bits so
// that an absurd count cannot overflow the conversion.
qint64 wholeBytesPerSecond(const TransferProgress& progress)
{
    const double rate = std::trunc(progress.bytesPerSecond());
    constexpr double limit = 9.0e18;
    return static_cast<qint64>(std::clamp(rate, -limit, limit));
}

} // namespace

TransferPanelSummary TransferPanelSummary::of(const QList<TransferJob>& jobs)
{
    TransferPanelSummary summary;
    qint64 total = 0;
    qint64 done = 0;
    for (const TransferJob& job : jobs) {
        const TransferState::Kind kind = job.state.kind();
        const bool viewing = job.purpose == TransferPurpose::openForViewing;
        if (isActive(kind)) {
            ++summary.activeCount;
            if (viewing) {
                ++summary.viewingCount;
            }
        } else {
            summary.hasTerminalJobs = true;
        }
        if (kind == TransferState::Kind::running && !viewing) {
            ++summary.runningCount;
        }
        if (kind == TransferState::Kind::queued && !viewing) {
            ++summary.waitingCount;
        }
        if (kind == TransferState::Kind::awaitingConfirmation) {
            ++summary.confirmationCount;
        }
        if (kind == TransferState::Kind::cancelling) {
            ++summary.cancellingCount;
        }

        if (!job.totalBytes || *job.totalBytes < 1) {
            continue;
        }
        const qint64 size = *job.totalBytes;
        // Sums past 64 bits cannot come from real files; saturate rather than overflow.
        total = size > std::numeric_limits<qint64>::max() - total ? std::numeric_limits<qint64>::max() : total + size;
        qint64 jobDone = 0;
        if (kind == TransferState::Kind::completed) {
            jobDone = size;
        } else if (const std::optional<TransferProgress> progress = job.state.progress()) {
            jobDone = std::clamp<qint64>(progress->bytesCompleted, 0, size);
        }
        done = jobDone > std::numeric_limits<qint64>::max() - done ? std::numeric_limits<qint64>::max() : done + jobDone;
    }
    if (total >= 1) {
        summary.overallFraction = std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0);
    }
    return summary;
}

QList<std::pair<QString, bool>> TransferPanelSummary::countTexts() const
{
    QList<std::pair<QString, bool>> texts;
    const auto add = [&texts](qsizetype count, const QString& words, bool orange) {
        if (count >= 1) {
            texts.append({QString::number(count) + words, orange});
        }
    };
    add(viewingCount, QStringLiteral(" opening for viewing"), false);
    add(runningCount, QStringLiteral(" transferring"), false);
    add(waitingCount, QStringLiteral(" waiting"), false);
    add(confirmationCount, QStringLiteral(" needs confirmation"), true);
    add(cancellingCount, QStringLiteral(" cancelling"), false);
    return texts;
}

QString TransferPanelSummary::percentText(double fraction)
{
    return QString::number(static_cast<qint64>(std::round(fraction * 100.0))) + u'%';
}

QString TransferPanelSummary::stateLine(const TransferJob& job)
{
    switch (job.state.kind()) {
    case TransferState::Kind::running: {
        const TransferProgress progress = *job.state.progress();
        QString line = ByteCountFormatter::string(progress.bytesCompleted);
        if (progress.bytesTotal) {
            line += QStringLiteral(" of ") + ByteCountFormatter::string(*progress.bytesTotal);
        }
        return line + QStringLiteral(" \u2014 ") + ByteCountFormatter::string(wholeBytesPerSecond(progress)) +
               QStringLiteral("/s");
    }
    case TransferState::Kind::cancelling:
        return QStringLiteral("Cancelling\u2026");
    case TransferState::Kind::failed:
        return QStringLiteral("Failed: ") + job.state.error()->userMessage(job.direction);
    case TransferState::Kind::queued:
        return QStringLiteral("Waiting");
    case TransferState::Kind::awaitingConfirmation:
        return QStringLiteral("Needs confirmation");
    case TransferState::Kind::completed:
        return QStringLiteral("Completed");
    case TransferState::Kind::cancelled:
        return QStringLiteral("Cancelled");
    }
    return {};
}

std::optional<double> TransferPanelSummary::rowFraction(const TransferJob& job)
{
    const TransferState::Kind kind = job.state.kind();
    if (kind != TransferState::Kind::running && kind != TransferState::Kind::cancelling) {
        return std::nullopt;
    }
    return job.state.progress()->fractionCompleted();
}

bool TransferPanelSummary::showsCancelButton(const TransferJob& job)
{
    return job.state.kind() == TransferState::Kind::running || job.state.kind() == TransferState::Kind::queued;
}

QString TransferPanelSummary::cancelHelpText(const TransferJob& job)
{
    return job.purpose == TransferPurpose::openForViewing ? QStringLiteral("Cancel opening")
                                                          : QStringLiteral("Cancel transfer");
}

QString TransferPanelSummary::symbolName(const TransferJob& job)
{
    if (job.purpose == TransferPurpose::openForViewing) {
        return QStringLiteral("eye.circle");
    }
    return job.direction == TransferDirection::androidToMac ? QStringLiteral("arrow.down.circle")
                                                            : QStringLiteral("arrow.up.circle");
}

QColor TransferPanelSummary::stateColour(TransferState::Kind kind)
{
    switch (kind) {
    case TransferState::Kind::running:
    case TransferState::Kind::queued:
        return QColor(0x0a, 0x84, 0xff); // blue
    case TransferState::Kind::completed:
        return QColor(0x30, 0xb0, 0x50); // green
    case TransferState::Kind::failed:
        return QColor(0xe0, 0x30, 0x30); // red
    case TransferState::Kind::cancelling:
    case TransferState::Kind::awaitingConfirmation:
    case TransferState::Kind::cancelled:
        return QColor(0xff, 0x95, 0x00); // orange
    }
    return {};
}

} // namespace quillbarrow
