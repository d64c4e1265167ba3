#pragma once

#include "FolderStatistics.h"
#include "RemoteItemKind.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QtGlobal>

#include <optional>

namespace quillbarrow {

// How much a selection weighs and whether it fits where a copy would put it; shown in each pane's
// header strip, which offers a copy unless the answer is a known "does not fit".
struct SelectionSizeSummary {
    SelectionSizeSummary(qint64 selectedItemCount, qint64 itemCount, qint64 folderCount, qint64 knownBytes,
                         qint64 unknownFolderCount, std::optional<qint64> destinationFreeBytes);

    bool hasSelection() const { return selectedItemCount > 0; }
    // Every selected folder has been measured; an empty selection is complete.
    bool isComplete() const { return unknownFolderCount == 0; }
    // Nothing while some folder is unmeasured or the free space is unknown; otherwise whether the
    // free space is at least the known bytes.
    std::optional<bool> fitsInDestination() const;

    qint64 selectedItemCount;
    qint64 itemCount;
    qint64 folderCount;
    // File sizes plus the bytes of the folders already measured.
    qint64 knownBytes;
    qint64 unknownFolderCount;
    std::optional<qint64> destinationFreeBytes;

    friend bool operator==(const SelectionSizeSummary&, const SelectionSizeSummary&) = default;
};

// Adds up the selected rows of a table, one at a time. A file or unknown entry counts its size
// (0 without one) and one entry; a measured folder its bytes and entries; an unmeasured folder one
// entry and nothing of its bytes. The sums stop at the largest count rather than overflow.
class SelectionSizeTally {
public:
    void addFile(std::optional<qint64> size);
    // `measured` is null for a folder not measured yet.
    void addFolder(const FolderStatistics* measured);
    // A folder added unmeasured has been measured since: it counts by its contents from now on,
    // as if it had been added so. False, with the tally no longer to be used, when the sums cannot
    // tell that exactly: a size or count below zero, or a sum held at its limit, makes the result
    // hang on the order the rows were added in; the tally is then to be made anew.
    bool countMeasured(const FolderStatistics& measured);
    SelectionSizeSummary summary(std::optional<qint64> destinationFreeBytes) const;

private:
    qint64 m_selected = 0;
    qint64 m_itemCount = 0;
    qint64 m_folderCount = 0;
    qint64 m_knownBytes = 0;
    qint64 m_unknownFolderCount = 0;
    // Every value added was zero or more and no sum was held at its limit: the sums are exact,
    // whatever the order of the rows.
    bool m_exact = true;
};

// The tally of the items `forEach` hands, one after another, to the function it is given
// (forEach(add) calls add(item) for each item), with the folder sizes measured so far. A file or
// unknown entry counts its size (0 without one); a folder's own reported size is not used: only a
// measurement counts.
template <typename Id, typename ForEach>
SelectionSizeTally tallyEach(const ForEach& forEach, const QHash<Id, FolderStatistics>& measured)
{
    SelectionSizeTally tally;
    forEach([&](const auto& item) {
        if (item.kind != RemoteItemKind::folder) {
            tally.addFile(item.size);
            return;
        }
        const auto found = measured.constFind(item.id);
        tally.addFolder(found == measured.constEnd() ? nullptr : &*found);
    });
    return tally;
}

// The summary of the rows for which `counts` is true, with the folder sizes measured so far.
template <typename Item, typename Id, typename Counts>
SelectionSizeSummary summarizeRows(const QList<Item>& rows, const Counts& counts,
                                   const QHash<Id, FolderStatistics>& measured,
                                   std::optional<qint64> destinationFreeBytes)
{
    const auto forEach = [&](const auto& add) {
        for (const Item& item : rows) {
            if (counts(item)) {
                add(item);
            }
        }
    };
    return tallyEach(forEach, measured).summary(destinationFreeBytes);
}

// The summary of the rows whose id is selected (ids of no row count for nothing).
template <typename Item, typename Id>
SelectionSizeSummary summarizeSelection(const QList<Item>& rows, const QSet<Id>& selected,
                                        const QHash<Id, FolderStatistics>& measured,
                                        std::optional<qint64> destinationFreeBytes)
{
    return summarizeRows(rows, [&selected](const Item& item) { return selected.contains(item.id); }, measured,
                         destinationFreeBytes);
}

// The summary of all of `items`.
template <typename Item, typename Id>
SelectionSizeSummary summarizeItems(const QList<Item>& items, const QHash<Id, FolderStatistics>& measured,
                                    std::optional<qint64> destinationFreeBytes)
{
    return summarizeRows(items, [](const Item&) { return true; }, measured, destinationFreeBytes);
}

} // namespace quillbarrow
