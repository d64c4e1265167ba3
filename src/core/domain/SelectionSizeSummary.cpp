#include "SelectionSizeSummary.h"

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

} // namespace quillbarrow
