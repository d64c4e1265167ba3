#include "DeviceBrowserViewModel.h"

#include "async/SerialExecutor.h"
#include "async/WorkPool.h"

#include <QPointer>
#include <QCoro/QCoroFuture>

#include <algorithm>

namespace quillbarrow {

QList<RemotePath> DeviceBrowserViewModel::breadcrumbOf(const QList<NavigationNode>& stack)
{
    QList<RemotePath> breadcrumb;
    breadcrumb.reserve(stack.size());
    for (const NavigationNode& node : stack) {
        breadcrumb.append(node.path);
    }
    return breadcrumb;
}

bool DeviceBrowserViewModel::serveCachedPageOrStartListing(const RemotePath& path, bool endsStorageSwitch,
                                                           const std::optional<RemoteObjectID>& parentID)
{
    // The transfer queue answers without a wait, so the operation asking is still the current one.
    if (!canServeCachedPageDuringTransfer(path, parentID)) {
        beginListing();
        return false;
    }
    setShowingStalePage(true);
    if (endsStorageSwitch) {
        setPendingStorageID(std::nullopt);
    }
    setLoading(false);
    setWaitingForTransfer(false);
    scheduleStalePageRefresh();
    return true;
}

QCoro::Task<> DeviceBrowserViewModel::prepareCachedRows(RemotePath path, std::optional<RemoteObjectID> parentID)
{
    const DirectoryPage* cached = cachedPage(path, parentID);
    if (cached == nullptr || cached->items.size() < bigListing) {
        co_return;
    }
    QPointer<DeviceBrowserViewModel> self(this);
    // A page shown is placed by every size measured by then.
    RowsInputs inputs{cached->items,         m_sort,
                      m_sortAscending,       m_showHiddenFiles,
                      m_measurementsVersion, m_measurementsVersion,
                      m_sessionEpoch,        {}};
    if ((m_shownRows && m_shownRows->inputs == inputs) || (m_preparedRows && m_preparedRows->inputs == inputs)) {
        co_return;
    }
    struct Prepared {
        std::shared_ptr<const BrowserRanking> ranking;
        QList<RemoteItem> rows;
    };
    // Held by pointer: taken out of it, the rows leave nothing behind in the future.
    auto preparing = [items = cached->items, ranking = rankingOf(*cached), measured = m_computedFolderStatistics,
                      inputs]() mutable {
        if (!ranking) {
            ranking = std::make_shared<const BrowserRanking>(browserRanking(items));
        }
        QList<RemoteItem> rows = rowsOf(items, ranking.get(), inputs.sort, inputs.ascending, inputs.showHidden,
                                        measured, measured);
        return std::make_shared<Prepared>(Prepared{std::move(ranking), std::move(rows)});
    };
    std::shared_ptr<Prepared> done;
    try {
        QFuture<std::shared_ptr<Prepared>> future = runOnThreadPool(workPool(), std::move(preparing), rowsPriority);
        done = co_await future;
    } catch (...) {
        co_return; // dropped at exit: nobody waits for it
    }
    DerivedRows prepared{std::move(inputs), std::exchange(done->rows, {})};
    if (!self || prepared.inputs.epoch != self->m_sessionEpoch) {
        letGo(std::move(prepared));
        co_return;
    }
    self->keepRanking(path, prepared.inputs.pageItems, std::move(done->ranking));
    letGo(std::exchange(self->m_preparedRows, std::move(prepared)));
}

void DeviceBrowserViewModel::showCachedOrEmpty(DirectoryPage empty)
{
    const DirectoryPage* cached = cachedPage(empty.path, empty.parentID);
    setCurrentPage(cached != nullptr ? *cached : std::move(empty));
}

void DeviceBrowserViewModel::beginListing()
{
    setLoading(true);
    setWaitingForTransfer(m_transferQueue->hasRunningJobs());
}

QCoro::Task<> DeviceBrowserViewModel::openFolder(RemoteItem item)
{
    if (item.kind != RemoteItemKind::folder || !m_session || refuseItemsOfAnotherSession({item})) {
        co_return;
    }
    // A folder listed in the page shown lies one level below it. The page may have changed since
    // the item was taken (a refresh, a walk to a stored location): then only the item's own path
    // says where it lies, and without one the folder cannot be placed.
    const bool listedInShownPage = m_currentPage && m_currentPage->storage.id == item.storageID &&
                                   m_currentPage->parentID == item.parentID;
    QList<NavigationNode> stack;
    std::optional<StorageRoot> storage;
    if (listedInShownPage) {
        stack = m_navigationStack;
        stack.append(NavigationNode(m_currentPage->path.appending(item.name), item.id));
        storage = m_currentPage->storage;
    } else if (item.path && !item.path->isRoot() && item.path->storageID == item.storageID) {
        stack = stackDownTo(*item.path, item);
        const auto found = std::find_if(m_storages.cbegin(), m_storages.cend(),
                                        [&](const StorageRoot& candidate) { return candidate.id == item.storageID; });
        if (found == m_storages.cend()) {
            co_return;
        }
        storage = *found;
    } else {
        co_return;
    }
    const RemotePath path = stack.last().path;
    NavigationTarget target{path, *storage, item.id, std::move(stack)};
    co_await showAndList(std::move(target));
}

QList<NavigationNode> DeviceBrowserViewModel::stackDownTo(const RemotePath& path, const RemoteItem& folder) const
{
    // The levels the stack shown shares with the path keep their objects; the folder's parent is
    // the item's own; any other level has none, so that its crumb fails rather than lists another
    // folder. The root is listed by its storage.
    QList<NavigationNode> stack{NavigationNode(RemotePath(path.storageID, {}), std::nullopt)};
    const qsizetype depth = path.components.size();
    for (qsizetype level = 1; level < depth; ++level) {
        const RemotePath above(path.storageID, path.components.mid(0, level));
        std::optional<RemoteObjectID> aboveID;
        if (level == depth - 1) {
            aboveID = folder.parentID;
        } else if (level < m_navigationStack.size() && m_navigationStack[level].path == above) {
            aboveID = m_navigationStack[level].parentID;
        }
        stack.append(NavigationNode(above, aboveID));
    }
    stack.append(NavigationNode(path, folder.id));
    return stack;
}

QCoro::Task<> DeviceBrowserViewModel::navigate(RemotePath path)
{
    if (!m_session) {
        co_return;
    }
    const auto node = std::find_if(m_navigationStack.cbegin(), m_navigationStack.cend(),
                                   [&](const NavigationNode& candidate) { return candidate.path == path; });
    // A folder below the root is listed by its object: a crumb that has none cannot be opened, and
    // the page shown stays, so that a paste or a new folder never goes where the pane does not show.
    if (node == m_navigationStack.cend() || (!path.isRoot() && !node->parentID)) {
        present(QuillbarrowError::pathNotFound());
        co_return;
    }
    const auto storage = std::find_if(m_storages.cbegin(), m_storages.cend(),
                                      [&](const StorageRoot& candidate) { return candidate.id == path.storageID; });
    if (storage == m_storages.cend()) {
        co_return;
    }
    NavigationTarget target{path, *storage, node->parentID,
                            m_navigationStack.mid(0, std::distance(m_navigationStack.cbegin(), node) + 1)};
    co_await showAndList(std::move(target));
}

QCoro::Task<> DeviceBrowserViewModel::showAndList(NavigationTarget target)
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<DeviceSession> session = m_session;
    const quint64 ticket = ++m_navigationGeneration;
    m_automaticFolderSizeTask.cancel();
    setErrorBanner(std::nullopt);

    // The folder shows at once, so the pane answers the click even when the device is slow (a big
    // cached listing once the work pool has its rows).
    co_await prepareCachedRows(target.path, target.parentID);
    if (!self || ticket != m_navigationGeneration) {
        co_return;
    }
    showCachedOrEmpty(DirectoryPage(target.storage, target.path, target.parentID, {}));
    m_navigationStack = std::move(target.stack);
    setBreadcrumb(breadcrumbOf(m_navigationStack));
    applySort();

    if (serveCachedPageOrStartListing(target.path, false, target.parentID)) {
        co_return;
    }
    const quint64 epoch = m_sessionEpoch;
    const std::stop_token stop = lifetime();
    std::optional<DirectoryPage> listed;
    std::exception_ptr failure;
    try {
        if (target.path.isRoot()) {
            listed = co_await listRoot(session, target.path.storageID, ListingLimit::unlessTransfersActive, stop);
        } else if (!target.parentID) {
            throw QuillbarrowError::pathNotFound(); // nothing to list the folder by
        } else {
            listed = co_await listFolder(session, *target.parentID, target.path, ListingLimit::unlessTransfersActive,
                                         stop);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    // A superseded step still keeps what it listed, as long as the session is the one it asked.
    if (listed && epoch == m_sessionEpoch) {
        cache(*listed);
    }
    if (ticket != m_navigationGeneration) {
        co_return; // a newer navigation owns the pane
    }
    if (epoch == m_sessionEpoch) {
        if (failure) {
            present(failure);
        } else {
            setCurrentPage(std::move(listed));
            rememberCurrentLocation();
            refreshFavoriteLocations();
        }
    }
    setLoading(false);
    setWaitingForTransfer(false);
}

QCoro::Task<> DeviceBrowserViewModel::refresh()
{
    if (!m_currentPage || !m_session) {
        co_return;
    }
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<DeviceSession> session = m_session;
    const RemotePath refreshed = m_currentPage->path;
    const std::stop_token stop = lifetime();
    beginDeviceOperation();
    std::exception_ptr failure;
    try {
        co_await refreshCurrentPageInternal(session, stop);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    // The failure of a folder the user has left behind is no news about the one shown.
    if (failure && (!m_currentPage || m_currentPage->path != refreshed)) {
        failure = nullptr;
    }
    endDeviceOperation(failure);
}

} // namespace quillbarrow
