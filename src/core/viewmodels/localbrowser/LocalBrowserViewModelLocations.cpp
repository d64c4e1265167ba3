// The volume switcher and the favourites menu: Home and the mounted volumes, followed through
// mounts and unmounts; the standard folders of the home folder and the user's own favourites.

#include "LocalBrowserViewModel.h"
#include "LocalDirectoryReader.h"
#include "async/SerialExecutor.h"
#include "platform/VolumeClassification.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QThreadPool>

#include <QCoro/QCoroFuture>

#include <array>

namespace quillbarrow {

namespace {

struct StandardFolder {
    const char* name;
    const char* systemImage;
};

// Home itself (no name of a sub-folder), then its sub-folders, in the menu's order.
constexpr std::array<StandardFolder, 6> standardSubFolders{{
    {"Desktop", "menubar.rectangle"},
    {"Downloads", "arrow.down.circle"},
    {"Documents", "doc.text"},
    {"Pictures", "photo"},
    {"Movies", "film"},
    {"Music", "music.note"},
}};

QString standardizedPath(const QUrl& url)
{
    return QDir::cleanPath(url.toLocalFile());
}

QList<LocalFavoriteLocation> standardFavoriteLocations(const QString& home, const std::optional<QString>& defaultPath)
{
    QList<LocalFavoriteLocation> favorites;
    const auto add = [&](const QUrl& folder, const QString& name, const QString& systemImage) {
        if (QFileInfo::exists(folder.toLocalFile())) {
            favorites.append(LocalFavoriteLocation(folder, name, folder, systemImage, false,
                                                   defaultPath == standardizedPath(folder)));
        }
    };
    add(QUrl::fromLocalFile(home), QStringLiteral("Home"), QStringLiteral("house"));
    for (const StandardFolder& folder : standardSubFolders) {
        add(LocalDirectoryReader::childURL(home, QLatin1StringView(folder.name)), QLatin1StringView(folder.name),
            QLatin1StringView(folder.systemImage));
    }
    return favorites;
}

QList<LocalFavoriteLocation> uniqueFavoriteLocations(const QList<LocalFavoriteLocation>& favorites)
{
    QList<LocalFavoriteLocation> unique;
    QSet<QString> seen;
    for (const LocalFavoriteLocation& favorite : favorites) {
        // One folder reached through a link (a home folder under a linked /home) is still one
        // entry: the built-in one, which comes first and cannot be removed.
        const QString canonical = QFileInfo(favorite.url.toLocalFile()).canonicalFilePath();
        const QString path = canonical.isEmpty() ? standardizedPath(favorite.url) : canonical;
        if (!seen.contains(path)) {
            seen.insert(path);
            unique.append(favorite);
        }
    }
    return unique;
}

// The favourites that exist now, checked on the disk: any thread may call it.
QList<LocalFavoriteLocation> existingFavoriteLocations(const QString& home, const std::optional<QString>& defaultPath,
                                                       const QStringList& storedPaths)
{
    QList<LocalFavoriteLocation> favorites = standardFavoriteLocations(home, defaultPath);
    for (const QString& stored : storedPaths) {
        // A folder that is gone stays stored and comes back with the folder.
        const std::optional<QUrl> folder = LocalDirectoryReader::existingDirectoryURL(stored);
        if (!folder) {
            continue;
        }
        const QString last = folder->toLocalFile().section(u'/', -1);
        favorites.append(LocalFavoriteLocation(*folder, last.isEmpty() ? folder->toLocalFile() : last, *folder,
                                               QStringLiteral("star"), true, defaultPath == stored));
    }
    return uniqueFavoriteLocations(favorites);
}

} // namespace

void LocalBrowserViewModel::refreshLocations()
{
    const QUrl home = QUrl::fromLocalFile(QDir::homePath());
    QList<VolumeLocation> locations{
        VolumeLocation(home, QStringLiteral("Home"), home, QStringLiteral("house"), false)};
    for (const VolumeChoice& volume : VolumeClassification::choose(m_volumes->mountedVolumes())) {
        const QUrl root = QUrl::fromLocalFile(volume.mountPoint);
        locations.append(VolumeLocation(root, volume.name, root,
                                        volume.isLocal ? QStringLiteral("externaldrive")
                                                       : QStringLiteral("externaldrive.connected.to.line.below"),
                                        volume.isRemovable));
    }
    publish(m_locations, std::move(locations), &LocalBrowserViewModel::locationsChanged);
}

void LocalBrowserViewModel::startObservingVolumes()
{
    refreshLocations();
    refreshFavoriteLocations();
    if (m_observingVolumes) {
        return;
    }
    m_observingVolumes = true;
    // The connection ends with this model, so a late notice never reaches it.
    connect(m_volumes.get(), &VolumeMonitor::volumesChanged, this, [this] {
        refreshLocations();
        refreshFavoriteLocations();
    });
    m_volumes->startWatching();
}

QStringList LocalBrowserViewModel::storedFavoritePaths() const
{
    return m_preferences->stringList(favoritePathsKey).value_or(QStringList());
}

void LocalBrowserViewModel::refreshFavoriteLocations()
{
    ++m_favoritesGeneration;
    if (m_isCheckingFavorites) {
        m_isFavoritesCheckPending = true;
        return;
    }
    // Started on the next turn: the requests of this one (a navigation that also watches the
    // volumes, say) are answered by one check, however fast the disk answers.
    if (m_isFavoritesCheckScheduled) {
        return;
    }
    m_isFavoritesCheckScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_isFavoritesCheckScheduled = false;
            if (m_isCheckingFavorites) {
                m_isFavoritesCheckPending = true;
                return;
            }
            startFavoritesCheck();
        },
        Qt::QueuedConnection);
}

void LocalBrowserViewModel::publishFavoriteLocationsNow()
{
    // Newer than any check still running, whose answer is then dropped.
    ++m_favoritesGeneration;
    publish(m_favoriteLocations,
            existingFavoriteLocations(QDir::homePath(), m_preferences->string(defaultDirectoryKey), storedFavoritePaths()),
            &LocalBrowserViewModel::favoriteLocationsChanged);
}

void LocalBrowserViewModel::startFavoritesCheck()
{
    // The preferences are read here, on the main thread; only the disk is asked on the pool.
    m_isCheckingFavorites = true;
    QCoro::Task<> checking =
        runFavoritesCheck(QPointer<LocalBrowserViewModel>(this), &workPool(), QDir::homePath(),
                          m_preferences->string(defaultDirectoryKey), storedFavoritePaths(), m_favoritesGeneration);
    Q_UNUSED(checking) // reports back by itself
}

QCoro::Task<> LocalBrowserViewModel::runFavoritesCheck(QPointer<LocalBrowserViewModel> model, QThreadPool* pool,
                                                       QString home, std::optional<QString> defaultPath,
                                                       QStringList storedPaths, quint64 generation)
{
    std::optional<QList<LocalFavoriteLocation>> favorites;
    try {
        QFuture<QList<LocalFavoriteLocation>> checking = runOnThreadPool(
            *pool, [home, defaultPath, storedPaths] { return existingFavoriteLocations(home, defaultPath, storedPaths); });
        favorites = co_await checking;
    } catch (...) {
        // A check the pool dropped publishes nothing; the next one is asked for as usual.
    }
    if (model != nullptr) {
        model->finishFavoritesCheck(generation, std::move(favorites));
    }
}

void LocalBrowserViewModel::finishFavoritesCheck(quint64 generation, std::optional<QList<LocalFavoriteLocation>> favorites)
{
    m_isCheckingFavorites = false;
    // A check asked for while this one ran answers for both, from the disk as it is now.
    if (m_isFavoritesCheckPending) {
        m_isFavoritesCheckPending = false;
        startFavoritesCheck();
        return;
    }
    // An answer overtaken by a list published since (a favourite added or removed) is dropped.
    if (favorites && generation == m_favoritesGeneration) {
        publish(m_favoriteLocations, std::move(*favorites), &LocalBrowserViewModel::favoriteLocationsChanged);
    }
}

void LocalBrowserViewModel::addCurrentDirectoryToFavorites()
{
    QStringList stored = storedFavoritePaths();
    const QString current = standardizedPath(m_currentDirectory);
    if (stored.contains(current)) {
        return;
    }
    stored.append(current);
    noteSettingsWrite(m_preferences->setStringList(favoritePathsKey, stored));
    publishFavoriteLocationsNow();
}

void LocalBrowserViewModel::removeFavorite(const LocalFavoriteLocation& favorite)
{
    if (!favorite.isUserFavorite) {
        return;
    }
    QStringList stored = storedFavoritePaths();
    stored.removeAll(standardizedPath(favorite.url));
    noteSettingsWrite(m_preferences->setStringList(favoritePathsKey, stored));
    publishFavoriteLocationsNow();
}

void LocalBrowserViewModel::setCurrentDirectoryAsDefault()
{
    noteSettingsWrite(m_preferences->setString(defaultDirectoryKey, standardizedPath(m_currentDirectory)));
    rememberCurrentDirectory();
    publishFavoriteLocationsNow();
}

} // namespace quillbarrow
