#pragma once

#include "domain/RemoteObjectID.h"
#include "domain/TransferID.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

namespace quillbarrow {

// One local file that a paste into a device folder will upload, decided while planning.
struct PlannedUpload {
    // The queued job this plan carries out.
    TransferID jobID;
    // The local file as the planning walk reached it.
    QString localPath;
    // The local folder names from the pasted folder down to the file's own folder, outermost
    // first; empty for a file that was itself on the clipboard. The file goes into the device
    // folder reached by this chain of names below the paste's target folder.
    QStringList parentRelComponents;
    // The name the file gets on the device: its own, or the one chosen by Keep Both.
    QString fileName;
    // The file's size when it was planned; absent when it could not be read.
    std::optional<qint64> size;
    // Set only for Replace: the device object of that name, which the new file takes the place of.
    std::optional<RemoteObjectID> replaceExistingID;
    // That object's size as the device listed it; absent when unknown (a folder, for example).
    std::optional<qint64> replaceExistingSize;
};

} // namespace quillbarrow
