#pragma once

#include <QCoro/QCoroTask>

namespace quillbarrow {

// Lets a view-model call run on as a task of its own: the window neither waits for it nor reads
// its result. The call reports its own failures (the banner, the strip), so anything escaping it
// is dropped here rather than lost inside an unobserved task.
void startDetached(QCoro::Task<> call);

} // namespace quillbarrow
