#pragma once

#include "async/WorkPool.h"
#include "domain/RemoteItemKind.h"
#include "domain/SelectionSizeSummary.h"
#include "table/NativeTable.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

namespace quillbarrow {

// What a pane's header and strip show of its selection, worked out once per change of the
// selection or of the rows, not once per look: the rows of the selected items, their items once
// asked for, and what they weigh. Sizes filled into the rows where they stand leave the rows as
// they are, and the weight is brought up to date with the folders measured since, each looked up
// once: a few sizes arriving at a big selection cost no pass over its rows and no copy of its
// items. `Browser` is the pane's view model (see its folderMeasurements()).
template <typename Browser, typename Item> class SelectionFacts {
  public:
    using Table = NativeTable<Item>;
    using RowSpans = typename Table::RowSpans;

    // `selectedRows` gives the rows of the selected items of `table` when they are to be worked out.
    SelectionFacts(const Table& table, std::function<RowSpans()> selectedRows)
        : m_table(table), m_selectedRows(std::move(selectedRows))
    {
    }

    // Another selection, or other rows: everything is worked out anew.
    void forget()
    {
        forgetItems();
        m_rows.reset();
        m_tally.reset();
    }
    // The same rows (folder sizes filled in, or folders measured): their items and weight take in
    // the folders measured since.
    void forgetSizes()
    {
        forgetItems();
        m_sizesFilledIn = true;
    }

    const RowSpans& rows() const
    {
        if (!m_rows) {
            m_rows = m_selectedRows();
        }
        return *m_rows;
    }
    // In row order; every row is the listing shown itself, shared.
    QList<Item> items() const
    {
        if (!m_items) {
            m_items = m_table.itemsIn(rows());
        }
        return *m_items;
    }
    // What the items weigh, without a destination; nothing selected without a browser.
    SelectionSizeSummary summary(const Browser* browser) const
    {
        if (browser == nullptr) {
            return SelectionSizeSummary(0, 0, 0, 0, 0, std::nullopt);
        }
        const bool filledIn = std::exchange(m_sizesFilledIn, false);
        const auto measurements = browser->folderMeasurements();
        const auto counted = [this](const typename Table::ID& folder) { return isFolderOfRows(folder); };
        if (m_tally && filledIn && !measurements.bringUpToDate(*m_tally, m_measured, counted)) {
            m_tally.reset();
        }
        if (!m_tally) {
            m_measured = measurements.mark();
            m_tally = measurements.tallyOf([this](const auto& add) { m_table.forEachItemIn(rows(), add); });
        }
        return m_tally->summary(std::nullopt);
    }

  private:
    // The items may hold the last copy of a big folder's rows: they are freed on the work pool.
    void forgetItems() { letGo(std::exchange(m_items, std::nullopt)); }

    // Whether `folder` is a folder shown in one of the rows.
    bool isFolderOfRows(const typename Table::ID& folder) const
    {
        const auto* model = m_table.itemModel();
        const std::optional<int> row = model->rowOf(folder);
        if (!row || model->item(*row).kind != RemoteItemKind::folder) {
            return false;
        }
        const RowSpans& spans = rows();
        const auto after = std::upper_bound(spans.begin(), spans.end(), *row,
                                            [](int each, const auto& span) { return each < span.first; });
        return after != spans.begin() && std::prev(after)->second >= *row;
    }

    const Table& m_table;
    std::function<RowSpans()> m_selectedRows;
    mutable std::optional<RowSpans> m_rows;
    mutable std::optional<QList<Item>> m_items;
    // Made with the measurements of m_measured.
    mutable std::optional<SelectionSizeTally> m_tally;
    mutable typename decltype(std::declval<const Browser&>().folderMeasurements())::Mark m_measured{};
    mutable bool m_sizesFilledIn = false;
};

} // namespace quillbarrow
