#include "DeviceBrowserViewModel.h"

#include <QCollator>

namespace quillbarrow {

namespace {

const QString favoriteLocationsKey = QStringLiteral("Quillbarrow.DeviceBrowser.favoriteLocations.");
const QString defaultLocationKey = QStringLiteral("Quillbarrow.DeviceBrowser.defaultLocation.");
const QString lastLocationKey = QStringLiteral("Quillbarrow.DeviceBrowser.lastLocation.");

// The common top-level folders offered as built-in favourites, in menu order, with their symbols.
struct BuiltInFolder {
    const char* name;
    const char* systemImage;
};
constexpr BuiltInFolder builtInFolders[] = {
    {"DCIM", "camera"}, {"Download", "arrow.down.circle"}, {"Pictures", "photo"},
    {"Movies", "film"}, {"Music", "music.note"},
};

bool isDefault(const RemotePath& path, const std::optional<StoredRemoteLocation>& defaultLocation)
{
    return defaultLocation && *defaultLocation == StoredRemoteLocation(path);
}

} // namespace

QString DeviceBrowserViewModel::devicePreferenceKey(const AndroidDevice& device)
{
    const QString serial = device.serialNumber.value_or(QString()).trimmed();
    if (!serial.isEmpty()) {
        return QStringLiteral("serial:") + serial;
    }
    const QString manufacturer = device.manufacturer.value_or(QString()).trimmed();
    const QString model = device.model.value_or(QString()).trimmed();
    if (manufacturer.isEmpty() && model.isEmpty()) {
        return QStringLiteral("device:") + device.id.rawValue();
    }
    return QStringLiteral("model:") + manufacturer + u':' + model + u':' + device.displayName;
}

std::optional<QString> DeviceBrowserViewModel::currentDevicePreferenceKey() const
{
    if (!m_selectedDevice) {
        return std::nullopt;
    }
    return devicePreferenceKey(*m_selectedDevice);
}

QList<StoredRemoteLocation> DeviceBrowserViewModel::storedFavoriteLocations(const QString& deviceKey) const
{
    const std::optional<QByteArray> json = m_preferences->data(favoriteLocationsKey + deviceKey);
    return json ? StoredRemoteLocation::listFromJson(*json) : QList<StoredRemoteLocation>();
}

void DeviceBrowserViewModel::saveStoredFavoriteLocations(const QList<StoredRemoteLocation>& locations,
                                                         const QString& deviceKey)
{
    noteSettingsWrite(
        m_preferences->setData(favoriteLocationsKey + deviceKey, StoredRemoteLocation::listToJson(locations)));
}

std::optional<StoredRemoteLocation> DeviceBrowserViewModel::storedLocation(const QString& key) const
{
    const std::optional<QByteArray> json = m_preferences->data(key);
    return json ? StoredRemoteLocation::fromJson(*json) : std::nullopt;
}

void DeviceBrowserViewModel::saveStoredLocation(const StoredRemoteLocation& location, const QString& key)
{
    noteSettingsWrite(m_preferences->setData(key, location.toJson()));
}

void DeviceBrowserViewModel::noteSettingsWrite(std::optional<QString> failure)
{
    if (!failure) {
        // A write that had nothing to write leaves a failure run as it is.
        if (!m_preferences->hasUnsavedValues()) {
            m_shownSettingsFailure.reset();
        }
        return;
    }
    if (failure == m_shownSettingsFailure) {
        return;
    }
    m_shownSettingsFailure = failure;
    present(QuillbarrowError::localFileFailed(std::move(*failure)));
}

void DeviceBrowserViewModel::rememberCurrentLocation()
{
    const std::optional<QString> deviceKey = currentDevicePreferenceKey();
    if (!deviceKey || !m_currentPage) {
        return;
    }
    saveStoredLocation(StoredRemoteLocation(m_currentPage->path), lastLocationKey + *deviceKey);
}

void DeviceBrowserViewModel::addCurrentLocationToFavorites()
{
    const std::optional<QString> deviceKey = currentDevicePreferenceKey();
    if (!deviceKey || !m_currentPage) {
        return;
    }
    const StoredRemoteLocation location(m_currentPage->path);
    QList<StoredRemoteLocation> favorites = storedFavoriteLocations(*deviceKey);
    if (favorites.contains(location)) {
        return;
    }
    favorites.append(location);
    saveStoredFavoriteLocations(favorites, *deviceKey);
    refreshFavoriteLocations();
}

void DeviceBrowserViewModel::setCurrentLocationAsDefault()
{
    const std::optional<QString> deviceKey = currentDevicePreferenceKey();
    if (!deviceKey || !m_currentPage) {
        return;
    }
    saveStoredLocation(StoredRemoteLocation(m_currentPage->path), defaultLocationKey + *deviceKey);
    rememberCurrentLocation();
    refreshFavoriteLocations();
}

void DeviceBrowserViewModel::removeFavorite(const RemoteFavoriteLocation& favorite)
{
    if (!favorite.isUserFavorite) {
        return;
    }
    const std::optional<QString> deviceKey = currentDevicePreferenceKey();
    if (!deviceKey) {
        return;
    }
    QList<StoredRemoteLocation> favorites = storedFavoriteLocations(*deviceKey);
    favorites.removeAll(StoredRemoteLocation(favorite.path));
    saveStoredFavoriteLocations(favorites, *deviceKey);
    refreshFavoriteLocations();
}

void DeviceBrowserViewModel::refreshFavoriteLocations()
{
    const std::optional<QString> deviceKey = currentDevicePreferenceKey();
    if (!deviceKey || !m_currentPage) {
        setFavoriteLocations({});
        return;
    }
    const std::optional<StoredRemoteLocation> defaultLocation = storedLocation(defaultLocationKey + *deviceKey);
    QList<RemoteFavoriteLocation> entries = builtInFavoriteLocations(*m_currentPage, defaultLocation);
    for (const StoredRemoteLocation& stored : storedFavoriteLocations(*deviceKey)) {
        const RemotePath path = stored.path();
        entries.append(RemoteFavoriteLocation(QStringLiteral("user:") + stored.storageID.rawValue() + u':' +
                                                  stored.components.join(u'/'),
                                              path.name(), path, QStringLiteral("star"), true,
                                              isDefault(path, defaultLocation)));
    }
    setFavoriteLocations(uniqueFavoriteLocations(entries));
}

QList<RemoteFavoriteLocation> DeviceBrowserViewModel::builtInFavoriteLocations(
    const DirectoryPage& page, const std::optional<StoredRemoteLocation>& defaultLocation) const
{
    // Built from a listing already held, never from a device call: the cached root of the shown
    // storage, or the shown page when it is that root.
    const RemotePath root(page.storage.id, {});
    QList<RemoteItem> rootItems;
    if (const auto cached = m_directoryCache.constFind(root); cached != m_directoryCache.constEnd()) {
        rootItems = cached->items;
    } else if (page.path.isRoot()) {
        rootItems = page.items;
    } else {
        return {};
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QList<RemoteFavoriteLocation> entries;
    for (const BuiltInFolder& folder : builtInFolders) {
        const QString folderName = QString::fromLatin1(folder.name);
        for (const RemoteItem& item : std::as_const(rootItems)) {
            if (item.kind != RemoteItemKind::folder || collator.compare(item.name, folderName) != 0) {
                continue;
            }
            const RemotePath path = item.path ? *item.path : root.appending(item.name);
            entries.append(RemoteFavoriteLocation(QStringLiteral("built-in:") + page.storage.id.rawValue() + u':' +
                                                      folderName,
                                                  item.name, path, QString::fromLatin1(folder.systemImage), false,
                                                  isDefault(path, defaultLocation)));
            break;
        }
    }
    return entries;
}

QList<RemoteFavoriteLocation> DeviceBrowserViewModel::uniqueFavoriteLocations(
    const QList<RemoteFavoriteLocation>& locations)
{
    QList<RemoteFavoriteLocation> unique;
    QSet<RemotePath> seen;
    for (const RemoteFavoriteLocation& location : locations) {
        if (!seen.contains(location.path)) {
            seen.insert(location.path);
            unique.append(location);
        }
    }
    return unique;
}

} // namespace quillbarrow
