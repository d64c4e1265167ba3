#include "SelectionSizeSummary.h"

#include "SaturatingAdd.h"

namespace quillbarrow {

namespace {

// a + b, held at its limit; `exact` falls when the sum is held or `b` is below zero.
qint64 addNoting(qint64 a, qint64 b, bool& exact)
{
    qint64 sum = 0;
    const bool held = __builtin_add_overflow(a, b, &sum);
    exact = exact && b >= 0 && !held;
    return held ? saturatingAdd(a, b) : sum;
}

} // namespace

SelectionSizeSummary::SelectionSizeSummary(qint64 selectedItemCount, qint64 itemCount, qint64 folderCount,
                                           qint64 knownBytes, qint64 unknownFolderCount,
                                           std::optional<qint64> destinationFreeBytes)
    : selectedItemCount(selectedItemCount), itemCount(itemCount), folderCount(folderCount), knownBytes(knownBytes),
      unknownFolderCount(unknownFolderCount), destinationFreeBytes(destinationFreeBytes)
{
}

std::optional<bool> SelectionSizeSummary::fitsInDestination() const
{
    if (!isComplete() || !destinationFreeBytes) {
        return std::nullopt;
    }
    return *destinationFreeBytes >= knownBytes;
}

void SelectionSizeTally::addFile(std::optional<qint64> size)
{
    ++m_selected;
    m_itemCount = addNoting(m_itemCount, 1, m_exact);
    m_knownBytes = addNoting(m_knownBytes, size.value_or(0), m_exact);
}

void SelectionSizeTally::addFolder(const FolderStatistics* measured)
{
    ++m_selected;
    ++m_folderCount;
    if (measured == nullptr) {
        ++m_unknownFolderCount;
        m_itemCount = addNoting(m_itemCount, 1, m_exact);
        return;
    }
    m_knownBytes = addNoting(m_knownBytes, measured->bytes, m_exact);
    m_itemCount = addNoting(m_itemCount, measured->itemCount, m_exact);
}

bool SelectionSizeTally::countMeasured(const FolderStatistics& measured)
{
    // Sums of values of zero or more, never held, are those of any order: the unmeasured entry
    // comes out, the contents go in, and the sums are what adding the folder measured gives.
    if (!m_exact || m_unknownFolderCount == 0 || measured.bytes < 0 || measured.itemCount < 0) {
        m_exact = false;
        return false;
    }
    --m_unknownFolderCount;
    --m_itemCount;
    m_knownBytes = addNoting(m_knownBytes, measured.bytes, m_exact);
    m_itemCount = addNoting(m_itemCount, measured.itemCount, m_exact);
    return true;
}

SelectionSizeSummary SelectionSizeTally::summary(std::optional<qint64> destinationFreeBytes) const
{
    return SelectionSizeSummary(m_selected, m_itemCount, m_folderCount, m_knownBytes, m_unknownFolderCount,
                                destinationFreeBytes);
}

} // namespace quillbarrow
