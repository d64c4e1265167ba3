#include "AppEnvironment.h"

#include "logging/AppLogger.h"
#include "transport/LibMTPBackend.h"
#include "transport/MockMTPBackend.h"
#include "transport/USBDeviceProbe.h"
#include "transport/USBProbeMTPBackend.h"

namespace quillbarrow {

namespace {

AppEnvironment libmtpEnvironment(const DynamicLibraryProbe& libraryProbe)
{
    // The path found is not passed on: the backend looks again whenever it needs the library.
    return AppEnvironment(
        std::make_shared<LibMTPBackend>(AppLogger(QStringLiteral("LibMTPBackend")), libraryProbe),
        BackendMode::libmtp);
}

} // namespace

AppEnvironment::AppEnvironment(std::shared_ptr<MTPBackend> backend, BackendMode backendMode)
    : backend(std::move(backend)), backendMode(backendMode)
{
}

QString AppEnvironment::backendVariable()
{
    return QStringLiteral("QUILLBARROW_BACKEND");
}

AppEnvironment AppEnvironment::live(const QProcessEnvironment& environment)
{
    return live(variablesOf(environment), DynamicLibraryProbe());
}

AppEnvironment AppEnvironment::live(const Variables& environment, const DynamicLibraryProbe& libraryProbe)
{
    const auto chosen = environment.constFind(backendVariable());
    const bool set = chosen != environment.constEnd();
    if (set && *chosen == QLatin1StringView("mock")) {
        return AppEnvironment(std::make_shared<MockMTPBackend>(MockMTPBackend::defaultDevices()),
                              BackendMode::mock);
    }
    if (set && *chosen == QLatin1StringView("libmtp")) {
        return libmtpEnvironment(libraryProbe);
    }
    if (libraryProbe.findLibMTP()) {
        return libmtpEnvironment(libraryProbe);
    }
    return AppEnvironment(std::make_shared<USBProbeMTPBackend>(
                              USBDeviceProbe(), AppLogger(QStringLiteral("USBProbeMTPBackend"))),
                          BackendMode::usbProbe);
}

AppEnvironment::Variables AppEnvironment::variablesOf(const QProcessEnvironment& environment)
{
    Variables variables;
    const QStringList names = environment.keys();
    for (const QString& name : names) {
        variables.insert(name, environment.value(name));
    }
    return variables;
}

} // namespace quillbarrow
