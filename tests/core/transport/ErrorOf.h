#pragma once

#include "RunTask.h"
#include "domain/QuillbarrowError.h"

#include <optional>

namespace quillbarrow::testing {

// The QuillbarrowError a task ends with; nothing when it succeeds. Other exceptions pass on.
template <typename T>
std::optional<QuillbarrowError> errorOf(QCoro::Task<T> task)
{
    try {
        runTask(std::move(task));
    } catch (const QuillbarrowError& error) {
        return error;
    }
    return std::nullopt;
}

} // namespace quillbarrow::testing
