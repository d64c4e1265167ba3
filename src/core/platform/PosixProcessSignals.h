#pragma once

#include "ProcessSignals.h"

namespace quillbarrow {

// Signals through POSIX kill. Only single processes are addressed: a process id of 0 or less
// (which kill would take as a whole process group, or as every process the user may signal)
// is refused with -1 and nothing is sent.
class PosixProcessSignals final : public ProcessSignals {
public:
    int send(qint32 pid, int signal) override;
};

} // namespace quillbarrow
