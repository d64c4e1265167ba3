#include "ErrorBanner.h"

namespace quillbarrow {

ErrorBanner::ErrorBanner(QString message, QString detail, QList<DetectedConflictApp> conflictingApps)
    : id(QUuid::createUuid()), message(std::move(message)), detail(std::move(detail)),
      conflictingApps(std::move(conflictingApps))
{
}

ErrorBanner ErrorBanner::transfersStillActive()
{
    return ErrorBanner(QStringLiteral("Transfers are still active."),
                       QStringLiteral("Cancel the active or waiting transfers before reconnecting to the phone."), {});
}

QStringList ErrorBanner::conflictDisplayNames(const QList<DetectedConflictApp>& apps)
{
    QStringList names;
    for (const DetectedConflictApp& app : apps) {
        if (!names.contains(app.name())) {
            names.append(app.name());
        }
    }
    return names;
}

QStringList ErrorBanner::conflictDisplayNames() const
{
    return conflictDisplayNames(conflictingApps);
}

bool operator==(const ErrorBanner& a, const ErrorBanner& b)
{
    return a.id == b.id && a.message == b.message && a.detail == b.detail && a.conflictingApps == b.conflictingApps;
}

} // namespace quillbarrow
