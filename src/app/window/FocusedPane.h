#pragma once

namespace quillbarrow {

// Which pane of a main window owns the keyboard commands: the computer's pane on the left
// (`mac`) or the phone's pane on the right (`android`). Every window keeps its own.
enum class FocusedPane { mac, android };

} // namespace quillbarrow
