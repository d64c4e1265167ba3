#include "DeviceBrowserViewModel.h"

#include "async/SerialExecutor.h"
#include "async/WorkPool.h"
#include "domain/BrowserSort.h"

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <ranges>

namespace quillbarrow {

DeviceBrowserViewModel::DeviceBrowserViewModel(std::shared_ptr<MTPBackend> backend, AppLogger logger,
                                               std::shared_ptr<AppConflictDetecting> conflictDetector,
                                               std::shared_ptr<TransferQueue> transferQueue,
                                               std::shared_ptr<UserDefaults> preferences, DeviceBrowserTiming timing,
                                               QObject* parent)
    : QObject(parent), m_backend(std::move(backend)), m_logger(std::move(logger)),
      m_conflictDetector(std::move(conflictDetector)), m_transferQueue(std::move(transferQueue)),
      m_preferences(std::move(preferences)), m_timing(timing)
{
    Q_ASSERT(m_backend != nullptr);
    Q_ASSERT(m_conflictDetector != nullptr);
    Q_ASSERT(m_transferQueue != nullptr);
    Q_ASSERT(m_preferences != nullptr);
}

DeviceBrowserViewModel::~DeviceBrowserViewModel()
{
    m_monitorTask.cancel();
    m_stalePageRefreshTask.cancel();
    m_automaticFolderSizeTask.cancel();
    // Every other operation still waiting on a device call ends at once and, finding the view
    // model gone, touches nothing.
    m_lifetime.request_stop();
}

QString DeviceBrowserViewModel::connectionStatusMessage() const
{
    const QString name = m_selectedDevice ? m_selectedDevice->displayName : QStringLiteral("Android device");
    switch (m_connectionPhase) {
    case DeviceConnectionPhase::idle:
        return QStringLiteral("Ready");
    case DeviceConnectionPhase::detecting:
        return QStringLiteral("Looking for an Android device\u2026");
    case DeviceConnectionPhase::opening:
        return QStringLiteral("Connecting to ") + name + QStringLiteral("\u2026");
    case DeviceConnectionPhase::loadingStorage:
        return QStringLiteral("Loading ") + name + QStringLiteral(" storage\u2026");
    case DeviceConnectionPhase::loadingContents:
        return QStringLiteral("Loading device contents\u2026");
    case DeviceConnectionPhase::connected:
        return QStringLiteral("Connected");
    }
    return {};
}

// ---- Sort -------------------------------------------------------------------------------------

void DeviceBrowserViewModel::setSort(FileSort sort)
{
    m_sort = sort;
    Q_EMIT sortChanged();
    orderByMeasuredSizes();
    if (!m_isBatchingSortUpdate) {
        resortRows();
    }
}

void DeviceBrowserViewModel::setSortAscending(bool ascending)
{
    m_sortAscending = ascending;
    Q_EMIT sortAscendingChanged();
    orderByMeasuredSizes();
    if (!m_isBatchingSortUpdate) {
        resortRows();
    }
}

void DeviceBrowserViewModel::setShowHiddenFiles(bool show)
{
    m_showHiddenFiles = show;
    Q_EMIT showHiddenFilesChanged();
    orderByMeasuredSizes();
    resortRows();
}

void DeviceBrowserViewModel::setSort(FileSort sort, bool ascending)
{
    if (sort == m_sort && ascending == m_sortAscending) {
        return;
    }
    m_isBatchingSortUpdate = true;
    setSort(sort);
    setSortAscending(ascending);
    m_isBatchingSortUpdate = false;
    resortRows();
}

void DeviceBrowserViewModel::applySort()
{
    if (!m_currentPage) {
        letGo(std::exchange(m_shownRows, std::nullopt));
        setItems({});
        return;
    }
    RowsInputs inputs = rowsInputs();
    if (const QList<RemoteItem>* known = knownRows(inputs)) {
        setItems(*known);
        return;
    }
    // The rows seen stay as they are while the work pool places a big listing among them.
    if (!m_rowsToKeep.isEmpty() && m_currentPage->items.size() >= bigListing) {
        resortRows();
        return;
    }
    // Rows of this very page in another order (prepared while the sort changed or a folder was
    // measured, or shown before) stay or show at once, and the work pool sorts them again: a big
    // page is never sorted here once it has rows.
    if (m_preparedRows && m_preparedRows->inputs.samePage(inputs)) {
        letGo(std::exchange(m_shownRows, std::exchange(m_preparedRows, std::nullopt)));
    }
    if (m_currentPage->items.size() >= bigListing && m_shownRows && m_shownRows->inputs.samePage(inputs)) {
        if (m_items.constData() != m_shownRows->rows.constData()) {
            setItems(m_shownRows->rows);
        }
        resortRows();
        return;
    }
    // The names are ranked once per listing (a big listing comes ranked from the work pool), and
    // every re-sort, hidden-name switch and measured folder size after it reuses the ranks.
    std::shared_ptr<const BrowserRanking> ranking = rankingOf(*m_currentPage);
    if (!ranking) {
        ranking = std::make_shared<const BrowserRanking>(browserRanking(m_currentPage->items));
        keepRanking(m_currentPage->path, m_currentPage->items, ranking);
    }
    QList<RemoteItem> rows =
        rowsOf(m_currentPage->items, ranking.get(), m_sort, m_sortAscending, m_showHiddenFiles,
               m_computedFolderStatistics, m_orderedFolderStatistics, m_rowsToKeep);
    showRows(std::move(inputs), std::move(rows));
}

void DeviceBrowserViewModel::orderByMeasuredSizes()
{
    m_orderedFolderStatistics = m_computedFolderStatistics;
    m_orderedMeasurementsVersion = m_measurementsVersion;
    letGo(std::exchange(m_rowsToKeep, {}));
    m_isOrderAnewPending = true;
}

QList<RemoteItem> DeviceBrowserViewModel::rowsOf(const QList<RemoteItem>& pageItems,
                                                 const BrowserRanking* ranking, FileSort sort, bool ascending,
                                                 bool showHidden,
                                                 const QHash<RemoteObjectID, FolderStatistics>& measured,
                                                 const QHash<RemoteObjectID, FolderStatistics>& ordered,
                                                 const QList<RemoteItem>& kept)
{
    Q_ASSERT(ranking == nullptr || ranking->nameRanks.size() == static_cast<std::size_t>(pageItems.size()));
    // The page is copied once, into the order shown, or not at all when it is shown as listed.
    const ShownItems shown = shownItems(
        pageItems, showHidden, [](const RemoteItem& item) { return item.name.startsWith(u'.'); }, measured,
        ordered);
    const bool showsAll = !shown.patched && shown.places.size() == static_cast<std::size_t>(pageItems.size());
    if (kept.isEmpty() && ranking != nullptr && ranking->inNameOrder && sort == FileSort::name && ascending &&
        showsAll) {
        return pageItems; // shown as listed: the page's own list, not a copy
    }
    static const std::vector<qsizetype> unranked;
    const std::vector<qsizetype>& ranks = ranking != nullptr ? ranking->nameRanks : unranked;
    std::vector<qsizetype> order = browserOrder(pageItems, shown, ranks, sort, ascending);
    if (!kept.isEmpty()) {
        QHash<RemoteObjectID, qsizetype> rowOf;
        rowOf.reserve(kept.size());
        for (qsizetype row = 0; row < kept.size(); ++row) {
            rowOf.insert(kept[row].id, row);
        }
        std::vector<qsizetype> keptRows;
        keptRows.reserve(shown.places.size());
        for (const qsizetype place : shown.places) {
            keptRows.push_back(rowOf.value(pageItems[place].id, -1));
        }
        order = keepingRowsInPlace(order, keptRows, kept.size());
        if (showsAll && std::ranges::equal(order, std::views::iota(qsizetype{0}, pageItems.size()))) {
            return pageItems; // kept as listed: the page's own list, not a copy
        }
    }
    return shownInOrder(pageItems, shown, order);
}

bool DeviceBrowserViewModel::RowsInputs::operator==(const RowsInputs& other) const
{
    return sameOrder(other) && measurements == other.measurements;
}

bool DeviceBrowserViewModel::RowsInputs::sameOrder(const RowsInputs& other) const
{
    return samePage(other) && sort == other.sort && ascending == other.ascending &&
           showHidden == other.showHidden && ordered == other.ordered &&
           sameListing(keptRows, other.keptRows);
}

bool DeviceBrowserViewModel::RowsInputs::samePage(const RowsInputs& other) const
{
    return sameListing(pageItems, other.pageItems) && epoch == other.epoch;
}

DeviceBrowserViewModel::RowsInputs DeviceBrowserViewModel::rowsInputs() const
{
    return RowsInputs{m_currentPage ? m_currentPage->items : QList<RemoteItem>(),
                      m_sort,
                      m_sortAscending,
                      m_showHiddenFiles,
                      m_measurementsVersion,
                      m_orderedMeasurementsVersion,
                      m_sessionEpoch,
                      m_rowsToKeep};
}

const QList<RemoteItem>* DeviceBrowserViewModel::knownRows(const RowsInputs& inputs)
{
    if (m_preparedRows && m_preparedRows->inputs == inputs) {
        letGo(std::exchange(m_shownRows, std::exchange(m_preparedRows, std::nullopt)));
    }
    if (!m_shownRows || !(m_shownRows->inputs == inputs)) {
        return nullptr;
    }
    m_isOrderAnewPending = m_isOrderAnewPending && !inputs.sameOrder(rowsInputs());
    return &m_shownRows->rows;
}

void DeviceBrowserViewModel::showRows(RowsInputs inputs, QList<RemoteItem> rows,
                                      std::optional<std::vector<qsizetype>> filledIn)
{
    if (inputs.sameOrder(rowsInputs())) {
        m_isOrderAnewPending = false;
    }
    // Rows placed among the rows kept keep their own order from now on, which is the same: the rows
    // kept before them need not be held any longer.
    if (!inputs.keptRows.isEmpty() && sameListing(inputs.keptRows, m_rowsToKeep)) {
        inputs.keptRows = rows;
        letGo(std::exchange(m_rowsToKeep, rows));
    }
    letGo(std::exchange(m_shownRows, DerivedRows{std::move(inputs), rows}));
    setItems(std::move(rows), std::move(filledIn));
}

void DeviceBrowserViewModel::resortRows()
{
    if (!m_currentPage || m_currentPage->items.size() < bigListing) {
        applySort();
        return;
    }
    if (const QList<RemoteItem>* known = knownRows(rowsInputs())) {
        setItems(*known);
        return;
    }
    if (m_isSortingOnPool) {
        return; // the sort under way sorts again for what changed meanwhile
    }
    m_isSortingOnPool = true;
    QCoro::Task<> sorting = sortOnPool(QPointer<DeviceBrowserViewModel>(this));
    Q_UNUSED(sorting) // publishes its rows by itself, if they are still wanted then
}

QCoro::Task<> DeviceBrowserViewModel::sortOnPool(QPointer<DeviceBrowserViewModel> self)
{
    struct Sorted {
        std::shared_ptr<const BrowserRanking> ranking;
        QList<RemoteItem> rows;
        // Rows filled in rather than sorted: those whose sizes changed (see filledInRows()).
        std::optional<std::vector<qsizetype>> filledIn;
    };
    // Each round sorts for the state of its start; what changes while it runs is sorted in the
    // next round.
    while (self && self->m_currentPage && self->m_currentPage->items.size() >= bigListing &&
           !(self->m_shownRows && self->m_shownRows->inputs == self->rowsInputs())) {
        RowsInputs inputs = self->rowsInputs();
        const FileSort sort = inputs.sort;
        const bool ascending = inputs.ascending;
        const bool showHidden = inputs.showHidden;
        // Rows shown in the order wanted, which lack only sizes measured since, take them where they
        // stand, in a copy: nothing is sorted.
        const bool fillingIn = self->m_shownRows && self->m_shownRows->inputs.sameOrder(inputs) &&
                               self->m_items.constData() == self->m_shownRows->rows.constData();
        QList<RemoteItem> shownRows = fillingIn ? self->m_items : QList<RemoteItem>();
        // The rows come back held by pointer: taken out of it, they leave nothing in the future.
        auto sorting = [items = self->m_currentPage->items, ranking = self->rankingOf(*self->m_currentPage),
                        measured = self->m_computedFolderStatistics,
                        ordered = self->m_orderedFolderStatistics, kept = inputs.keptRows, shown = shownRows,
                        fillingIn, sort, ascending, showHidden]() mutable {
            if (fillingIn) {
                shown = copiedInSlices(shown);
                std::vector<qsizetype> filledIn = fillInMeasuredSizes(shown, measured);
                return std::make_shared<Sorted>(Sorted{nullptr, std::move(shown), std::move(filledIn)});
            }
            if (!ranking) {
                ranking = std::make_shared<const BrowserRanking>(browserRanking(items));
            }
            return std::make_shared<Sorted>(Sorted{
                ranking, rowsOf(items, ranking.get(), sort, ascending, showHidden, measured, ordered, kept),
                std::nullopt});
        };
        std::shared_ptr<Sorted> sorted;
        try {
            QFuture<std::shared_ptr<Sorted>> future = runOnThreadPool(workPool(), std::move(sorting), rowsPriority);
            sorted = co_await future;
        } catch (...) {
            // Only a job the pool dropped at exit ends here: nobody waits for its rows.
        }
        QList<RemoteItem> rows = sorted ? std::exchange(sorted->rows, {}) : QList<RemoteItem>();
        if (!sorted || !self) {
            letGo(DerivedRows{std::move(inputs), std::move(rows)}, std::move(shownRows));
            break;
        }
        // Shown while the page, sort, hidden-name choice and session are those it was sorted for,
        // unless rows with as many measured sizes are shown already: while folders go on being
        // measured, each round shows more of them. Rows filled in only while the rows they were
        // filled into are still shown.
        const std::optional<DerivedRows>& shown = self->m_shownRows;
        const RowsInputs now = self->rowsInputs();
        if (!self->m_currentPage || !inputs.sameOrder(now) ||
            (shown && shown->inputs.sameOrder(inputs) && shown->inputs.measurements >= inputs.measurements) ||
            (sorted->filledIn && !(shown && shown->rows.constData() == shownRows.constData() &&
                                   self->m_items.constData() == shownRows.constData()))) {
            letGo(DerivedRows{std::move(inputs), std::move(rows)}, std::move(shownRows));
            continue;
        }
        if (sorted->filledIn && sorted->filledIn->empty()) {
            // None of the sizes is shown: the rows stand as they are, now for these sizes too.
            self->m_shownRows->inputs = std::move(inputs);
        } else if (sorted->filledIn) {
            self->showRows(std::move(inputs), std::move(rows), std::move(*sorted->filledIn));
        } else {
            self->keepRanking(self->m_currentPage->path, self->m_currentPage->items, sorted->ranking);
            self->showRows(std::move(inputs), std::move(rows));
        }
        letGo(std::move(rows), std::move(shownRows));
        if (self->m_shownRows->inputs.sameOrder(self->rowsInputs()) &&
            !(self->m_shownRows->inputs == self->rowsInputs())) {
            // Folders are being measured one after another: their sizes are shown together, a
            // round at a time, rather than each on its own.
            const std::shared_ptr<WaitClock> clock = self->m_timing.clock;
            co_await clock->sleep(self->m_timing.measuredRowsInterval, self->lifetime());
        }
    }
    if (self) {
        self->m_isSortingOnPool = false;
    }
}

// ---- Assignments of published state -------------------------------------------------------------

void DeviceBrowserViewModel::setDevices(QList<AndroidDevice> devices)
{
    m_devices = std::move(devices);
    Q_EMIT devicesChanged();
}

void DeviceBrowserViewModel::setSelectedDevice(std::optional<AndroidDevice> device)
{
    m_selectedDevice = std::move(device);
    Q_EMIT selectedDeviceChanged();
    Q_EMIT connectionStatusMessageChanged();
}

void DeviceBrowserViewModel::setStorages(QList<StorageRoot> storages)
{
    m_storages = std::move(storages);
    Q_EMIT storagesChanged();
}

void DeviceBrowserViewModel::setCurrentPage(std::optional<DirectoryPage> page, RowPlacement placement)
{
    // The rows seen are kept only for a listing of the folder they show, in the session they were
    // listed in, and only once they are in the order last asked for.
    const bool keepsRows = placement == RowPlacement::keepInPlace && !m_isOrderAnewPending && page &&
                           m_currentPage && m_currentPage->storage.id == page->storage.id &&
                           m_currentPage->path == page->path && m_currentPage->parentID == page->parentID &&
                           m_shownRows && m_shownRows->inputs.epoch == m_sessionEpoch;
    std::optional<DirectoryPage> shown = std::exchange(m_currentPage, std::move(page));
    if (shown) {
        letGo(std::move(shown->items));
    }
    if (keepsRows) {
        letGo(std::exchange(m_rowsToKeep, m_items));
    } else {
        orderByMeasuredSizes();
    }
    Q_EMIT currentPageChanged();
    applySort();
    // Rows prepared for a page that was not shown now are of no use any more.
    letGo(std::exchange(m_preparedRows, std::nullopt));
}

void DeviceBrowserViewModel::setItems(QList<RemoteItem> items, std::optional<std::vector<qsizetype>> filledIn)
{
    m_filledInRows = std::move(filledIn);
    letGo(std::exchange(m_items, std::move(items)));
    Q_EMIT itemsChanged();
}

void DeviceBrowserViewModel::setBreadcrumb(QList<RemotePath> breadcrumb)
{
    m_breadcrumb = std::move(breadcrumb);
    Q_EMIT breadcrumbChanged();
}

void DeviceBrowserViewModel::setLoading(bool loading)
{
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
}

void DeviceBrowserViewModel::setWaitingForTransfer(bool waiting)
{
    m_isWaitingForTransfer = waiting;
    Q_EMIT isWaitingForTransferChanged();
}

void DeviceBrowserViewModel::setShowingStalePage(bool stale)
{
    m_isShowingStalePage = stale;
    Q_EMIT isShowingStalePageChanged();
}

void DeviceBrowserViewModel::setConnectionPhase(DeviceConnectionPhase phase)
{
    m_connectionPhase = phase;
    Q_EMIT connectionPhaseChanged();
    Q_EMIT connectionStatusMessageChanged();
}

void DeviceBrowserViewModel::setPendingStorageID(std::optional<StorageID> storageID)
{
    m_pendingStorageID = std::move(storageID);
    Q_EMIT pendingStorageIDChanged();
}

void DeviceBrowserViewModel::setErrorBanner(std::optional<ErrorBanner> banner)
{
    m_errorBanner = std::move(banner);
    Q_EMIT errorBannerChanged();
}

void DeviceBrowserViewModel::setFavoriteLocations(QList<RemoteFavoriteLocation> locations)
{
    m_favoriteLocations = std::move(locations);
    Q_EMIT favoriteLocationsChanged();
}

void DeviceBrowserViewModel::setCalculatingFolderSizeIDs(QSet<RemoteObjectID> ids)
{
    m_calculatingFolderSizeIDs = std::move(ids);
    Q_EMIT calculatingFolderSizeIDsChanged();
}

void DeviceBrowserViewModel::setTransferJobs(QList<TransferJob> jobs)
{
    m_transferJobs = std::move(jobs);
    Q_EMIT transferJobsChanged();
}

void DeviceBrowserViewModel::setSession(std::shared_ptr<DeviceSession> session)
{
    m_session = std::move(session);
    ++m_sessionEpoch;
    Q_EMIT currentSessionChanged();
}

} // namespace quillbarrow
