#pragma once

#include "ProcessTable.h"

namespace quillbarrow {

// The process table read from procfs: one folder per process, named by its id, holding the
// link "exe" to the executable and the "status" file with the "Uid:" line. The root is
// injectable so that a prepared folder can stand in for /proc.
class ProcProcessTable final : public ProcessTable {
public:
    explicit ProcProcessTable(QString root = QStringLiteral("/proc"));

    QList<ProcessEntry> processes() const override;
    uint currentUserId() const override;

    // The real user id from the text of a status file; absent when it has no valid "Uid:" line.
    static std::optional<uint> realUserIdFromStatus(const QByteArray& status);

private:
    std::optional<ProcessEntry> readEntry(qint32 pid) const;

    QString m_root;
};

} // namespace quillbarrow
