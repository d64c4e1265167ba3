#include "LocalDestination.h"
#include "LocalFileOperations.h"
#include "TransferCoordinator.h"
#include "async/SerialExecutor.h"
#include "async/WorkPool.h"

#include <QPointer>
#include <QThreadPool>
#include <QCoro/QCoroFuture>

#include <cerrno>
#include <cstring>

namespace quillbarrow {

namespace {

// A disk that answers "File exists" for every name would otherwise keep the Keep Both numbering
// going for ever, on the window's thread.
constexpr int maximumKeepBothTries = 1000;

} // namespace

// Puts a staged item in place. A name the disk holds although planning found it free (a disk
// that ignores case holds "A.jpg" for "a.jpg", or the item appeared meanwhile) is a question like
// any other, or answered by the answer given for all; a Keep Both name is tried further until the
// disk takes one; a Replace that reaches an item this paste put in place leaves it alone.
QCoro::Task<TransferCoordinator::PlacingEnd> TransferCoordinator::placeStaged(TransferID jobID, StagedItem item)
{
    QPointer<TransferCoordinator> self(this);
    const QSet<QString>* reserved = item.destination->reservedPaths;
    const auto isTaken = [&item, reserved](const QString& candidate) {
        return item.to->contains(candidate) || (reserved && reserved->contains(item.to->childPath(candidate)));
    };
    QString name = item.name;
    bool replace = item.replace;
    bool keepBoth = false;
    qint64 nextNumber = 0;
    int keepBothTries = 0;
    for (;;) {
        if (keepBoth) {
            name = LocalFileOperations::keepBothName(item.keptBothFrom.isEmpty() ? item.name : item.keptBothFrom,
                                                     isTaken, &nextNumber, LocalFileOperations::maximumNameBytes);
        }
        LocalFileOperations::Placement placement{LocalFileOperations::Placement::Outcome::failed, QString()};
        const LocalFolder* from = item.from;
        const LocalFolder* to = item.to;
        LocalDestination* destination = item.destination.get();
        const QString staging = item.staging;
        const std::optional<LocalFolder::Item> made = item.made;
        const QString lead = item.failureLead(name);
        if (replace) {
            // What is replaced may be a whole folder tree, removed once the new item is in its
            // place: not on the window's thread.
            QFuture<LocalFileOperations::Placement> placing =
                runOnThreadPool(workPool(), [from, staging, made, to, name, lead, destination] {
                    return LocalFileOperations::moveIntoPlace(*from, staging, made, *to, name, true, lead,
                                                              &destination->placed(), &destination->root());
                });
            placement = co_await placing;
            if (!self) {
                co_return PlacingEnd{PlacingEnd::Kind::cancelled, name, QString()};
            }
        } else {
            placement = LocalFileOperations::moveIntoPlace(*from, staging, made, *to, name, false, lead,
                                                           &destination->placed(), &destination->root());
        }
        switch (placement.outcome) {
        case LocalFileOperations::Placement::Outcome::placed:
            co_return PlacingEnd{PlacingEnd::Kind::placed, name, QString()};
        case LocalFileOperations::Placement::Outcome::failed:
            co_return PlacingEnd{PlacingEnd::Kind::failed, name, placement.failure};
        case LocalFileOperations::Placement::Outcome::ownItem:
            co_return PlacingEnd{PlacingEnd::Kind::refusedOwn, name, QString()};
        case LocalFileOperations::Placement::Outcome::taken:
            break;
        }
        if (item.keptBoth || keepBoth) {
            // Keep Both was the answer: the next free name is taken without asking again.
            keepBoth = true;
            if (item.token->isCancelled()) {
                co_return PlacingEnd{PlacingEnd::Kind::cancelled, name, QString()};
            }
            if (++keepBothTries >= maximumKeepBothTries) {
                co_return PlacingEnd{PlacingEnd::Kind::failed, name,
                                     item.failureLead(name) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(EEXIST))};
            }
            continue;
        }
        const std::optional<ConflictResolution> answer =
            co_await requestResolution(jobID, name, LocalFileOperations::lastComponent(item.to->path()));
        if (!self) {
            co_return PlacingEnd{PlacingEnd::Kind::cancelled, name, QString()};
        }
        if (!answer) {
            co_return PlacingEnd{item.token->isCancelled() ? PlacingEnd::Kind::cancelled : PlacingEnd::Kind::stopped,
                                 name, QString()};
        }
        switch (*answer) {
        case ConflictResolution::skip:
            co_return PlacingEnd{PlacingEnd::Kind::skipped, name, QString()};
        case ConflictResolution::replace:
            replace = true;
            break;
        case ConflictResolution::keepBoth:
            keepBoth = true;
            break;
        }
    }
}

void TransferCoordinator::finishUnplaced(TransferID jobID, const PlacingEnd& end, LocalDestination& destination,
                                         const QString& cancelledLog)
{
    switch (end.kind) {
    case PlacingEnd::Kind::placed:
        break;
    case PlacingEnd::Kind::failed:
        finishFailed(jobID, QuillbarrowError::localFileFailed(end.failure));
        break;
    case PlacingEnd::Kind::refusedOwn:
        finishFailed(jobID, replacingBatchItemRefused(end.name, TransferDirection::androidToMac));
        break;
    case PlacingEnd::Kind::skipped:
        // As a Skip while planning: the item leaves no row.
        m_transferQueue->remove(jobID);
        dropCancellationToken(jobID);
        refreshTransferJobs();
        break;
    case PlacingEnd::Kind::stopped:
        destination.stopped = true;
        finishCancelled(jobID, QString());
        break;
    case PlacingEnd::Kind::cancelled:
        finishCancelled(jobID, cancelledLog);
        break;
    }
}

} // namespace quillbarrow
