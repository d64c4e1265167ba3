#include "ChromeScenes.h"
#include "NavigationScenes.h"

#include "../chrome/ChromeSamples.h"
#include "chrome/ConflictResolutionSheet.h"
#include "chrome/DeleteConfirmation.h"
#include "chrome/DeviceSidebar.h"
#include "chrome/ErrorBannerView.h"
#include "chrome/NewFolderSheet.h"
#include "chrome/OnboardingView.h"
#include "chrome/RenameSheet.h"
#include "chrome/ServiceRestartAlert.h"
#include "chrome/TransferPanel.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace quillbarrow::snapshots {

std::unique_ptr<QWidget> guideWithoutDeviceScene()
{
    auto window = std::make_unique<QWidget>();
    auto* layout = new QHBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    auto* sidebar = new DeviceSidebar(nullptr, nullptr);
    sidebar->setFixedWidth(260);
    layout->addWidget(sidebar);
    layout->addWidget(new OnboardingView, 1);
    window->resize(900, 620);
    return window;
}

std::unique_ptr<QWidget> bannerWithConflictingAppsScene()
{
    auto window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window.get());
    auto* banner = new ErrorBannerView(nullptr);
    banner->setBanner(ErrorBanner(
        QStringLiteral("The phone is in use by another app."),
        QStringLiteral("LIBMTP_Open_Raw_Device_Uncached failed: the USB interface is claimed. Possible conflicting apps "
                       "or services: Image Capture helper, Android File Transfer."),
        {DetectedConflictApp(101, QStringLiteral("Image Capture helper"), std::nullopt, std::nullopt, false, true),
         DetectedConflictApp(102, QStringLiteral("Android File Transfer"), std::nullopt, std::nullopt, true, false),
         DetectedConflictApp(103, QStringLiteral("Image Capture helper"), std::nullopt, std::nullopt, false, true)}));
    layout->addWidget(banner);
    layout->addStretch(1);
    window->resize(980, 150);
    // The keyboard stays with the window, as it stays with a pane above the real banner: shown on its
    // own the banner would give its first button the keyboard, and the ring.
    window->setFocusPolicy(Qt::StrongFocus);
    window->setFocus();
    return window;
}

std::unique_ptr<QWidget> conflictSheetScene()
{
    return std::make_unique<ConflictResolutionSheet>(ConflictRequest(QUuid::createUuid(), std::nullopt,
                                                                     QStringLiteral("IMG_20260301_120000.jpg"),
                                                                     QStringLiteral("Camera")));
}

std::unique_ptr<QWidget> newFolderSheetScene()
{
    auto sheet = std::make_unique<NewFolderSheet>(NewFolderSheet::Side::android);
    sheet->nameField()->setText(QStringLiteral("Holiday photos"));
    return sheet;
}

std::unique_ptr<QWidget> renameSheetScene()
{
    auto sheet = std::make_unique<RenameSheet>();
    sheet->present(QStringLiteral("report-final.pdf"));
    sheet->hide();
    return sheet;
}

std::unique_ptr<QWidget> localDeleteConfirmationScene()
{
    return std::make_unique<DeleteConfirmation>(DeleteConfirmation::Side::local, QStringList{QStringLiteral("notes.txt")});
}

std::unique_ptr<QWidget> androidDeleteConfirmationScene()
{
    return std::make_unique<DeleteConfirmation>(DeleteConfirmation::Side::android,
                                                QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg"),
                                                            QStringLiteral("c.jpg")});
}

std::unique_ptr<QWidget> serviceRestartAlertScene()
{
    return std::make_unique<ServiceRestartAlert>();
}

std::unique_ptr<QWidget> transferPanelInEveryStateScene()
{
    auto panel = std::make_unique<TransferPanel>(nullptr);
    panel->setJobs(testing::jobsInEveryState());
    panel->setPanelHeight(420);
    panel->resize(820, 420);
    return panel;
}

std::unique_ptr<QWidget> newFolderSheetRefusingANameScene()
{
    auto sheet = std::make_unique<NewFolderSheet>(NewFolderSheet::Side::local);
    sheet->nameField()->setText(QStringLiteral("a/b"));
    return sheet;
}

std::unique_ptr<QWidget> transferPanelConfirmationInFullListScene()
{
    QList<TransferJob> jobs;
    for (int index = 1; index <= 24; ++index) {
        jobs.append(testing::sampleJob(QStringLiteral("IMG_%1.jpg").arg(2000 + index), TransferState::completed(),
                                       3'000'000));
    }
    jobs.append(testing::sampleJob(QStringLiteral("holiday-video.mp4"),
                                   TransferState::running(testing::sampleProgress(12'000'000, 40'000'000, 3'870))));
    jobs.append(testing::sampleJob(QStringLiteral("IMG_2041.jpg"), TransferState::awaitingConfirmation(), 3'400'000));
    jobs.append(testing::sampleJob(QStringLiteral("notes.txt"), TransferState::queued(), 1'200));
    for (qsizetype index = 0; index < jobs.size(); ++index) {
        jobs[index].sequence = index;
    }
    auto panel = std::make_unique<TransferPanel>(nullptr);
    panel->setJobs(jobs);
    panel->resize(820, TransferPanel::defaultHeight);
    return panel;
}

std::unique_ptr<QWidget> transferPanelWithOneRowScene()
{
    auto panel = std::make_unique<TransferPanel>(nullptr);
    panel->setJobs({testing::sampleJob(QStringLiteral("holiday-video.mp4"),
                                       TransferState::running(testing::sampleProgress(12'000'000, 40'000'000, 3'870)))});
    panel->setPanelHeight(80);
    panel->resize(820, 80);
    return panel;
}

QList<ChromeScene> chromeScenes()
{
    return {
        {QStringLiteral("guide-without-device"), guideWithoutDeviceScene},
        {QStringLiteral("banner-with-conflicting-apps"), bannerWithConflictingAppsScene},
        {QStringLiteral("conflict-sheet"), conflictSheetScene},
        {QStringLiteral("new-folder-sheet"), newFolderSheetScene},
        {QStringLiteral("new-folder-sheet-refusing-a-name"), newFolderSheetRefusingANameScene},
        {QStringLiteral("rename-sheet"), renameSheetScene},
        {QStringLiteral("local-delete-confirmation"), localDeleteConfirmationScene},
        {QStringLiteral("android-delete-confirmation"), androidDeleteConfirmationScene},
        {QStringLiteral("service-restart-alert"), serviceRestartAlertScene},
        {QStringLiteral("transfer-panel-every-state"), transferPanelInEveryStateScene},
        {QStringLiteral("transfer-panel-confirmation-in-a-full-list"), transferPanelConfirmationInFullListScene},
        {QStringLiteral("transfer-panel-with-one-row"), transferPanelWithOneRowScene},
        {QStringLiteral("android-storage-opening-and-breadcrumb"), androidNavigationScene},
    };
}

} // namespace quillbarrow::snapshots
