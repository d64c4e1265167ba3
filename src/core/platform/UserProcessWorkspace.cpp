#include "UserProcessWorkspace.h"

namespace quillbarrow {

UserProcessWorkspace::UserProcessWorkspace(std::shared_ptr<const ProcessTable> table,
                                           std::shared_ptr<ProcessSignals> signaller)
    : m_table(std::move(table)), m_signaller(std::move(signaller))
{
}

QList<RunningApplication> UserProcessWorkspace::runningApplications() const
{
    const uint user = m_table->currentUserId();
    QList<RunningApplication> applications;
    for (const ProcessEntry& entry : m_table->processes()) {
        if (entry.realUserId != user) {
            continue;
        }
        RunningApplication application;
        application.pid = entry.pid;
        application.executablePath = entry.executablePath;
        applications.append(std::move(application));
    }
    return applications;
}

bool UserProcessWorkspace::terminate(const RunningApplication& application)
{
    return m_signaller->send(application.pid, ProcessSignals::terminate) == 0;
}

} // namespace quillbarrow
