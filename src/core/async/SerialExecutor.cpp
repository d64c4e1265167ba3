#include "SerialExecutor.h"

namespace quillbarrow {

SerialExecutor::SerialExecutor()
{
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

SerialExecutor::~SerialExecutor()
{
    // Jobs not yet started are dropped (their futures settle with JobDropped); the running
    // one is waited for, since it may touch state owned by the executor's owner.
    m_pool.clear();
    m_pool.waitForDone();
}

void SerialExecutor::waitForIdle()
{
    // A no-op job settles only after everything queued before it, on the same thread.
    run([] {}).waitForFinished();
}

} // namespace quillbarrow
