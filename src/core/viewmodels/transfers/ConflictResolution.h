#pragma once

#include <QMetaType>

namespace quillbarrow {

// The answer to a name-conflict question: leave the item out, replace what is there, or keep
// both under a numbered name.
enum class ConflictResolution { skip, replace, keepBoth };

} // namespace quillbarrow

Q_DECLARE_METATYPE(quillbarrow::ConflictResolution)
