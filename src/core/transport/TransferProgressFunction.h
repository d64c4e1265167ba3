#pragma once

#include <QtGlobal>

#include <functional>
#include <optional>

namespace quillbarrow {

// Told the bytes done so far and the total when known; returning false asks the session to
// stop the transfer. Called on whatever thread moves the bytes, so it must be thread-safe and
// quick. An empty function means no progress reports.
using TransferProgressFunction = std::function<bool(qint64 bytesDone, std::optional<qint64> bytesTotal)>;

} // namespace quillbarrow
