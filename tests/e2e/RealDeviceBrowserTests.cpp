#include "E2EResponder.h"
#include "QtPrinting.h"
#include "RunTask.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "infrastructure/RunningAppConflictDetector.h"
#include "viewmodels/TransferQueue.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>

// The device browser against the attached device, as the application runs it: it finds the
// device by itself, connects, lists the root, opens a folder, sees the device unplugged and,
// plugged in again, comes back to that folder.

namespace quillbarrow::e2e {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds connectWatchdog{90s};

class RealDeviceBrowser : public ::testing::Test {
protected:
    RealDeviceBrowser()
        : m_responder(E2EResponder::current()),
          m_browser(m_responder.makeBackend(), AppLogger(QStringLiteral("DeviceBrowserViewModel")),
                    std::make_shared<RunningAppConflictDetector>(),
                    std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue"))),
                    std::make_shared<InMemoryUserDefaults>())
    {
    }

    void TearDown() override
    {
        // Whatever happened, the next test finds the device plugged in.
        if (m_unplugged) {
            m_responder.sendRequest(QStringLiteral("plug"));
            QString answer;
            m_responder.awaitAnswer(QStringLiteral("plug"), 30s, &answer);
        }
    }

    bool connected()
    {
        return testing::processEventsUntil(
            [this] {
                return m_browser.connectionPhase() == DeviceConnectionPhase::connected && !m_browser.isLoading();
            },
            connectWatchdog);
    }

    void request(const QString& action)
    {
        m_responder.sendRequest(action);
        QString answer;
        ASSERT_TRUE(m_responder.awaitAnswer(action, 30s, &answer)) << answer.toStdString();
    }

    std::optional<RemoteItem> shownItem(const QString& name) const
    {
        for (const RemoteItem& item : m_browser.items()) {
            if (item.name == name) {
                return item;
            }
        }
        return std::nullopt;
    }

    const E2EResponder& m_responder;
    DeviceBrowserViewModel m_browser;
    bool m_unplugged = false;
};

TEST_F(RealDeviceBrowser, ConnectsOpensAFolderAndComesBackToItAfterTheDeviceWasUnplugged)
{
    m_browser.start();
    ASSERT_TRUE(connected()) << m_browser.connectionStatusMessage().toStdString();
    ASSERT_TRUE(m_browser.selectedDevice());
    std::cout << "connected to " << m_browser.selectedDevice()->displayName.toStdString() << " ("
              << DeviceBrowserViewModel::devicePreferenceKey(*m_browser.selectedDevice()).toStdString() << ")"
              << std::endl;
    EXPECT_FALSE(m_browser.errorBanner());
    ASSERT_TRUE(m_browser.currentPage());
    EXPECT_TRUE(m_browser.currentPage()->path.isRoot());
    EXPECT_EQ(m_browser.breadcrumb().size(), 1);
    const std::optional<RemoteItem> seed = shownItem(E2EResponder::seedFolderName());
    ASSERT_TRUE(seed) << "the root does not list " << E2EResponder::seedFolderName().toStdString();

    // Opening the seed folder from the favourites menu makes it the last folder.
    const RemotePath seedPath = m_browser.currentPage()->path.appending(seed->name);
    testing::runTask(m_browser.openFavorite(
                         RemoteFavoriteLocation(QStringLiteral("user:seed"), seed->name, seedPath, QStringLiteral("star"),
                                                true, false)),
                     connectWatchdog);
    EXPECT_FALSE(m_browser.errorBanner());
    ASSERT_TRUE(m_browser.currentPage());
    EXPECT_EQ(m_browser.currentPage()->path, seedPath);
    EXPECT_EQ(m_browser.breadcrumb().size(), 2);
    EXPECT_FALSE(m_browser.items().isEmpty());

    m_unplugged = true;
    ASSERT_NO_FATAL_FAILURE(request(QStringLiteral("unplug")));
    ASSERT_TRUE(testing::processEventsUntil([this] { return !m_browser.selectedDevice(); }, 30s))
        << "the browser did not notice the device leaving";
    ASSERT_TRUE(m_browser.errorBanner());
    EXPECT_EQ(m_browser.errorBanner()->message, QuillbarrowError::transferInterrupted().userMessage());
    EXPECT_EQ(m_browser.connectionPhase(), DeviceConnectionPhase::idle);
    EXPECT_FALSE(m_browser.currentPage());
    EXPECT_TRUE(m_browser.items().isEmpty());
    EXPECT_TRUE(m_browser.storages().isEmpty());
    EXPECT_EQ(m_browser.currentSession(), nullptr);

    ASSERT_NO_FATAL_FAILURE(request(QStringLiteral("plug")));
    m_unplugged = false;
    ASSERT_TRUE(connected()) << m_browser.connectionStatusMessage().toStdString();
    EXPECT_FALSE(m_browser.errorBanner());
    ASSERT_TRUE(m_browser.currentPage());
    EXPECT_EQ(m_browser.currentPage()->path.components, seedPath.components);
    EXPECT_EQ(m_browser.breadcrumb().size(), 2);
    EXPECT_FALSE(m_browser.items().isEmpty());
}

} // namespace

} // namespace quillbarrow::e2e
