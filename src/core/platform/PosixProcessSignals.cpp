#include "PosixProcessSignals.h"

#include <signal.h>
#include <sys/types.h>

namespace quillbarrow {

int PosixProcessSignals::send(qint32 pid, int signal)
{
    if (pid <= 0) {
        return -1;
    }
    return ::kill(static_cast<pid_t>(pid), signal) == 0 ? 0 : -1;
}

} // namespace quillbarrow
