#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"

#include <QSignalSpy>

#include <stdexcept>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

class DeviceBrowserBannerTest : public DeviceBrowserTest {
protected:
    // Lets lookups that answer at once finish.
    static void settle() { processEventsUntil([] { return false; }, 5ms); }
};

} // namespace

TEST_F(DeviceBrowserBannerTest, PathNotFoundShowsTheBannerAndLogsItWithoutALookup)
{
    detector->running = {conflictingApp(10, QStringLiteral("Photos"))};
    const QuillbarrowError error = QuillbarrowError::pathNotFound();
    probe().present(error);
    settle();
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, error.userMessage());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("pathNotFound"));
    EXPECT_TRUE(viewModel().errorBanner()->conflictingApps.isEmpty());
    EXPECT_TRUE(detector->calls().isEmpty());
    EXPECT_EQ(log.errorLines(), QStringList{error.userMessage() + QStringLiteral(" pathNotFound")});
}

TEST_F(DeviceBrowserBannerTest, OnlyTheFourConnectionErrorsLookForConflictingApps)
{
    const QList<std::pair<QuillbarrowError, bool>> rows{
        {QuillbarrowError::usbInterfaceBusy(QStringLiteral("claimed")), true},
        {QuillbarrowError::sessionFailed(QStringLiteral("no session")), true},
        {QuillbarrowError::backendProtocolError(QStringLiteral("bad reply")), true},
        {QuillbarrowError::permissionDenied(), true},
        {QuillbarrowError::transferFailed(QStringLiteral("x")), false},
        {QuillbarrowError::unsupportedOperation(QStringLiteral("x")), false},
        {QuillbarrowError::unknown(QStringLiteral("x")), false},
        {QuillbarrowError::nameConflict(QStringLiteral("a")), false},
        {QuillbarrowError::deviceNotFound(), false},
        {QuillbarrowError::deviceLockedOrUnavailable(), false},
        {QuillbarrowError::pathNotFound(), false},
        {QuillbarrowError::insufficientSpace(), false},
        {QuillbarrowError::transferInterrupted(), false},
        {QuillbarrowError::userCancelled(), false},
    };
    for (const auto& [error, looksUp] : rows) {
        const qsizetype before = detector->calls().size();
        probe().present(error);
        settle();
        EXPECT_EQ(detector->calls().size() - before, looksUp ? 1 : 0)
            << qPrintable(QuillbarrowError::kindName(error.kind()));
    }
}

TEST_F(DeviceBrowserBannerTest, PermissionDeniedNamesEachConflictingAppOnceAndKeepsThemAll)
{
    const QList<DetectedConflictApp> found{conflictingApp(10, QStringLiteral("Photos")),
                                           conflictingApp(11, QStringLiteral("Camera Helper")),
                                           conflictingApp(12, QStringLiteral("Photos"))};
    detector->running = found;
    QSignalSpy banners(&viewModel(), &DeviceBrowserViewModel::errorBannerChanged);
    probe().present(QuillbarrowError::permissionDenied());
    // The report itself returns before the lookup has answered.
    const QUuid first = viewModel().errorBanner()->id;
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("permissionDenied"));
    settle();
    EXPECT_EQ(detector->calls(), QStringList{"runningConflicts"});
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, QuillbarrowError::permissionDenied().userMessage());
    EXPECT_EQ(viewModel().errorBanner()->detail,
              QStringLiteral("permissionDenied Possible conflicting apps or services: Photos, Camera Helper."));
    EXPECT_EQ(viewModel().errorBanner()->conflictingApps, found);
    EXPECT_NE(viewModel().errorBanner()->id, first);
    EXPECT_EQ(banners.count(), 2);
}

TEST_F(DeviceBrowserBannerTest, ABannerDismissedBeforeTheLookupAnswersDoesNotComeBack)
{
    detector->running = {conflictingApp(10, QStringLiteral("Photos"))};
    auto hang = std::make_shared<Hang>();
    detector->script(QStringLiteral("runningConflicts"), Reply::proceed().heldBy(hang));
    probe().present(QuillbarrowError::usbInterfaceBusy(QStringLiteral("claimed")));
    ASSERT_TRUE(processEventsUntil([&] { return hang->isReached(); }, 5s));
    viewModel().clearError();
    QSignalSpy banners(&viewModel(), &DeviceBrowserViewModel::errorBannerChanged);
    hang->release();
    settle();
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(banners.count(), 0);
}

TEST_F(DeviceBrowserBannerTest, TheLookupExtendsTheBannerShownWhenItAnswers)
{
    detector->running = {conflictingApp(10, QStringLiteral("Photos"))};
    auto hang = std::make_shared<Hang>();
    detector->script(QStringLiteral("runningConflicts"), Reply::proceed().heldBy(hang));
    probe().present(QuillbarrowError::sessionFailed(QStringLiteral("open failed")));
    ASSERT_TRUE(processEventsUntil([&] { return hang->isReached(); }, 5s));
    probe().present(QuillbarrowError::pathNotFound());
    hang->release();
    settle();
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, QuillbarrowError::pathNotFound().userMessage());
    EXPECT_EQ(viewModel().errorBanner()->detail,
              QStringLiteral("pathNotFound Possible conflicting apps or services: Photos."));
}

TEST_F(DeviceBrowserBannerTest, ALookupThatFindsNothingLeavesTheBannerAsItWas)
{
    probe().present(QuillbarrowError::usbInterfaceBusy(QStringLiteral("claimed")));
    const ErrorBanner shown = *viewModel().errorBanner();
    settle();
    EXPECT_EQ(detector->calls(), QStringList{"runningConflicts"});
    EXPECT_EQ(viewModel().errorBanner(), std::optional(shown));
    EXPECT_EQ(shown.detail, QStringLiteral("claimed"));
}

TEST_F(DeviceBrowserBannerTest, AForeignErrorShowsAsUnknownWithItsOwnText)
{
    detector->running = {conflictingApp(10, QStringLiteral("Photos"))};
    probe().present(std::make_exception_ptr(std::runtime_error("disk on fire")));
    settle();
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, QuillbarrowError::unknown(QString()).userMessage());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("disk on fire"));
    EXPECT_TRUE(detector->calls().isEmpty());
    EXPECT_EQ(log.errorLines(),
              QStringList{QuillbarrowError::unknown(QString()).userMessage() + QStringLiteral(" disk on fire")});
}

TEST_F(DeviceBrowserBannerTest, TheSameErrorTwiceMakesTwoBanners)
{
    QSignalSpy banners(&viewModel(), &DeviceBrowserViewModel::errorBannerChanged);
    probe().present(QuillbarrowError::pathNotFound());
    const ErrorBanner first = *viewModel().errorBanner();
    probe().present(QuillbarrowError::pathNotFound());
    EXPECT_NE(*viewModel().errorBanner(), first);
    EXPECT_EQ(viewModel().errorBanner()->message, first.message);
    EXPECT_EQ(banners.count(), 2);
    viewModel().clearError();
    viewModel().clearError();
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(banners.count(), 4);
}

TEST_F(DeviceBrowserBannerTest, ALookupOutlivingTheViewModelTouchesNothing)
{
    detector->running = {conflictingApp(10, QStringLiteral("Photos"))};
    auto hang = std::make_shared<Hang>();
    detector->script(QStringLiteral("runningConflicts"), Reply::proceed().heldBy(hang));
    probe().present(QuillbarrowError::permissionDenied());
    ASSERT_TRUE(processEventsUntil([&] { return hang->isReached(); }, 5s));
    destroyViewModel();
    hang->release();
    settle(); // under ASan a write to the destroyed view model fails here
    EXPECT_EQ(detector->calls(), QStringList{"runningConflicts"});
}

TEST(ErrorBanner, DisplayNamesKeepTheFirstOfEachName)
{
    const QList<DetectedConflictApp> apps{conflictingApp(3, QStringLiteral("b")), conflictingApp(1, QStringLiteral("a")),
                                          conflictingApp(2, QStringLiteral("b"))};
    EXPECT_EQ(ErrorBanner::conflictDisplayNames(apps), (QStringList{"b", "a"}));
    const ErrorBanner banner(QStringLiteral("m"), QStringLiteral("d"), apps);
    EXPECT_EQ(banner.conflictDisplayNames(), (QStringList{"b", "a"}));
    EXPECT_EQ(banner.conflictingApps.size(), 3);
    EXPECT_NE(ErrorBanner(QStringLiteral("m"), QStringLiteral("d"), {}).id,
              ErrorBanner(QStringLiteral("m"), QStringLiteral("d"), {}).id);
}
