#pragma once

#include "DeviceBrowserTiming.h"
#include "DeviceConnectionPhase.h"
#include "ErrorBanner.h"
#include "NavigationNode.h"
#include "RemoteFavoriteLocation.h"
#include "StoredRemoteLocation.h"
#include "async/TaskSlot.h"
#include "async/WorkPool.h"
#include "domain/AndroidDevice.h"
#include "domain/BrowserSort.h"
#include "domain/FileSort.h"
#include "domain/FolderMeasurementLog.h"
#include "domain/FolderStatistics.h"
#include "domain/ListingSession.h"
#include "domain/QuillbarrowError.h"
#include "domain/RemoteItem.h"
#include "domain/RemoteObjectID.h"
#include "domain/RemotePath.h"
#include "domain/SelectionSizeSummary.h"
#include "domain/StorageID.h"
#include "domain/StorageRoot.h"
#include "domain/TransferJob.h"
#include "infrastructure/AppConflictDetecting.h"
#include "logging/AppLogger.h"
#include "infrastructure/UserDefaults.h"
#include "transport/DeviceConnectionEvent.h"
#include "transport/DeviceSession.h"
#include "transport/DirectoryPage.h"
#include "transport/MTPBackend.h"
#include "transport/OpenSessionOptions.h"
#include "viewmodels/transfers/TransferQueue.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace quillbarrow {

// The model behind the Android side of the main window: the devices the monitoring knows, the
// connection and its phase, the storages and the folder shown, the device-side error banner, the
// favourites and the sort of the Android table. A main-thread QObject; every published property
// announces every assignment through its changed signal, also when the value did not change.
//
// Its asynchronous operations resume on the main thread between their waits; results that
// arrive late are dropped by comparing generation counters and the session epoch. Each
// operation lives in a source file of its own (DeviceBrowserViewModel<Operation>.cpp).
class DeviceBrowserViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<quillbarrow::AndroidDevice> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(std::optional<quillbarrow::AndroidDevice> selectedDevice READ selectedDevice NOTIFY selectedDeviceChanged)
    Q_PROPERTY(QList<quillbarrow::StorageRoot> storages READ storages NOTIFY storagesChanged)
    Q_PROPERTY(std::optional<quillbarrow::DirectoryPage> currentPage READ currentPage NOTIFY currentPageChanged)
    Q_PROPERTY(QList<quillbarrow::RemoteItem> items READ items NOTIFY itemsChanged)
    Q_PROPERTY(QList<quillbarrow::RemotePath> breadcrumb READ breadcrumb NOTIFY breadcrumbChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool isWaitingForTransfer READ isWaitingForTransfer NOTIFY isWaitingForTransferChanged)
    Q_PROPERTY(bool isShowingStalePage READ isShowingStalePage NOTIFY isShowingStalePageChanged)
    Q_PROPERTY(quillbarrow::DeviceConnectionPhase connectionPhase READ connectionPhase NOTIFY connectionPhaseChanged)
    Q_PROPERTY(std::optional<quillbarrow::StorageID> pendingStorageID READ pendingStorageID NOTIFY pendingStorageIDChanged)
    Q_PROPERTY(std::optional<quillbarrow::ErrorBanner> errorBanner READ errorBanner NOTIFY errorBannerChanged)
    Q_PROPERTY(QList<quillbarrow::RemoteFavoriteLocation> favoriteLocations READ favoriteLocations NOTIFY
                   favoriteLocationsChanged)
    Q_PROPERTY(QSet<quillbarrow::RemoteObjectID> calculatingFolderSizeIDs READ calculatingFolderSizeIDs NOTIFY
                   calculatingFolderSizeIDsChanged)
    Q_PROPERTY(quillbarrow::FileSort sort READ sort WRITE setSort NOTIFY sortChanged)
    Q_PROPERTY(bool sortAscending READ sortAscending WRITE setSortAscending NOTIFY sortAscendingChanged)
    Q_PROPERTY(bool showHiddenFiles READ showHiddenFiles WRITE setShowHiddenFiles NOTIFY showHiddenFilesChanged)
    Q_PROPERTY(QList<quillbarrow::TransferJob> transferJobs READ transferJobs NOTIFY transferJobsChanged)
    Q_PROPERTY(QString connectionStatusMessage READ connectionStatusMessage NOTIFY connectionStatusMessageChanged)

public:
    // Stores the dependencies and starts nothing: monitoring begins with start(). The application
    // passes a logger of category "DeviceBrowserViewModel", the transfer coordinator's queue and
    // its user defaults.
    DeviceBrowserViewModel(std::shared_ptr<MTPBackend> backend, AppLogger logger,
                           std::shared_ptr<AppConflictDetecting> conflictDetector,
                           std::shared_ptr<TransferQueue> transferQueue, std::shared_ptr<UserDefaults> preferences,
                           DeviceBrowserTiming timing = {}, QObject* parent = nullptr);
    // Stops the monitoring, the stale-page and the automatic folder-size tasks, in this order.
    // The open session is not closed here: it is released with the view model.
    ~DeviceBrowserViewModel() override;

    // ---- Published state --------------------------------------------------------------------

    // The devices the monitoring knows, in the order they arrived.
    const QList<AndroidDevice>& devices() const { return m_devices; }
    // Once a session is open, the session's own record of the device.
    const std::optional<AndroidDevice>& selectedDevice() const { return m_selectedDevice; }
    const QList<StorageRoot>& storages() const { return m_storages; }
    // The listing of the folder shown, as the device returned it.
    const std::optional<DirectoryPage>& currentPage() const { return m_currentPage; }
    // The rows of the Android table, derived from the page by applySort().
    const QList<RemoteItem>& items() const { return m_items; }
    // With the newest itemsChanged: the rows (in order) whose folder sizes it filled in, when that
    // is all it changed, every other row the same item as before; nothing when the rows may differ
    // in any other way. A table showing the rows before takes them without comparing the rows.
    const std::optional<std::vector<qsizetype>>& filledInRows() const { return m_filledInRows; }
    // The path of each level from the storage root to the folder shown.
    const QList<RemotePath>& breadcrumb() const { return m_breadcrumb; }
    bool isLoading() const { return m_isLoading; }
    bool isWaitingForTransfer() const { return m_isWaitingForTransfer; }
    bool isShowingStalePage() const { return m_isShowingStalePage; }
    DeviceConnectionPhase connectionPhase() const { return m_connectionPhase; }
    const std::optional<StorageID>& pendingStorageID() const { return m_pendingStorageID; }
    const std::optional<ErrorBanner>& errorBanner() const { return m_errorBanner; }
    const QList<RemoteFavoriteLocation>& favoriteLocations() const { return m_favoriteLocations; }
    const QSet<RemoteObjectID>& calculatingFolderSizeIDs() const { return m_calculatingFolderSizeIDs; }
    FileSort sort() const { return m_sort; }
    bool sortAscending() const { return m_sortAscending; }
    bool showHiddenFiles() const { return m_showHiddenFiles; }
    const QList<TransferJob>& transferJobs() const { return m_transferJobs; }

    // The open session, lent to the transfer coordinator by the panes.
    std::shared_ptr<DeviceSession> currentSession() const { return m_session; }
    // The session the rows are listed in now: the session epoch, the phone and the open session;
    // none while no session is open. Every item the browser lists carries it as `listedIn`.
    std::optional<ListingSession> currentListingSession() const;
    // True when no item was listed in another session than the one open now (an item no browser
    // listed counts as this session's).
    bool belongToCurrentSession(const QList<RemoteItem>& items) const;
    // When some item was listed in another session than the one open now, shows "The Android
    // device changed since these items were chosen." as the banner and answers true: the caller
    // then sends nothing to any device. Answers false, changing nothing, otherwise.
    bool refuseItemsOfAnotherSession(const QList<RemoteItem>& items);
    // The status line of the connection phase, naming the selected device.
    QString connectionStatusMessage() const;

    // ---- Monitoring ------------------------------------------------------------------------------

    // Starts following the devices, or starts again (the sidebar's "Retry"): the backend's current
    // devices first, then its events, one applied before the next. A single device is selected by
    // itself, once until it disconnects. Returns at once.
    void start();

    // ---- Connecting ------------------------------------------------------------------------------

    // Selects the device and connects to it: the old session is closed, the device's state is
    // emptied and a session is opened, its storages read and the first storage's root shown, in
    // up to four attempts while the failures are of a kind worth retrying. Failures go to the
    // banner; a newer selection silently supersedes this one.
    QCoro::Task<> selectDevice(AndroidDevice device);

    // ---- Folder navigation -------------------------------------------------------------------------

    // Opens a folder (a file or an unknown item does nothing; a folder listed in another session is
    // refused with the banner): its cached page, else an empty one,
    // is shown at once with its crumb, then the device is asked for its contents. A folder that the
    // page shown did not list opens at its own path, and not at all without one. While transfers
    // are active a cached folder is shown as it was and listed again once they are over. A newer
    // navigation, storage switch or device change supersedes it: its page is then not shown and
    // its failure not reported.
    QCoro::Task<> openFolder(RemoteItem item);
    // Goes back to a folder on the way from the storage root (a crumb, or the level above), in the
    // same way; a path that is not on the way is reported as pathNotFound.
    QCoro::Task<> navigate(RemotePath path);
    // Lists the folder shown again, in the device operation frame.
    QCoro::Task<> refresh();

    // ---- Storage switching -------------------------------------------------------------------------

    // Shows the root of another storage of the device: its cached listing, else an empty page, at
    // once, then the device's listing (while transfers are active a cached root is shown as it was
    // and listed again once they are over). Nothing happens for the storage shown when no switch is
    // under way; a newer switch supersedes this one, which then changes nothing more.
    QCoro::Task<> openStorage(StorageRoot storage);

    // ---- Folder sizes and selection summary --------------------------------------------------------

    // What the selected rows weigh, with the destination's free bytes as given. Ids that are not
    // rows count for nothing; a measured folder counts its bytes and entries, an unmeasured one 1
    // entry and no bytes.
    SelectionSizeSummary selectionSummary(const QSet<RemoteObjectID>& selectedIDs,
                                          std::optional<qint64> destinationFreeBytes) const;
    // The same for `items` as given (already the listed items of a selection): only folders are
    // looked up, so a selection costs one pass over itself, not over every row.
    SelectionSizeSummary summaryOf(const QList<RemoteItem>& items,
                                   std::optional<qint64> destinationFreeBytes) const;
    // The folder measurements kept, for a selection's weight kept up to date as folders are measured.
    FolderMeasurements<RemoteObjectID> folderMeasurements() const
    {
        return {m_computedFolderStatistics, m_measurementLog};
    }
    // Measures the given folders one after another, each by walking its whole tree; files and
    // folders measured or being measured are skipped. Every folder of the call counts as being
    // measured from its start, so a later call passes over the folders still waiting in this one;
    // a folder measured meanwhile is passed over too. A failure shows as the banner and the next
    // folder is measured. Folders listed in another session are refused with the banner. The
    // measured sizes show in the rows (and leave the folders being measured) together, once per
    // turn of the event loop, and all of them before the call returns; in the rows of a big page
    // they show once the work pool has filled them into a copy of the rows (see resortRows()).
    QCoro::Task<> calculateFolderSizes(QList<RemoteItem> items);
    // The same with failures only logged (the pane's selection changes); folders listed in another
    // session are not measured.
    QCoro::Task<> precalculateFolderSizes(QList<RemoteItem> items);

    // ---- Device file operations ---------------------------------------------------------------------

    // Creates a folder with this name in the folder shown, then lists that folder again (without a
    // limit while transfers are active). When the session changes meanwhile, nothing more is shown
    // for the new one. A name
    // that cannot name one item (empty after trimming, ".", "..", or holding "/" or NUL) is refused
    // with a banner before the device is asked; any other name goes to the device as given.
    QCoro::Task<> createFolder(QString name);
    // Deletes the items in order. The first failure stops there with the banner, and nothing is
    // listed again; when every item went, the folder shown is listed again. Items listed in another
    // session are refused with the banner before anything is deleted; when the session changes
    // while the items go, nothing is shown for the new one.
    QCoro::Task<> deleteItems(QList<RemoteItem> items);
    // Renames the item, the new name checked as for a new folder, then lists the folder shown again;
    // refused and left unchanged as deleteItems() does.
    QCoro::Task<> renameItem(RemoteItem item, QString newName);

    // ---- Conflict recovery and reconnect ------------------------------------------------------------

    // The banner's "Retry": selects the selected device again, unless the transfer queue holds an
    // unfinished job, which is said in the banner instead.
    QCoro::Task<> retrySelectedDevice();
    // Says in the banner that the transfer queue still holds unfinished jobs: what a device choice
    // or a retry is answered with instead of closing the session those jobs use.
    void showTransfersStillActive();
    // "Quit & Retry": asks the banner's conflicting processes to quit; reconnects when none is
    // left, else names those left in the banner.
    QCoro::Task<> quitConflictingAppsAndRetry();
    // "Restart & Retry": restarts the helper services and stops the banner's helper processes,
    // names any left in the banner, then reconnects once.
    QCoro::Task<> restartManagedServicesAndRetry();

    // ---- Transfers of its own ------------------------------------------------------------------------

    // Uploads each local file in turn into the folder shown when the batch began, one job each in
    // the shared transfer queue; a failed file is the banner and the next follows. Then the folder
    // shown is listed again once, in the device operation frame. Nothing without a folder shown.
    QCoro::Task<> uploadFiles(QList<QUrl> urls);
    // Downloads one device file into the local folder as one job (a folder or an unknown item does
    // nothing; a file listed in another session is refused with the banner). The local name is
    // made safe from the device's: a name that would land outside the folder fails the job as a
    // transfer failure.
    QCoro::Task<> downloadFile(RemoteItem item, QUrl folder);
    // Publishes only the unfinished jobs; the finished ones stay in the queue.
    void clearCompletedTransfers();

    // ---- Sort --------------------------------------------------------------------------------

    // Each assignment is published and re-sorts the rows.
    void setSort(FileSort sort);
    void setSortAscending(bool ascending);
    void setShowHiddenFiles(bool show);
    // Sets key and direction together with one re-sort; nothing at all when both are unchanged.
    void setSort(FileSort sort, bool ascending);

    // ---- Error banner ------------------------------------------------------------------------

    // The banner's "Dismiss".
    void clearError();

    // ---- Favourites and stored locations --------------------------------------------------------

    // The favourites menu's "Add Current Folder": stores the folder shown once.
    void addCurrentLocationToFavorites();
    // The favourites menu's "Set Current as Default": the folder opened after each connection.
    void setCurrentLocationAsDefault();
    // Drops every stored copy of a user favourite; a built-in entry is ignored.
    void removeFavorite(const RemoteFavoriteLocation& favorite);

    // The text under which a device's locations are stored: "serial:" and the trimmed serial
    // number; without one, "device:" and the id when manufacturer and model are both empty after
    // trimming; else "model:", the trimmed manufacturer, ":", the trimmed model, ":", and the
    // display name as it is.
    static QString devicePreferenceKey(const AndroidDevice& device);

    // ---- Device file operations ---------------------------------------------------------------------

    // Shows why a name given for a new or renamed item cannot be used, and answers true; answers
    // false for a usable name. `action` opens the banner's message.
    bool refuseUnusableName(const QString& name, const QString& action);
    // In the device operation frame on the open session: the change (when there is one), then the
    // folder shown listed again, the rows shown staying in place (RowPlacement::keepInPlace); a
    // failure of either is the banner. With `keepBanner`, the banner shown stays unless the listing
    // itself fails. When the session changes during the change, the operation ends there: no
    // listing and no banner for the new one.
    QCoro::Task<> relistInFrame(std::function<QCoro::Task<>(std::shared_ptr<DeviceSession>)> change,
                                std::stop_token stop, bool keepBanner = false);
    static QCoro::Task<> deleteInOrder(std::shared_ptr<DeviceSession> session, QList<RemoteItem> items);

    // ---- Conflict recovery ---------------------------------------------------------------------------

    enum class ConflictRemedy { quit, restartServices };
    // Applies the remedy to the processes of the banner shown now, with loading raised meanwhile,
    // and gives the processes still there; nothing when the banner lists none.
    QCoro::Task<std::optional<QList<DetectedConflictApp>>> applyToBannerConflicts(ConflictRemedy remedy);

    // ---- Transfers of its own ------------------------------------------------------------------------

    // True when the file went; a failure is recorded in its job and shown as the banner.
    QCoro::Task<bool> uploadOne(QUrl url, DirectoryPage page, std::shared_ptr<DeviceSession> session);
    // A new job in the queue, started at once and published.
    TransferJob enqueueStartedJob(TransferDirection direction, QString displayName, std::optional<qint64> totalBytes);
    // Each report the throttle lets through records the bytes done in the queue (a job that is no
    // longer running stays as it is) and republishes the jobs, on the main thread.
    TransferProgressFunction makeProgressFunction(const TransferID& jobID, std::optional<qint64> expectedTotal);
    // Republishes the queue's jobs by name, in natural order.
    void refreshTransferJobs();

    // ---- Opening stored locations ----------------------------------------------------------------

    // The favourites menu: walks to the favourite's folder from its storage root in the device
    // operation frame; the folder shown becomes the last location.
    QCoro::Task<> openFavorite(RemoteFavoriteLocation favorite);

    // ---- Reload after transfers -----------------------------------------------------------------

    // Waits until the transfer queue has no active job, then lists the folder shown again in the
    // device operation frame. Called by the panes after each paste into the device.
    QCoro::Task<> reloadCurrentPage();

Q_SIGNALS:
    void devicesChanged();
    void selectedDeviceChanged();
    void storagesChanged();
    void currentPageChanged();
    void itemsChanged();
    void breadcrumbChanged();
    void isLoadingChanged();
    void isWaitingForTransferChanged();
    void isShowingStalePageChanged();
    void connectionPhaseChanged();
    void pendingStorageIDChanged();
    void errorBannerChanged();
    void favoriteLocationsChanged();
    void calculatingFolderSizeIDsChanged();
    void sortChanged();
    void sortAscendingChanged();
    void showHiddenFilesChanged();
    void transferJobsChanged();
    // With every assignment of the phase or of the selected device.
    void connectionStatusMessageChanged();
    // With every assignment of the session, also when it is taken away.
    void currentSessionChanged();

private:
    friend class DeviceBrowserViewModelProbe; // the tests' window into the private operations

    // Which time limit a folder listing runs under.
    enum class ListingLimit {
        // The listing limit, whatever the transfer queue holds.
        always,
        // No limit while the transfer queue has an active job (asked right before the call),
        // else the listing limit.
        unlessTransfersActive,
    };

    // ---- Assignments of published state (each one published) ----------------------------------

    void setDevices(QList<AndroidDevice> devices);
    void setSelectedDevice(std::optional<AndroidDevice> device);
    void setStorages(QList<StorageRoot> storages);
    // Re-derives the rows. A listing of the folder shown that keeps its rows in place (see
    // RowPlacement) does so unless an order the user asked for is still to be shown (see
    // m_isOrderAnewPending); any other page is placed by the sort alone.
    void setCurrentPage(std::optional<DirectoryPage> page, RowPlacement placement = RowPlacement::orderAnew);
    // With `filledIn`, the rows of `items` whose folder sizes are all that changed (see filledInRows()).
    void setItems(QList<RemoteItem> items, std::optional<std::vector<qsizetype>> filledIn = std::nullopt);
    void setBreadcrumb(QList<RemotePath> breadcrumb);
    void setLoading(bool loading);
    void setWaitingForTransfer(bool waiting);
    void setShowingStalePage(bool stale);
    void setConnectionPhase(DeviceConnectionPhase phase);
    void setPendingStorageID(std::optional<StorageID> storageID);
    void setErrorBanner(std::optional<ErrorBanner> banner);
    void setFavoriteLocations(QList<RemoteFavoriteLocation> locations);
    void setCalculatingFolderSizeIDs(QSet<RemoteObjectID> ids);
    void setTransferJobs(QList<TransferJob> jobs);
    // Every change of the open session advances the session epoch.
    void setSession(std::shared_ptr<DeviceSession> session);

    // Recomputes the rows from the page: measured folder sizes patched in, names beginning with
    // "." dropped unless hidden files are shown, then the shared browser sort, by the sizes measured
    // when the order was last applied. Rows worked out before for the same page, sort, hidden-name
    // choice and measured sizes are published again as they are.
    void applySort();
    // Rows stay where the user saw them while folders are measured: the sizes measured since show
    // in their rows, and count for the order from the next change of the sort, of the hidden-name
    // choice or of the page (a refresh, another folder) on. A listing taken again unasked keeps
    // the rows in place too (m_rowsToKeep) until then.
    void orderByMeasuredSizes();

    // ---- Rows derived from the page -----------------------------------------------------------------

    // A listing of at least this many items is prepared, and its rows re-sorted, on the work pool;
    // for fewer, the trip to the pool and back costs more than the work.
    static constexpr qsizetype bigListing = 1'000;
    // Rows the user waits for go ahead of background work in the work pool.
    static constexpr int rowsPriority = 1;

    // What the rows are worked out from; rows of equal inputs are equal.
    struct RowsInputs {
        // The page's items, held so that their address names that very listing.
        QList<RemoteItem> pageItems;
        FileSort sort = FileSort::name;
        bool ascending = true;
        bool showHidden = false;
        // m_measurementsVersion, and the one the order goes by.
        quint64 measurements = 0;
        quint64 ordered = 0;
        quint64 epoch = 0;
        // The rows whose order the rows keep (m_rowsToKeep), held so that their address names them.
        QList<RemoteItem> keptRows;
        bool operator==(const RowsInputs& other) const;
        // The same but for the measured sizes.
        bool sameOrder(const RowsInputs& other) const;
        // Rows of the very listing of the same session, whatever their order.
        bool samePage(const RowsInputs& other) const;
    };
    struct DerivedRows {
        RowsInputs inputs;
        QList<RemoteItem> rows;
        // Let go of like the listings they hold (see letGo()).
        friend void sliced(DerivedRows& derived)
        {
            release::sliced(derived.rows);
            release::sliced(derived.inputs.pageItems);
            release::sliced(derived.inputs.keptRows);
        }
        friend qsizetype elementsOf(const DerivedRows& derived)
        {
            return std::max({release::elementsOf(derived.rows), release::elementsOf(derived.inputs.pageItems),
                             release::elementsOf(derived.inputs.keptRows)});
        }
    };
    // What the rows of the page shown are worked out from now.
    RowsInputs rowsInputs() const;
    // The rows of a listing's items: the shared rule of applySort(), on any thread, placed by the
    // `ordered` sizes, those of `kept` (rows shown before) keeping the order they stand in there
    // (see keepingRowsInPlace). The ranking of the items' names is used when given (it must be
    // theirs), else the names are collated.
    static QList<RemoteItem> rowsOf(const QList<RemoteItem>& items, const BrowserRanking* ranking,
                                    FileSort sort, bool ascending, bool showHidden,
                                    const QHash<RemoteObjectID, FolderStatistics>& measured,
                                    const QHash<RemoteObjectID, FolderStatistics>& ordered,
                                    const QList<RemoteItem>& kept = {});
    // `a` and `b` are the very same listing, not merely equal ones: the address of its items tells.
    static bool sameListing(const QList<RemoteItem>& a, const QList<RemoteItem>& b);
    // The ranking of the page's names kept with its listing; nothing when none is kept.
    std::shared_ptr<const BrowserRanking> rankingOf(const DirectoryPage& page) const;
    // Keeps the ranking of the names of `items`, a listing of the folder at `path`, with it while
    // it is the listing cached for that path (`aboutToBeCached`: one cache() is about to be given).
    void keepRanking(const RemotePath& path, const QList<RemoteItem>& items,
                     std::shared_ptr<const BrowserRanking> ranking, bool aboutToBeCached = false);
    // The rows for `inputs` (those of the moment) when they are known already: those shown, or those
    // the work pool prepared with the listing (which then count as shown, so that the order last
    // asked for is no longer pending); nothing otherwise.
    const QList<RemoteItem>* knownRows(const RowsInputs& inputs);
    // Publishes the rows as those of `inputs` (with `filledIn`, see setItems()).
    void showRows(RowsInputs inputs, QList<RemoteItem> rows,
                  std::optional<std::vector<qsizetype>> filledIn = std::nullopt);
    // applySort() for a change of the sort, of the hidden-name choice or of measured sizes: the
    // rows of a big page are sorted on the work pool, one sort at a time, and published when they
    // are done, unless the page, sort or hidden-name choice has changed by then, or rows with as
    // many measured sizes are shown already; what changed meanwhile is sorted next (while folders
    // go on being measured, no sooner than the timing's measuredRowsInterval). Measured sizes
    // alone are filled into a copy of the rows shown, where they stand, and published while those
    // rows are still shown: nothing is sorted, and the window's thread looks through no row.
    void resortRows();
    static QCoro::Task<> sortOnPool(QPointer<DeviceBrowserViewModel> self);
    // What every listing goes through before anyone sees it: its items stamped with `origin`. A big
    // one is worked on on the work pool: the items an earlier listing of the folder in the same
    // session gave are taken again where nothing changed (the very listing, when nothing did), the
    // names ranked, and, for the folder shown, its rows prepared for the sort of the moment, placed
    // as `placement` asks.
    QCoro::Task<DirectoryPage> prepareListing(DirectoryPage page, ListingSession origin,
                                              RowPlacement placement);

    // ---- Errors --------------------------------------------------------------------------------

    // Reports a failure of a device operation: logs it, shows it as the banner and, for the
    // errors a conflicting application can cause, looks for such applications. A foreign error
    // is shown as `unknown` with its own description. A transfer's failure is told as its
    // direction has it.
    void present(const QuillbarrowError& error, std::optional<TransferDirection> direction = std::nullopt);
    void present(const std::exception_ptr& error);
    // Extends whatever banner is shown when the detector answers; keeps the view model weakly.
    QCoro::Task<> lookUpConflicts();

    // ---- Monitoring ----------------------------------------------------------------------------

    QCoro::Task<> monitorDevices(std::stop_token stop);
    void handle(const DeviceConnectionEvent& event);
    // Clears the device side when the selected device has gone.
    void forgetSelectedDevice();
    void autoSelectOnlyDeviceIfNeeded();

    // ---- Connecting ---------------------------------------------------------------------------

    QCoro::Task<> connectWithRetry(AndroidDevice initialDevice, quint64 generation);
    // The listed record of the device now: the same id, else the same manufacturer and model.
    std::optional<AndroidDevice> resolveCurrentDevice(const AndroidDevice& device) const;
    // One attempt. It writes state only while `generation` is the current connection; a session
    // it opens for a superseded connection is closed.
    QCoro::Task<> openAndLoad(AndroidDevice device, OpenSessionOptions options, quint64 generation);
    // Undoes a failed attempt: closes its session and empties its storages, page and path.
    QCoro::Task<> teardownPartialSession(quint64 generation);
    static bool isRetryableConnectError(const std::exception_ptr& error);
    // Empties what belongs to the selected device (storages, page and rows, path, pending storage,
    // favourites, folder sizes, navigation stack and directory cache) and starts a new navigation
    // generation; the session is left to the caller.
    void clearDeviceState();
    // Takes the open session out of the view model (none is then open) and stops the automatic
    // folder-size task, which uses it.
    std::shared_ptr<DeviceSession> takeSession();
    // Closes the session in a task of its own.
    static void closeInBackground(std::shared_ptr<DeviceSession> session);

    // ---- Favourites and stored locations ------------------------------------------------------

    // The key of the selected device; nothing without one.
    std::optional<QString> currentDevicePreferenceKey() const;
    QList<StoredRemoteLocation> storedFavoriteLocations(const QString& deviceKey) const;
    void saveStoredFavoriteLocations(const QList<StoredRemoteLocation>& locations, const QString& deviceKey);
    std::optional<StoredRemoteLocation> storedLocation(const QString& key) const;
    void saveStoredLocation(const StoredRemoteLocation& location, const QString& key);
    // Shows a settings write the disk refused as the banner, once: every navigation writes the
    // last location, and a disk that refuses one write refuses the next. The same failure shows
    // again only after a write has gone through.
    void noteSettingsWrite(std::optional<QString> failure);
    // Writes the folder shown as the device's last location.
    void rememberCurrentLocation();
    // Rebuilds the favourites menu: the built-in entries, then the stored favourites, each path once.
    void refreshFavoriteLocations();
    QList<RemoteFavoriteLocation> builtInFavoriteLocations(
        const DirectoryPage& page, const std::optional<StoredRemoteLocation>& defaultLocation) const;
    static QList<RemoteFavoriteLocation> uniqueFavoriteLocations(const QList<RemoteFavoriteLocation>& locations);

    // ---- Device operation frame ---------------------------------------------------------------

    // Before the body of a user's device operation: loading, waiting behind running transfers,
    // the banner cleared (unless kept).
    void beginDeviceOperation(bool keepBanner = false);
    // After it: its failure (if any) reported, then waiting and loading lowered.
    void endDeviceOperation(const std::exception_ptr& failure);

    // ---- Opening stored locations ----------------------------------------------------------------

    // Lists the storage root and each stored folder name down to the location, then shows it
    // with its path. Throws sessionFailed without a session, pathNotFound for a storage or a name
    // that is not there (nothing shown changes then), or the listing's own error. False when the
    // session changed during the walk: its pages are then dropped.
    QCoro::Task<bool> openStoredLocation(StoredRemoteLocation location, bool shouldPersist);
    // After a connection: the device's default folder, else its last one; a failure is only logged.
    QCoro::Task<> restorePreferredLocationIfAvailable(quint64 generation);

    // ---- Folder navigation -------------------------------------------------------------------------

    // Where a navigation step goes: the folder, its storage, its device object (none at a storage
    // root) and the navigation stack that ends with it.
    struct NavigationTarget {
        RemotePath path;
        StorageRoot storage;
        std::optional<RemoteObjectID> parentID;
        QList<NavigationNode> stack;
    };
    // Shows the target at once (cached or empty), then serves it stale during transfers or lists
    // it, under a new navigation ticket.
    QCoro::Task<> showAndList(NavigationTarget target);
    static QList<RemotePath> breadcrumbOf(const QList<NavigationNode>& stack);
    // The navigation stack from the storage root down to the folder at `path` (not a root).
    QList<NavigationNode> stackDownTo(const RemotePath& path, const RemoteItem& folder) const;
    // While transfers are active the cached page of the folder (`parentID` is its object, none for
    // a storage root) stands in for its listing: marked stale, the flags down (and a storage switch
    // ended), the listing left to the stale-page task; true. Otherwise the device is to be asked:
    // loading raised; false.
    bool serveCachedPageOrStartListing(const RemotePath& path, bool endsStorageSwitch,
                                       const std::optional<RemoteObjectID>& parentID = std::nullopt);
    // The device is asked: loading, and waiting when a transfer runs.
    void beginListing();
    // Shows the cached listing of the empty page's folder, or the empty page while there is none.
    void showCachedOrEmpty(DirectoryPage empty);
    // Works out on the work pool the rows a big cached listing of the folder would show now (see
    // m_preparedRows), so that showing it costs the window's thread no sort; nothing for a small
    // listing, or one whose rows are known.
    QCoro::Task<> prepareCachedRows(RemotePath path, std::optional<RemoteObjectID> parentID);

    // ---- Folder sizes -------------------------------------------------------------------------------

    // The measurement loop behind both public forms: the session read once, the folders neither
    // measured nor being measured announced as being measured together, then measured in turn, each
    // passed over when it was measured meanwhile. Quietly, a cancellation is dropped and any other
    // failure logged. Stops, keeping nothing, when the session changes or `stop` is requested; the
    // folders it did not measure then leave the set being measured (unless the session changed,
    // which empties it).
    QCoro::Task<> calculateFolderSizes(QList<RemoteItem> items, bool presentsErrors, std::stop_token stop);
    // A folder's measurement ended (measured or not): it leaves the folders being measured, and its
    // size (if any) shows in the rows, with the others that end in this turn of the event loop.
    void finishFolderMeasurement(const RemoteObjectID& folder);
    // Applies the ended measurements now: one publication of the folders being measured and one of
    // the rows, their sizes filled in where the rows stand. The rows of a big page follow from the
    // work pool instead (see resortRows()).
    void applyFinishedFolderMeasurements();
    // Keeps the measurement of the folder (see m_computedFolderStatistics).
    void keepMeasurement(const RemoteObjectID& folder, FolderStatistics statistics);
    // Walks one folder tree depth-first, one listing at a time, every page cached. `visited` holds
    // the folders entered by this walk: a folder met again, or a tree deeper than the limit, fails
    // with backendProtocolError instead of being walked for ever. A stop request ends the walk
    // with userCancelled.
    QCoro::Task<FolderStatistics> recursiveFolderStatistics(RemoteItem folder, RemotePath basePath,
                                                            std::shared_ptr<DeviceSession> session,
                                                            std::shared_ptr<QSet<RemoteObjectID>> visited, int depth,
                                                            quint64 epoch, std::stop_token stop);
    // Replaces the automatic pass: shortly after a connection shows its first page, the folders of
    // that page are measured quietly, unless the user has moved on or transfers are active.
    void scheduleAutomaticFolderSizePrecalculation();
    QCoro::Task<> precalculateShownFolderSizes(quint64 navigationGeneration, quint64 slotGeneration,
                                               std::stop_token stop);

    // ---- Directory cache, stale page and reload ---------------------------------------------------

    // Keeps the page as the last listing of its path; a fresh listing of the page shown ends its
    // stale mark.
    void cache(const DirectoryPage& page);
    // The cached listing of the folder at this path whose object is `parentID` (none for a storage
    // root); nothing while the path's listing is of another object, such as a folder renamed or
    // deleted since, whose name a new folder took, or a sibling of a canonically equivalent name.
    const DirectoryPage* cachedPage(const RemotePath& path, const std::optional<RemoteObjectID>& parentID) const;
    // The folder is cached and the transfer queue has an active job.
    bool canServeCachedPageDuringTransfer(const RemotePath& path,
                                          const std::optional<RemoteObjectID>& parentID) const;
    // Starts the one task that lists the shown page again once transfers are over, unless it runs.
    void scheduleStalePageRefresh();
    QCoro::Task<> refreshStalePage(std::stop_token stop);
    QCoro::Task<> reloadCurrentPage(std::stop_token stop);
    // Lists the page shown again and replaces it; errors go to the caller. A listing that comes
    // back after the session changed is dropped; one that comes back after another folder was
    // shown is only cached.
    QCoro::Task<> refreshCurrentPageInternal(std::shared_ptr<DeviceSession> session, std::stop_token stop,
                                             RowPlacement placement = RowPlacement::orderAnew);

    // ---- Time limits on device calls -----------------------------------------------------------

    // Opens a session under the open limit; a session that opens after the limit is closed.
    QCoro::Task<std::shared_ptr<DeviceSession>> openSessionWithinLimit(DeviceID deviceID, OpenSessionOptions options,
                                                                       std::stop_token stop);
    QCoro::Task<QList<StorageRoot>> readStoragesWithinLimit(std::shared_ptr<DeviceSession> session,
                                                            std::stop_token stop);
    // `placement` is how the rows of the folder shown will be placed when the listing is shown.
    QCoro::Task<DirectoryPage> listRoot(std::shared_ptr<DeviceSession> session, StorageID storageID,
                                        ListingLimit limit, std::stop_token stop,
                                        RowPlacement placement = RowPlacement::orderAnew);
    QCoro::Task<DirectoryPage> listFolder(std::shared_ptr<DeviceSession> session, RemoteObjectID parentID,
                                          RemotePath path, ListingLimit limit, std::stop_token stop,
                                          RowPlacement placement = RowPlacement::orderAnew);
    QCoro::Task<DirectoryPage> listWithin(std::function<QCoro::Task<DirectoryPage>()> call, ListingLimit limit,
                                          std::stop_token stop);
    // Where a listing made with `session` comes from; a session that is not the open one gets an
    // epoch that is never current.
    ListingSession listingSessionOf(const std::shared_ptr<DeviceSession>& session) const;
    // Stopped when the view model goes away: what waits on a device call then ends at once.
    std::stop_token lifetime() const { return m_lifetime.get_token(); }

    // ---- Dependencies ------------------------------------------------------------------------------

    std::shared_ptr<MTPBackend> m_backend;
    AppLogger m_logger;
    std::shared_ptr<AppConflictDetecting> m_conflictDetector;
    std::shared_ptr<TransferQueue> m_transferQueue;
    std::shared_ptr<UserDefaults> m_preferences;
    DeviceBrowserTiming m_timing;

    // ---- Published state ---------------------------------------------------------------------------

    QList<AndroidDevice> m_devices;
    std::optional<AndroidDevice> m_selectedDevice;
    QList<StorageRoot> m_storages;
    std::optional<DirectoryPage> m_currentPage;
    QList<RemoteItem> m_items;
    std::optional<std::vector<qsizetype>> m_filledInRows;
    // The rows published last and what they were worked out from.
    std::optional<DerivedRows> m_shownRows;
    // The rows the work pool prepared with the newest listing of the folder shown, until the
    // page is shown or another page is.
    std::optional<DerivedRows> m_preparedRows;
    // A re-sort of a big page runs on the work pool.
    bool m_isSortingOnPool = false;
    // The rows a listing taken again unasked found shown (and once rows kept in their order are
    // shown, those rows): the rows keep their order until the order is applied anew. Empty while
    // the sort alone places the rows.
    QList<RemoteItem> m_rowsToKeep;
    // The order was applied anew (a sort, the hidden-name choice, a page asked for) and its rows are
    // not shown yet: a listing taken again meanwhile is placed by the sort, not by the rows shown.
    bool m_isOrderAnewPending = false;
    QList<RemotePath> m_breadcrumb;
    bool m_isLoading = false;
    bool m_isWaitingForTransfer = false;
    bool m_isShowingStalePage = false;
    DeviceConnectionPhase m_connectionPhase = DeviceConnectionPhase::idle;
    std::optional<StorageID> m_pendingStorageID;
    std::optional<ErrorBanner> m_errorBanner;
    QList<RemoteFavoriteLocation> m_favoriteLocations;
    QSet<RemoteObjectID> m_calculatingFolderSizeIDs;
    // For each folder being measured, how many passes still hold it (walking it, or waiting to):
    // it counts as being measured until the last of them lets it go.
    QHash<RemoteObjectID, int> m_folderMeasurementHolds;
    // The folders passes are walking now, each with how many passes walk it.
    QHash<RemoteObjectID, int> m_walkingFolderIDs;
    FileSort m_sort = FileSort::name;
    bool m_sortAscending = true;
    bool m_showHiddenFiles = false;
    QList<TransferJob> m_transferJobs;

    // ---- Private state -------------------------------------------------------------------------------

    std::shared_ptr<DeviceSession> m_session;
    // Grows with every change of `m_session`; a listing, statistics result or cache entry is
    // written only while the epoch it started under is still current.
    quint64 m_sessionEpoch = 0;
    TaskSlot m_monitorTask;
    // Grows with each device selection and with the disconnection of the selected device.
    quint64 m_connectGeneration = 0;
    static constexpr int maxConnectAttempts = 4;
    QList<NavigationNode> m_navigationStack;
    QHash<RemotePath, DirectoryPage> m_directoryCache;
    // The ranks of the names of cached listings (see browserRanking()), by path, each with the
    // listing it ranks (held, so that its address names that very listing). Collating names is
    // most of a sort's cost: a listing's names are ranked once, and every sort of it after that
    // compares numbers. Let go of with the listing they rank.
    struct NameRanking {
        QList<RemoteItem> items;
        std::shared_ptr<const BrowserRanking> ranks;
    };
    QHash<RemotePath, NameRanking> m_nameRankings;
    // Grows with each device selection, disconnection of the selected device, storage switch,
    // folder opening, navigation step and stored location shown.
    quint64 m_navigationGeneration = 0;
    QSet<DeviceID> m_autoSelectionAttempts;
    quint64 m_storageSwitchGeneration = 0;
    bool m_isBatchingSortUpdate = false;
    TaskSlot m_stalePageRefreshTask;
    TaskSlot m_automaticFolderSizeTask;
    QHash<RemoteObjectID, FolderStatistics> m_computedFolderStatistics;
    // The folders of m_computedFolderStatistics in the order they were measured.
    FolderMeasurementLog<RemoteObjectID> m_measurementLog;
    // Grows with every change of m_computedFolderStatistics.
    quint64 m_measurementsVersion = 0;
    // The measured sizes the rows are placed by, and their m_measurementsVersion.
    QHash<RemoteObjectID, FolderStatistics> m_orderedFolderStatistics;
    quint64 m_orderedMeasurementsVersion = 0;
    // Folders whose measurement ended since the last applyFinishedFolderMeasurements(), each with
    // the session epoch it ended under.
    struct FinishedFolderMeasurement {
        RemoteObjectID folder;
        quint64 epoch = 0;
    };
    QList<FinishedFolderMeasurement> m_finishedFolderMeasurements;
    // The settings write failure last shown, while no write has gone through since.
    std::optional<QString> m_shownSettingsFailure;
    std::stop_source m_lifetime;
};

} // namespace quillbarrow
