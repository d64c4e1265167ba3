#include "TransferJob.h"

#include "NfcText.h"

namespace quillbarrow {

TransferJob::TransferJob(TransferID id, TransferDirection direction, TransferPurpose purpose, QString displayName,
                         std::optional<qint64> totalBytes, TransferState state, qint64 sequence)
    : id(id), direction(direction), purpose(purpose), displayName(std::move(displayName)), totalBytes(totalBytes),
      state(std::move(state)), sequence(sequence)
{
}

bool operator==(const TransferJob& a, const TransferJob& b)
{
    return a.id == b.id && a.direction == b.direction && a.purpose == b.purpose &&
           NfcText::equal(a.displayName, b.displayName) && a.totalBytes == b.totalBytes && a.state == b.state &&
           a.sequence == b.sequence;
}

} // namespace quillbarrow
