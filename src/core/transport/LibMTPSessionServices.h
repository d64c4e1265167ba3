#pragma once

#include "InterruptedUploadLog.h"
#include "async/SerialExecutor.h"

#include <memory>

namespace quillbarrow {

// What a libmtp device session shares with the backend that opened it.
struct LibMTPSessionServices {
    // Where the session closes its device, also when it is dropped without close(): the
    // backend's own worker, so that closing a phone never overlaps the backend's next open of it.
    // None: the session's own worker, or, once the session is dropped, the global thread pool.
    std::shared_ptr<SerialExecutor> closer;
    // Where uploads are noted until the session knows what they left on the device, and where the
    // first operation of a session looks for what earlier sessions could not see to its end.
    // None: nothing is noted or looked for.
    std::shared_ptr<InterruptedUploadLog> interruptedUploads;
};

} // namespace quillbarrow
