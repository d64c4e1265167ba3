#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace quillbarrow {

// An application running in the user's session, as the workspace lists it.
struct RunningApplication {
    qint32 pid = 0;
    std::optional<QString> localizedName;
    std::optional<QString> bundleIdentifier;
    std::optional<QString> executablePath;

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

// The user's workspace session: its running applications, and the request to quit one.
class Workspace {
public:
    virtual ~Workspace() = default;

    virtual QList<RunningApplication> runningApplications() const = 0;
    // Asks the application to quit; true when the request was delivered.
    virtual bool terminate(const RunningApplication& application) = 0;
};

} // namespace quillbarrow
