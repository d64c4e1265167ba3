#include "DetectedConflictApp.h"

namespace quillbarrow {

namespace {

bool sameText(const QString& a, const QString& b)
{
    return a == b || a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

bool sameText(const std::optional<QString>& a, const std::optional<QString>& b)
{
    if (a.has_value() != b.has_value()) {
        return false;
    }
    return !a.has_value() || sameText(*a, *b);
}

} // namespace

DetectedConflictApp::DetectedConflictApp(qint32 pid, QString name, std::optional<QString> bundleIdentifier,
                                         std::optional<QString> executablePath, bool canRequestQuit,
                                         bool canSoftRestartService)
    : m_id(pid),
      m_name(std::move(name)),
      m_bundleIdentifier(std::move(bundleIdentifier)),
      m_executablePath(std::move(executablePath)),
      m_canRequestQuit(canRequestQuit),
      m_canSoftRestartService(canSoftRestartService)
{
}

bool operator==(const DetectedConflictApp& a, const DetectedConflictApp& b)
{
    return a.m_id == b.m_id && sameText(a.m_name, b.m_name) && sameText(a.m_bundleIdentifier, b.m_bundleIdentifier)
        && sameText(a.m_executablePath, b.m_executablePath) && a.m_canRequestQuit == b.m_canRequestQuit
        && a.m_canSoftRestartService == b.m_canSoftRestartService;
}

} // namespace quillbarrow
