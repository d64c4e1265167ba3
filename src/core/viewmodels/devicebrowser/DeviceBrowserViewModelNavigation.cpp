#include "DeviceBrowserViewModel.h"

#include <QPointer>

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

bool DeviceBrowserViewModel::serveCachedPageOrStartListing(const RemotePath& path, bool endsStorageSwitch)
{
    // The transfer queue answers without a wait, so the operation asking is still the current one.
    if (!canServeCachedPageDuringTransfer(path)) {
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

void DeviceBrowserViewModel::showCachedOrEmpty(DirectoryPage empty)
{
    const auto cached = m_directoryCache.constFind(empty.path);
    setCurrentPage(cached != m_directoryCache.constEnd() ? *cached : std::move(empty));
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
    // The item's own path is not used: the folder is one level below the page shown.
    std::optional<RemotePath> path;
    std::optional<StorageRoot> storage;
    if (m_currentPage) {
        path = m_currentPage->path.appending(item.name);
        storage = m_currentPage->storage;
    } else {
        path = RemotePath(item.storageID, {item.name});
        const auto found = std::find_if(m_storages.cbegin(), m_storages.cend(),
                                        [&](const StorageRoot& candidate) { return candidate.id == item.storageID; });
        if (found == m_storages.cend()) {
            co_return;
        }
        storage = *found;
    }
    QList<NavigationNode> stack = m_navigationStack;
    stack.append(NavigationNode(*path, item.id));
    NavigationTarget target{*path, *storage, item.id, std::move(stack)};
    co_await showAndList(std::move(target));
}

QCoro::Task<> DeviceBrowserViewModel::navigate(RemotePath path)
{
    if (!m_session) {
        co_return;
    }
    const auto node = std::find_if(m_navigationStack.cbegin(), m_navigationStack.cend(),
                                   [&](const NavigationNode& candidate) { return candidate.path == path; });
    if (node == m_navigationStack.cend()) {
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

    // The folder shows at once, so the pane answers the click even when the device is slow.
    showCachedOrEmpty(DirectoryPage(target.storage, target.path, target.parentID, {}));
    m_navigationStack = std::move(target.stack);
    setBreadcrumb(breadcrumbOf(m_navigationStack));
    applySort();

    if (serveCachedPageOrStartListing(target.path, false)) {
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
