// The operations on the folder shown: folder sizes, the selection summary, free space, and
// creating, renaming and deleting items.

#include "LocalBrowserViewModel.h"
#include "LocalDirectoryReader.h"
#include "LocalFileError.h"
#include "LocalFolderStatistics.h"
#include "LocalTrash.h"
#include "VolumeSpace.h"
#include "async/SerialExecutor.h"
#include "async/Sleep.h"
#include "async/WorkPool.h"
#include "domain/BrowserSort.h"
#include "domain/ItemNameCheck.h"
#include "domain/LocalPath.h"

#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <utility>

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillbarrow {

namespace {

constexpr int userInitiatedPriority = 1;

// Moves the item at `source` to `destination` in one step, failing with EEXIST rather than
// replacing something that is there. Returns 0 or the error number.
int renameWithoutReplacing(const QString& source, const QString& destination)
{
    const QByteArray from = LocalPath::encoded(source);
    const QByteArray to = LocalPath::encoded(destination);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system that cannot promise not to replace: look first, then move.
    struct stat existing {};
    if (::lstat(to.constData(), &existing) == 0) {
        return EEXIST;
    }
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

// Why a folder could not be made or an item renamed, as the message says it. The system's own
// sentence for a taken name, "File exists", leaves the user to guess which of the names in play it
// means: the one they typed.
QString reasonNaming(int error, const QString& name)
{
    return error == EEXIST ? u'\u201C' + name + QStringLiteral("\u201D already exists.") : qt_error_string(error);
}

QString parentPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

void LocalBrowserViewModel::clearError()
{
    setErrorMessage(std::nullopt);
}

// ---- Creating, renaming, deleting -----------------------------------------------------------

void LocalBrowserViewModel::createFolder(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (const std::optional<QString> problem = ItemNameCheck::problem(trimmed)) {
        setErrorMessage(QStringLiteral("Could not create folder: ") + *problem);
        return;
    }
    const QString target = LocalPath::fromUrl(LocalDirectoryReader::childURL(LocalPath::fromUrl(m_currentDirectory), trimmed));
    if (::mkdir(LocalPath::encoded(target).constData(), 0777) != 0) {
        const int error = errno;
        setErrorMessage(QStringLiteral("Could not create folder: ") + reasonNaming(error, trimmed));
        return;
    }
    scheduleRefresh(m_currentDirectory, false, RowPlacement::keepInPlace);
}

void LocalBrowserViewModel::rename(const LocalItem& item, const QString& newName)
{
    const QString trimmed = newName.trimmed();
    if (trimmed == item.name) {
        return;
    }
    if (const std::optional<QString> problem = ItemNameCheck::problem(trimmed)) {
        setErrorMessage(QStringLiteral("Could not rename: ") + *problem);
        return;
    }
    const QString source = LocalPath::fromUrl(item.id);
    const QUrl renamed = LocalDirectoryReader::childURL(parentPath(source), trimmed);
    const QString destination = LocalPath::fromUrl(renamed);
    if (const int error = renameWithoutReplacing(source, destination); error != 0) {
        setErrorMessage(QStringLiteral("Could not rename: ") + reasonNaming(error, trimmed));
        return;
    }
    // The item keeps its row under its new name.
    scheduleRefresh(m_currentDirectory, false, RowPlacement::keepInPlace, std::pair(item.id, renamed));
}

void LocalBrowserViewModel::deleteItems(const QList<LocalItem>& items)
{
    // The pane shows its loading state from now until the listing after the move is in.
    setIsLoading(true);
    QCoro::Task<> moving = runDelete(QPointer<LocalBrowserViewModel>(this), &workPool(), items);
    Q_UNUSED(moving) // reports back by itself
}

QCoro::Task<> LocalBrowserViewModel::runDelete(QPointer<LocalBrowserViewModel> model, QThreadPool* pool,
                                               QList<LocalItem> items)
{
    // The Trash is written off the main thread: a big selection, a slow disk or a network file
    // system must not stop the window. Each failure is the item's name and the reason.
    QList<std::pair<QString, QString>> failures;
    try {
        QFuture<QList<std::pair<QString, QString>>> moving = runOnThreadPool(
            *pool,
            [items] {
                QList<std::pair<QString, QString>> refused;
                const LocalTrash::Places places = LocalTrash::userPlaces();
                for (const LocalItem& item : items) {
                    if (std::optional<QString> reason = LocalTrash::moveToTrash(LocalPath::fromUrl(item.id), places)) {
                        refused.append({item.name, std::move(*reason)});
                    }
                }
                return refused;
            },
            userInitiatedPriority);
        failures = co_await moving;
    } catch (const std::exception& error) {
        failures.append({items.isEmpty() ? QString() : items.constFirst().name, QString::fromUtf8(error.what())});
    }
    if (model == nullptr) {
        co_return;
    }
    for (const auto& [name, reason] : failures) {
        model->setErrorMessage(QStringLiteral("Could not delete %1: %2").arg(name, reason));
    }
    // The listing that follows must not wipe out the news that something was not deleted.
    model->scheduleRefresh(model->m_currentDirectory, !failures.isEmpty(), RowPlacement::keepInPlace);
}

// ---- Space and selection --------------------------------------------------------------------

// Asked at every selection change and by the other pane: answered from the space read with the
// listing, never from the volume, which may be a slow or dead mount. The space of the folder shown
// before a navigation is no answer for the folder now shown.
std::optional<qint64> LocalBrowserViewModel::currentDirectoryAvailableBytes() const
{
    return m_spaceFolder == m_currentDirectory ? m_space.availableBytes : std::nullopt;
}

std::optional<qint64> LocalBrowserViewModel::currentDirectoryCapacityBytes() const
{
    return m_spaceFolder == m_currentDirectory ? m_space.capacityBytes : std::nullopt;
}

SelectionSizeSummary LocalBrowserViewModel::selectionSummary(const QSet<QUrl>& selection,
                                                             std::optional<qint64> destinationFreeBytes) const
{
    return summarizeSelection(m_items, selection, m_computedFolderStatistics, destinationFreeBytes);
}

SelectionSizeSummary LocalBrowserViewModel::summaryOf(const QList<LocalItem>& items,
                                                     std::optional<qint64> destinationFreeBytes) const
{
    return summarizeItems(items, m_computedFolderStatistics, destinationFreeBytes);
}

// ---- Folder sizes ---------------------------------------------------------------------------

void LocalBrowserViewModel::calculateFolderSizes(const QList<LocalItem>& items)
{
    calculateFolderSizes(items, true);
}

void LocalBrowserViewModel::precalculateFolderSizesIfAccessible(const QList<LocalItem>& items)
{
    // Called at every selection change: whether each folder can be read is asked by its quiet
    // measurement on the pool, not here.
    calculateFolderSizes(items, false);
}

void LocalBrowserViewModel::calculateFolderSizes(const QList<LocalItem>& items, bool presentsErrors)
{
    // A folder is measured once, and never twice at a time, even when it is listed twice here.
    QList<LocalItem> toMeasure;
    QSet<QUrl> measuring = m_calculatingFolderSizeIDs;
    for (const LocalItem& item : items) {
        if (item.kind == RemoteItemKind::folder && !m_computedFolderStatistics.contains(item.id) &&
            !measuring.contains(item.id)) {
            toMeasure.append(item);
            measuring.insert(item.id);
        }
    }
    if (toMeasure.isEmpty()) {
        return;
    }
    // The folders started together are announced together.
    setCalculatingFolderSizeIDs(std::move(measuring));
    for (const LocalItem& item : std::as_const(toMeasure)) {
        QCoro::Task<> measurement =
            runMeasurement(QPointer<LocalBrowserViewModel>(this), &workPool(), item, presentsErrors);
        Q_UNUSED(measurement) // reports back by itself; nothing cancels it
    }
}

QCoro::Task<> LocalBrowserViewModel::runMeasurement(QPointer<LocalBrowserViewModel> model, QThreadPool* pool,
                                                    LocalItem item, bool presentsErrors)
{
    std::optional<FolderStatistics> statistics;
    QString failure;
    try {
        const QString path = LocalPath::fromUrl(item.id);
        // A quiet measurement passes over a folder the user cannot read, without a trace.
        QFuture<std::optional<FolderStatistics>> measuring = runOnThreadPool(
            *pool,
            [path, presentsErrors]() -> std::optional<FolderStatistics> {
                if (!presentsErrors && ::access(LocalPath::encoded(path).constData(), R_OK) != 0) {
                    return std::nullopt;
                }
                return LocalFolderStatistics::measure(path);
            },
            userInitiatedPriority);
        statistics = co_await measuring;
    } catch (const LocalFileError& error) {
        failure = error.localizedDescription();
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    } catch (...) {
        failure = qt_error_string(EIO);
    }
    if (model != nullptr) {
        model->finishMeasurement(item, presentsErrors, statistics, failure);
    }
}

void LocalBrowserViewModel::finishMeasurement(const LocalItem& item, bool presentsErrors,
                                              std::optional<FolderStatistics> statistics, const QString& failure)
{
    // Results that come back in one turn of the event loop are applied together on the next one:
    // a folder of many subfolders then costs a few publications, not three per subfolder.
    m_finishedMeasurements.append(FinishedMeasurement{item, presentsErrors, std::move(statistics), failure});
    if (m_finishedMeasurements.size() == 1) {
        QMetaObject::invokeMethod(this, &LocalBrowserViewModel::applyFinishedMeasurements, Qt::QueuedConnection);
    }
}

void LocalBrowserViewModel::applyFinishedMeasurements()
{
    const QList<FinishedMeasurement> finished = std::exchange(m_finishedMeasurements, {});
    if (finished.isEmpty()) {
        return;
    }
    QSet<QUrl> measuring = m_calculatingFolderSizeIDs;
    bool measured = false;
    for (const FinishedMeasurement& result : finished) {
        measuring.remove(result.item.id);
        if (result.statistics) {
            const auto kept = m_computedFolderStatistics.constFind(result.item.id);
            m_measurementLog.keep(result.item.id,
                                  kept == m_computedFolderStatistics.constEnd() ? nullptr : &*kept,
                                  *result.statistics);
            m_computedFolderStatistics.insert(result.item.id, *result.statistics);
            measured = true;
        }
    }
    setCalculatingFolderSizeIDs(std::move(measuring));
    if (measured) {
        // The sizes fill in their rows where they stand; the listing keeps the sizes it was read with.
        fillInMeasuredSizes();
    }
    for (const FinishedMeasurement& result : finished) {
        if (!result.statistics && result.presentsErrors) {
            setErrorMessage(QStringLiteral("Could not calculate %1: %2").arg(result.item.name, result.failure));
        }
    }
}

void LocalBrowserViewModel::fillInMeasuredSizes()
{
    if (m_items.size() >= bigListing) {
        m_isFillInPending = true;
        if (!m_isFillingIn) {
            m_isFillingIn = true;
            QCoro::Task<> filling = runFillIn(QPointer<LocalBrowserViewModel>(this), &workPool());
            Q_UNUSED(filling) // publishes by itself, while the rows are still those it filled
        }
        return;
    }
    QList<LocalItem> rows = m_items;
    std::vector<qsizetype> changed = quillbarrow::fillInMeasuredSizes(rows, m_computedFolderStatistics);
    if (!changed.empty()) {
        setItems(std::move(rows), std::move(changed));
    }
}

QCoro::Task<> LocalBrowserViewModel::runFillIn(QPointer<LocalBrowserViewModel> model, QThreadPool* pool)
{
    struct Filled {
        QList<LocalItem> rows;
        std::vector<qsizetype> changed;
    };
    while (model != nullptr && std::exchange(model->m_isFillInPending, false)) {
        const auto started = std::chrono::steady_clock::now();
        QList<LocalItem> shown = model->m_items;
        // The rows come back held by pointer: taken out of it, they leave nothing in the future.
        auto filling = [rows = shown, measured = model->m_computedFolderStatistics]() mutable {
            auto filled = std::make_shared<Filled>();
            rows = copiedInSlices(rows);
            filled->changed = quillbarrow::fillInMeasuredSizes(rows, measured);
            filled->rows = std::move(rows);
            return filled;
        };
        std::shared_ptr<Filled> filled;
        try {
            QFuture<std::shared_ptr<Filled>> future =
                runOnThreadPool(*pool, std::move(filling), userInitiatedPriority);
            filled = co_await future;
        } catch (...) {
            // Only a job the pool dropped at exit ends here: nobody waits for its rows.
        }
        QList<LocalItem> rows = filled ? std::exchange(filled->rows, {}) : QList<LocalItem>();
        // Rows worked out anew meanwhile (a sort, a listing) show every size measured by then.
        const bool publishes = filled && model != nullptr && !filled->changed.empty() &&
                               model->m_items.constData() == shown.constData() &&
                               model->m_items.size() == shown.size();
        if (publishes) {
            model->setItems(std::exchange(rows, {}), std::move(filled->changed));
        }
        letGo(std::move(rows), std::move(shown));
        // Folders go on being measured: their sizes are shown together, a round at a time, the
        // next one after as long as this one took, so that the copies take at most half a thread.
        if (publishes) {
            const auto took =
                std::chrono::ceil<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
            co_await sleepFor(std::min(took, model->m_measuredRowsInterval));
        }
    }
    if (model != nullptr) {
        model->m_isFillingIn = false;
    }
}

} // namespace quillbarrow
