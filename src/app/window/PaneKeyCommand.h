#pragma once

#include <Qt>

#include <optional>

namespace quillbarrow {

// The keyboard commands both panes share, with the keys a Linux desktop uses for them.
enum class PaneKeyCommand {
    copy,              // Ctrl+C
    paste,             // Ctrl+V
    selectAll,         // Ctrl+A
    parentFolder,      // Ctrl+Up, Alt+Up or Backspace
    refresh,           // Ctrl+R or F5
    deleteSelection,   // Delete, with any modifiers
    openSelection,     // Return, with any modifiers
    renameSelection,   // F2
    editPath,          // Ctrl+L: the folder's path typed (a pane without a path field does nothing)
    toggleHiddenFiles, // Ctrl+H: hidden files shown or not, as the toolbar's button
    newFolder,         // Ctrl+Shift+N: the New Folder sheet, as the toolbar's button
};

// The command a key press asks for, or nothing. The Ctrl and Alt combinations are tried first; a
// press with Ctrl that matches none of them is then read as if Ctrl were not held (Ctrl+Delete
// deletes, Ctrl+Return opens). Shift is looked at for N only: Ctrl+N is the menu's New Window, so
// a pane must never take it, while Ctrl+Shift+N makes a folder. Other modifiers are not looked at.
std::optional<PaneKeyCommand> paneKeyCommand(int key, Qt::KeyboardModifiers modifiers);

} // namespace quillbarrow
