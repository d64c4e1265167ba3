#pragma once

namespace quillbarrow {

// Which pane of a main window owns the keyboard commands: the computer's pane on the left
// (`mac`) or the phone's pane on the right (`android`); the commands act while its table has the
// keyboard. Every window keeps its own.
enum class FocusedPane { mac, android };

} // namespace quillbarrow
