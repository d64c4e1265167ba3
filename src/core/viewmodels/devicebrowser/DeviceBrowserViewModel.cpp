#include "DeviceBrowserViewModel.h"

#include "domain/BrowserSort.h"

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
    if (!m_isBatchingSortUpdate) {
        applySort();
    }
}

void DeviceBrowserViewModel::setSortAscending(bool ascending)
{
    m_sortAscending = ascending;
    Q_EMIT sortAscendingChanged();
    if (!m_isBatchingSortUpdate) {
        applySort();
    }
}

void DeviceBrowserViewModel::setShowHiddenFiles(bool show)
{
    m_showHiddenFiles = show;
    Q_EMIT showHiddenFilesChanged();
    applySort();
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
    applySort();
}

void DeviceBrowserViewModel::applySort()
{
    QList<RemoteItem> sorted;
    if (m_currentPage) {
        const QList<RemoteItem>& pageItems = m_currentPage->items;
        // Collating the names is most of a sort's cost: it is done once per page, and every
        // re-sort, hidden-name switch and measured folder size after it reuses the ranks.
        if (m_pageNameRanks.size() != static_cast<std::size_t>(pageItems.size())) {
            std::vector<const QString*> names;
            names.reserve(static_cast<std::size_t>(pageItems.size()));
            for (const RemoteItem& item : pageItems) {
                names.push_back(&item.name);
            }
            m_pageNameRanks = browserNameRanks(names);
        }
        // The shown items by their place in the page, with their sizes (measured folders patched
        // in): the page is copied once, into the order shown.
        std::vector<qsizetype> shown;
        std::vector<std::optional<qint64>> sizes;
        shown.reserve(static_cast<std::size_t>(pageItems.size()));
        sizes.reserve(static_cast<std::size_t>(pageItems.size()));
        for (qsizetype position = 0; position < pageItems.size(); ++position) {
            const RemoteItem& item = pageItems.at(position);
            if (!m_showHiddenFiles && item.name.startsWith(u'.')) {
                continue;
            }
            shown.push_back(position);
            sizes.push_back(item.size);
            if (item.kind == RemoteItemKind::folder) {
                const auto measured = m_computedFolderStatistics.constFind(item.id);
                if (measured != m_computedFolderStatistics.constEnd()) {
                    sizes.back() = measured->bytes;
                }
            }
        }
        std::vector<BrowserSortFields> fields;
        fields.reserve(shown.size());
        for (std::size_t place = 0; place < shown.size(); ++place) {
            const RemoteItem& item = pageItems.at(shown[place]);
            fields.push_back(BrowserSortFields{item.kind, &item.name, &item.modifiedAt, &sizes[place],
                                               m_pageNameRanks[static_cast<std::size_t>(shown[place])]});
        }
        sorted.reserve(static_cast<qsizetype>(shown.size()));
        for (const qsizetype place : browserOrder(fields, m_sort, m_sortAscending)) {
            sorted.append(pageItems.at(shown[static_cast<std::size_t>(place)]));
            sorted.last().size = sizes[static_cast<std::size_t>(place)];
        }
    }
    setItems(std::move(sorted));
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

void DeviceBrowserViewModel::setCurrentPage(std::optional<DirectoryPage> page)
{
    m_currentPage = std::move(page);
    m_pageNameRanks.clear();
    Q_EMIT currentPageChanged();
    applySort();
}

void DeviceBrowserViewModel::setItems(QList<RemoteItem> items)
{
    m_items = std::move(items);
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
