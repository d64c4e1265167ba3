#pragma once

#include "QuillbarrowError.h"
#include "TransferProgress.h"

#include <QString>

#include <optional>
#include <variant>

namespace quillbarrow {

// Where a transfer job stands. Running and cancelling carry the progress (for cancelling, the
// progress when cancellation was asked); failed carries the error. Completed, failed and cancelled
// are terminal. Equal when the same case with equal payloads.
class TransferState {
public:
    enum class Kind { queued, awaitingConfirmation, running, cancelling, completed, failed, cancelled };

    static TransferState queued() { return TransferState(Kind::queued, std::monostate{}); }
    static TransferState awaitingConfirmation() { return TransferState(Kind::awaitingConfirmation, std::monostate{}); }
    static TransferState running(TransferProgress progress) { return TransferState(Kind::running, std::move(progress)); }
    static TransferState cancelling(TransferProgress progress);
    static TransferState completed() { return TransferState(Kind::completed, std::monostate{}); }
    static TransferState failed(QuillbarrowError error) { return TransferState(Kind::failed, std::move(error)); }
    static TransferState cancelled() { return TransferState(Kind::cancelled, std::monostate{}); }

    Kind kind() const { return m_kind; }
    bool isTerminal() const;
    // The progress of a running or cancelling job; nothing in the other states.
    std::optional<TransferProgress> progress() const;
    // The error of a failed job; nothing in the other states.
    std::optional<QuillbarrowError> error() const;

    friend bool operator==(const TransferState&, const TransferState&) = default;

private:
    using Payload = std::variant<std::monostate, TransferProgress, QuillbarrowError>;
    TransferState(Kind kind, Payload payload) : m_kind(kind), m_payload(std::move(payload)) {}

    Kind m_kind;
    Payload m_payload;
};

} // namespace quillbarrow
