#pragma once

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

} // namespace quillbarrow
