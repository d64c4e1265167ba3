#include "DownloadStaging.h"
#include "LocalDestination.h"
#include "StagingLock.h"
#include "domain/LocalPath.h"
#include "LocalFileOperations.h"
#include "LocalNameSanitizer.h"
#include "MainThreadYield.h"
#include "TransferCoordinator.h"
#include "TransferItemFailure.h"
#include "async/SerialExecutor.h"
#include "async/WorkPool.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <QCoro/QCoroFuture>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace quillbarrow {

// The state of one paste of device items into a local folder, shared by its planning. Planning
// costs the same for every item however large the batch grows: each file is checked against
// these sets and maps, never against the plans made before it.
struct TransferCoordinator::DownloadBatch {
    std::shared_ptr<DeviceSession> session;
    // The paste's destination folder: every planned file lies inside it.
    QString destinationRoot;
    // That folder, held open from the start of the paste: everything is written through it.
    std::shared_ptr<LocalDestination> destination;
    // The destination of every file planned so far, and every folder below the destination that
    // holds one: all of them are written by this batch, so they count as taken and are never
    // replaced by a later item of it.
    QSet<QString> reservedPaths;
    // The job queued for each clipboard item.
    QHash<RemoteObjectID, TransferID> prequeuedJobIDs;
    // Every job of the batch, in creation order, nested files' jobs included.
    QList<TransferID> batchJobIDs;
    QList<PlannedDownload> plans;
    // Device folders already walked, so that a device that lists a folder inside itself cannot
    // make planning go on for ever.
    QSet<RemoteObjectID> enteredFolders;
    // How many folders the walk is inside now (0 while it plans a chosen item), and how deep it
    // may go below a chosen folder, as the folder-size walk: a device that hands out a new folder
    // at every level would otherwise nest the planning until memory or the stack runs out.
    int depth = 0;
    static constexpr int maximumFolderDepth = 256;
    // Counts one level more for as long as it lives: planning walks one folder at a time.
    struct Descent {
        explicit Descent(int& level) : depth(level) { ++depth; }
        ~Descent() { --depth; }
        Descent(const Descent&) = delete;
        Descent& operator=(const Descent&) = delete;
        int& depth;
    };
    // For each path answered with Keep Both, the next number to try there, so that many files of
    // one name do not each try every number taken before them.
    QHash<QString, qint64> keepBothNumbers;
    // The folders this batch has cleared of staging files that killed downloads left.
    QSet<QString> sweptFolders;
    // Jobs were queued since the list was last published. Publishing costs time in proportion to
    // the whole list, so it is not done for every job, which would make planning slow down as the
    // batch grows: the list is published before a question, at the end of planning and, while
    // planning walks folders, from time to time: publishInterval apart at least, and rarely enough
    // that publishing takes no more than a tenth of the walk however long the list.
    bool jobsUnpublished = false;
    std::chrono::steady_clock::time_point nextPublish = std::chrono::steady_clock::now();
    static constexpr std::chrono::milliseconds publishInterval{100};
    // Planning hands the main thread back now and then, however many items the paste has.
    MainThreadPace pace;

    explicit DownloadBatch(MainThreadPace::Duration slice) : pace(slice) {}

    void reserve(const QString& target)
    {
        reservedPaths.insert(target);
        // The folders above a reserved path are reserved with it, so the walk up stops at the
        // first folder found reserved.
        for (QString folder = parentFolderOf(target); folder.size() > destinationRoot.size() &&
                                                      !reservedPaths.contains(folder);
             folder = parentFolderOf(folder)) {
            reservedPaths.insert(folder);
        }
    }

    void publishNewJobs(TransferCoordinator& coordinator)
    {
        if (!jobsUnpublished) {
            return;
        }
        jobsUnpublished = false;
        const auto start = std::chrono::steady_clock::now();
        coordinator.refreshTransferJobs();
        const auto end = std::chrono::steady_clock::now();
        nextPublish = end + std::max<std::chrono::steady_clock::duration>(publishInterval, 9 * (end - start));
    }

    void publishNewJobsFromTimeToTime(TransferCoordinator& coordinator)
    {
        if (std::chrono::steady_clock::now() >= nextPublish) {
            publishNewJobs(coordinator);
        }
    }

    static QString parentFolderOf(const QString& path);
};

namespace {

TransferJob downloadJob(const RemoteItem& item, const QString& displayName)
{
    return TransferJob(TransferID::create(), TransferDirection::androidToMac, TransferPurpose::fileTransfer,
                       displayName, item.size, TransferState::queued(), 0);
}

// The size of the file being written at `path`; 0 before it exists. Called on the transfer's thread.
qint64 writtenBytes(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 ? static_cast<qint64>(info.st_size) : 0;
}

// A failure of the computer's own disk, named as such: the item, its folder and the cause in the
// system's words.
QuillbarrowError localSaveError(const QString& name, const QString& folder, const QString& cause)
{
    return QuillbarrowError::localFileFailed(QStringLiteral("Could not save ") + LocalPath::shown(name) +
                                             QStringLiteral(" in ") + LocalPath::shown(folder) +
                                             QStringLiteral(": ") + cause);
}

QuillbarrowError localSaveError(const QString& name, const QString& folder, int fault)
{
    return localSaveError(name, folder, qt_error_string(fault));
}

// The item's own fault, named: the window shows it, where a session failure's message is fixed.
QuillbarrowError unsafeNameError(const RemoteItem& item, const QString& folder)
{
    return TransferItemFailure::named(QStringLiteral("save"), item.name + QStringLiteral(" in ") + folder,
                                      QStringLiteral("its name would place it outside the destination folder."));
}

// Why planning or downloading could not go on with a device item, naming it.
QuillbarrowError downloadFailure(const QString& shownPath, const QString& why)
{
    return TransferItemFailure::named(QStringLiteral("download"), shownPath, why);
}

// The size the device lists for the item now, found in a listing of its folder; nothing when the
// listing fails or no longer shows it.
QCoro::Task<std::optional<qint64>> listedSizeOf(RemoteItem item, std::shared_ptr<DeviceSession> session)
{
    try {
        std::optional<DirectoryPage> page;
        if (item.parentID) {
            page.emplace(co_await session->listDirectory(*item.parentID, RemotePath(item.storageID, QStringList())));
        } else {
            page.emplace(co_await session->rootDirectory(item.storageID));
        }
        for (const RemoteItem& listed : std::as_const(page->items)) {
            if (listed.id == item.id) {
                co_return listed.size;
            }
        }
    } catch (...) {
        // Unknown: the bytes seen stand for the size.
    }
    co_return std::nullopt;
}

} // namespace

QString TransferCoordinator::DownloadBatch::parentFolderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString TransferCoordinator::shownDevicePath(const RemoteItem& item)
{
    return item.path && !item.path->isRoot() ? item.path->description() : item.name;
}

// ---- Paste and planning -----------------------------------------------------------------------

QCoro::Task<> TransferCoordinator::pasteDeviceItemsIntoLocal(QList<RemoteItem> items, QUrl destination,
                                                             std::shared_ptr<DeviceSession> session)
{
    // Every destination is built from this folder, so it must be an absolute local path: anything
    // else would put files in the wrong place.
    const QString root = destination.isLocalFile() ? QDir::cleanPath(LocalPath::fromUrl(destination)) : QString();
    if (root.isEmpty() || !QDir::isAbsolutePath(root)) {
        reportError(QuillbarrowError::pathNotFound());
        co_return;
    }

    QPointer<TransferCoordinator> self(this);
    AsyncGate::Lease workflow = co_await acquireTransferWorkflow();
    if (!self || !workflow) {
        co_return;
    }
    auto batch = std::make_shared<DownloadBatch>(m_planningSlice);
    batch->session = std::move(session);
    batch->destinationRoot = root;
    batch->destination = std::make_shared<LocalDestination>(root);
    batch->destination->reservedPaths = &batch->reservedPaths;
    for (const RemoteItem& item : std::as_const(items)) {
        const TransferJob job = downloadJob(item, item.name);
        enqueueTransfer(job);
        batch->prequeuedJobIDs.insert(item.id, job.id);
        batch->batchJobIDs.append(job.id);
    }
    refreshTransferJobs();
    clearStickyResolution();

    for (const RemoteItem& item : std::as_const(items)) {
        const bool goOn = co_await planDownloads(item, shownDevicePath(item), root, batch);
        if (!self) {
            co_return;
        }
        if (!goOn) {
            // Nothing of the batch is downloaded, not even the files planned before the cancel.
            cancelTransfers(batch->batchJobIDs);
            co_return;
        }
    }
    if (batch->plans.isEmpty()) {
        batch->publishNewJobs(*this);
        co_return;
    }
    refreshTransferJobs();

    const QList<PlannedDownload> plans = batch->plans;
    for (qsizetype index = 0; index < plans.size(); ++index) {
        const PlannedDownload& plan = plans.at(index);
        if (const QString folder = DownloadBatch::parentFolderOf(plan.destination); !batch->sweptFolders.contains(folder)) {
            batch->sweptFolders.insert(folder);
            const std::shared_ptr<LocalDestination> destination = batch->destination;
            QFuture<void> sweeping = runOnThreadPool(workPool(), [destination, folder, record = m_stagingRecord] {
                if (const LocalFolder reached = destination->reach(folder, false); reached.isOpen()) {
                    StagingLock::removeStale(reached, *record);
                }
            });
            co_await sweeping;
            if (!self) {
                co_return;
            }
        }
        const bool downloaded = co_await executeDownload(plan, batch->session, batch->destination);
        Q_UNUSED(downloaded)
        if (!self) {
            co_return;
        }
        if (batch->destination->stopped) {
            // Cancelled at a question asked while a file was put in place: nothing more is saved.
            QList<TransferID> rest;
            for (qsizetype later = index + 1; later < plans.size(); ++later) {
                rest.append(plans.at(later).jobID);
            }
            cancelTransfers(rest);
            co_return;
        }
    }
}

QCoro::Task<bool> TransferCoordinator::planDownloads(RemoteItem item, QString shownPath, QString folder,
                                                     std::shared_ptr<DownloadBatch> batch)
{
    if (batch->pace.due()) {
        batch->publishNewJobsFromTimeToTime(*this);
        QPointer<TransferCoordinator> self(this);
        co_await MainThreadYield{};
        if (!self) {
            co_return true;
        }
        batch->pace.yielded();
    }
    if (item.kind == RemoteItemKind::folder) {
        co_return co_await planDownloadFolder(std::move(item), std::move(shownPath), std::move(folder), batch);
    }

    // A file, or an item of unknown kind.
    std::optional<TransferID> jobID;
    if (const auto prequeued = batch->prequeuedJobIDs.constFind(item.id);
        prequeued != batch->prequeuedJobIDs.constEnd()) {
        jobID = *prequeued;
        if (!canStartTransfer(*jobID)) {
            co_return true;
        }
    }
    const QString localName = LocalNameSanitizer::localName(item.name);
    QString target = LocalFileOperations::childPath(folder, localName);
    if (!LocalNameSanitizer::liesInside(target, batch->destinationRoot)) {
        failDownloadItem(item, jobID, unsafeNameError(item, folder));
        co_return true;
    }

    bool replaceExisting = false;
    QString keptBothFrom;
    if (LocalFileOperations::itemExists(target) || batch->reservedPaths.contains(target)) {
        if (!m_stickyResolution) {
            // The question is on screen with the jobs planned so far.
            batch->publishNewJobs(*this);
        }
        QPointer<TransferCoordinator> self(this);
        const std::optional<ConflictResolution> answer =
            co_await requestResolution(jobID, localName, LocalFileOperations::lastComponent(folder));
        if (!self) {
            co_return true;
        }
        if (!answer) {
            co_return false;
        }
        switch (*answer) {
        case ConflictResolution::skip:
            if (jobID) {
                m_transferQueue->remove(*jobID);
                dropCancellationToken(*jobID);
                refreshTransferJobs();
            }
            co_return true;
        case ConflictResolution::replace:
            if (batch->reservedPaths.contains(target)) {
                // This batch writes there itself (a file, or a folder it merges into or creates).
                failDownloadItem(item, jobID, replacingBatchItemRefused(localName, TransferDirection::androidToMac));
                co_return true;
            }
            replaceExisting = true;
            break;
        case ConflictResolution::keepBoth: {
            qint64& nextNumber = batch->keepBothNumbers[target];
            target = LocalFileOperations::childPath(
                folder, LocalFileOperations::uniqueLocalName(localName, folder, batch->reservedPaths, &nextNumber));
            keptBothFrom = localName;
            if (jobID) {
                showUnderName(*jobID, LocalFileOperations::lastComponent(target));
            }
            break;
        }
        }
    }
    if (!jobID) {
        const TransferJob job = downloadJob(item, LocalFileOperations::lastComponent(target));
        enqueueTransfer(job);
        batch->batchJobIDs.append(job.id);
        batch->jobsUnpublished = true;
        jobID = job.id;
    }
    batch->reserve(target);
    batch->plans.append(PlannedDownload{*jobID, item, target, replaceExisting, std::nullopt, shownPath, keptBothFrom});
    co_return true;
}

QCoro::Task<bool> TransferCoordinator::planDownloadFolder(RemoteItem item, QString shownPath, QString folder,
                                                          std::shared_ptr<DownloadBatch> batch)
{
    std::optional<TransferID> jobID;
    if (const auto prequeued = batch->prequeuedJobIDs.constFind(item.id);
        prequeued != batch->prequeuedJobIDs.constEnd()) {
        jobID = *prequeued;
        if (!canStartTransfer(*jobID)) {
            co_return true;
        }
    }
    // No question for folders: a local folder of the same name is merged into. Nothing is created
    // while planning; each download creates the folders above its file.
    const QString location = LocalFileOperations::childPath(folder, LocalNameSanitizer::localName(item.name));
    if (!LocalNameSanitizer::liesInside(location, batch->destinationRoot)) {
        failDownloadItem(item, jobID, unsafeNameError(item, folder));
        co_return true;
    }

    QPointer<TransferCoordinator> self(this);
    // A folder's row may be cancelled (or every row, by Cancel All) while the folder is listed or
    // its contents planned: it then stays cancelled and none of its contents is downloaded.
    const qsizetype firstNestedJob = batch->batchJobIDs.size();
    const auto cancelledMeanwhile = [&] {
        if (!jobID || canStartTransfer(*jobID)) {
            return false;
        }
        cancelTransfers(batch->batchJobIDs.mid(firstNestedJob));
        return true;
    };
    if (!batch->enteredFolders.contains(item.id)) {
        batch->enteredFolders.insert(item.id);
        batch->publishNewJobsFromTimeToTime(*this);
        const RemotePath path = item.path ? *item.path : RemotePath(item.storageID, {item.name});
        std::optional<DirectoryPage> page;
        std::optional<QuillbarrowError> failure;
        if (batch->depth > DownloadBatch::maximumFolderDepth) {
            // Failed as a folder that cannot be listed: nothing of it is downloaded.
            failure = downloadFailure(shownPath, QStringLiteral("it lies more than ") +
                                                     QString::number(DownloadBatch::maximumFolderDepth) +
                                                     QStringLiteral(" levels deep."));
        } else {
            try {
                page.emplace(co_await batch->session->listDirectory(item.id, path));
            } catch (...) {
                // The folder may lie deep below the one chosen, with no row of its own: the error
                // says which it is.
                failure = downloadFailure(shownPath,
                                          TransferItemFailure::deviceReason(
                                              QuillbarrowError::fromException(std::current_exception())));
            }
            if (!self || cancelledMeanwhile()) {
                co_return true;
            }
        }
        if (failure) {
            if (jobID) {
                try {
                    m_transferQueue->fail(*jobID, *failure);
                } catch (const QuillbarrowError&) {
                    // The job is gone; the error is still shown.
                }
                dropCancellationToken(*jobID);
            }
            setLastError(*failure, TransferDirection::androidToMac);
            refreshTransferJobs();
            co_return true;
        }

        const DownloadBatch::Descent inside(batch->depth);
        for (const RemoteItem& child : std::as_const(page->items)) {
            const bool goOn =
                co_await planDownloads(child, shownPath + QLatin1Char('/') + child.name, location, batch);
            if (!self) {
                co_return true;
            }
            if (!goOn) {
                co_return false;
            }
            if (cancelledMeanwhile()) {
                co_return true;
            }
        }
    }

    // The folder's own row leaves the list once its contents are planned.
    if (jobID) {
        m_transferQueue->remove(*jobID);
        dropCancellationToken(*jobID);
        refreshTransferJobs();
    }
    co_return true;
}

void TransferCoordinator::failDownloadItem(const RemoteItem& item, std::optional<TransferID> jobID,
                                           const QuillbarrowError& error)
{
    if (!jobID) {
        const TransferJob job = downloadJob(item, item.name);
        enqueueTransfer(job);
        jobID = job.id;
    }
    try {
        m_transferQueue->fail(*jobID, error);
    } catch (const QuillbarrowError&) {
        // The job is gone; the error is still shown.
    }
    dropCancellationToken(*jobID);
    setLastError(error, TransferDirection::androidToMac);
    refreshTransferJobs();
}


// ---- Execution --------------------------------------------------------------------------------

// A download, in steps: the job is started, the folders on the way are made and entered from the
// paste's folder, the device file is received under a hidden name there, and the complete file is
// put in place; a download that did not arrive ends its job by why.
QCoro::Task<bool> TransferCoordinator::executeDownload(PlannedDownload plan, std::shared_ptr<DeviceSession> session,
                                                       std::shared_ptr<LocalDestination> destination)
{
    QPointer<TransferCoordinator> self(this);
    const TransferID jobID = plan.jobID;
    const QString name = LocalFileOperations::lastComponent(plan.destination);
    const std::shared_ptr<TransferCancellationToken> token = cancellationToken(jobID);
    if (!startDownload(jobID, name, *token)) {
        co_return false;
    }
    const QString parent = DownloadBatch::parentFolderOf(plan.destination);
    // The folders on the way are made and entered from the paste's folder, one at a time and
    // never through a link, and the file is written there under a hidden name: it takes its final
    // name only when complete, and an item being replaced stays where it is until then.
    const LocalFolder folder = destination->reach(parent, true);
    if (!folder.isOpen()) {
        if (token->isCancelled()) {
            finishCancelled(jobID, QString());
        } else if (LocalFolder::isChangedFolder(folder.error())) {
            finishFailed(jobID, localSaveError(name, folder.path(), LocalFolder::describe(folder.error())));
        } else {
            finishFailed(jobID, QuillbarrowError::localFileFailed(QStringLiteral("Could not create ") +
                                                                  LocalPath::shown(folder.path()) +
                                                                  QStringLiteral(": ") + qt_error_string(folder.error())));
        }
        co_return false;
    }
    const QString stagingName = DownloadStaging::stagingName();
    // Held until the download has ended, so that no sweep takes the file while it is written;
    // noted, so that the next download into the folder removes it if this program is killed.
    StagingLock held = StagingLock::file(folder, stagingName, m_stagingRecord);
    if (!held.isHeld() && held.error() != 0) {
        // The folder takes no file (read-only, full): nothing is asked of the device.
        finishFailed(jobID, localSaveError(name, parent, held.error()));
        co_return false;
    }
    const auto byteLimit = std::make_shared<TransferByteLimit>(plan.maximumBytes);
    // The session is given a path that leads into the held folder, wherever it is by now.
    const DownloadEnd end = co_await receiveDownload(plan, session, folder.pathThrough(stagingName), byteLimit);
    held.follow(folder, stagingName, byteLimit->observedBytes(),
                end.failure ? std::nullopt : std::optional<qint64>(byteLimit->lastBytes()));
    if (!self) {
        held.discard(folder, stagingName);
        co_return false;
    }
    if (!end.failure) {
        co_return co_await placeDownload(plan, &folder, stagingName, &held, byteLimit->observedBytes(), destination,
                                         token);
    }
    // Gone, and its space free again, before the row says how the download ended.
    held.discard(folder, stagingName);
    co_await finishFailedDownload(plan, session, *end.failure, end.localFault, byteLimit->observedBytes(), token);
    co_return false;
}

bool TransferCoordinator::startDownload(const TransferID& jobID, const QString& name,
                                        const TransferCancellationToken& token)
{
    if (!canStartTransfer(jobID) || token.isCancelled()) {
        dropCancellationToken(jobID);
        return false;
    }
    if (!markStarted(jobID)) {
        return false;
    }
    m_logger.info(QLatin1StringView("started download "), name);
    refreshTransferJobs();
    if (token.isCancelled()) {
        finishCancelled(jobID, QString());
        return false;
    }
    return true;
}

QCoro::Task<TransferCoordinator::DownloadEnd>
TransferCoordinator::receiveDownload(PlannedDownload plan, std::shared_ptr<DeviceSession> session, QString staging,
                                     std::shared_ptr<TransferByteLimit> byteLimit)
{
    const TransferProgressFunction reported = makeProgressFunction(plan.jobID, plan.item.size, byteLimit);
    // Under a byte limit what counts is what has arrived: a device may send more than it listed,
    // and a session may report no more than the listed size. So each report is checked against
    // the staged file's size, and the limit stops the download as soon as that passes it. Without
    // a limit the reports are taken as they come: a look at the file for each of them (thousands
    // for a big file) would slow the download.
    const QByteArray stagingBytes = LocalPath::encoded(staging);
    const TransferProgressFunction progress =
        plan.maximumBytes ? TransferProgressFunction([reported, stagingBytes](qint64 bytesDone,
                                                                              std::optional<qint64> bytesTotal) {
            return reported(std::max(bytesDone, writtenBytes(stagingBytes)), bytesTotal);
        })
                          : reported;
    // Why writing the staged file failed when the fault was this computer's (a full disk, an
    // exceeded quota): the system's error number the session met, and only that. A session tells
    // it with localFileFailed carrying the number; one that writes through the standard library
    // may pass the system's error on as it is. The words are never looked at: they may change.
    DownloadEnd end;
    try {
        co_await session->downloadFile(plan.item.id, staging, progress);
    } catch (const std::system_error& error) {
        end.failure = QuillbarrowError::fromException(std::current_exception());
        if (error.code().category() == std::generic_category() ||
            error.code().category() == std::system_category()) {
            end.localFault = error.code().value();
        }
    } catch (...) {
        end.failure = QuillbarrowError::fromException(std::current_exception());
        if (end.failure->kind() == QuillbarrowError::Kind::localFileFailed) {
            end.localFault = end.failure->systemError();
        }
    }
    co_return end;
}

QCoro::Task<bool> TransferCoordinator::placeDownload(PlannedDownload plan, const LocalFolder* folder,
                                                     QString stagingName, StagingLock* held, qint64 observed,
                                                     std::shared_ptr<LocalDestination> destination,
                                                     std::shared_ptr<TransferCancellationToken> token)
{
    const TransferID jobID = plan.jobID;
    const QString name = LocalFileOperations::lastComponent(plan.destination);
    if (plan.maximumBytes) {
        // The device may send more than it announced without reporting it as progress.
        const qint64 measured = std::max(observed, writtenBytes(LocalPath::encoded(folder->pathThrough(stagingName))));
        if (measured > *plan.maximumBytes) {
            held->discard(*folder, stagingName);
            finishFailed(jobID, QuillbarrowError::fileTooLargeToOpen(plan.item.name, measured, *plan.maximumBytes));
            co_return false;
        }
    }
    const QString folderPath = DownloadBatch::parentFolderOf(plan.destination);
    StagedItem staged{folder,
                      stagingName,
                      held->item(),
                      folder,
                      name,
                      plan.replaceExisting,
                      !plan.keptBothFrom.isEmpty(),
                      plan.keptBothFrom,
                      [folderPath](const QString& placedName) {
                          return DownloadStaging::failureLead(placedName, folderPath);
                      },
                      destination,
                      token};
    QPointer<TransferCoordinator> self(this);
    const PlacingEnd end = co_await placeStaged(jobID, std::move(staged));
    if (!self) {
        co_return false;
    }
    if (end.kind == PlacingEnd::Kind::placed) {
        held->release();
        finishCompleted(jobID, end.name, QLatin1StringView("downloaded "));
        co_return true;
    }
    held->discard(*folder, stagingName);
    finishUnplaced(jobID, end, *destination, QStringLiteral("cancelled download ") + name);
    co_return false;
}

QCoro::Task<> TransferCoordinator::finishFailedDownload(PlannedDownload plan, std::shared_ptr<DeviceSession> session,
                                                        QuillbarrowError failure, int localFault, qint64 observed,
                                                        std::shared_ptr<TransferCancellationToken> token)
{
    const TransferID jobID = plan.jobID;
    const QString name = LocalFileOperations::lastComponent(plan.destination);
    if (plan.maximumBytes && observed > *plan.maximumBytes) {
        // The transfer stopped at the limit, so the bytes seen are not the file's size: the device
        // is asked what it lists for the file now.
        QPointer<TransferCoordinator> self(this);
        const std::optional<qint64> listed = co_await listedSizeOf(plan.item, session);
        if (!self) {
            co_return;
        }
        const qint64 size = listed && *listed > *plan.maximumBytes ? *listed : observed;
        finishFailed(jobID, QuillbarrowError::fileTooLargeToOpen(plan.item.name, size, *plan.maximumBytes));
    } else if (token->isCancelled() || failure.kind() == QuillbarrowError::Kind::userCancelled) {
        finishCancelled(jobID, QStringLiteral("cancelled download ") + name);
    } else if (localFault != 0) {
        finishFailed(jobID, localSaveError(name, DownloadBatch::parentFolderOf(plan.destination), localFault));
    } else if (failure.kind() == QuillbarrowError::Kind::pathNotFound) {
        // Gone from the device since it was chosen: the error says which item it was.
        finishFailed(jobID, downloadFailure(plan.shownPath.isEmpty() ? plan.item.name : plan.shownPath,
                                            TransferItemFailure::goneReason()));
    } else {
        finishFailed(jobID, failure);
    }
}

} // namespace quillbarrow
