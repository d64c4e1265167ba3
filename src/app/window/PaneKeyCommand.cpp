#include "PaneKeyCommand.h"

namespace quillbarrow {

std::optional<PaneKeyCommand> paneKeyCommand(int key, Qt::KeyboardModifiers modifiers)
{
    if (modifiers.testFlag(Qt::ControlModifier)) {
        switch (key) {
        case Qt::Key_C:
            return PaneKeyCommand::copy;
        case Qt::Key_V:
            return PaneKeyCommand::paste;
        case Qt::Key_A:
            return PaneKeyCommand::selectAll;
        case Qt::Key_Up:
            return PaneKeyCommand::parentFolder;
        case Qt::Key_R:
            return PaneKeyCommand::refresh;
        default:
            break;
        }
    }
    if (modifiers.testFlag(Qt::AltModifier) && key == Qt::Key_Up) {
        return PaneKeyCommand::parentFolder;
    }
    switch (key) {
    case Qt::Key_Backspace:
        return PaneKeyCommand::parentFolder;
    case Qt::Key_F5:
        return PaneKeyCommand::refresh;
    case Qt::Key_Delete:
        return PaneKeyCommand::deleteSelection;
    case Qt::Key_Return:
        return PaneKeyCommand::openSelection;
    default:
        return std::nullopt;
    }
}

} // namespace quillbarrow
