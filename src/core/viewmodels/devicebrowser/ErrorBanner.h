#pragma once

#include "infrastructure/DetectedConflictApp.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

namespace quillbarrow {

// The device side's error banner: one line for the user, a technical line, and the applications
// and services found that may hold the phone. Every banner made gets a fresh id, so showing the
// same texts again still counts as a new banner.
struct ErrorBanner {
    ErrorBanner(QString message, QString detail, QList<DetectedConflictApp> conflictingApps);

    // Said instead of reconnecting while the transfer queue holds an unfinished job.
    static ErrorBanner transfersStillActive();

    // The names of the given processes in list order, each name once (the first kept).
    static QStringList conflictDisplayNames(const QList<DetectedConflictApp>& apps);
    QStringList conflictDisplayNames() const;

    QUuid id;
    QString message;
    QString detail;
    QList<DetectedConflictApp> conflictingApps;
};

bool operator==(const ErrorBanner& a, const ErrorBanner& b);

} // namespace quillbarrow
