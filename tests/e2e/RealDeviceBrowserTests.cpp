#include "E2EResponder.h"
#include "QtPrinting.h"
#include "RunTask.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "infrastructure/RunningAppConflictDetector.h"
#include "viewmodels/transfers/TransferQueue.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>

// The device browser against the attached device, as the application runs it: it finds the
// device by itself, connects, lists the root, opens a folder, sees the device unplugged and,
// plugged in again, comes back to that folder; and it creates, renames, measures and deletes
// folders, each checked against the served folder on the host.

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

    // Lists the folder shown again until `shown` holds: QEMU's device learns of what it created
    // from inotify, a little after it answered.
    bool refreshUntil(const std::function<bool()>& shown)
    {
        for (int attempt = 0; attempt < 100 && !shown(); ++attempt) {
            testing::processEventsUntil([] { return false; }, 50ms);
            testing::runTask(m_browser.refresh(), connectWatchdog);
        }
        return shown();
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

TEST_F(RealDeviceBrowser, CreatesRenamesMeasuresAndDeletesFoldersAsTheServedFolderShows)
{
    m_browser.start();
    ASSERT_TRUE(connected()) << m_browser.connectionStatusMessage().toStdString();
    const std::optional<RemoteItem> writable = shownItem(E2EResponder::writableFolderName());
    const std::optional<RemoteItem> seed = shownItem(E2EResponder::seedFolderName());
    ASSERT_TRUE(writable && seed);

    // The size of a folder is what the served folder holds: its files' bytes and its entries.
    testing::runTask(m_browser.calculateFolderSizes({*seed}), connectWatchdog);
    // The automatic pass after connecting may have been measuring it already.
    ASSERT_TRUE(testing::processEventsUntil([&] { return shownItem(seed->name)->size.has_value(); }, connectWatchdog));
    EXPECT_FALSE(m_browser.errorBanner());
    qint64 bytesOnDisk = 0;
    qint64 entriesOnDisk = 0;
    QDirIterator walk(m_responder.share() + QLatin1Char('/') + seed->name,
                      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        walk.next();
        ++entriesOnDisk;
        bytesOnDisk += walk.fileInfo().isDir() ? 0 : walk.fileInfo().size();
    }
    ASSERT_GT(bytesOnDisk, 0);
    EXPECT_EQ(shownItem(seed->name)->size, std::optional<qint64>(bytesOnDisk));
    const SelectionSizeSummary summary = m_browser.selectionSummary({seed->id}, std::nullopt);
    EXPECT_EQ(summary.knownBytes, bytesOnDisk);
    EXPECT_EQ(summary.itemCount, entriesOnDisk);
    EXPECT_EQ(summary.unknownFolderCount, 0);

    testing::runTask(m_browser.openFolder(*writable), connectWatchdog);
    ASSERT_FALSE(m_browser.errorBanner());
    const QString servedWritable = m_responder.share() + QLatin1Char('/') + writable->name;
    const QString name = QStringLiteral("browser-") + QString::number(QDateTime::currentMSecsSinceEpoch());

    // A name that would reach another folder never gets to the device.
    testing::runTask(m_browser.createFolder(QStringLiteral("../") + name), connectWatchdog);
    ASSERT_TRUE(m_browser.errorBanner());
    EXPECT_FALSE(QFileInfo::exists(m_responder.share() + QLatin1Char('/') + name));

    testing::runTask(m_browser.createFolder(name), connectWatchdog);
    EXPECT_FALSE(m_browser.errorBanner()) << m_browser.errorBanner()->detail.toStdString();
    ASSERT_TRUE(refreshUntil([&] { return shownItem(name).has_value(); })) << "the new folder is not listed";
    EXPECT_TRUE(QFileInfo(servedWritable + QLatin1Char('/') + name).isDir());
    RemoteItem created = *shownItem(name);

    if (m_responder.supportsRename()) {
        const QString renamed = name + QStringLiteral(" renamed");
        testing::runTask(m_browser.renameItem(created, renamed), connectWatchdog);
        EXPECT_FALSE(m_browser.errorBanner());
        ASSERT_TRUE(refreshUntil([&] { return shownItem(renamed).has_value(); })) << "the renamed folder is not listed";
        EXPECT_TRUE(QFileInfo(servedWritable + QLatin1Char('/') + renamed).isDir());
        EXPECT_FALSE(QFileInfo::exists(servedWritable + QLatin1Char('/') + name));
        created = *shownItem(renamed);
    }

    testing::runTask(m_browser.deleteItems({created}), connectWatchdog);
    EXPECT_FALSE(m_browser.errorBanner());
    EXPECT_FALSE(shownItem(created.name));
    EXPECT_TRUE(testing::processEventsUntil(
        [&] { return !QFileInfo::exists(servedWritable + QLatin1Char('/') + created.name); }, 10s));
    EXPECT_FALSE(m_browser.isLoading());
    EXPECT_FALSE(m_browser.isWaitingForTransfer());
}

} // namespace

} // namespace quillbarrow::e2e
