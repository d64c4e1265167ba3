#include "SelectionSizeSummary.h"

#include "SaturatingAdd.h"

namespace quillbarrow {

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
    m_itemCount = saturatingAdd(m_itemCount, 1);
    m_knownBytes = saturatingAdd(m_knownBytes, size.value_or(0));
}

void SelectionSizeTally::addFolder(const FolderStatistics* measured)
{
    ++m_selected;
    ++m_folderCount;
    if (measured == nullptr) {
        ++m_unknownFolderCount;
        m_itemCount = saturatingAdd(m_itemCount, 1);
        return;
    }
    m_knownBytes = saturatingAdd(m_knownBytes, measured->bytes);
    m_itemCount = saturatingAdd(m_itemCount, measured->itemCount);
}

SelectionSizeSummary SelectionSizeTally::summary(std::optional<qint64> destinationFreeBytes) const
{
    return SelectionSizeSummary(m_selected, m_itemCount, m_folderCount, m_knownBytes, m_unknownFolderCount,
                                destinationFreeBytes);
}

} // namespace quillbarrow
