#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace quillbarrow {

// One row of the process table.
struct ProcessEntry {
    qint32 pid = 0;
    // Absent when the executable cannot be read (another user's process, a kernel thread).
    std::optional<QString> executablePath;
    // The real user id of the process.
    uint realUserId = 0;

    friend bool operator==(const ProcessEntry&, const ProcessEntry&) = default;
};

// The host's process table and the identity of the user running this program.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;

    // Every process that can be seen now, by ascending process id.
    virtual QList<ProcessEntry> processes() const = 0;
    // The real user id of this program (getuid).
    virtual uint currentUserId() const = 0;
};

} // namespace quillbarrow
