#include "LocalFileOperations.h"
#include "domain/LocalPath.h"
#include "MainThreadYield.h"
#include "TransferCoordinator.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSet>

namespace quillbarrow {

// One item of a copy between local folders, decided before any job exists.
struct TransferCoordinator::LocalCopyPlan {
    enum class Action {
        // Copy to the target, which must be free when the copy is complete.
        copy,
        // Copy, then swap the new item in for whatever is at the target.
        replace,
        // Replace answered for the item's own location: it is already where it should be.
        alreadyInPlace,
        // The item cannot be copied; the job fails with `refusal`.
        refuse,
    };

    // Empty for an address that is not a local file.
    QString source;
    // Empty for a refused item.
    QString target;
    QString displayName;
    Action action;
    std::optional<QuillbarrowError> refusal;
};

namespace {

// The failures of a copy between local folders carry the platform's description as the detail;
// a fault of the computer's own disk is shown as it is, naming the item and the cause.
QuillbarrowError localCopyError(const QString& description)
{
    if (LocalFileOperations::describesLocalWriteFault(description)) {
        return QuillbarrowError::localFileFailed(description);
    }
    return QuillbarrowError::sessionFailed(description);
}

} // namespace

QCoro::Task<> TransferCoordinator::pasteIntoLocal(QUrl destination, std::shared_ptr<DeviceSession> deviceSession)
{
    const ClipboardContents contents = m_clipboard->contents();
    switch (contents.kind()) {
    case ClipboardContents::Kind::empty:
        co_return;
    case ClipboardContents::Kind::localFiles:
        co_await copyLocalToLocal(contents.urls(), std::move(destination));
        co_return;
    case ClipboardContents::Kind::deviceFiles:
        break;
    }
    if (!deviceSession) {
        setLastError(QuillbarrowError::sessionFailed(QStringLiteral("No Android device session is open.")));
        co_return;
    }
    if (refuseItemsOfAnotherSession(contents.items(), deviceSession)) {
        co_return;
    }
    co_await pasteDeviceItemsIntoLocal(contents.items(), std::move(destination), std::move(deviceSession));
}

QCoro::Task<> TransferCoordinator::copyLocalToLocal(QList<QUrl> urls, QUrl destination)
{
    QPointer<TransferCoordinator> self(this);
    AsyncGate::Lease workflow = co_await acquireTransferWorkflow();
    if (!self || !workflow) {
        co_return;
    }
    clearStickyResolution();

    // Every target is built from the destination's path, so it must be a folder that exists here:
    // an empty or relative path would put copies in the wrong place.
    const QString destinationPath = destination.isLocalFile() ? QDir::cleanPath(LocalPath::fromUrl(destination)) : QString();
    if (urls.isEmpty()) {
        co_return;
    }
    if (destinationPath.isEmpty() || !QDir::isAbsolutePath(destinationPath) || !QFileInfo(destinationPath).isDir()) {
        reportError(QuillbarrowError::pathNotFound());
        co_return;
    }
    const QString physicalDestination = QFileInfo(destinationPath).canonicalFilePath();
    QString destinationName = LocalFileOperations::lastComponent(destinationPath);
    if (destinationName.isEmpty()) {
        destinationName = destinationPath;
    }

    QSet<QString> reserved;
    // A path given twice (two selections of one item) is one item: copied once, never asked
    // about against its own copy.
    QSet<QString> planned;
    QList<LocalCopyPlan> plans;
    for (const QUrl& url : std::as_const(urls)) {
        if (!url.isLocalFile() || LocalFileOperations::lastComponent(QDir::cleanPath(LocalPath::fromUrl(url))).isEmpty()) {
            const QString shown = url.toDisplayString(QUrl::PreferLocalFile);
            plans.append(
                LocalCopyPlan{QString(), QString(), shown, LocalCopyPlan::Action::refuse,
                              localCopyError(QStringLiteral("Could not copy ") + shown +
                                             QStringLiteral(": it is not a file or folder on this computer."))});
            continue;
        }
        const QString source = QDir::cleanPath(LocalPath::fromUrl(url));
        if (planned.contains(source)) {
            continue;
        }
        planned.insert(source);
        const QString name = LocalFileOperations::lastComponent(source);
        const QString physicalSource = LocalFileOperations::physicalLocation(source);

        // A folder copied into itself, or into a folder inside it, would go on copying its own copy.
        if (LocalFileOperations::isRealFolder(source) &&
            LocalFileOperations::isSameOrInside(physicalDestination, physicalSource)) {
            plans.append(LocalCopyPlan{source, QString(), name, LocalCopyPlan::Action::refuse,
                                       localCopyError(QStringLiteral("Could not copy ") + name +
                                                      QStringLiteral(": a folder cannot be copied into itself "
                                                                     "or into a folder inside it."))});
            continue;
        }

        QString target = LocalFileOperations::childPath(destinationPath, name);
        LocalCopyPlan::Action action = LocalCopyPlan::Action::copy;
        if (LocalFileOperations::itemExists(target) || reserved.contains(target)) {
            const std::optional<ConflictResolution> answer =
                co_await requestResolution(std::nullopt, name, destinationName);
            if (!self) {
                co_return;
            }
            if (!answer) {
                // Cancelled: nothing has been queued, so nothing is copied, not even the items
                // planned before the question.
                co_return;
            }
            switch (*answer) {
            case ConflictResolution::skip:
                continue;
            case ConflictResolution::replace: {
                const QString physicalTarget = LocalFileOperations::physicalLocation(target);
                if (reserved.contains(target)) {
                    // An earlier item of this paste goes there: replacing it would lose that copy.
                    plans.append(LocalCopyPlan{source, QString(), name, LocalCopyPlan::Action::refuse,
                                               replacingBatchItemRefused(name, TransferDirection::androidToMac)});
                    continue;
                }
                if (physicalSource == physicalTarget) {
                    action = LocalCopyPlan::Action::alreadyInPlace;
                } else if (LocalFileOperations::isSameOrInside(physicalSource, physicalTarget)) {
                    // Replacing the folder that holds the item would delete the item itself.
                    plans.append(LocalCopyPlan{source, QString(), name, LocalCopyPlan::Action::refuse,
                                               localCopyError(QStringLiteral("Could not replace ") + name +
                                                              QStringLiteral(": it holds the item being copied."))});
                    continue;
                } else {
                    action = LocalCopyPlan::Action::replace;
                }
                break;
            }
            case ConflictResolution::keepBoth:
                target = LocalFileOperations::childPath(
                    destinationPath, LocalFileOperations::uniqueLocalName(name, destinationPath, reserved));
                break;
            }
        }
        reserved.insert(target);
        plans.append(LocalCopyPlan{source, target, LocalFileOperations::lastComponent(target), action, std::nullopt});
    }
    if (plans.isEmpty()) {
        co_return;
    }

    QList<TransferID> jobIDs;
    for (const LocalCopyPlan& plan : std::as_const(plans)) {
        const std::optional<qint64> totalBytes =
            plan.source.isEmpty() ? std::nullopt : LocalFileOperations::attributeBytes(plan.source);
        const TransferJob job(TransferID::create(), TransferDirection::macToAndroid, TransferPurpose::fileTransfer,
                              plan.displayName, totalBytes, TransferState::queued(), 0);
        enqueueTransfer(job);
        jobIDs.append(job.id);
    }
    refreshTransferJobs();

    for (qsizetype index = 0; index < plans.size(); ++index) {
        runLocalCopy(plans.at(index), jobIDs.at(index));
        // Let queued main-thread work (a cancel click, a repaint) in between items.
        co_await MainThreadYield{};
        if (!self) {
            co_return;
        }
    }
}

void TransferCoordinator::runLocalCopy(const LocalCopyPlan& plan, const TransferID& jobID)
{
    if (!canStartTransfer(jobID)) {
        dropCancellationToken(jobID);
        return;
    }
    if (plan.action == LocalCopyPlan::Action::refuse) {
        try {
            m_transferQueue->fail(jobID, *plan.refusal);
        } catch (const QuillbarrowError&) {
        }
        setLastError(*plan.refusal);
        dropCancellationToken(jobID);
        refreshTransferJobs();
        return;
    }
    try {
        m_transferQueue->start(jobID, QDateTime::currentDateTimeUtc());
    } catch (const QuillbarrowError&) {
        dropCancellationToken(jobID);
        return;
    }
    refreshTransferJobs();

    std::optional<QString> failure;
    if (plan.action != LocalCopyPlan::Action::alreadyInPlace) {
        failure =
            LocalFileOperations::copyItem(plan.source, plan.target, plan.action == LocalCopyPlan::Action::replace);
    }
    if (!failure) {
        try {
            m_transferQueue->complete(jobID);
        } catch (const QuillbarrowError&) {
        }
    } else {
        const QuillbarrowError error = localCopyError(*failure);
        try {
            m_transferQueue->fail(jobID, error);
        } catch (const QuillbarrowError&) {
        }
        setLastError(error);
    }
    dropCancellationToken(jobID);
    refreshTransferJobs();
}

} // namespace quillbarrow
