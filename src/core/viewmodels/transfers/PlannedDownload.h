#pragma once

#include "domain/RemoteItem.h"
#include "domain/TransferID.h"

#include <QString>
#include <QtGlobal>
#include <optional>

namespace quillbarrow {

// One device file that a paste into a local folder, or an open for viewing, will download.
struct PlannedDownload {
    // The job that shows this file in the transfer panel.
    TransferID jobID;
    // The device file; its id, name and size are used.
    RemoteItem item;
    // The absolute path of the local file to write, always inside the paste's destination folder.
    QString destination;
    // Whatever is at `destination` is replaced once the new file is complete.
    bool replaceExisting;
    // The download fails when more bytes than this arrive; absent for no limit.
    std::optional<qint64> maximumBytes;
    // The device item as messages name it: as it was chosen, with the folders walked below it.
    QString shownPath;
    // The file's own local name when `destination` bears a Keep Both name made from it; empty
    // otherwise.
    QString keptBothFrom;
};

} // namespace quillbarrow
