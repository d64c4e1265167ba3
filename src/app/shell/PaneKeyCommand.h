#pragma once

#include <Qt>

#include <optional>

namespace quillbarrow {

// The keyboard commands both panes share. The Command key of the commands is Ctrl here, and the
// delete key is Backspace, with Delete doing the same.
enum class PaneKeyCommand {
    copy,            // Ctrl+C
    paste,           // Ctrl+V
    selectAll,       // Ctrl+A
    parentFolder,    // Ctrl+Up
    refresh,         // Ctrl+R
    deleteSelection, // Backspace or Delete, with any modifiers
    openSelection,   // Return, with any modifiers
};

// The command a key press asks for, or nothing. The Ctrl combinations are tried first; a press
// with Ctrl that matches none of them is then read as if Ctrl were not held (Ctrl+Backspace
// deletes, Ctrl+Return opens). Modifiers other than Ctrl are not looked at.
std::optional<PaneKeyCommand> paneKeyCommand(int key, Qt::KeyboardModifiers modifiers);

} // namespace quillbarrow
