#pragma once

#include "domain/QuillbarrowError.h"

#include <QString>

namespace quillbarrow::TransferItemFailure {

// Why one item of a paste could not be moved, naming it as it was chosen: "Could not send
// /home/me/a.txt: it is no longer there." The window shows the whole sentence, so people see
// which of many items failed even where no row of the panel stands for it.
QuillbarrowError named(const QString& action, const QString& item, const QString& why);

// The end of such a sentence for an item that went away.
QString goneReason();

// A device's error about an item as the end of such a sentence: the device's own words where it
// gave some, else the error's own sentence; an item the device no longer has is gone.
QString deviceReason(const QuillbarrowError& error);

} // namespace quillbarrow::TransferItemFailure
