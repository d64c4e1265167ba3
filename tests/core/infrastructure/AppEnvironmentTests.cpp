#include "RunTask.h"
#include "infrastructure/AppEnvironment.h"
#include "infrastructure/BackendMode.h"
#include "transport/LibMTPBackend.h"
#include "transport/MockMTPBackend.h"
#include "transport/USBProbeMTPBackend.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>

using namespace quillbarrow;
using namespace std::chrono_literals;
using quillbarrow::testing::runTask;

namespace {

// A library search over one candidate that counts how often it was asked.
struct CountingLibrarySearch {
    explicit CountingLibrarySearch(bool present) : m_present(present) {}

    DynamicLibraryProbe probe() const
    {
        return DynamicLibraryProbe({QStringLiteral("/usr/lib/libmtp.so.9")},
                                   [present = m_present, asked = m_asked](const QString&) {
                                       ++*asked;
                                       return present;
                                   });
    }
    int asked() const { return m_asked->load(); }

  private:
    bool m_present;
    std::shared_ptr<std::atomic<int>> m_asked = std::make_shared<std::atomic<int>>(0);
};

AppEnvironment::Variables withBackend(const QString& value)
{
    return {{QStringLiteral("HOME"), QStringLiteral("/root")},
            {QStringLiteral("QUILLBARROW_BACKEND"), value}};
}

BackendMode chosenMode(const AppEnvironment::Variables& environment, bool libraryPresent)
{
    const AppEnvironment chosen =
        AppEnvironment::live(environment, CountingLibrarySearch(libraryPresent).probe());
    EXPECT_TRUE(chosen.backend);
    return chosen.backendMode;
}

} // namespace

TEST(BackendMode, HasExactlyThreeTextForms)
{
    EXPECT_EQ(toText(BackendMode::mock), QLatin1StringView("mock"));
    EXPECT_EQ(toText(BackendMode::usbProbe), QLatin1StringView("usbProbe"));
    EXPECT_EQ(toText(BackendMode::libmtp), QLatin1StringView("libmtp"));
    EXPECT_EQ(fromText<BackendMode>(u"usbProbe"), BackendMode::usbProbe);
    EXPECT_EQ(fromText<BackendMode>(u"libmtp"), BackendMode::libmtp);
    EXPECT_EQ(fromText<BackendMode>(u"Mock"), std::nullopt);
    EXPECT_EQ(fromText<BackendMode>(u"usbprobe"), std::nullopt);
    EXPECT_NE(qHash(BackendMode::mock), qHash(BackendMode::libmtp));
}

TEST(AppEnvironment, MockWinsEvenWithTheLibraryPresent)
{
    CountingLibrarySearch search(true);
    const AppEnvironment chosen = AppEnvironment::live(withBackend(QStringLiteral("mock")), search.probe());
    EXPECT_EQ(chosen.backendMode, BackendMode::mock);
    ASSERT_NE(dynamic_cast<MockMTPBackend*>(chosen.backend.get()), nullptr);
    EXPECT_EQ(search.asked(), 0);

    const QList<AndroidDevice> devices = runTask(chosen.backend->currentDevices(), 10s);
    EXPECT_EQ(devices, QList<AndroidDevice>{
                           AndroidDevice(DeviceID(QStringLiteral("mock-pixel-8")), QStringLiteral("Pixel 8"),
                                         QStringLiteral("Google"), QStringLiteral("Pixel 8"),
                                         QStringLiteral("MOCK123456"), DeviceConnectionKind::usb)});
}

TEST(AppEnvironment, OnlyTheExactTextMockChoosesTheMock)
{
    for (const QString& value : {QStringLiteral("Mock"), QStringLiteral("mock "), QStringLiteral(" mock"),
                                 QStringLiteral("MOCK"), QStringLiteral("mock\n")}) {
        EXPECT_EQ(chosenMode(withBackend(value), true), BackendMode::libmtp) << value.toStdString();
        EXPECT_EQ(chosenMode(withBackend(value), false), BackendMode::usbProbe) << value.toStdString();
    }
}

TEST(AppEnvironment, LibmtpIsForcedWithoutLookingForTheLibrary)
{
    CountingLibrarySearch search(false);
    const AppEnvironment chosen = AppEnvironment::live(withBackend(QStringLiteral("libmtp")), search.probe());
    EXPECT_EQ(chosen.backendMode, BackendMode::libmtp);
    ASSERT_NE(dynamic_cast<LibMTPBackend*>(chosen.backend.get()), nullptr);
    EXPECT_EQ(search.asked(), 0);

    // The backend keeps the search and, finding no library, no devices.
    EXPECT_TRUE(runTask(chosen.backend->currentDevices(), 10s).isEmpty());
    EXPECT_EQ(search.asked(), 1);

    EXPECT_EQ(chosenMode(withBackend(QStringLiteral("LIBMTP")), false), BackendMode::usbProbe);
}

TEST(AppEnvironment, OtherwiseTheLibrarySearchDecides)
{
    CountingLibrarySearch absent(false);
    const AppEnvironment fallback = AppEnvironment::live({}, absent.probe());
    EXPECT_EQ(fallback.backendMode, BackendMode::usbProbe);
    EXPECT_NE(dynamic_cast<USBProbeMTPBackend*>(fallback.backend.get()), nullptr);
    EXPECT_EQ(absent.asked(), 1);

    const AppEnvironment found = AppEnvironment::live({}, CountingLibrarySearch(true).probe());
    EXPECT_EQ(found.backendMode, BackendMode::libmtp);
    EXPECT_NE(dynamic_cast<LibMTPBackend*>(found.backend.get()), nullptr);

    // "usbProbe" forces nothing, and neither does an empty value.
    EXPECT_EQ(chosenMode(withBackend(QStringLiteral("usbProbe")), true), BackendMode::libmtp);
    EXPECT_EQ(chosenMode(withBackend(QString()), true), BackendMode::libmtp);
    EXPECT_EQ(chosenMode(withBackend(QString()), false), BackendMode::usbProbe);
}

TEST(AppEnvironment, TheProcessEnvironmentIsReadAsGiven)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("QUILLBARROW_BACKEND"), QStringLiteral("mock"));
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin"));
    EXPECT_EQ(AppEnvironment::variablesOf(environment),
              (AppEnvironment::Variables{{QStringLiteral("QUILLBARROW_BACKEND"), QStringLiteral("mock")},
                                         {QStringLiteral("PATH"), QStringLiteral("/usr/bin")}}));
    EXPECT_EQ(AppEnvironment::live(environment).backendMode, BackendMode::mock);
    // The variable's name is case-sensitive.
    QProcessEnvironment lower;
    lower.insert(QStringLiteral("quillbarrow_backend"), QStringLiteral("mock"));
    EXPECT_NE(AppEnvironment::live(lower).backendMode, BackendMode::mock);
}
