#pragma once

#include "domain/RemoteItem.h"
#include "table/NativeTable.h"

namespace quillbarrow {

class DeviceBrowserViewModel;

// The phone pane's table, bound to the device browser: its rows (another device, storage or
// folder is a new listing), its sort shown in the header, and header clicks set as the browser's
// sort. Dragged rows carry the phone marker text. The pane adds selection, actions and the menu.
class RemoteItemTable final : public NativeTable<RemoteItem> {
public:
    explicit RemoteItemTable(DeviceBrowserViewModel& browser, QWidget* parent = nullptr);

    // The listing the device browser's rows belong to: device, storage and folder path.
    static QString listingOf(const DeviceBrowserViewModel& browser);
};

} // namespace quillbarrow
