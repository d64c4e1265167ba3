#include "TransferCancellationToken.h"

namespace quillbarrow {

void TransferCancellationToken::cancel()
{
    std::lock_guard lock(m_lock);
    m_cancelled = true;
}

bool TransferCancellationToken::isCancelled() const
{
    std::lock_guard lock(m_lock);
    return m_cancelled;
}

} // namespace quillbarrow
