#pragma once

#include "LocalFavoriteLocation.h"
#include "VolumeLocation.h"
#include "VolumeSpace.h"
#include "async/TaskSlot.h"
#include "domain/BrowserSort.h"
#include "domain/FileSort.h"
#include "domain/FolderMeasurementLog.h"
#include "domain/FolderStatistics.h"
#include "domain/LocalItem.h"
#include "domain/SelectionSizeSummary.h"
#include "infrastructure/UserDefaults.h"
#include "logging/AppLogger.h"
#include "platform/VolumeMonitor.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

class QThreadPool;

namespace quillbarrow {

// The model of the computer's pane: one folder of the local file system at a time. It lists the
// folder off the main thread (only the newest listing is applied), hides names that begin with
// "." unless asked to show them, sorts with the browser order, moves between folders, measures
// folders, summarises selections, reports the free space of the folder's volume, and creates,
// renames and deletes items (a delete moves them to the Trash), and offers the home folder and
// the mounted volumes, and standard and user favourite folders. Lives on the main thread, where
// it never waits for the disk on a navigation or a question about the folder shown: the folder,
// its volume's space, the favourites and folder sizes are read on the work pool. Its failures
// end in errorMessage (a settings write the disk refused too), and only a failed listing is also
// logged.
//
// Every published property announces each assignment through its changed signal, also when the
// value stayed the same.
class LocalBrowserViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QUrl currentDirectory READ currentDirectory NOTIFY currentDirectoryChanged)
    Q_PROPERTY(QList<QUrl> breadcrumb READ breadcrumb NOTIFY breadcrumbChanged)
    Q_PROPERTY(QList<quillbarrow::LocalItem> items READ items NOTIFY itemsChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QList<quillbarrow::VolumeLocation> locations READ locations NOTIFY locationsChanged)
    Q_PROPERTY(quillbarrow::FileSort sort READ sort WRITE setSort NOTIFY sortChanged)
    Q_PROPERTY(bool sortAscending READ sortAscending WRITE setSortAscending NOTIFY sortAscendingChanged)
    Q_PROPERTY(bool showHiddenFiles READ showHiddenFiles WRITE setShowHiddenFiles NOTIFY showHiddenFilesChanged)
    Q_PROPERTY(QList<quillbarrow::LocalFavoriteLocation> favoriteLocations READ favoriteLocations NOTIFY
                   favoriteLocationsChanged)
    Q_PROPERTY(QSet<QUrl> calculatingFolderSizeIDs READ calculatingFolderSizeIDs NOTIFY calculatingFolderSizeIDsChanged)

public:
    // The stored start folders: standardized absolute paths of folders, as plain strings.
    static const QString defaultDirectoryKey;
    static const QString lastDirectoryKey;
    // The user's favourite folders: standardized absolute paths, in the order added.
    static const QString favoritePathsKey;

    // Chooses the folder to show first: `startingAt` as given; else the stored default folder,
    // else the stored last folder, each only while it names an existing folder (a stale value is
    // skipped and left stored); else the home folder. Lists nothing, and builds neither the
    // volumes nor the favourites. Without `volumes`, the computer's mount table is read.
    LocalBrowserViewModel(std::optional<QUrl> startingAt, AppLogger logger, std::shared_ptr<UserDefaults> preferences,
                          std::shared_ptr<VolumeMonitor> volumes = nullptr, QObject* parent = nullptr);
    ~LocalBrowserViewModel() override;

    const QUrl& currentDirectory() const { return m_currentDirectory; }
    // The root folder first, then each folder down to the current one (as of the last listing's start).
    const QList<QUrl>& breadcrumb() const { return m_breadcrumb; }
    // What the table shows: the listing with measured folder sizes, hidden entries dropped unless
    // shown, in browser order.
    const QList<LocalItem>& items() const { return m_items; }
    // With the newest itemsChanged: the rows (in order) whose folder sizes it filled in, when that
    // is all it changed, every other row the same item as before; nothing when the items may differ
    // in any other way. A table showing the items before takes them without comparing the rows.
    const std::optional<std::vector<qsizetype>>& filledInRows() const { return m_filledInRows; }
    bool isLoading() const { return m_isLoading; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    FileSort sort() const { return m_sort; }
    bool sortAscending() const { return m_sortAscending; }
    bool showHiddenFiles() const { return m_showHiddenFiles; }
    // Home, then the mounted volumes a person would open.
    const QList<VolumeLocation>& locations() const { return m_locations; }
    // The standard folders of the home folder that exist, then the user's own that exist, as of
    // the newest check of the disk. The checks after a navigation or a mount run off the main
    // thread, so the list follows a moment later.
    const QList<LocalFavoriteLocation>& favoriteLocations() const { return m_favoriteLocations; }
    // The folders being measured now.
    const QSet<QUrl>& calculatingFolderSizeIDs() const { return m_calculatingFolderSizeIDs; }

    // Each re-derives the items from the listing (the sort ones unless setSort(key, ascending)
    // is assigning both); none reads the disk.
    void setSort(FileSort sort);
    void setSortAscending(bool ascending);
    void setShowHiddenFiles(bool show);
    // Key and direction together, with one re-sort; nothing at all when both are as they are.
    void setSort(FileSort sort, bool ascending);

    // Lists the current folder again, the user asking: the rows are put in the order of the sort,
    // by every folder size measured by then.
    void refresh();
    // Lists the current folder again after a change made in it that the user did not ask to see
    // sorted anew (a paste, a copy from the phone): the rows shown stay where they stand, an item
    // that came takes the place the sort gives it among them, one that went leaves. The creating,
    // renaming and deleting below list the folder so too.
    void reloadCurrentDirectory();
    // Opens the folder (no test that it exists), remembers it as the last folder and lists it.
    void navigateTo(const QUrl& folder);
    // Opens a typed path: trimmed, "~" expanded, a file standing for the folder that holds it.
    // False, with nothing changed, for a blank text; false with "No such folder: <path>" when
    // nothing is there.
    bool navigateToPath(const QString& typedPath);
    // Opens the parent folder; nothing at the root.
    void navigateUp();

    // Creates a folder of the trimmed name in the current folder and lists it again.
    void createFolder(const QString& name);
    // Renames the item within its folder to the trimmed name (never over an existing item) and
    // lists the current folder again; nothing for the item's own name.
    void rename(const LocalItem& item, const QString& newName);
    // Moves each item to the Trash off the main thread, going on past failures (each replaces
    // the message), then lists the current folder once. Returns at once; isLoading is true from
    // the start until that listing is applied.
    void deleteItems(const QList<LocalItem>& items);
    void clearError();

    // The free and the total space of the current folder's volume, as read with the newest listing
    // of that folder (announced with its itemsChanged); nothing until a listing of the current
    // folder is in. Reads nothing.
    std::optional<qint64> currentDirectoryAvailableBytes() const;
    std::optional<qint64> currentDirectoryCapacityBytes() const;
    // What the shown items among `selection` weigh: measured folders by their contents, others
    // as one item each; addresses that are not shown are ignored.
    SelectionSizeSummary selectionSummary(const QSet<QUrl>& selection, std::optional<qint64> destinationFreeBytes) const;
    // The same for `items` as given (already the shown items of a selection): only folders are
    // looked up, so a selection of many files costs one pass and no lookup.
    SelectionSizeSummary summaryOf(const QList<LocalItem>& items, std::optional<qint64> destinationFreeBytes) const;
    // The folder measurements kept, for a selection's weight kept up to date as folders are measured.
    FolderMeasurements<QUrl> folderMeasurements() const
    {
        return {m_computedFolderStatistics, m_measurementLog};
    }
    // Measures each folder among `items` that is neither measured nor being measured; a failure
    // sets "Could not calculate <name>: <reason>". Returns at once. The sizes measured in one turn
    // of the event loop fill in their rows where they stand on the next turn, or, in the rows of a
    // big folder, once the work pool has filled them into a copy of the rows.
    void calculateFolderSizes(const QList<LocalItem>& items);
    // The same, quietly, for the items the user can read (a failure leaves no trace). Whether a
    // folder can be read is asked with its measurement, off the main thread.
    void precalculateFolderSizesIfAccessible(const QList<LocalItem>& items);

    // Rebuilds the volume list.
    void refreshLocations();
    // Rebuilds the volumes, and the favourites off the main thread; the first call also starts
    // following mounts and unmounts, each of which rebuilds both lists again.
    void startObservingVolumes();
    // Stores the current folder among the favourites (once). These three publish the favourites
    // before they return.
    void addCurrentDirectoryToFavorites();
    // Removes every stored copy of a user favourite; nothing for a standard one.
    void removeFavorite(const LocalFavoriteLocation& favorite);
    // Stores the current folder as the start folder (and as the last folder).
    void setCurrentDirectoryAsDefault();

    // Where folders are read and measured (by default the program's work pool).
    void setWorkPool(QThreadPool* pool);
    // While folders go on being measured, the longest pause between two rounds that fill new sizes
    // into the rows of a big folder (100 ms unless set).
    void setMeasuredRowsInterval(std::chrono::milliseconds interval);

Q_SIGNALS:
    void currentDirectoryChanged();
    void breadcrumbChanged();
    void itemsChanged();
    void isLoadingChanged();
    void errorMessageChanged();
    void locationsChanged();
    void favoriteLocationsChanged();
    void sortChanged();
    void sortAscendingChanged();
    void showHiddenFilesChanged();
    void calculatingFolderSizeIDsChanged();
    // A listing after a rename is about to be published (just before its itemsChanged): the
    // renamed item's address before and after, so that a selection of it can follow it.
    void itemRenamed(const QUrl& from, const QUrl& to);

  private:
    struct ListingResult;

    // Stores a published property and announces it, also when the value stayed the same.
    template <typename T>
    void publish(T& property, T value, void (LocalBrowserViewModel::*changed)())
    {
        property = std::move(value);
        Q_EMIT(this->*changed)();
    }
    void setCurrentDirectory(QUrl folder);
    // With `filledIn`, the rows of `items` whose folder sizes are all that changed (see filledInRows()).
    void setItems(QList<LocalItem> items, std::optional<std::vector<qsizetype>> filledIn = std::nullopt);
    void setIsLoading(bool loading);
    void setErrorMessage(std::optional<QString> message);
    void setCalculatingFolderSizeIDs(QSet<QUrl> folders);

    // With `keepsMessage`, the listing's success leaves errorMessage as it is: the failure of the
    // operation that asked for the listing stays readable. `renamed` (an item's address before and
    // after a rename) keeps the renamed item in its row when the rows are kept in place.
    void scheduleRefresh(const QUrl& folder, bool keepsMessage = false,
                         RowPlacement placement = RowPlacement::orderAnew,
                         std::optional<std::pair<QUrl, QUrl>> renamed = std::nullopt);
    void applyListing(const QUrl& folder, ListingResult result);
    // Rebuilds the items from the listing. With `orderAnew` (a sort, the hidden-file choice, a
    // listing asked for) they are placed by every folder size measured by then; without (sizes
    // measured, a listing taken again unasked), they stay where they stand, the new sizes filled in
    // (and a new item placed by the sort among them, see m_keptRows).
    void applyDisplayFilter(bool orderAnew = true);
    void recomputeBreadcrumb();
    // Stores the current folder as the last one; true when that write failed and said so now.
    bool rememberCurrentDirectory();
    // Puts a failed settings write into errorMessage, once: every navigation writes the last
    // folder, and a disk that refuses one write refuses the next. The same failure is told again
    // only after a write has gone through. True when the failure was told now.
    bool noteSettingsWrite(std::optional<QString> failure);
    // Asks for the favourites to be checked against the disk again, off the main thread. One
    // check runs at a time, so a favourite on a dead mount holds one worker, not one per
    // navigation; the checks asked for while one runs are answered by one that starts when it ends.
    void refreshFavoriteLocations();
    // Checks them here and now: for the user's own changes to the favourites, which show at once.
    void publishFavoriteLocationsNow();
    void startFavoritesCheck();
    void finishFavoritesCheck(quint64 generation, std::optional<QList<LocalFavoriteLocation>> favorites);
    QStringList storedFavoritePaths() const;
    void calculateFolderSizes(const QList<LocalItem>& items, bool presentsErrors);
    void finishMeasurement(const LocalItem& item, bool presentsErrors,
                           std::optional<FolderStatistics> statistics, const QString& failure);
    void applyFinishedMeasurements();
    // Fills the measured sizes into the rows shown, where they stand: here for a small folder, on
    // the work pool for a big one (see runFillIn()).
    void fillInMeasuredSizes();
    QThreadPool& workPool() const;

    static QCoro::Task<> runListing(QPointer<LocalBrowserViewModel> model, QThreadPool* pool, QUrl folder,
                                    FileSort sort, bool ascending, quint64 generation, bool keepsMessage,
                                    RowPlacement placement, std::optional<std::pair<QUrl, QUrl>> renamed);
    static QCoro::Task<> runDelete(QPointer<LocalBrowserViewModel> model, QThreadPool* pool, QList<LocalItem> items);
    static QCoro::Task<> runMeasurement(QPointer<LocalBrowserViewModel> model, QThreadPool* pool, LocalItem item,
                                        bool presentsErrors);
    // While sizes wait to be filled in, fills them into a copy of the rows shown on the pool, one
    // round at a time, and publishes it unless the rows were worked out anew meanwhile (which
    // takes in every size measured by then). Each round costs the pool a copy of the rows: one that
    // published is followed by the next after as long as it took, m_measuredRowsInterval at most.
    static QCoro::Task<> runFillIn(QPointer<LocalBrowserViewModel> model, QThreadPool* pool);
    static QCoro::Task<> runFavoritesCheck(QPointer<LocalBrowserViewModel> model, QThreadPool* pool, QString home,
                                           std::optional<QString> defaultPath, QStringList storedPaths,
                                           quint64 generation);

    QUrl m_currentDirectory;
    QList<QUrl> m_breadcrumb;
    QList<LocalItem> m_items;
    bool m_isLoading = false;
    std::optional<QString> m_errorMessage;
    FileSort m_sort = FileSort::name;
    bool m_sortAscending = true;
    bool m_showHiddenFiles = false;
    QSet<QUrl> m_calculatingFolderSizeIDs;
    QList<VolumeLocation> m_locations;
    QList<LocalFavoriteLocation> m_favoriteLocations;

    const AppLogger m_logger;
    const std::shared_ptr<UserDefaults> m_preferences;
    const std::shared_ptr<VolumeMonitor> m_volumes;
    bool m_observingVolumes = false;
    QPointer<QThreadPool> m_workPool;
    // The newest listing; its generation counts the listings started.
    TaskSlot m_refreshTask;
    // The complete listing of the current folder as last read, hidden entries included.
    QList<LocalItem> m_allItems;
    // The order m_allItems is in, while it is the browser order for that key and direction with
    // nothing patched since; the display then needs no sort of its own.
    std::optional<std::pair<FileSort, bool>> m_allItemsOrder;
    // The ranks of m_allItems' names (browserNameRanks), one per item in its order, worked out
    // with the listing on the pool, so that a re-sort on the main thread compares only numbers;
    // empty when there are none for this listing.
    std::vector<qsizetype> m_allItemNameRanks;
    // The space of the volume of m_spaceFolder, read with that folder's newest listing.
    QUrl m_spaceFolder;
    VolumeSpace m_space;
    // Counts the favourites asked for; a check's answer is published only while no list was
    // asked for since it started.
    quint64 m_favoritesGeneration = 0;
    bool m_isCheckingFavorites = false;
    bool m_isFavoritesCheckPending = false;
    // A check is asked for on the next turn, so that the requests of one turn make one check.
    bool m_isFavoritesCheckScheduled = false;
    QHash<QUrl, FolderStatistics> m_computedFolderStatistics;
    // The folders of m_computedFolderStatistics in the order they were measured.
    FolderMeasurementLog<QUrl> m_measurementLog;
    // The measured sizes the items are placed by: those of the last time the order was applied.
    QHash<QUrl, FolderStatistics> m_orderedFolderStatistics;
    // The place in m_allItems of each item shown, in the order shown.
    std::vector<qsizetype> m_shownPlaces;
    // Since a listing taken again unasked, and until the order is applied anew: the row each item
    // of m_allItems stood in before it (-1 for an item that was not shown then), of
    // m_keptRowCount rows. The items keep the order of those rows (keepingRowsInPlace); empty while
    // the sort alone places them.
    std::vector<qsizetype> m_keptRows;
    qsizetype m_keptRowCount = 0;
    // A listing the user asked for has started and none has been applied since: the listing
    // applied next, whatever asked for it, puts the rows in the order of the sort.
    bool m_isOrderAnewPending = false;
    // Measurements that came back and wait for the next turn of the event loop to be applied.
    struct FinishedMeasurement {
        LocalItem item;
        bool presentsErrors = false;
        std::optional<FolderStatistics> statistics;
        QString failure;
    };
    QList<FinishedMeasurement> m_finishedMeasurements;
    // The rows of at least this many items take measured sizes on the work pool: copying them here
    // would hold up the window.
    static constexpr qsizetype bigListing = 1'000;
    std::optional<std::vector<qsizetype>> m_filledInRows;
    // A round of runFillIn() is under way; sizes measured since its start wait for the next.
    bool m_isFillingIn = false;
    bool m_isFillInPending = false;
    std::chrono::milliseconds m_measuredRowsInterval{100};
    bool m_isBatchingSortUpdate = false;
    // The settings write failure last told, while no write has gone through since.
    std::optional<QString> m_shownSettingsFailure;
};

} // namespace quillbarrow
