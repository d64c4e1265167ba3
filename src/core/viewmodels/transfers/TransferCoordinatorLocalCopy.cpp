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
#include <sys/stat.h>

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

// Copies `source` under a hidden name inside the held destination folder, looking at the job's
// cancellation after every entry. A destination deleted since the paste began is made again where
// it was first. On the copying thread.
std::shared_ptr<LocalFileOperations::StagedCopy> stageLocalCopy(const QString& source, const QString& shown,
                                                                LocalDestination& destination,
                                                                const std::shared_ptr<TransferCancellationToken>& token,
                                                                std::shared_ptr<StagingRecord> record)
{
    const LocalFolder folder = destination.reach(destination.path(), true);
    if (!folder.isOpen()) {
        auto failed = std::make_shared<LocalFileOperations::StagedCopy>();
        // A folder that became a link, or another folder, is named; the system's own refusal is
        // said of the item alone.
        const QString place = LocalFolder::isChangedFolder(folder.error())
                                  ? QStringLiteral(" into ") + LocalPath::shown(folder.path())
                                  : QString();
        failed->failure = QStringLiteral("Could not copy ") + shown + place + QStringLiteral(": ") +
                          LocalFolder::describe(folder.error());
        return failed;
    }
    return std::make_shared<LocalFileOperations::StagedCopy>(LocalFileOperations::stageCopy(
        source, folder, [token](qint64) { return !token->isCancelled(); }, std::move(record)));
}

} // namespace

// What planning needs to know of one pasted address, read from the disk on a worker thread.
struct TransferCoordinator::LocalCopySource {
    QUrl url;
    // Empty for an address that is not a local file or folder with a name.
    QString source;
    QString name;
    // A real folder that holds the destination (or is it): one of the folders from the held
    // destination up to the root, whatever the paths are spelled like.
    bool holdsDestination = false;
    bool targetExists = false;
    // How the item stands to the one of its name in the destination, when there is one: Replace
    // must never remove the item itself, nor a folder holding it, however the paths are spelled.
    LocalFileOperations::Standing targetStanding = LocalFileOperations::Standing::apart;
    // For a source that is a symbolic link: the item of its name in the destination is what the
    // link leads to or holds it. The link is copied as a link, so replacing that item would lose it
    // and leave the copy pointing at nothing.
    bool targetHoldsLinkedItem = false;
    std::optional<qint64> bytes;

    // Reads every address from the disk. Blocking.
    static QList<LocalCopySource> inspect(const QList<QUrl>& urls, const QString& destinationPath,
                                          const LocalFolder& destination);
    // The plan that refuses this item with `error`.
    LocalCopyPlan refused(QuillbarrowError error) const
    {
        return LocalCopyPlan{source, QString(), name, LocalCopyPlan::Action::refuse, std::move(error), bytes};
    }
    // The plan for this item answered Replace at `target`: refused where replacing would lose the
    // item itself, what it links to, or what this paste copies there; nothing to copy when the
    // target is the item itself; else a copy swapped in for what is there.
    LocalCopyPlan replacing(const QString& target, const QSet<QString>& reserved) const;
};

// One paste of local items into a local folder, shared by the steps of copyLocalToLocal.
struct TransferCoordinator::LocalCopyBatch {
    QString destinationPath;
    // How questions name the destination.
    QString destinationName;
    // Held open from the start: the copies land in this folder even if its path is changed
    // meanwhile.
    std::shared_ptr<LocalDestination> destination;
    // The targets planned so far: taken, as if the items were on disk already.
    QSet<QString> reserved;
    // The sources planned so far: a path given twice (two selections of one item) is one item,
    // copied once, never asked about against its own copy.
    QSet<QString> planned;
    QList<LocalCopyPlan> plans;
    // One job per plan, in the same order, once queued.
    QList<TransferID> jobIDs;
    // The paste hands the main thread back now and then, however many items it has.
    MainThreadPace pace;

    explicit LocalCopyBatch(MainThreadPace::Duration slice) : pace(slice) {}
};

QList<TransferCoordinator::LocalCopySource>
TransferCoordinator::LocalCopySource::inspect(const QList<QUrl>& urls, const QString& destinationPath,
                                              const LocalFolder& destination)
{
    using Standing = LocalFileOperations::Standing;
    const LocalFileOperations::Place pastedInto{QFileInfo(destinationPath).canonicalFilePath(),
                                                destination.lineage(), std::nullopt};
    LocalFileOperations::Places places;
    QList<LocalCopySource> sources;
    sources.reserve(urls.size());
    for (const QUrl& url : urls) {
        LocalCopySource item{url, {}, {}, false, false, Standing::apart, false, std::nullopt};
        if (url.isLocalFile() && !LocalFileOperations::lastComponent(QDir::cleanPath(LocalPath::fromUrl(url))).isEmpty()) {
            item.source = QDir::cleanPath(LocalPath::fromUrl(url));
            item.name = LocalFileOperations::lastComponent(item.source);
            // Each item and its target are looked at once: their places carry their status.
            const LocalFileOperations::Place place = places.of(item.source);
            item.holdsDestination = place.status && S_ISDIR(place.status->st_mode) &&
                                    places.standing(pastedInto, place) != Standing::apart;
            const LocalFileOperations::Place targetPlace =
                places.of(LocalFileOperations::childPath(destinationPath, item.name));
            item.targetExists = targetPlace.status.has_value();
            if (item.targetExists) {
                item.targetStanding = places.standing(place, targetPlace);
                const QString linkedItem = place.status && S_ISLNK(place.status->st_mode)
                                               ? QFileInfo(item.source).canonicalFilePath()
                                               : QString();
                item.targetHoldsLinkedItem =
                    !linkedItem.isEmpty() &&
                    places.standing(places.of(linkedItem), targetPlace) != Standing::apart;
            }
            if (place.status) {
                item.bytes = static_cast<qint64>(place.status->st_size);
            }
        }
        sources.append(std::move(item));
    }
    return sources;
}

TransferCoordinator::LocalCopyPlan TransferCoordinator::LocalCopySource::replacing(const QString& target,
                                                                                   const QSet<QString>& reserved) const
{
    if (reserved.contains(target)) {
        // An earlier item of this paste goes there: replacing it would lose that copy.
        return refused(replacingBatchItemRefused(name, TransferDirection::androidToMac));
    }
    if (targetStanding == LocalFileOperations::Standing::same) {
        return LocalCopyPlan{source, target, name, LocalCopyPlan::Action::alreadyInPlace, std::nullopt, bytes};
    }
    if (targetStanding == LocalFileOperations::Standing::inside) {
        // Replacing the folder that holds the item would delete the item itself.
        return refused(localCopyError(QStringLiteral("Could not replace ") + name +
                                      QStringLiteral(": it holds the item being copied.")));
    }
    if (targetHoldsLinkedItem) {
        // What is copied is the link itself: replacing would delete for good the item it leads to
        // and leave the new link pointing at nothing.
        return refused(localCopyError(QStringLiteral("Could not replace ") + name +
                                      QStringLiteral(": the item being copied is a link to it or to something "
                                                     "inside it.")));
    }
    return LocalCopyPlan{source, target, name, LocalCopyPlan::Action::replace, std::nullopt, bytes};
}

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

// A copy between local folders, in steps: the destination is held open, every address read
// from the disk at once off the main thread, each item planned in clipboard order (asking about
// names that are taken), one job queued per plan, and the plans run one by one.
QCoro::Task<> TransferCoordinator::copyLocalToLocal(QList<QUrl> urls, QUrl destination)
{
    QPointer<TransferCoordinator> self(this);
    AsyncGate::Lease workflow = co_await acquireTransferWorkflow();
    if (!self || !workflow) {
        co_return;
    }
    clearStickyResolution();
    if (urls.isEmpty()) {
        co_return;
    }
    const std::shared_ptr<LocalCopyBatch> batch = openLocalCopyBatch(destination);
    if (!batch) {
        co_return;
    }

    QList<LocalCopySource> sources;
    try {
        QFuture<QList<LocalCopySource>> reading =
            runOnThreadPool(workPool(),
                            [urls, path = batch->destinationPath, destination = batch->destination] {
                                return LocalCopySource::inspect(urls, path, destination->root());
                            });
        sources = co_await reading;
    } catch (const JobDropped&) {
        co_return; // the application is shutting down
    }
    if (!self) {
        co_return;
    }

    // Only the questions and the names they lead to are settled on the main thread, handing it
    // back now and then.
    for (const LocalCopySource& item : std::as_const(sources)) {
        if (batch->pace.due()) {
            co_await MainThreadYield{};
            if (!self) {
                co_return;
            }
            batch->pace.yielded();
        }
        const bool goOn = co_await planLocalCopy(item, batch);
        if (!self || !goOn) {
            // Cancelled: nothing has been queued, so nothing is copied, not even the items
            // planned before the question.
            co_return;
        }
    }
    if (batch->plans.isEmpty()) {
        co_return;
    }
    const bool queued = co_await queueLocalCopies(batch);
    if (!self || !queued) {
        co_return;
    }
    co_await runLocalCopies(batch);
}

std::shared_ptr<TransferCoordinator::LocalCopyBatch> TransferCoordinator::openLocalCopyBatch(const QUrl& destination)
{
    // Every target is built from the destination's path, so it must be a folder that exists here:
    // an empty or relative path would put copies in the wrong place.
    const QString path = destination.isLocalFile() ? QDir::cleanPath(LocalPath::fromUrl(destination)) : QString();
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) {
        reportError(QuillbarrowError::pathNotFound());
        return nullptr;
    }
    auto batch = std::make_shared<LocalCopyBatch>(m_planningSlice);
    batch->destinationPath = path;
    batch->destination = std::make_shared<LocalDestination>(path);
    if (const int error = batch->destination->root().error(); error == ENOENT || error == ENOTDIR) {
        // Gone, or never a folder. Any other reason it cannot be opened (a path too long, a folder
        // that may not be entered) fails each item with the system's words.
        reportError(QuillbarrowError::pathNotFound());
        return nullptr;
    }
    batch->destinationName = LocalFileOperations::lastComponent(path);
    if (batch->destinationName.isEmpty()) {
        batch->destinationName = path;
    }
    return batch;
}

// Plans one pasted address: refused, left out (given twice, or answered Skip), or copied to its
// target, asking first when the target is taken on disk or by the paste. False when the user
// cancelled the whole paste (or the coordinator is going away).
QCoro::Task<bool> TransferCoordinator::planLocalCopy(LocalCopySource item, std::shared_ptr<LocalCopyBatch> batch)
{
    if (item.source.isEmpty()) {
        const QString shown = item.url.toDisplayString(QUrl::PreferLocalFile);
        batch->plans.append(LocalCopyPlan{QString(), QString(), shown, LocalCopyPlan::Action::refuse,
                                          localCopyError(QStringLiteral("Could not copy ") + shown +
                                                         QStringLiteral(": it is not a file or folder on this "
                                                                        "computer.")),
                                          std::nullopt});
        co_return true;
    }
    if (batch->planned.contains(item.source)) {
        co_return true;
    }
    batch->planned.insert(item.source);
    // A folder copied into itself, or into a folder inside it, would go on copying its own copy.
    if (item.holdsDestination) {
        batch->plans.append(item.refused(localCopyError(QStringLiteral("Could not copy ") + item.name +
                                                        QStringLiteral(": ") +
                                                        LocalFileOperations::intoItselfReason())));
        co_return true;
    }

    const QString target = LocalFileOperations::childPath(batch->destinationPath, item.name);
    LocalCopyPlan plan{item.source, target, item.name, LocalCopyPlan::Action::copy, std::nullopt, item.bytes};
    if (item.targetExists || batch->reserved.contains(target)) {
        QPointer<TransferCoordinator> self(this);
        const std::optional<ConflictResolution> answer =
            co_await requestResolution(std::nullopt, item.name, batch->destinationName);
        if (!self || !answer) {
            co_return false;
        }
        switch (*answer) {
        case ConflictResolution::skip:
            co_return true;
        case ConflictResolution::replace:
            plan = item.replacing(target, batch->reserved);
            if (plan.action == LocalCopyPlan::Action::refuse) {
                batch->plans.append(std::move(plan));
                co_return true;
            }
            break;
        case ConflictResolution::keepBoth:
            plan.target = LocalFileOperations::childPath(
                batch->destinationPath,
                LocalFileOperations::uniqueLocalName(item.name, batch->destinationPath, batch->reserved));
            plan.displayName = LocalFileOperations::lastComponent(plan.target);
            plan.keptBothFrom = item.name;
            break;
        }
    }
    batch->reserved.insert(plan.target);
    batch->plans.append(std::move(plan));
    co_return true;
}

// Queues one job per plan. Queued jobs are published from time to time; a "Cancel all" meanwhile
// takes the jobs made so far, and the plans not yet queued go with them. False when the
// coordinator is going away.
QCoro::Task<bool> TransferCoordinator::queueLocalCopies(std::shared_ptr<LocalCopyBatch> batch)
{
    QPointer<TransferCoordinator> self(this);
    batch->jobIDs.reserve(batch->plans.size());
    const quint64 cancelAllsBefore = m_cancelAllCount;
    for (qsizetype index = 0; index < batch->plans.size(); ++index) {
        if (batch->pace.due()) {
            refreshTransferJobs();
            co_await MainThreadYield{};
            if (!self) {
                co_return false;
            }
            batch->pace.yielded();
            if (m_cancelAllCount != cancelAllsBefore) {
                batch->plans.resize(batch->jobIDs.size());
                break;
            }
        }
        const LocalCopyPlan& plan = batch->plans.at(index);
        const TransferJob job(TransferID::create(), TransferDirection::macToAndroid, TransferPurpose::fileTransfer,
                              plan.displayName, plan.bytes, TransferState::queued(), 0);
        enqueueTransfer(job);
        batch->jobIDs.append(job.id);
    }
    refreshTransferJobs();
    co_return true;
}

// Runs the plans in order, once the copies a killed paste left in the folder (which nobody holds)
// are gone.
QCoro::Task<> TransferCoordinator::runLocalCopies(std::shared_ptr<LocalCopyBatch> batch)
{
    QPointer<TransferCoordinator> self(this);
    const std::shared_ptr<LocalDestination> destination = batch->destination;
    destination->reservedPaths = &batch->reserved;
    QFuture<void> sweeping = runOnThreadPool(workPool(), [destination, record = m_stagingRecord] {
        if (destination->root().isOpen()) {
            StagingLock::removeStale(destination->root(), *record);
        }
    });
    co_await sweeping;
    if (!self) {
        co_return;
    }
    batch->pace.yielded();
    for (qsizetype index = 0; index < batch->plans.size(); ++index) {
        co_await runLocalCopy(batch->plans.at(index), batch->jobIDs.at(index), destination);
        if (!self) {
            co_return;
        }
        if (destination->stopped) {
            // Cancelled at a question asked while an item was put in place: nothing more is copied.
            cancelTransfers(batch->jobIDs.mid(index + 1));
            co_return;
        }
        // Let queued main-thread work (a cancel click, a repaint) in between items that needed no
        // copying thread.
        if (batch->pace.due()) {
            co_await MainThreadYield{};
            if (!self) {
                co_return;
            }
            batch->pace.yielded();
        }
    }
}

bool TransferCoordinator::startLocalCopy(const LocalCopyPlan& plan, const TransferID& jobID)
{
    if (!canStartTransfer(jobID)) {
        dropCancellationToken(jobID);
        return false;
    }
    if (plan.action == LocalCopyPlan::Action::refuse) {
        try {
            m_transferQueue->fail(jobID, *plan.refusal);
        } catch (const QuillbarrowError&) {
        }
        setLastError(*plan.refusal);
        dropCancellationToken(jobID);
        refreshTransferJobs();
        return false;
    }
    if (!markStarted(jobID)) {
        return false;
    }
    refreshTransferJobs();
    return true;
}

void TransferCoordinator::failLeftOutEntries(const QString& source,
                                             const QList<LocalFileOperations::StagedCopy::LeftOut>& entries)
{
    for (const LocalFileOperations::StagedCopy::LeftOut& entry : entries) {
        const QString shown = LocalFileOperations::shortened(
            LocalPath::shown(LocalFileOperations::lastComponent(source) + QLatin1Char('/') + entry.entry));
        const TransferJob leftOut(TransferID::create(), TransferDirection::macToAndroid, TransferPurpose::fileTransfer,
                                  LocalFileOperations::lastComponent(shown), std::nullopt, TransferState::queued(), 0);
        enqueueTransfer(leftOut);
        finishFailed(leftOut.id,
                     localCopyError(QStringLiteral("Could not copy ") + shown + QStringLiteral(": ") + entry.reason));
    }
}

QCoro::Task<> TransferCoordinator::runLocalCopy(LocalCopyPlan plan, TransferID jobID,
                                                std::shared_ptr<LocalDestination> destination)
{
    if (!startLocalCopy(plan, jobID)) {
        co_return;
    }
    const std::shared_ptr<TransferCancellationToken> token = cancellationToken(jobID);
    if (plan.action == LocalCopyPlan::Action::alreadyInPlace) {
        finishCompleted(jobID, plan.displayName);
        co_return;
    }
    QPointer<TransferCoordinator> self(this);
    const QString name = LocalFileOperations::lastComponent(plan.target);
    std::shared_ptr<LocalFileOperations::StagedCopy> staged;
    try {
        QFuture<std::shared_ptr<LocalFileOperations::StagedCopy>> copying =
            runOnThreadPool(workPool(), [source = plan.source, shown = plan.displayName, token, destination,
                                         record = m_stagingRecord] {
                return stageLocalCopy(source, shown, *destination, token, record);
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
    // A pipe, socket or device inside a copied folder fails on its own, naming it, and so does an
    // entry whose name the disk holds for another one.
    failLeftOutEntries(plan.source, staged->leftOut);
    if (staged->failure) {
        if (token->isCancelled()) {
            finishCancelled(jobID, QString());
        } else {
            finishFailed(jobID, localCopyError(*staged->failure));
        }
        co_return;
    }
    const QString lead = QStringLiteral("Could not copy ") + LocalFileOperations::lastComponent(plan.source);
    StagedItem item{staged->holder.get(),
                    staged->name,
                    staged->lock.item(),
                    staged->holder.get(),
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
        finishCompleted(jobID, end.name);
    } else {
        finishUnplaced(jobID, end, *destination, QString());
    }
}

} // namespace quillbarrow
