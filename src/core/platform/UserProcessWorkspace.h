#pragma once

#include "ProcessSignals.h"
#include "ProcessTable.h"
#include "Workspace.h"

#include <memory>

namespace quillbarrow {

// The workspace of a Linux desktop session: every process of the current user is a running
// application, with its executable but without a name of its own (a process has none to give)
// and without a bundle identifier. A terminate request is SIGTERM.
class UserProcessWorkspace final : public Workspace {
public:
    UserProcessWorkspace(std::shared_ptr<const ProcessTable> table, std::shared_ptr<ProcessSignals> signaller);

    QList<RunningApplication> runningApplications() const override;
    bool terminate(const RunningApplication& application) override;

private:
    std::shared_ptr<const ProcessTable> m_table;
    std::shared_ptr<ProcessSignals> m_signaller;
};

} // namespace quillbarrow
