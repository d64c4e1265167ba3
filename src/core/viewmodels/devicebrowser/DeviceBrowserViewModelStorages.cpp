#include "DeviceBrowserViewModel.h"

#include <QPointer>

namespace quillbarrow {

QCoro::Task<> DeviceBrowserViewModel::openStorage(StorageRoot storage)
{
    if (!m_session) {
        co_return;
    }
    if (m_currentPage && m_currentPage->storage.id == storage.id && !m_pendingStorageID) {
        co_return; // shown already, and no switch under way
    }
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<DeviceSession> session = m_session;
    const quint64 token = ++m_storageSwitchGeneration;
    // Makes a folder listing or folder-size pass still under way drop its result.
    const quint64 navigation = ++m_navigationGeneration;
    m_automaticFolderSizeTask.cancel();
    setPendingStorageID(storage.id);
    setErrorBanner(std::nullopt);

    const RemotePath root(storage.id, {});
    co_await prepareCachedRows(root, std::nullopt);
    if (!self || token != m_storageSwitchGeneration) {
        co_return; // a newer switch owns the pane
    }
    if (navigation != m_navigationGeneration) {
        setPendingStorageID(std::nullopt); // a folder opened meanwhile owns the pane
        co_return;
    }
    showCachedOrEmpty(DirectoryPage(storage, root, std::nullopt, {}));
    setBreadcrumb({root});
    m_navigationStack = {NavigationNode(root, std::nullopt)};

    if (serveCachedPageOrStartListing(root, true)) {
        co_return;
    }
    const quint64 epoch = m_sessionEpoch;
    const std::stop_token stop = lifetime();
    std::optional<DirectoryPage> listed;
    std::exception_ptr failure;
    try {
        listed = co_await listRoot(session, storage.id, ListingLimit::unlessTransfersActive, stop);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || token != m_storageSwitchGeneration) {
        co_return; // a newer switch owns the pane
    }
    // A root listed for a session that has gone belongs to another device.
    if (epoch == m_sessionEpoch) {
        if (failure) {
            present(failure);
        } else {
            cache(*listed);
            // A folder opened from the root meanwhile stays shown with its crumbs.
            if (navigation == m_navigationGeneration) {
                setCurrentPage(std::move(listed));
                rememberCurrentLocation();
                refreshFavoriteLocations();
            }
        }
    }
    setPendingStorageID(std::nullopt);
    setLoading(false);
    setWaitingForTransfer(false);
}

} // namespace quillbarrow
