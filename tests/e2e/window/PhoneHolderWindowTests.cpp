// The phone held by another program when the window opens: a holder that opened it through
// libmtp, started under the name of the desktop's own phone service. The window's banner names
// the service and offers to quit it; pressing "Quit & Retry" ends the holder and connects.
// It runs in a guest of its own (the holder leaves the device's session open when it is ended).

#include "RunTask.h"
#include "WindowGuestTest.h"
#include "chrome/ErrorBannerView.h"
#include "chrome/ServiceRestartAlert.h"
#include "panes/AndroidPaneView.h"
#include "shell/MainWindow.h"
#include "table/RemoteItemTable.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <iostream>

namespace quillbarrow::e2e {

namespace {

using testing::processEventsUntil;

class PhoneHeldByAService : public WindowGuestTest {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_holderFolder.isValid());
        const QString holder = m_holderFolder.filePath(QStringLiteral("gvfsd-mtp"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(QUILLBARROW_E2E_PHONE_HOLDER), holder));
        m_holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_holder.start(holder, {});
        // libmtp has its say on standard output first.
        QByteArray said;
        ASSERT_TRUE(processEventsUntil([this, &said] {
            said += m_holder.readAllStandardOutput();
            return said.contains("holding\n") || m_holder.state() == QProcess::NotRunning;
        })) << "the holder did not start";
        ASSERT_TRUE(said.contains("holding\n")) << "the holder could not open the device: " << said.toStdString();
        m_windowStarted = true;
        WindowGuestTest::SetUp();
    }
    void TearDown() override
    {
        if (m_windowStarted) {
            WindowGuestTest::TearDown();
        }
        if (m_holder.state() != QProcess::NotRunning) {
            m_holder.kill();
            m_holder.waitForFinished();
        }
    }

    QTemporaryDir m_holderFolder;
    QProcess m_holder;
    bool m_windowStarted = false;
};

TEST_F(PhoneHeldByAService, TheBannerNamesItAndQuitAndRetryEndsItAndListsTheStorageRoot)
{
    ErrorBannerView* banner = window().errorBanner();
    auto* detected = banner->findChild<QLabel*>(QStringLiteral("bannerDetected"));
    auto* quit = banner->findChild<QPushButton*>(QStringLiteral("quitAndRetryButton"));
    ASSERT_TRUE(processEventsUntil([&] { return banner->isVisible() && detected->isVisible(); }, connectWatchdog))
        << "no banner named what holds the phone";
    std::cout << "the banner's detail: " << banner->findChild<QLabel*>(QStringLiteral("bannerDetail"))->text().toStdString()
              << std::endl;
    // The refused open is known for what it is: the phone's interface claimed by another program.
    EXPECT_EQ(banner->findChild<QLabel*>(QStringLiteral("bannerMessage"))->text(),
              QStringLiteral("Another app or macOS service is already using this phone."));
    EXPECT_EQ(detected->text(), QStringLiteral("Detected: GNOME phone access"));
    ASSERT_TRUE(quit->isVisible());
    EXPECT_EQ(quit->text().replace(QStringLiteral("&&"), QStringLiteral("&")), QStringLiteral("Quit & Retry"));
    EXPECT_EQ(m_holder.state(), QProcess::Running);

    QTest::mouseClick(quit, Qt::LeftButton);

    ASSERT_TRUE(processEventsUntil([this] { return m_holder.state() == QProcess::NotRunning; }, connectWatchdog));
    EXPECT_EQ(m_holder.exitStatus(), QProcess::CrashExit); // ended by the quit's signal
    ASSERT_NE(awaitConnectedDeviceRow(), nullptr);
    EXPECT_TRUE(awaitRow(androidPane().table(), servedFolderName()));
    EXPECT_FALSE(banner->isVisible());
}

} // namespace

} // namespace quillbarrow::e2e
