#pragma once

#include "TransferDirection.h"
#include "TransferID.h"
#include "TransferPurpose.h"
#include "TransferState.h"

#include <QString>
#include <QtGlobal>

#include <optional>

namespace quillbarrow {

// One file being copied. A plain value: the transfer queue hands out copies and stores a changed
// job back whole. Only `state` and `sequence` change after construction, and `displayName` when
// Keep Both gives the file another name; the other fields are fixed when the job is made.
struct TransferJob {
    TransferJob(TransferID id, TransferDirection direction, TransferPurpose purpose, QString displayName,
                std::optional<qint64> totalBytes, TransferState state, qint64 sequence);

    TransferID id;
    TransferDirection direction;
    TransferPurpose purpose;
    // The name shown in the transfer panel (the file's name).
    QString displayName;
    // The size known when the job was made; absent when unknown.
    std::optional<qint64> totalBytes;
    TransferState state;
    // The job's place in enqueue order; the transfer queue overwrites the creator's value.
    qint64 sequence;
};

bool operator==(const TransferJob& a, const TransferJob& b);

} // namespace quillbarrow
