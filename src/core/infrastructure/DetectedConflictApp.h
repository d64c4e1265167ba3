#pragma once

#include <QString>

#include <optional>

namespace quillbarrow {

// One running process that may hold the phone: a workspace application, or a process found in
// the process table. Identified by its process id; equality compares every field, texts by
// their canonical (NFC) form.
class DetectedConflictApp {
public:
    DetectedConflictApp(qint32 pid, QString name, std::optional<QString> bundleIdentifier,
                        std::optional<QString> executablePath, bool canRequestQuit, bool canSoftRestartService);

    qint32 id() const { return m_id; }
    const QString& name() const { return m_name; }
    const std::optional<QString>& bundleIdentifier() const { return m_bundleIdentifier; }
    const std::optional<QString>& executablePath() const { return m_executablePath; }
    bool canRequestQuit() const { return m_canRequestQuit; }
    bool canSoftRestartService() const { return m_canSoftRestartService; }

    friend bool operator==(const DetectedConflictApp& a, const DetectedConflictApp& b);

private:
    qint32 m_id;
    QString m_name;
    std::optional<QString> m_bundleIdentifier;
    std::optional<QString> m_executablePath;
    bool m_canRequestQuit;
    bool m_canSoftRestartService;
};

} // namespace quillbarrow
