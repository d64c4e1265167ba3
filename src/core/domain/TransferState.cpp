#include "TransferState.h"

namespace quillbarrow {

TransferState TransferState::cancelling(TransferProgress progress)
{
    return TransferState(Kind::cancelling, std::move(progress));
}

bool TransferState::isTerminal() const
{
    switch (m_kind) {
    case Kind::completed:
    case Kind::failed:
    case Kind::cancelled:
        return true;
    case Kind::queued:
    case Kind::awaitingConfirmation:
    case Kind::running:
    case Kind::cancelling:
        break;
    }
    return false;
}

std::optional<TransferProgress> TransferState::progress() const
{
    if (const auto* progress = std::get_if<TransferProgress>(&m_payload)) {
        return *progress;
    }
    return std::nullopt;
}

std::optional<QuillbarrowError> TransferState::error() const
{
    if (const auto* error = std::get_if<QuillbarrowError>(&m_payload)) {
        return *error;
    }
    return std::nullopt;
}

} // namespace quillbarrow
