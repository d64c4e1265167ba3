#include "FakeConflictDetector.h"

#include <QStringList>

namespace quillbarrow::testing {

namespace {

QString pids(const QList<DetectedConflictApp>& apps)
{
    QStringList ids;
    for (const DetectedConflictApp& app : apps) {
        ids.append(QString::number(app.id()));
    }
    return ids.join(u',');
}

} // namespace

FakeConflictDetector::FakeConflictDetector() = default;

FakeConflictDetector::~FakeConflictDetector()
{
    m_script->releaseAll();
}

void FakeConflictDetector::script(const QString& operation, Reply reply, const QString& subject)
{
    m_script->add(operation, std::move(reply), subject);
}

QCoro::Task<QList<DetectedConflictApp>> FakeConflictDetector::runningConflicts()
{
    const QList<DetectedConflictApp> now = running;
    std::function<QList<DetectedConflictApp>()> serve = [now] { return now; };
    return perform(m_script, QStringLiteral("runningConflicts"), QString(), std::move(serve));
}

QCoro::Task<QList<DetectedConflictApp>> FakeConflictDetector::requestQuit(QList<DetectedConflictApp> apps,
                                                                          std::stop_token stop)
{
    Q_UNUSED(stop)
    const QList<DetectedConflictApp> left = remaining;
    std::function<QList<DetectedConflictApp>()> serve = [left] { return left; };
    return perform(m_script, QStringLiteral("requestQuit"), pids(apps), std::move(serve));
}

QCoro::Task<QList<DetectedConflictApp>> FakeConflictDetector::softRestartServices(QList<DetectedConflictApp> apps,
                                                                                  std::stop_token stop)
{
    Q_UNUSED(stop)
    const QList<DetectedConflictApp> left = remaining;
    std::function<QList<DetectedConflictApp>()> serve = [left] { return left; };
    return perform(m_script, QStringLiteral("softRestartServices"), pids(apps), std::move(serve));
}

DetectedConflictApp conflictingApp(qint32 pid, const QString& name)
{
    return DetectedConflictApp(pid, name, std::nullopt, QStringLiteral("/usr/bin/") + name, true, false);
}

} // namespace quillbarrow::testing
