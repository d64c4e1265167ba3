#include "LocalDestination.h"
#include "LocalFileOperations.h"
#include "StagingLock.h"
#include "domain/LocalPath.h"
#include "MainThreadYield.h"
#include "TransferCoordinator.h"
#include "async/SerialExecutor.h"
#include "async/WorkPool.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSet>
#include <QThreadPool>

#include <QCoro/QCoroFuture>

#include <cerrno>

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
    // The size attribute of the source, the job's total.
    std::optional<qint64> bytes;
    // The item's own name when `target` bears a Keep Both name made from it; empty otherwise.
    QString keptBothFrom = {};
};

namespace {

// A failure of a copy between local folders is this computer's own, shown as it is: the item
// and the system's reason.
QuillbarrowError localCopyError(const QString& description)
{
    return QuillbarrowError::localFileFailed(description);
}

// What planning needs to know of one pasted address, read from the disk on a worker thread.
struct LocalCopySource {
    QUrl url;
    // Empty for an address that is not a local file or folder with a name.
    QString source;
    QString name;
    QString physicalSource;
    // For a source that is a symbolic link, the link-free path of what it finally leads to; empty
    // for any other source and for a link that leads nowhere. The link is copied as a link, so
    // replacing what it leads to would leave the copy pointing at nothing.
    QString linkedItem;
    // A real folder that holds the destination (or is it).
    bool holdsDestination = false;
    bool targetExists = false;
    std::optional<qint64> bytes;
};

QList<LocalCopySource> inspectLocalCopySources(const QList<QUrl>& urls, const QString& destinationPath,
                                               const QString& physicalDestination)
{
    QList<LocalCopySource> sources;
    sources.reserve(urls.size());
    for (const QUrl& url : urls) {
        LocalCopySource item{url, {}, {}, {}, {}, false, false, std::nullopt};
        if (url.isLocalFile() && !LocalFileOperations::lastComponent(QDir::cleanPath(LocalPath::fromUrl(url))).isEmpty()) {
            item.source = QDir::cleanPath(LocalPath::fromUrl(url));
            item.name = LocalFileOperations::lastComponent(item.source);
            item.physicalSource = LocalFileOperations::physicalLocation(item.source);
            const QFileInfo sourceInfo(item.source);
            if (sourceInfo.isSymLink()) {
                item.linkedItem = sourceInfo.canonicalFilePath();
            }
            item.holdsDestination = LocalFileOperations::isRealFolder(item.source) &&
                                    LocalFileOperations::isSameOrInside(physicalDestination, item.physicalSource);
            item.targetExists =
                LocalFileOperations::itemExists(LocalFileOperations::childPath(destinationPath, item.name));
            item.bytes = LocalFileOperations::attributeBytes(item.source);
        }
        sources.append(std::move(item));
    }
    return sources;
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
    if (destinationPath.isEmpty() || !QDir::isAbsolutePath(destinationPath)) {
        reportError(QuillbarrowError::pathNotFound());
        co_return;
    }
    // Held open from here on: the copies land in this folder even if its path is changed meanwhile.
    const auto localDestination = std::make_shared<LocalDestination>(destinationPath);
    if (const int error = localDestination->root().error(); error == ENOENT || error == ENOTDIR) {
        // Gone, or never a folder. Any other reason it cannot be opened (a path too long, a folder
        // that may not be entered) fails each item with the system's words.
        reportError(QuillbarrowError::pathNotFound());
        co_return;
    }
    const QString physicalDestination = QFileInfo(destinationPath).canonicalFilePath();
    QString destinationName = LocalFileOperations::lastComponent(destinationPath);
    if (destinationName.isEmpty()) {
        destinationName = destinationPath;
    }

    // The disk is read for every item at once, off the main thread; only the questions and the
    // names they lead to are settled here, handing the thread back now and then.
    QList<LocalCopySource> sources;
    try {
        QFuture<QList<LocalCopySource>> reading =
            runOnThreadPool(workPool(), [urls, destinationPath, physicalDestination] {
                return inspectLocalCopySources(urls, destinationPath, physicalDestination);
            });
        sources = co_await reading;
    } catch (const JobDropped&) {
        co_return; // the application is shutting down
    }
    if (!self) {
        co_return;
    }

    MainThreadPace pace(m_planningSlice);
    QSet<QString> reserved;
    // A path given twice (two selections of one item) is one item: copied once, never asked
    // about against its own copy.
    QSet<QString> planned;
    QList<LocalCopyPlan> plans;
    for (const LocalCopySource& item : std::as_const(sources)) {
        if (pace.due()) {
            co_await MainThreadYield{};
            if (!self) {
                co_return;
            }
            pace.yielded();
        }
        if (item.source.isEmpty()) {
            const QString shown = item.url.toDisplayString(QUrl::PreferLocalFile);
            plans.append(
                LocalCopyPlan{QString(), QString(), shown, LocalCopyPlan::Action::refuse,
                              localCopyError(QStringLiteral("Could not copy ") + shown +
                                             QStringLiteral(": it is not a file or folder on this computer.")),
                              std::nullopt});
            continue;
        }
        const QString& source = item.source;
        if (planned.contains(source)) {
            continue;
        }
        planned.insert(source);
        const QString& name = item.name;
        const QString& physicalSource = item.physicalSource;

        // A folder copied into itself, or into a folder inside it, would go on copying its own copy.
        if (item.holdsDestination) {
            plans.append(LocalCopyPlan{source, QString(), name, LocalCopyPlan::Action::refuse,
                                       localCopyError(QStringLiteral("Could not copy ") + name +
                                                      QStringLiteral(": a folder cannot be copied into itself "
                                                                     "or into a folder inside it.")),
                                       item.bytes});
            continue;
        }

        QString target = LocalFileOperations::childPath(destinationPath, name);
        LocalCopyPlan::Action action = LocalCopyPlan::Action::copy;
        QString keptBothFrom;
        if (item.targetExists || reserved.contains(target)) {
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
                                               replacingBatchItemRefused(name, TransferDirection::androidToMac),
                                               item.bytes});
                    continue;
                }
                if (physicalSource == physicalTarget) {
                    action = LocalCopyPlan::Action::alreadyInPlace;
                } else if (LocalFileOperations::isSameOrInside(physicalSource, physicalTarget)) {
                    // Replacing the folder that holds the item would delete the item itself.
                    plans.append(LocalCopyPlan{source, QString(), name, LocalCopyPlan::Action::refuse,
                                               localCopyError(QStringLiteral("Could not replace ") + name +
                                                              QStringLiteral(": it holds the item being copied.")),
                                               item.bytes});
                    continue;
                } else if (!item.linkedItem.isEmpty() &&
                           LocalFileOperations::isSameOrInside(item.linkedItem, physicalTarget)) {
                    // What is copied is the link itself: replacing would delete for good the item
                    // it leads to and leave the new link pointing at nothing.
                    plans.append(LocalCopyPlan{source, QString(), name, LocalCopyPlan::Action::refuse,
                                               localCopyError(QStringLiteral("Could not replace ") + name +
                                                              QStringLiteral(": the item being copied is a link "
                                                                             "to it or to something inside it.")),
                                               item.bytes});
                    continue;
                } else {
                    action = LocalCopyPlan::Action::replace;
                }
                break;
            }
            case ConflictResolution::keepBoth:
                target = LocalFileOperations::childPath(
                    destinationPath, LocalFileOperations::uniqueLocalName(name, destinationPath, reserved));
                keptBothFrom = name;
                break;
            }
        }
        reserved.insert(target);
        plans.append(LocalCopyPlan{source, target, LocalFileOperations::lastComponent(target), action, std::nullopt,
                                   item.bytes, keptBothFrom});
    }
    if (plans.isEmpty()) {
        co_return;
    }

    QList<TransferID> jobIDs;
    jobIDs.reserve(plans.size());
    const quint64 cancelAllsBefore = m_cancelAllCount;
    for (const LocalCopyPlan& plan : std::as_const(plans)) {
        if (pace.due()) {
            refreshTransferJobs();
            co_await MainThreadYield{};
            if (!self) {
                co_return;
            }
            pace.yielded();
            if (m_cancelAllCount != cancelAllsBefore) {
                // "Cancel all" took the jobs made so far: the items not yet queued go with them.
                plans.resize(jobIDs.size());
                break;
            }
        }
        const TransferJob job(TransferID::create(), TransferDirection::macToAndroid, TransferPurpose::fileTransfer,
                              plan.displayName, plan.bytes, TransferState::queued(), 0);
        enqueueTransfer(job);
        jobIDs.append(job.id);
    }
    refreshTransferJobs();

    // Copies a killed paste left in this folder, which nobody holds, go first.
    localDestination->reservedPaths = &reserved;
    QFuture<void> sweeping = runOnThreadPool(workPool(), [localDestination] {
        if (localDestination->root().isOpen()) {
            StagingLock::removeStale(localDestination->root());
        }
    });
    co_await sweeping;
    if (!self) {
        co_return;
    }
    pace.yielded();
    for (qsizetype index = 0; index < plans.size(); ++index) {
        co_await runLocalCopy(plans.at(index), jobIDs.at(index), localDestination);
        if (!self) {
            co_return;
        }
        if (localDestination->stopped) {
            // Cancelled at a question asked while an item was put in place: nothing more is copied.
            cancelTransfers(jobIDs.mid(index + 1));
            co_return;
        }
        // Let queued main-thread work (a cancel click, a repaint) in between items that needed no
        // copying thread.
        if (pace.due()) {
            co_await MainThreadYield{};
            if (!self) {
                co_return;
            }
            pace.yielded();
        }
    }
}

QCoro::Task<> TransferCoordinator::runLocalCopy(LocalCopyPlan plan, TransferID jobID,
                                                std::shared_ptr<LocalDestination> destination)
{
    if (!canStartTransfer(jobID)) {
        dropCancellationToken(jobID);
        co_return;
    }
    if (plan.action == LocalCopyPlan::Action::refuse) {
        try {
            m_transferQueue->fail(jobID, *plan.refusal);
        } catch (const QuillbarrowError&) {
        }
        setLastError(*plan.refusal);
        dropCancellationToken(jobID);
        refreshTransferJobs();
        co_return;
    }
    try {
        m_transferQueue->start(jobID, QDateTime::currentDateTimeUtc());
    } catch (const QuillbarrowError&) {
        dropCancellationToken(jobID);
        co_return;
    }
    refreshTransferJobs();

    const std::shared_ptr<TransferCancellationToken> token = cancellationToken(jobID);
    const auto completed = [this, jobID](const QString& placedName) {
        try {
            m_transferQueue->complete(jobID, placedName);
        } catch (const QuillbarrowError&) {
        }
        dropCancellationToken(jobID);
        refreshTransferJobs();
    };
    if (plan.action == LocalCopyPlan::Action::alreadyInPlace) {
        completed(plan.displayName);
        co_return;
    }
    // The copy is made on a worker thread inside the held destination folder, under a hidden
    // name, looking at the job's cancellation after every entry.
    QPointer<TransferCoordinator> self(this);
    const QString name = LocalFileOperations::lastComponent(plan.target);
    std::shared_ptr<LocalFileOperations::StagedCopy> staged;
    try {
        QFuture<std::shared_ptr<LocalFileOperations::StagedCopy>> copying =
            runOnThreadPool(workPool(), [plan, token, destination] {
                if (!destination->root().isOpen()) {
                    auto failed = std::make_shared<LocalFileOperations::StagedCopy>();
                    failed->failure = QStringLiteral("Could not copy ") + plan.displayName + QStringLiteral(": ") +
                                      LocalFolder::describe(destination->root().error());
                    return failed;
                }
                return std::make_shared<LocalFileOperations::StagedCopy>(LocalFileOperations::stageCopy(
                    plan.source, destination->root(), [token](qint64) { return !token->isCancelled(); }));
            });
        staged = co_await copying;
    } catch (const JobDropped&) {
        co_return; // the application is shutting down
    }
    if (!self) {
        if (staged) {
            staged->discard();
        }
        co_return;
    }
    // A pipe, socket or device inside a copied folder fails on its own, naming it.
    for (const QString& entry : std::as_const(staged->leftOut)) {
        const QString shown = LocalPath::shown(LocalFileOperations::lastComponent(plan.source) + QLatin1Char('/') + entry);
        const TransferJob leftOut(TransferID::create(), TransferDirection::macToAndroid, TransferPurpose::fileTransfer,
                                  LocalFileOperations::lastComponent(shown), std::nullopt, TransferState::queued(), 0);
        enqueueTransfer(leftOut);
        finishFailed(leftOut.id, localCopyError(QStringLiteral("Could not copy ") + shown +
                                                QStringLiteral(": it is not a regular file, folder or link.")));
    }
    if (staged->failure) {
        if (token->isCancelled()) {
            finishCancelled(jobID, QString());
        } else {
            finishFailed(jobID, localCopyError(*staged->failure));
        }
        co_return;
    }
    const QString lead = QStringLiteral("Could not copy ") + LocalFileOperations::lastComponent(plan.source);
    StagedItem item{&destination->root(),
                    staged->name,
                    &destination->root(),
                    name,
                    plan.action == LocalCopyPlan::Action::replace,
                    !plan.keptBothFrom.isEmpty(),
                    plan.keptBothFrom,
                    [lead](const QString&) { return lead; },
                    destination,
                    token};
    const PlacingEnd end = co_await placeStaged(jobID, std::move(item));
    staged->discard();
    if (!self) {
        co_return;
    }
    if (end.kind == PlacingEnd::Kind::placed) {
        completed(end.name);
    } else {
        finishUnplaced(jobID, end, *destination, QString());
    }
}

} // namespace quillbarrow
