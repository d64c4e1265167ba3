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
};

// The command a key press asks for, or nothing. The Ctrl and Alt combinations are tried first; a
// press with Ctrl that matches none of them is then read as if Ctrl were not held (Ctrl+Delete
// deletes, Ctrl+Return opens). Other modifiers are not looked at. The map is closed: any other
// press (Ctrl+N, the menu's New Window, among them) is no pane command and goes on as usual.
std::optional<PaneKeyCommand> paneKeyCommand(int key, Qt::KeyboardModifiers modifiers);

} // namespace quillbarrow
