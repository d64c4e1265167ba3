#pragma once

#include "domain/LocalItem.h"
#include "table/NativeTable.h"

namespace quillbarrow {

class LocalBrowserViewModel;

// The computer pane's table, bound to the local browser: its rows (a new folder is a new
// listing), its sort shown in the header, and header clicks set as the browser's sort. Rows are
// dragged out as their file addresses. The pane adds selection, actions and the menu.
class LocalItemTable final : public NativeTable<LocalItem> {
public:
    explicit LocalItemTable(LocalBrowserViewModel& browser, QWidget* parent = nullptr);
};

} // namespace quillbarrow
