#pragma once

class QLayout;

namespace quillbarrow {

// Empties a row whose buttons navigate: the button clicked may be the one being replaced, still
// inside its own clicked signal, so each widget is hidden now and deleted once control returns
// to the event loop.
void takeAllLater(QLayout* row);

} // namespace quillbarrow
