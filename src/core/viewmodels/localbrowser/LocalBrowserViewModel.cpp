#include "LocalBrowserViewModel.h"
#include "domain/LocalPath.h"

#include "LocalDirectoryReader.h"
#include "LocalFileError.h"
#include "async/SerialExecutor.h"
#include "async/WorkPool.h"
#include "domain/BrowserSort.h"
#include "domain/OrderedPairing.h"
#include "platform/MountTableMonitor.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QThreadPool>

#include <QCoro/QCoroFuture>

#include <cerrno>
#include <numeric>
#include <pwd.h>
#include <ranges>
#include <unistd.h>
#include <vector>

namespace quillbarrow {

const QString LocalBrowserViewModel::defaultDirectoryKey = QStringLiteral("Quillbarrow.LocalBrowser.defaultDirectory");
const QString LocalBrowserViewModel::lastDirectoryKey = QStringLiteral("Quillbarrow.LocalBrowser.lastDirectory");
const QString LocalBrowserViewModel::favoritePathsKey = QStringLiteral("Quillbarrow.LocalBrowser.favoritePaths");

struct LocalBrowserViewModel::ListingResult {
    // In browser order by `order`: the key and direction of the listing's start.
    std::optional<QList<LocalItem>> items;
    std::pair<FileSort, bool> order;
    // The names' ranks, in the items' order.
    std::vector<qsizetype> nameRanks;
    // Read with the items; nothing when the folder could not be read.
    VolumeSpace space;
    std::optional<LocalFileError> failure;
    bool keepsMessage = false;
    RowPlacement placement = RowPlacement::orderAnew;
    // The address of an item renamed before the reading, before and after.
    std::optional<std::pair<QUrl, QUrl>> renamed;
    // For rows kept in place: the listing shown when the reading began, and the place in it of
    // each of the items (-1 for an item that was not listed then).
    QList<LocalItem> before;
    std::vector<qsizetype> placesBefore;
};

namespace {

// Work the user is waiting for goes ahead of background work in the pool.
constexpr int userInitiatedPriority = 1;

QString localPath(const QUrl& url)
{
    return LocalPath::fromUrl(url);
}

// Gives the entries of `items` that `before` (the same folder read earlier) lists too the very ids
// listed then, equal ones sharing their data: the table, the selection and everything else that
// matches a refresh's items with the ones shown then compares addresses, not texts, and each
// address is held once. With `placesBefore`, it receives the place in `before` of each entry (-1
// for one not listed then), the entry `renamed` gives the new address of counting as the one
// listed under the old. Runs with the reading, off the window's thread.
void keepIDsListedBefore(QList<LocalItem>& items, const QList<LocalItem>& before,
                         std::vector<qsizetype>* placesBefore = nullptr,
                         const std::optional<std::pair<QUrl, QUrl>>& renamed = std::nullopt)
{
    if (placesBefore != nullptr) {
        placesBefore->assign(static_cast<std::size_t>(items.size()), -1);
    }
    const auto paired = [placesBefore](qsizetype was, qsizetype now) {
        if (placesBefore != nullptr) {
            (*placesBefore)[static_cast<std::size_t>(now)] = was;
        }
    };
    if (before.isEmpty() || items.isEmpty()) {
        return;
    }
    LocalItem* const listed = items.data();
    // The reading made its ids in the folder's order on disk, not in the order listed: those a few
    // steps ahead are asked for from memory before they are compared.
    constexpr qsizetype readAhead = 8;
    const auto prefetch = [](const QUrl& id) { __builtin_prefetch(const_cast<QUrl&>(id).data_ptr()); };
    const OrderedPairing left = pairInOrder(
        before.size(), items.size(),
        [&](qsizetype was, qsizetype now) {
            if (was + readAhead < before.size() && now + readAhead < items.size()) {
                prefetch(before[was + readAhead].id);
                prefetch(listed[now + readAhead].id);
            }
            return before[was].id == listed[now].id;
        },
        [&](qsizetype was, qsizetype now) {
            listed[now].id = before[was].id;
            paired(was, now);
        });
    if (left.unpairedFirst.empty() || left.unpairedSecond.empty()) {
        return;
    }
    // The few entries that came, went or moved since.
    QHash<QUrl, qsizetype> unpaired;
    unpaired.reserve(static_cast<qsizetype>(left.unpairedFirst.size()));
    for (const qsizetype was : left.unpairedFirst) {
        unpaired.insert(before[was].id, was);
    }
    for (const qsizetype now : left.unpairedSecond) {
        const auto found = unpaired.constFind(listed[now].id);
        if (found != unpaired.constEnd()) {
            listed[now].id = before[*found].id;
            paired(*found, now);
        } else if (renamed && listed[now].id == renamed->second) {
            if (const auto was = unpaired.constFind(renamed->first); was != unpaired.constEnd()) {
                paired(*was, now);
            }
        }
    }
}

// The home folder of the account `user`, or nothing when there is no such account.
std::optional<QString> homeFolderOf(const QString& user)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwnam_r(user.toLocal8Bit().constData(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return std::nullopt;
    }
    return QFile::decodeName(found->pw_dir);
}

// "~" and "~/..." start at the home folder, "~name/..." at that account's home folder; any other
// text, and "~name" for an unknown account, stays as it is.
QString expandingTilde(const QString& path)
{
    if (!path.startsWith(u'~')) {
        return path;
    }
    const qsizetype slash = path.indexOf(u'/');
    const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
    const QString rest = slash < 0 ? QString() : path.mid(slash);
    if (user.isEmpty()) {
        return QDir::homePath() + rest;
    }
    if (const std::optional<QString> home = homeFolderOf(user)) {
        return *home + rest;
    }
    return path;
}

} // namespace

LocalBrowserViewModel::LocalBrowserViewModel(std::optional<QUrl> startingAt, AppLogger logger,
                                             std::shared_ptr<UserDefaults> preferences,
                                             std::shared_ptr<VolumeMonitor> volumes, QObject* parent)
    : QObject(parent), m_logger(std::move(logger)), m_preferences(std::move(preferences)),
      m_volumes(volumes != nullptr ? std::move(volumes) : std::make_shared<MountTableMonitor>())
{
    if (startingAt) {
        m_currentDirectory = *startingAt;
    } else if (const std::optional<QUrl> stored =
                   LocalDirectoryReader::existingDirectoryURL(m_preferences->string(defaultDirectoryKey))) {
        m_currentDirectory = *stored;
    } else if (const std::optional<QUrl> last =
                   LocalDirectoryReader::existingDirectoryURL(m_preferences->string(lastDirectoryKey))) {
        m_currentDirectory = *last;
    } else {
        m_currentDirectory = QUrl::fromLocalFile(QDir::homePath());
    }
}

LocalBrowserViewModel::~LocalBrowserViewModel() = default;

// ---- Published state ------------------------------------------------------------------------

void LocalBrowserViewModel::setCurrentDirectory(QUrl folder)
{
    publish(m_currentDirectory, std::move(folder), &LocalBrowserViewModel::currentDirectoryChanged);
}

void LocalBrowserViewModel::setItems(QList<LocalItem> items, std::optional<std::vector<qsizetype>> filledIn)
{
    QList<LocalItem> shown = m_items;
    m_filledInRows = std::move(filledIn);
    publish(m_items, std::move(items), &LocalBrowserViewModel::itemsChanged);
    letGo(std::move(shown));
}

void LocalBrowserViewModel::setIsLoading(bool loading)
{
    publish(m_isLoading, std::move(loading), &LocalBrowserViewModel::isLoadingChanged);
}

void LocalBrowserViewModel::setErrorMessage(std::optional<QString> message)
{
    publish(m_errorMessage, std::move(message), &LocalBrowserViewModel::errorMessageChanged);
}

void LocalBrowserViewModel::setCalculatingFolderSizeIDs(QSet<QUrl> folders)
{
    publish(m_calculatingFolderSizeIDs, std::move(folders), &LocalBrowserViewModel::calculatingFolderSizeIDsChanged);
}

void LocalBrowserViewModel::setSort(FileSort sort)
{
    m_sort = sort;
    Q_EMIT sortChanged();
    if (!m_isBatchingSortUpdate) {
        applyDisplayFilter();
    }
}

void LocalBrowserViewModel::setSortAscending(bool ascending)
{
    m_sortAscending = ascending;
    Q_EMIT sortAscendingChanged();
    if (!m_isBatchingSortUpdate) {
        applyDisplayFilter();
    }
}

void LocalBrowserViewModel::setShowHiddenFiles(bool show)
{
    m_showHiddenFiles = show;
    Q_EMIT showHiddenFilesChanged();
    applyDisplayFilter();
}

void LocalBrowserViewModel::setSort(FileSort sort, bool ascending)
{
    if (m_sort == sort && m_sortAscending == ascending) {
        return;
    }
    m_isBatchingSortUpdate = true;
    setSort(sort);
    setSortAscending(ascending);
    m_isBatchingSortUpdate = false;
    applyDisplayFilter();
}

void LocalBrowserViewModel::setWorkPool(QThreadPool* pool)
{
    m_workPool = pool;
}

void LocalBrowserViewModel::setMeasuredRowsInterval(std::chrono::milliseconds interval)
{
    m_measuredRowsInterval = interval;
}

QThreadPool& LocalBrowserViewModel::workPool() const
{
    return m_workPool != nullptr ? *m_workPool : quillbarrow::workPool();
}

// ---- Listing --------------------------------------------------------------------------------

void LocalBrowserViewModel::refresh()
{
    scheduleRefresh(m_currentDirectory);
}

void LocalBrowserViewModel::reloadCurrentDirectory()
{
    scheduleRefresh(m_currentDirectory, false, RowPlacement::keepInPlace);
}

void LocalBrowserViewModel::scheduleRefresh(const QUrl& folder, bool keepsMessage, RowPlacement placement,
                                            std::optional<std::pair<QUrl, QUrl>> renamed)
{
    m_refreshTask.start();
    const quint64 generation = m_refreshTask.generation();
    // A listing asked for that a newer one supersedes still has the rows ordered anew.
    m_isOrderAnewPending = m_isOrderAnewPending || placement == RowPlacement::orderAnew;
    setIsLoading(true);
    recomputeBreadcrumb();
    QCoro::Task<> listing =
        runListing(QPointer<LocalBrowserViewModel>(this), &workPool(), folder, m_sort, m_sortAscending,
                   generation, keepsMessage, placement, std::move(renamed));
    Q_UNUSED(listing) // applies its result by itself, if it is still the newest listing then
}

QCoro::Task<> LocalBrowserViewModel::runListing(QPointer<LocalBrowserViewModel> model, QThreadPool* pool,
                                                QUrl folder, FileSort sort, bool ascending,
                                                quint64 generation, bool keepsMessage, RowPlacement placement,
                                                std::optional<std::pair<QUrl, QUrl>> renamed)
{
    ListingResult result;
    result.order = std::pair(sort, ascending);
    result.keepsMessage = keepsMessage;
    result.placement = placement;
    result.renamed = renamed;
    try {
        // The read runs to its end even when a newer listing starts; its result is then dropped.
        // The volume's space is read with it, so that every listing (a refresh after a paste or
        // a delete too) brings the space as it is now, and the main thread never asks the volume.
        const QString path = localPath(folder);
        // The listing shown of this folder, if it is the one read last: its ids are kept.
        const QList<LocalItem> before =
            model != nullptr && model->m_spaceFolder == folder ? model->m_allItems : QList<LocalItem>();
        struct Read {
            QList<LocalItem> items;
            std::vector<qsizetype> nameRanks;
            std::vector<qsizetype> placesBefore;
            VolumeSpace space;
        };
        const bool keepsRows = placement == RowPlacement::keepInPlace;
        QFuture<Read> reading = runOnThreadPool(
            *pool,
            [path, sort, ascending, before, keepsRows, renamed = std::move(renamed)] {
                Read read;
                read.items = LocalDirectoryReader::read(path, sort, ascending, &read.nameRanks);
                keepIDsListedBefore(read.items, before, keepsRows ? &read.placesBefore : nullptr, renamed);
                read.space = VolumeSpace::of(path);
                return read;
            },
            userInitiatedPriority);
        Read read = co_await reading;
        result.items = std::move(read.items);
        result.nameRanks = std::move(read.nameRanks);
        result.placesBefore = std::move(read.placesBefore);
        result.space = read.space;
        if (keepsRows) {
            result.before = before;
        }
    } catch (const LocalFileError& error) {
        result.failure = error;
    } catch (const std::exception& error) {
        result.failure = LocalFileError(EIO, localPath(folder), QString::fromUtf8(error.what()));
    } catch (...) {
        result.failure = LocalFileError(EIO, localPath(folder));
    }
    if (model == nullptr || !model->m_refreshTask.isCurrent(generation)) {
        co_return;
    }
    model->applyListing(folder, std::move(result));
}

void LocalBrowserViewModel::applyListing(const QUrl& folder, ListingResult result)
{
    // The rows stay in place only for a listing of the folder shown that nobody asked to see
    // sorted, paired with the very listing shown now.
    const bool keepsRows =
        result.placement == RowPlacement::keepInPlace && !m_isOrderAnewPending && m_spaceFolder == folder &&
        result.before.constData() == m_allItems.constData() && result.before.size() == m_allItems.size() &&
        result.placesBefore.size() == static_cast<std::size_t>(result.items ? result.items->size() : 0);
    m_isOrderAnewPending = false;
    // Kept before the items are published: the panes read the space again on itemsChanged.
    m_spaceFolder = folder;
    m_space = result.space;
    if (result.items) {
        if (keepsRows) {
            // The row each item of the listing shown stands in now, by its place in that listing.
            std::vector<qsizetype> rowOfPlace(static_cast<std::size_t>(m_allItems.size()), -1);
            for (std::size_t row = 0; row < m_shownPlaces.size(); ++row) {
                rowOfPlace[static_cast<std::size_t>(m_shownPlaces[row])] = static_cast<qsizetype>(row);
            }
            m_keptRows = std::move(result.placesBefore);
            for (qsizetype& kept : m_keptRows) {
                kept = kept >= 0 ? rowOfPlace[static_cast<std::size_t>(kept)] : -1;
            }
            m_keptRowCount = static_cast<qsizetype>(m_shownPlaces.size());
        }
        letGo(std::exchange(m_allItems, std::move(*result.items)), std::move(result.before));
        m_allItemsOrder = result.order;
        m_allItemNameRanks = std::move(result.nameRanks);
        if (result.renamed) {
            Q_EMIT itemRenamed(result.renamed->first, result.renamed->second);
        }
        applyDisplayFilter(!keepsRows);
        if (!result.keepsMessage) {
            setErrorMessage(std::nullopt);
        }
    } else {
        const LocalFileError& failure = *result.failure;
        letGo(std::exchange(m_allItems, {}));
        m_allItemsOrder.reset();
        m_allItemNameRanks.clear();
        m_shownPlaces.clear();
        m_keptRows.clear();
        setItems({});
        setErrorMessage(
            QStringLiteral("Could not read %1: %2").arg(localPath(folder), failure.localizedDescription()));
        m_logger.error(QStringLiteral("read failed: ") + failure.debugDescription());
    }
    m_refreshTask.cancel();
    setIsLoading(false);
}

void LocalBrowserViewModel::applyDisplayFilter(bool orderAnew)
{
    if (orderAnew) {
        m_orderedFolderStatistics = m_computedFolderStatistics;
        m_keptRows.clear();
    }
    const bool keepsRows =
        m_keptRows.size() == static_cast<std::size_t>(m_allItems.size()) && !m_keptRows.empty();
    // The listing is copied once, into the order shown. Read only: it may be shared with the
    // published items, and must not be copied.
    const QList<LocalItem>& allItems = m_allItems;
    const ShownItems shown = shownItems(
        allItems, m_showHiddenFiles, [](const LocalItem& item) { return item.isHidden; },
        m_computedFolderStatistics, m_orderedFolderStatistics);
    // A listing read in the shown order needs no second sort, unless measured sizes reorder it.
    const bool inOrder = m_allItemsOrder == std::pair(m_sort, m_sortAscending) &&
                         !(shown.reordered && m_sort == FileSort::size);
    if (!keepsRows && inOrder && !shown.patched &&
        shown.places.size() == static_cast<std::size_t>(allItems.size())) {
        m_shownPlaces.resize(shown.places.size());
        std::iota(m_shownPlaces.begin(), m_shownPlaces.end(), qsizetype{0});
        setItems(m_allItems); // everything shown as listed: the list is shared, not copied
        return;
    }
    std::vector<qsizetype> order;
    if (inOrder) {
        order.resize(shown.places.size());
        std::iota(order.begin(), order.end(), qsizetype{0});
    } else {
        const bool ranked = m_allItemNameRanks.size() == static_cast<std::size_t>(allItems.size());
        static const std::vector<qsizetype> unranked;
        order =
            browserOrder(allItems, shown, ranked ? m_allItemNameRanks : unranked, m_sort, m_sortAscending);
    }
    if (keepsRows) {
        std::vector<qsizetype> keptRows;
        keptRows.reserve(shown.places.size());
        for (const qsizetype place : shown.places) {
            keptRows.push_back(m_keptRows[static_cast<std::size_t>(place)]);
        }
        order = keepingRowsInPlace(order, keptRows, m_keptRowCount);
    }
    m_shownPlaces.resize(order.size());
    for (std::size_t row = 0; row < order.size(); ++row) {
        m_shownPlaces[row] = shown.places[static_cast<std::size_t>(order[row])];
    }
    if (keepsRows && !shown.patched && shown.places.size() == static_cast<std::size_t>(allItems.size()) &&
        std::ranges::equal(m_shownPlaces, std::views::iota(qsizetype{0}, allItems.size()))) {
        setItems(m_allItems); // kept as listed: the list is shared, not copied
        return;
    }
    setItems(shownInOrder(allItems, shown, order));
}

void LocalBrowserViewModel::recomputeBreadcrumb()
{
    QList<QUrl> crumbs{QUrl::fromLocalFile(QStringLiteral("/"))};
    QString running = QStringLiteral("/");
    for (const QString& component : localPath(m_currentDirectory).split(u'/', Qt::SkipEmptyParts)) {
        running = running.endsWith(u'/') ? running + component : running + u'/' + component;
        crumbs.append(LocalPath::url(running));
    }
    publish(m_breadcrumb, std::move(crumbs), &LocalBrowserViewModel::breadcrumbChanged);
}

// ---- Navigation -----------------------------------------------------------------------------

bool LocalBrowserViewModel::rememberCurrentDirectory()
{
    const QString path = QDir::cleanPath(localPath(m_currentDirectory));
    return noteSettingsWrite(m_preferences->setString(lastDirectoryKey, path));
}

bool LocalBrowserViewModel::noteSettingsWrite(std::optional<QString> failure)
{
    if (!failure) {
        // A write that had nothing to write leaves a failure run as it is.
        if (!m_preferences->hasUnsavedValues()) {
            m_shownSettingsFailure.reset();
        }
        return false;
    }
    if (failure == m_shownSettingsFailure) {
        return false;
    }
    m_shownSettingsFailure = failure;
    setErrorMessage(std::move(failure));
    return true;
}

void LocalBrowserViewModel::navigateTo(const QUrl& folder)
{
    setCurrentDirectory(folder);
    const bool reported = rememberCurrentDirectory();
    scheduleRefresh(folder, reported);
    refreshFavoriteLocations();
}

bool LocalBrowserViewModel::navigateToPath(const QString& typedPath)
{
    const QString trimmed = typedPath.trimmed();
    if (trimmed.isEmpty()) {
        return false;
    }
    const QString expanded = expandingTilde(trimmed);
    const QFileInfo target(expanded);
    if (!target.exists()) {
        setErrorMessage(QStringLiteral("No such folder: ") + expanded);
        return false;
    }
    const QString folder = target.isDir() ? target.absoluteFilePath() : target.absolutePath();
    navigateTo(QUrl::fromLocalFile(QDir::cleanPath(folder)));
    return true;
}

void LocalBrowserViewModel::navigateUp()
{
    const QString path = localPath(m_currentDirectory);
    if (path == QLatin1StringView("/")) {
        return;
    }
    QString parent = path.endsWith(u'/') ? path.chopped(1) : path;
    parent.truncate(std::max<qsizetype>(parent.lastIndexOf(u'/'), 0));
    if (parent.isEmpty()) {
        parent = QStringLiteral("/");
    }
    if (parent == path) {
        return;
    }
    setCurrentDirectory(LocalPath::url(parent));
    const bool reported = rememberCurrentDirectory();
    scheduleRefresh(m_currentDirectory, reported);
    refreshFavoriteLocations();
}

} // namespace quillbarrow
