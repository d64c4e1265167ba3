#pragma once

#include <QString>

#include <stdexcept>

namespace quillbarrow {

// A failure of a benchmark itself (not a figure): the run stops and exits 1 with the reason.
class BenchFailure : public std::runtime_error {
public:
    explicit BenchFailure(const QString& message) : std::runtime_error(message.toStdString()) {}
};

} // namespace quillbarrow
