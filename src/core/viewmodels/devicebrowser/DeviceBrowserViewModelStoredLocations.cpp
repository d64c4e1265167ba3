#include "DeviceBrowserViewModel.h"

#include "ErrorDescription.h"
#include "domain/NfcText.h"

#include <QPointer>

#include <algorithm>

namespace quillbarrow {

namespace {

const QString defaultLocationKey = QStringLiteral("Quillbarrow.DeviceBrowser.defaultLocation.");
const QString lastLocationKey = QStringLiteral("Quillbarrow.DeviceBrowser.lastLocation.");

// The folder of the listing with exactly this name: canonically equivalent names are the same,
// names that differ in letter case are not.
const RemoteItem* folderNamed(const DirectoryPage& page, const QString& name)
{
    for (const RemoteItem& item : page.items) {
        if (item.kind == RemoteItemKind::folder && NfcText::equal(item.name, name)) {
            return &item;
        }
    }
    return nullptr;
}

} // namespace

void DeviceBrowserViewModel::beginDeviceOperation(bool keepBanner)
{
    beginListing();
    if (!keepBanner) {
        setErrorBanner(std::nullopt);
    }
}

void DeviceBrowserViewModel::endDeviceOperation(const std::exception_ptr& failure)
{
    if (failure) {
        present(failure);
    }
    setWaitingForTransfer(false);
    setLoading(false);
}

QCoro::Task<> DeviceBrowserViewModel::openFavorite(RemoteFavoriteLocation favorite)
{
    QPointer<DeviceBrowserViewModel> self(this);
    beginDeviceOperation();
    std::exception_ptr failure;
    try {
        co_await openStoredLocation(StoredRemoteLocation(favorite.path), true);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    endDeviceOperation(failure);
}

QCoro::Task<bool> DeviceBrowserViewModel::openStoredLocation(StoredRemoteLocation location, bool shouldPersist)
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<DeviceSession> session = m_session;
    if (!session) {
        throw QuillbarrowError::sessionFailed(QStringLiteral("No Android device session is open."));
    }
    const bool knownStorage = std::any_of(m_storages.cbegin(), m_storages.cend(), [&](const StorageRoot& storage) {
        return storage.id == location.storageID;
    });
    if (!knownStorage) {
        throw QuillbarrowError::pathNotFound();
    }
    const quint64 epoch = m_sessionEpoch;
    const std::stop_token stop = lifetime();
    const RemotePath root(location.storageID, {});
    DirectoryPage current = co_await listRoot(session, location.storageID, ListingLimit::unlessTransfersActive, stop);
    if (!self || epoch != m_sessionEpoch) {
        co_return false;
    }
    cache(current);
    QList<NavigationNode> stack{NavigationNode(root, std::nullopt)};
    QStringList walked;
    for (const QString& component : location.components) {
        const RemoteItem* folder = folderNamed(current, component);
        if (folder == nullptr) {
            throw QuillbarrowError::pathNotFound();
        }
        const RemoteObjectID folderID = folder->id;
        walked.append(folder->name);
        const RemotePath path(location.storageID, walked);
        current = co_await listFolder(session, folderID, path, ListingLimit::unlessTransfersActive, stop);
        if (!self || epoch != m_sessionEpoch) {
            co_return false;
        }
        cache(current);
        stack.append(NavigationNode(path, folderID));
    }
    // Its levels were listed while another folder was shown: a big one gets its rows on the pool.
    co_await prepareCachedRows(current.path, current.parentID);
    if (!self || epoch != m_sessionEpoch) {
        co_return false;
    }
    // The location now owns the pane: a folder opening started before it must not put its page
    // under these crumbs when its listing comes back.
    ++m_navigationGeneration;
    setCurrentPage(std::move(current));
    m_navigationStack = std::move(stack);
    setBreadcrumb(breadcrumbOf(m_navigationStack));
    setPendingStorageID(std::nullopt);
    applySort();
    if (shouldPersist) {
        rememberCurrentLocation();
    }
    refreshFavoriteLocations();
    co_return true;
}

QCoro::Task<> DeviceBrowserViewModel::restorePreferredLocationIfAvailable(quint64 generation)
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::optional<QString> deviceKey = currentDevicePreferenceKey();
    if (!deviceKey) {
        co_return;
    }
    std::optional<StoredRemoteLocation> location = storedLocation(defaultLocationKey + *deviceKey);
    if (!location) {
        location = storedLocation(lastLocationKey + *deviceKey);
    }
    if (!location) {
        refreshFavoriteLocations();
        co_return;
    }
    if (location->components.isEmpty() && m_currentPage && m_currentPage->storage.id == location->storageID) {
        refreshFavoriteLocations(); // that root is shown already
        co_return;
    }
    std::exception_ptr failure;
    bool shown = false;
    try {
        shown = co_await openStoredLocation(*location, false);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    if (failure) {
        m_logger.info(QStringLiteral("could not restore saved Android location: ") + plainDescription(failure));
        refreshFavoriteLocations();
        co_return;
    }
    if (shown && generation == m_connectGeneration) {
        rememberCurrentLocation();
        refreshFavoriteLocations();
    }
}

} // namespace quillbarrow
