#pragma once

#include <QString>

#include <optional>

namespace quillbarrow {

// The rule a name given to a new folder or to a renamed item must pass: it names one item inside
// the folder, so it is not empty, not "." or "..", and holds no "/" and no NUL character.
class ItemNameCheck {
public:
    // Why `name` (trimmed by the caller) cannot be used, as a sentence; nothing when it can.
    static std::optional<QString> problem(const QString& name);
};

} // namespace quillbarrow
