#pragma once

#include <QtGlobal>

namespace quillbarrow {

// Sends signals to processes by id, as POSIX kill does: 15 asks a process to end, 9 ends it,
// and 0 only tests whether the process is there.
class ProcessSignals {
public:
    static constexpr int aliveTest = 0;
    static constexpr int terminate = 15;
    static constexpr int forceKill = 9;

    virtual ~ProcessSignals() = default;

    // 0 when the signal was delivered (for the test signal: the process is alive), -1 otherwise.
    virtual int send(qint32 pid, int signal) = 0;

    bool isAlive(qint32 pid) { return send(pid, aliveTest) == 0; }
};

} // namespace quillbarrow
