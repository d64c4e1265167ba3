#pragma once

#include "ProcessLauncher.h"

namespace quillbarrow {

// Launches tools with QProcess, waiting on the calling thread (no event loop needed).
class QProcessLauncher final : public ProcessLauncher {
public:
    LaunchResult run(const QString& program, const QStringList& arguments) override;
};

} // namespace quillbarrow
