#pragma once

#include "Clipboard.h"
#include "ConflictRequest.h"
#include "ConflictResolution.h"
#include "DefaultApplicationOpener.h"
#include "LocalDestination.h"
#include "LocalFileOperations.h"
#include "MainThreadYield.h"
#include "PlannedDownload.h"
#include "PlannedUpload.h"
#include "StagingLock.h"
#include "StagingRecord.h"
#include "TransferByteLimit.h"
#include "TransferCancellationToken.h"
#include "TransferProgressUpdateGate.h"
#include "TransferQueue.h"
#include "UploadCandidate.h"
#include "async/AsyncGate.h"
#include "async/OneShot.h"
#include "domain/QuillbarrowError.h"
#include "domain/RemoteItem.h"
#include "domain/RemoteObjectID.h"
#include "domain/StorageID.h"
#include "domain/TransferID.h"
#include "domain/TransferJob.h"
#include "logging/AppLogger.h"
#include "transport/DeviceSession.h"
#include "transport/TransferProgressFunction.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <functional>

#include <memory>
#include <optional>
#include <variant>

namespace quillbarrow {

// The view model of the transfer engine. It turns paste and open requests into jobs in the
// transfer queue, runs one such workflow at a time behind a first-in-first-out gate, keeps a
// cancellation flag per job, asks name-conflict questions, and publishes for the window the job
// list, the last error and the open conflict question. It keeps no device session: callers lend
// one for each request. Lives on the main thread; only the cancellation flags, byte limits and
// progress throttles are touched from transfer threads, each behind its own lock.
//
// Each workflow lives in its own source file (TransferCoordinator<Workflow>.cpp) and is built from
// the shared helpers in the protected section.
class TransferCoordinator : public QObject {
    Q_OBJECT
    Q_PROPERTY(quillbarrow::Clipboard* clipboard READ clipboard CONSTANT)
    Q_PROPERTY(QList<quillbarrow::TransferJob> transferJobs READ transferJobs NOTIFY transferJobsChanged)
    Q_PROPERTY(std::optional<quillbarrow::QuillbarrowError> lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(
        std::optional<quillbarrow::ConflictRequest> pendingConflict READ pendingConflict NOTIFY pendingConflictChanged)

public:
    using ConflictRequest = quillbarrow::ConflictRequest;
    using ConflictResolution = quillbarrow::ConflictResolution;

    // The largest device file that may be opened for viewing.
    static constexpr qint64 maximumOpenFileBytes = 100'000'000;

    // Without a cache folder, the opened-files cache is "Quillbarrow/Opened Files" under the
    // user's cache folder, else under the temporary folder, the kept copies of replaced phone
    // files are in "Quillbarrow/Replaced Files" under the user's data folder (a cache folder may
    // be emptied by anyone, and such a copy can be the only whole one), and the staging record is
    // the user's (StagingRecord::standardFile); given a cache folder, all of them are in its
    // parent folder. The clipboard must outlive the coordinator.
    TransferCoordinator(Clipboard* clipboard, std::shared_ptr<TransferQueue> transferQueue, AppLogger logger,
                        std::optional<QString> openedFilesCacheDirectory, QObject* parent = nullptr);
    ~TransferCoordinator() override;

    Clipboard* clipboard() const { return m_clipboard; }
    const std::shared_ptr<TransferQueue>& transferQueue() const { return m_transferQueue; }
    // The queue's jobs in enqueue order, as of the last transferJobsChanged. The list is updated in
    // place, job by job: read it through this reference, since a copy held across a change makes
    // that change copy the whole list.
    const QList<TransferJob>& transferJobs() const { return m_transferJobs; }
    const std::optional<QuillbarrowError>& lastError() const { return m_lastError; }
    // The direction of the transfer whose failure lastError is; none for other errors.
    std::optional<TransferDirection> lastErrorDirection() const { return m_lastErrorDirection; }
    // The question the conflict sheet shows while it is set.
    const std::optional<ConflictRequest>& pendingConflict() const { return m_pendingConflict; }
    const QString& openedFilesCacheDirectory() const { return m_openedFilesCacheDirectory; }
    // Where the old objects of Replaces on devices that cannot rename are kept until the new file
    // is in their place.
    const QString& keptCopiesFolder() const { return m_keptCopiesFolder; }
    // The staging items this coordinator's transfers made and have not yet put in place: those a
    // killed transfer left are removed by the next transfer into their folder.
    const std::shared_ptr<StagingRecord>& stagingRecord() const { return m_stagingRecord; }

    // Pastes the clipboard into the local folder `destination`: local items are copied with
    // copyLocalToLocal; device items are downloaded through the session, folders merged into
    // local folders of the same name, one job per file, with questions about names that are
    // taken. Device names are made safe first, so nothing is written outside `destination`.
    // Device items without a session give sessionFailed("No Android device session is open.");
    // device items listed in another session than the one lent give deviceChanged, and nothing is
    // downloaded. A local path given twice is copied once.
    // Never throws: failures go to job states and lastError.
    QCoro::Task<> pasteIntoLocal(QUrl destination, std::shared_ptr<DeviceSession> deviceSession);
    // Pastes the clipboard's local files and folders into the device folder `parentID` (the
    // storage root when absent) of `storageID`: one job per file, queued before the workflow gate
    // is taken, questions about names taken on the device or earlier in the batch, missing device
    // folders created on the way. Device items on the clipboard are refused. Never throws.
    QCoro::Task<> pasteIntoDevice(std::optional<RemoteObjectID> parentID, StorageID storageID,
                                  std::shared_ptr<DeviceSession> deviceSession);
    // Downloads a device file of known size up to maximumOpenFileBytes into a new folder of the
    // opened-files cache as an open-for-viewing job. The local file's address, or nothing: for a
    // folder, a file already being opened, or a failure, which is then in lastError (deviceChanged
    // for a file listed in another session than the one lent). A file that the desktop would run
    // (ProgramFileTypes) fails as fileOpenFailed: by its name before anything is downloaded, by
    // its contents once they are here, its copy then removed.
    QCoro::Task<std::optional<QUrl>> downloadFileForOpening(RemoteItem item,
                                                            std::shared_ptr<DeviceSession> deviceSession);
    // Opens a device file with the default application: downloads it for opening, then hands it
    // to the opener; a file the opener cannot open is reported as fileOpenFailed. Folders are left
    // to the caller. Never throws.
    QCoro::Task<> openDeviceFile(RemoteItem item, std::shared_ptr<DeviceSession> deviceSession);
    // Replaces the opener of openDeviceFile (by default the desktop's "xdg-open").
    void setDefaultApplicationOpener(std::shared_ptr<DefaultApplicationOpener> opener);
    // The device files whose open for viewing is in progress.
    const QSet<RemoteObjectID>& openingRemoteFileIDs() const { return m_openingRemoteFileIDs; }
    // Copies local files and folders into the local folder `destination`, asking about names that
    // are taken, one job per copied item. Never throws.
    QCoro::Task<> copyLocalToLocal(QList<QUrl> urls, QUrl destination);

    // The conflict sheet's answers. With `applyToAll`, the answer also holds for every later
    // question until the next batch starts.
    void resolveConflict(ConflictResolution resolution, bool applyToAll);
    // Stops the whole batch that asked.
    void cancelConflicts();

    // Logs the error (user message, a blank, technical details) and publishes it as lastError.
    void reportError(const QuillbarrowError& error);
    void clearLastError();

    // Queued or waiting jobs become cancelled at once (a job whose question is open also stops its
    // batch); a running job becomes cancelling until its transfer stops; others are left alone.
    void cancelTransfer(const TransferID& id);
    // Flags every job's transfer to stop and marks every unfinished job cancelled at once. An open
    // question is left as it is.
    void cancelAllTransfers();
    // Flags every job's transfer to stop; touches nothing else, so it is safe while quitting.
    void requestCancellationForAllTransfers();
    // Drops finished jobs from the queue and the panel.
    void clearCompletedTransfers();

    // The time source of the progress throttles made from now on (tests pin it).
    void setProgressClock(TransferProgressUpdateGate::Clock clock);
    // How often the progress of transfers of known size is published while they run (the
    // throttle's interval unless set; tests shorten it).
    void setProgressPublishInterval(std::chrono::milliseconds interval);
    // How long a paste's planning works on the main thread before it lets queued events in (a
    // click, a repaint, another paste arriving); zero lets them in before every item.
    void setPlanningSlice(MainThreadPace::Duration slice) { m_planningSlice = slice; }

Q_SIGNALS:
    void transferJobsChanged();
    void lastErrorChanged();
    void pendingConflictChanged();
    // Forwarded from the clipboard, so views that observe the coordinator follow it too.
    void clipboardChanged();

protected:
    // ---- Helpers shared by every workflow -------------------------------------------------

    // Takes the workflow gate: `AsyncGate::Lease lease = co_await acquireTransferWorkflow();`.
    // Callers queue in arrival order and cannot give up waiting; the lease hands the gate on when
    // it is released or destroyed, so every path out of a workflow frees it exactly once. An empty
    // lease means the coordinator is going away: end the workflow at once.
    AsyncGate::AcquireAwaiter acquireTransferWorkflow();
    // Takes a place in the workflow gate's line at once; awaiting the task gives the lease then.
    // For a workflow that has work to do before it may hold the gate, without losing its turn.
    QCoro::Task<AsyncGate::Lease> queueForTransferWorkflow();

    // Puts the job in the queue (which assigns its sequence and logs it) with a fresh, unset
    // cancellation flag. Does not publish the list.
    void enqueueTransfer(const TransferJob& job);
    // Publishes the queue's jobs, in sequence order. Only the jobs the queue announced as changed
    // since the last time are touched, so a step of one job costs the same in a batch of any size.
    void refreshTransferJobs();
    // The job exists, is queued and its flag (if it has one) is not set.
    bool canStartTransfer(const TransferID& id) const;
    // The job's flag, made (unset) when it has none.
    std::shared_ptr<TransferCancellationToken> cancellationToken(const TransferID& id);
    // Forgets the job's flag once its transfer has ended, whatever the outcome.
    void dropCancellationToken(const TransferID& id);
    // Flags and cancels each job in order, ignoring unknown ids, then publishes the list once.
    void cancelTransfers(const QList<TransferID>& ids);
    // Publishes a failure as lastError without logging it (a failed transfer is not logged).
    void setLastError(QuillbarrowError error, std::optional<TransferDirection> direction = std::nullopt);
    // When some item was listed in another device session than `session`, reports deviceChanged
    // and answers true: the caller sends nothing to any device. Items no browser listed pass.
    bool refuseItemsOfAnotherSession(const QList<RemoteItem>& items, const std::shared_ptr<DeviceSession>& session);

    // Asks the user about a name that is taken and waits for the answer; nothing means the user
    // cancelled the whole batch (or the coordinator is going away). Returns the answer applied to
    // all remaining conflicts at once when there is one. With a job id, the job shows as awaiting
    // confirmation while the question is open.
    QCoro::Task<std::optional<ConflictResolution>> requestResolution(std::optional<TransferID> jobID, QString fileName,
                                                                     QString destinationName);
    // Called by each batch that can ask, once it holds the gate and before its first question.
    void clearStickyResolution();

    // The progress callback for one device transfer of a job. On the transfer's thread it returns
    // false once the job is flagged or the byte limit is exceeded. With an `expectedTotal` above
    // 0 it only keeps the latest count, which the main thread publishes to the queue and the panel
    // at the progress interval while the job runs: a file done within the interval (a photo, say)
    // publishes no report and costs no hand-off to the main thread, and the job's end shows next.
    // Without one, reports let through by a new progress throttle reach the queue and the panel
    // on the main thread. Read the limit's observed bytes after the transfer.
    TransferProgressFunction makeProgressFunction(const TransferID& jobID, std::optional<qint64> expectedTotal,
                                                  std::shared_ptr<TransferByteLimit> byteLimit);

    // Why Replace was refused for `name`, on uploads, downloads and local copies alike: the item
    // there was written, or is being merged into, by the same paste, and replacing it would lose
    // what the paste put there. Uploads report it as a failed copy to the device, whose message
    // carries the reason; the computer side reports it as its other failures.
    static QuillbarrowError replacingBatchItemRefused(const QString& name, TransferDirection direction);

    // ---- Device transfers -----------------------------------------------------------------

    // The local files below the clipboard's addresses, in clipboard order with each folder
    // expanded in place, depth first. Missing items and unreadable folders are skipped, hidden
    // entries inside folders are left out, and no file or folder is taken twice (a folder reached
    // again through a link is not entered). Items that are there but cannot be sent (named pipes,
    // sockets, devices, links that loop or lead nowhere) are taken too, without a size, so that
    // their jobs can fail naming them.
    static QList<UploadCandidate> collectUploadCandidates(const QList<QUrl>& urls);
    // The Keep Both name for the device side: `name` itself when it is not in `taken` (names
    // compared under canonical equivalence), else the base name, a blank, 2, 3, ... and the
    // extension.
    static QString uniqueName(const QString& name, const QSet<QString>& taken);
    // Runs one planned download into `destination` (the paste's folder, held open): starts the
    // job, creates the local folders on the way, downloads to a hidden name beside the file's
    // place and moves the complete file into place (replacing what is there only for Replace,
    // and never an item the paste put there itself). True only when the file was downloaded and
    // its job completed; every other ending leaves no partial file. Never throws.
    QCoro::Task<bool> executeDownload(PlannedDownload plan, std::shared_ptr<DeviceSession> session,
                                      std::shared_ptr<LocalDestination> destination);

    // A complete item under its staging name, to be put in place by placeStaged.
    struct StagedItem {
        const LocalFolder* from;
        QString staging;
        // The item the paste wrote there; only it is put in place.
        std::optional<LocalFolder::Item> made;
        const LocalFolder* to;
        QString name;
        bool replace;
        // `name` is a Keep Both name for `keptBothFrom`.
        bool keptBoth;
        QString keptBothFrom;
        // The words a failure to put the item in place under a name begins with.
        std::function<QString(const QString& name)> failureLead;
        std::shared_ptr<LocalDestination> destination;
        std::shared_ptr<TransferCancellationToken> token;
    };
    struct PlacingEnd {
        enum class Kind {
            placed,
            // Answered Skip at a question asked while placing; the staged item is still there.
            skipped,
            // Replace reached an item the paste put in place; both are left as they are.
            refusedOwn,
            failed,
            // The job was cancelled, or the coordinator is going away.
            cancelled,
            // The user cancelled the whole paste at a question asked while placing.
            stopped,
        };
        Kind kind;
        // The name the item was placed under (or last tried).
        QString name;
        QString failure;
    };
    // Puts a staged item in place: a name the disk holds although planning found it free is asked
    // about with the job (or answered by the answer for all), Keep Both tries further names until
    // the disk takes one, and Replace never replaces an item the paste itself put in place.
    QCoro::Task<PlacingEnd> placeStaged(TransferID jobID, StagedItem item);
    // Ends the job of an item that placeStaged did not put in place: failed with its reason, left
    // without a row for a Skip, cancelled (with `cancelledLog` in the log) for a cancel or a stop.
    void finishUnplaced(TransferID jobID, const PlacingEnd& end, LocalDestination& destination,
                        const QString& cancelledLog);

private:
    // What the waiting workflow gets: a resolution, or nothing for "cancel the whole batch".
    struct ConflictOutcome {
        std::optional<ConflictResolution> resolution;
    };
    struct LocalCopyPlan;
    struct LocalCopySource;
    struct LocalCopyBatch;
    struct UploadBatch;
    struct DownloadBatch;

    void finishConflict(ConflictOutcome outcome);
    void setPendingConflict(std::optional<ConflictRequest> request);
    // Brings transferJobs up to date with the jobs the queue announced as changed.
    void applyQueueChanges();
    // Publishes the latest counts that running transfers of known size have kept since the last
    // time; stops the progress timer once no such transfer is left.
    void publishKeptProgress();
    // The steps of copyLocalToLocal, in order.
    std::shared_ptr<LocalCopyBatch> openLocalCopyBatch(const QUrl& destination);
    QCoro::Task<bool> planLocalCopy(LocalCopySource item, std::shared_ptr<LocalCopyBatch> batch);
    QCoro::Task<bool> queueLocalCopies(std::shared_ptr<LocalCopyBatch> batch);
    QCoro::Task<> runLocalCopies(std::shared_ptr<LocalCopyBatch> batch);
    // Runs one plan with its job: the copy is made on a worker thread under a hidden name inside
    // the held destination, then put in place.
    QCoro::Task<> runLocalCopy(LocalCopyPlan plan, TransferID jobID, std::shared_ptr<LocalDestination> destination);
    // Starts the job of a plan; false when it is not to run: not startable, refused (then failed
    // with its refusal), or refused by the queue.
    bool startLocalCopy(const LocalCopyPlan& plan, const TransferID& jobID);
    // Fails a job of its own for each entry a copied folder left out (a pipe, socket or device,
    // or a name the disk already held), naming it below the copied item `source` with why.
    void failLeftOutEntries(const QString& source, const QList<LocalFileOperations::StagedCopy::LeftOut>& entries);

    QCoro::Task<bool> planUploads(QString path, QStringList parentRel, std::optional<RemoteObjectID> deviceParentID,
                                  bool checkConflicts, std::shared_ptr<UploadBatch> batch);
    QCoro::Task<bool> planUploadFile(QString path, QStringList parentRel, std::optional<RemoteObjectID> deviceParentID,
                                     bool checkConflicts, std::shared_ptr<UploadBatch> batch);
    QCoro::Task<QHash<QString, RemoteItem>> cachedDeviceChildren(std::optional<RemoteObjectID> parentID,
                                                                 std::shared_ptr<UploadBatch> batch);
    QCoro::Task<> executeUpload(PlannedUpload plan, std::shared_ptr<UploadBatch> batch);
    // The rest of a started Replace upload, once its device folder is known: the old object is
    // removed only when the new file is on the device or, where the device cannot rename, only
    // after every check that can be made beforehand and once a copy of it is kept here, which the
    // session sends back should the new file not arrive whole.
    QCoro::Task<> replaceOnDevice(PlannedUpload plan, std::optional<RemoteObjectID> parent, qint64 size,
                                  std::shared_ptr<UploadBatch> batch);
    // Downloads the device file `objectID` (listed as `size` bytes) into a new file of the kept
    // copies' folder: its path, or why it could not be kept (no size, no room, a failed or short
    // download, a cancel), with nothing left behind.
    QCoro::Task<std::variant<QString, QuillbarrowError>> keepCopyOf(RemoteObjectID objectID, QString name,
                                                                    std::optional<qint64> size,
                                                                    std::shared_ptr<DeviceSession> session,
                                                                    std::shared_ptr<TransferCancellationToken> token);
    // Ends a started upload by how its sending ended.
    void finishUpload(const PlannedUpload& plan, const std::optional<QuillbarrowError>& failure);

    // The steps of executeDownload, in order. startDownload starts the job; false when it is not
    // to run or was cancelled at once (then ended).
    bool startDownload(const TransferID& jobID, const QString& name, const TransferCancellationToken& token);
    // How receiving a device file ended: no failure, or the failure and, when the fault was this
    // computer's disk, the system's error number of it (else 0).
    struct DownloadEnd {
        std::optional<QuillbarrowError> failure;
        int localFault = 0;
    };
    // Receives the plan's device file at `staging`, with progress, under the byte limit.
    QCoro::Task<DownloadEnd> receiveDownload(PlannedDownload plan, std::shared_ptr<DeviceSession> session,
                                             QString staging, std::shared_ptr<TransferByteLimit> byteLimit);
    // Puts the received file `stagingName` of `folder`, which `held` locks, in place and ends the
    // job; true when it is. A file not put in place is gone, and its lock ended, before the job.
    QCoro::Task<bool> placeDownload(PlannedDownload plan, const LocalFolder* folder, QString stagingName,
                                    StagingLock* held, qint64 observed, std::shared_ptr<LocalDestination> destination,
                                    std::shared_ptr<TransferCancellationToken> token);
    // Ends the job of a download that did not arrive, by why: over the byte limit, cancelled, the
    // computer's own fault, gone from the device, or the device's failure.
    QCoro::Task<> finishFailedDownload(PlannedDownload plan, std::shared_ptr<DeviceSession> session,
                                       QuillbarrowError failure, int localFault, qint64 observed,
                                       std::shared_ptr<TransferCancellationToken> token);

    QCoro::Task<> pasteDeviceItemsIntoLocal(QList<RemoteItem> items, QUrl destination,
                                            std::shared_ptr<DeviceSession> session);
    // `shownPath` names the item in messages: as it was chosen, with the folders walked below it.
    QCoro::Task<bool> planDownloads(RemoteItem item, QString shownPath, QString folder,
                                    std::shared_ptr<DownloadBatch> batch);
    QCoro::Task<bool> planDownloadFolder(RemoteItem item, QString shownPath, QString folder,
                                         std::shared_ptr<DownloadBatch> batch);
    // A device item as messages name it when it was chosen itself: its path on the device where
    // the listing gave one, else its name.
    static QString shownDevicePath(const RemoteItem& item);
    // A device item that cannot be planned fails on its own (with a job made for it when it has
    // none yet); the batch goes on.
    void failDownloadItem(const RemoteItem& item, std::optional<TransferID> jobID, const QuillbarrowError& error);

    // Ends a started job: the queue call (its errors ignored), the log line or lastError, the
    // flag, the refresh, in that order.
    void finishCancelled(const TransferID& jobID, const QString& logLine);
    // Marks the job running; false (its token dropped) when the queue no longer holds it.
    bool markStarted(const TransferID& jobID);
    void finishFailed(const TransferID& jobID, const QuillbarrowError& error);
    // The row shows `placedName`, the name the item got, from now on: a Keep Both answer, given
    // while planning or when the item was put in place, gives it another name than the one its job
    // was queued under. The log line is `what` followed by that name; none when `what` is empty.
    void finishCompleted(const TransferID& jobID, const QString& placedName, QLatin1StringView what = {});
    // The row of a job not yet finished shows `name`, the file it writes now (the name a Keep Both
    // answer chose), from this moment on.
    void showUnderName(const TransferID& jobID, const QString& name);

    Clipboard* const m_clipboard;
    const std::shared_ptr<TransferQueue> m_transferQueue;
    // Sorted by sequence; m_jobRows gives each job's row in it.
    QList<TransferJob> m_transferJobs;
    QHash<TransferID, qsizetype> m_jobRows;
    // The jobs the queue announced as enqueued, changed or removed since the last refresh.
    QSet<TransferID> m_changedJobIDs;
    std::optional<QuillbarrowError> m_lastError;
    std::optional<TransferDirection> m_lastErrorDirection;
    std::optional<ConflictRequest> m_pendingConflict;
    const AppLogger m_logger;
    const QString m_openedFilesCacheDirectory;
    const QString m_keptCopiesFolder;
    const std::shared_ptr<StagingRecord> m_stagingRecord;
    std::optional<OneShot<ConflictOutcome>> m_conflictAnswer;
    QHash<TransferID, std::shared_ptr<TransferCancellationToken>> m_cancellationTokens;
    AsyncGate m_workflowGate;
    // Held by a paste into the device while it makes its jobs, so that pastes arriving together
    // never mix their jobs in the list.
    AsyncGate m_uploadQueueingGate;
    // How many times every transfer was cancelled at once: a paste still making its jobs cancels
    // the rest of them too.
    quint64 m_cancelAllCount = 0;
    MainThreadPace::Duration m_planningSlice = std::chrono::milliseconds(5);
    std::optional<ConflictResolution> m_stickyResolution;
    TransferProgressUpdateGate::Clock m_progressClock = TransferProgressUpdateGate::systemClock();
    // The latest count of each transfer of known size, kept by its progress callback (which owns
    // it, so an entry expires with the transfer), and what of it was published.
    struct KeptProgress;
    QHash<TransferID, std::weak_ptr<KeptProgress>> m_keptProgress;
    QTimer* m_progressTimer = nullptr;
    QSet<RemoteObjectID> m_openingRemoteFileIDs;
    std::shared_ptr<DefaultApplicationOpener> m_defaultApplicationOpener;
    // Whether the device session last asked can rename objects, learned by the first Replace upload
    // that needed to know.
    std::weak_ptr<DeviceSession> m_renameProbedSession;
    bool m_probedSessionRenames = false;
};

} // namespace quillbarrow
