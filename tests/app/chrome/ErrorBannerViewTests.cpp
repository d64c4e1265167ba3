#include "ChromeBrowserRig.h"

#include "RunTask.h"
#include "chrome/ErrorBannerView.h"
#include "chrome/ServiceRestartAlert.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

DetectedConflictApp app(const QString& name, bool canQuit, bool canRestart)
{
    return DetectedConflictApp(1, name, std::nullopt, std::nullopt, canQuit, canRestart);
}

bool shown(ErrorBannerView& banner, const char* name)
{
    QWidget* child = banner.findChild<QWidget*>(QString::fromLatin1(name));
    return child && child->isVisibleTo(&banner);
}

QString text(ErrorBannerView& banner, const char* name)
{
    return banner.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

const QString managedNote =
    QStringLiteral("Some detected services are managed by macOS; Quillbarrow will not force quit them.");

} // namespace

TEST(ErrorBannerView, ButtonsAndLinesFollowTheConflictingApps)
{
    const QString helper = QStringLiteral("Image Capture helper");
    const struct {
        const char* what;
        QList<DetectedConflictApp> apps;
        bool detected, note, quit, restart;
    } cases[] = {
        {"no apps", {}, false, false, false, false},
        {"a helper that can only be restarted", {app(helper, false, true)}, true, true, false, true},
        {"all quittable", {app(QStringLiteral("Transfer Tool"), true, false), app(QStringLiteral("Sync"), true, false)},
         true, false, true, false},
    };
    ErrorBannerView banner(nullptr);
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        banner.setBanner(ErrorBanner(QStringLiteral("Could not connect."), QStringLiteral("The phone is busy."), row.apps));
        EXPECT_FALSE(banner.isHidden());
        EXPECT_EQ(text(banner, "bannerMessage"), QStringLiteral("Could not connect."));
        EXPECT_EQ(text(banner, "bannerDetail"), QStringLiteral("The phone is busy."));
        EXPECT_EQ(shown(banner, "bannerDetected"), row.detected);
        EXPECT_EQ(shown(banner, "bannerManagedNote"), row.note);
        EXPECT_EQ(shown(banner, "quitAndRetryButton"), row.quit);
        EXPECT_EQ(shown(banner, "restartServicesButton"), row.restart);
        EXPECT_TRUE(shown(banner, "retryButton"));
        EXPECT_TRUE(shown(banner, "dismissButton"));
    }
    EXPECT_EQ(text(banner, "bannerManagedNote"), managedNote);
    banner.setBanner(std::nullopt);
    EXPECT_TRUE(banner.isHidden());
}

TEST(ErrorBannerView, DuplicateNamesAreListedOnce)
{
    ErrorBannerView banner(nullptr);
    banner.setBanner(ErrorBanner(QStringLiteral("m"), QStringLiteral("d"),
                                 {app(QStringLiteral("X"), true, false), app(QStringLiteral("Y"), false, true),
                                  app(QStringLiteral("X"), true, false)}));
    EXPECT_EQ(text(banner, "bannerDetected"), QStringLiteral("Detected: X, Y"));
    EXPECT_EQ(banner.findChild<QPushButton*>(QStringLiteral("quitAndRetryButton"))->text().replace(
                  QStringLiteral("&&"), QStringLiteral("&")),
              QStringLiteral("Quit & Retry"));
}

TEST(ErrorBannerView, RestartAsksFirstAndOnlyRestartAndRetryGoesOn)
{
    QWidget window;
    window.resize(800, 200);
    auto* banner = new ErrorBannerView(nullptr, &window);
    window.show();
    banner->setBanner(ErrorBanner(QStringLiteral("m"), QStringLiteral("d"), {app(QStringLiteral("helper"), false, true)}));
    QSignalSpy restarts(banner, &ErrorBannerView::restartServicesConfirmed);
    QSignalSpy others(banner, &ErrorBannerView::retryRequested);
    auto* restartButton = banner->findChild<QPushButton*>(QStringLiteral("restartServicesButton"));

    restartButton->click();
    ASSERT_TRUE(banner->restartAlert());
    EXPECT_EQ(banner->restartAlert()->text(), QStringLiteral("Restart Apple Image Capture services?"));
    EXPECT_TRUE(banner->restartAlert()->informativeText().startsWith(QStringLiteral("Quillbarrow will ask launchd")));
    EXPECT_EQ(restarts.count(), 0); // nothing before the answer
    banner->restartAlert()->cancelButton()->click();
    EXPECT_FALSE(banner->restartAlert()->isVisible());
    EXPECT_EQ(restarts.count(), 0);

    restartButton->click();
    ASSERT_TRUE(banner->restartAlert());
    QTest::keyClick(banner->restartAlert(), Qt::Key_Escape);
    EXPECT_FALSE(banner->restartAlert()->isVisible());
    EXPECT_EQ(restarts.count(), 0);

    restartButton->click();
    banner->restartAlert()->restartButton()->click();
    EXPECT_EQ(restarts.count(), 1);
    EXPECT_EQ(others.count(), 0);
}

TEST(ErrorBannerView, DismissClearsTheBrowsersBannerAndStartsNothing)
{
    BrowserRig rig({});
    ErrorBannerView banner(&rig.browser);
    EXPECT_TRUE(banner.isHidden());
    // Choosing a device that is not there fails and shows a banner.
    runTask(rig.browser.selectDevice(sampleDevice(QStringLiteral("gone"), QStringLiteral("Gone"), std::nullopt)));
    ASSERT_TRUE(rig.browser.errorBanner());
    EXPECT_FALSE(banner.isHidden());
    EXPECT_EQ(banner.findChild<QLabel*>(QStringLiteral("bannerMessage"))->text(), rig.browser.errorBanner()->message);

    QSignalSpy phases(&rig.browser, &DeviceBrowserViewModel::connectionPhaseChanged);
    banner.findChild<QPushButton*>(QStringLiteral("dismissButton"))->click();
    EXPECT_FALSE(rig.browser.errorBanner());
    EXPECT_TRUE(banner.isHidden());
    EXPECT_EQ(phases.count(), 0);
}
