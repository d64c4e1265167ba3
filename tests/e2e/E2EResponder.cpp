#include "E2EResponder.h"

#include "QemuUploadSizes.h"

#include "LocalTree.h"
#include "ResponderSession.h"
#include "RunTask.h"
#include "logging/AppLogger.h"
#include "transport/DynamicLibraryProbe.h"
#include "transport/LibMTPBackend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

namespace quillbarrow::e2e {

namespace {

QString requiredVariable(const char* name)
{
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty()) {
        throw std::runtime_error(std::string(name) +
                                 " is not set: run me through scripts/e2e/run-in-guest.sh");
    }
    return value;
}

} // namespace

E2EResponder::E2EResponder(Kind kind, QString share, QString requests)
    : m_kind(kind), m_share(std::move(share)), m_requests(std::move(requests))
{
}

const E2EResponder& E2EResponder::current()
{
    static const E2EResponder responder = [] {
        const QString kind = requiredVariable("QUILLBARROW_E2E_RESPONDER");
        if (kind != QLatin1StringView("qemu") && kind != QLatin1StringView("umtp")) {
            throw std::runtime_error("unknown responder " + kind.toStdString());
        }
        return E2EResponder(kind == QLatin1StringView("qemu") ? Kind::qemu : Kind::umtp,
                            requiredVariable("QUILLBARROW_E2E_SHARE"),
                            requiredVariable("QUILLBARROW_E2E_REQUESTS"));
    }();
    return responder;
}

QString E2EResponder::name() const
{
    return m_kind == Kind::qemu ? QStringLiteral("QEMU usb-mtp") : QStringLiteral("uMTP-Responder");
}

bool E2EResponder::acceptsUploadOf(qint64 size) const
{
    return m_kind != Kind::qemu || qemuTakesUploadOf(size);
}

QString E2EResponder::writableFolderName()
{
    return QStringLiteral("quillbarrow-e2e");
}

QString E2EResponder::seedFolderName()
{
    return QStringLiteral("quillbarrow-e2e-seed");
}

void E2EResponder::prepareServedFolder() const
{
    for (const QString& name : {writableFolderName(), seedFolderName()}) {
        const QString path = m_share + QLatin1Char('/') + name;
        if (!QDir().mkpath(path)) {
            throw std::runtime_error("cannot create " + path.toStdString());
        }
    }
    LocalTree::writeBigFile(m_share + QLatin1Char('/') + seedFolderName() + QLatin1Char('/') +
                            LocalTree::bigFileName());
}

std::shared_ptr<MTPBackend> E2EResponder::makeBackend() const
{
    return std::make_shared<LibMTPBackend>(AppLogger(QStringLiteral("LibMTPBackend")), DynamicLibraryProbe());
}

QCoro::Task<std::shared_ptr<DeviceSession>>
E2EResponder::openSession(std::shared_ptr<MTPBackend> backend, DeviceID deviceID,
                          std::optional<RemoteObjectID> writableAlias) const
{
    std::shared_ptr<DeviceSession> session = co_await backend->openSession(deviceID);
    ResponderSession::Settings settings;
    settings.listParentsFirst = needsListedParents();
    settings.emptyFoldersBeforeDelete = !deletesFoldersRecursively();
    settings.writableAlias = std::move(writableAlias);
    settings.writableName = writableFolderName();
    co_return std::make_shared<ResponderSession>(std::move(session), std::move(settings));
}

void E2EResponder::sendRequest(const QString& action) const
{
    QFile::remove(m_requests + QLatin1Char('/') + action + QStringLiteral(".done"));
    QFile request(m_requests + QLatin1Char('/') + action);
    if (!request.open(QIODevice::WriteOnly)) {
        throw std::runtime_error("cannot write the request " + request.fileName().toStdString() + ": " +
                                 request.errorString().toStdString());
    }
}

bool E2EResponder::answered(const QString& action) const
{
    return QFileInfo::exists(m_requests + QLatin1Char('/') + action + QStringLiteral(".done"));
}

bool E2EResponder::awaitAnswer(const QString& action, std::chrono::milliseconds watchdog,
                               QString* answer) const
{
    const QString done = m_requests + QLatin1Char('/') + action + QStringLiteral(".done");
    if (!testing::processEventsUntil([&done] { return QFileInfo::exists(done); }, watchdog)) {
        *answer = QStringLiteral("no answer to the ") + action + QStringLiteral(" request");
        return false;
    }
    QFile file(done);
    if (!file.open(QIODevice::ReadOnly)) {
        *answer = QStringLiteral("cannot read ") + done;
        return false;
    }
    *answer = QString::fromUtf8(file.readLine()).trimmed();
    file.close();
    QFile::remove(done);
    return *answer == QLatin1StringView("ok");
}

} // namespace quillbarrow::e2e
