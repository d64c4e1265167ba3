#pragma once

#include <mutex>

namespace quillbarrow {

// The cancellation flag of one transfer job: set on the main thread by a cancel request, read by
// the progress callback on the transfer's thread and before each step of the job. Once set it
// stays set.
class TransferCancellationToken {
public:
    void cancel();
    bool isCancelled() const;

private:
    mutable std::mutex m_lock;
    bool m_cancelled = false;
};

} // namespace quillbarrow
