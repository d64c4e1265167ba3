// quillbarrow-devices: chooses the device backend as the application does at start-up, prints
// which one it chose and the devices it sees now, one per line (identifier, display name,
// manufacturer, model, serial number, tab-separated; "-" for an absent field).
//
// With "--expect MODE" (mock, usbProbe or libmtp) a different choice is an error, which lets the
// test suite run the check with a forced backend.
//
// Exit status: 0 when the devices were listed, 1 when the listing did not end in time, 2 for a
// wrong command line, 3 when the backend chosen is not the one expected.

#include "infrastructure/AppEnvironment.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QMetaObject>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <optional>

using namespace quillbarrow;

namespace {

// A detection blocks for at most a few seconds, even with a phone that does not answer.
constexpr std::chrono::seconds listingLimit{60};

void print(const QString& line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
}

QString field(const std::optional<QString>& value)
{
    return value.value_or(QStringLiteral("-"));
}

QCoro::Task<> listDevices(std::shared_ptr<MTPBackend> backend)
{
    QCoro::Task<QList<AndroidDevice>> listing = backend->currentDevices();
    const QList<AndroidDevice> devices = co_await listing;
    print(QStringLiteral("devices: ") + QString::number(devices.size()));
    for (const AndroidDevice& device : devices) {
        print(device.id.rawValue() + QLatin1Char('\t') + device.displayName + QLatin1Char('\t') +
              field(device.manufacturer) + QLatin1Char('\t') + field(device.model) + QLatin1Char('\t') +
              field(device.serialNumber));
    }
    std::fflush(stdout);
    // Queued, so that a listing that ended before the event loop started still ends it.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    std::optional<BackendMode> expected;
    if (arguments.size() == 2 && arguments[0] == QLatin1StringView("--expect")) {
        expected = fromText<BackendMode>(arguments[1]);
    }
    if (!arguments.isEmpty() && !expected) {
        std::fputs("usage: quillbarrow-devices [--expect mock|usbProbe|libmtp]\n"
                   "Lists the phones that the device backend chosen by QUILLBARROW_BACKEND sees.\n",
                   stderr);
        return 2;
    }

    const AppEnvironment environment = AppEnvironment::live();
    const QString chosen = toText(environment.backendMode);
    print(QStringLiteral("backend: ") + chosen);
    std::fflush(stdout);
    if (expected && *expected != environment.backendMode) {
        std::fputs(qPrintable(QStringLiteral("quillbarrow-devices: chose the ") + chosen +
                              QStringLiteral(" backend, expected ") + toText(*expected) + QLatin1Char('\n')),
                   stderr);
        return 3;
    }

    QTimer::singleShot(listingLimit, &application, [] {
        std::fputs("quillbarrow-devices: the device listing did not end in time\n", stderr);
        QCoreApplication::exit(1);
    });
    QCoro::Task<> listing = listDevices(environment.backend);
    Q_UNUSED(listing)
    return application.exec();
}
