// The chrome inside the real main window: the sidebar, the device error banner, the transfer
// panel and the window's sheets, over the mock backend and the shared view models.

#include "RunTask.h"
#include "ShellTestSupport.h"
#include "chrome/ChromeBrowserRig.h"

#include "chrome/ConflictResolutionSheet.h"
#include "chrome/ConflictSheetPresenter.h"
#include "chrome/DeleteConfirmation.h"
#include "chrome/DeviceSidebar.h"
#include "chrome/ErrorBannerView.h"
#include "chrome/NewFolderSheet.h"
#include "chrome/RenameSheet.h"
#include "chrome/ServiceRestartAlert.h"
#include "chrome/TransferJobListModel.h"
#include "chrome/TransferPanel.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "shell/MainWindow.h"
#include "shell/PaneArea.h"
#include "shell/WindowSheets.h"
#include "window/WindowState.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

const AndroidDevice pixel = sampleDevice(QStringLiteral("pixel"), QStringLiteral("Pixel 8"), QStringLiteral("Google"));
const AndroidDevice tablet = sampleDevice(QStringLiteral("tab"), QStringLiteral("Tab S9"), std::nullopt);

// A real main window over the device browser rig, a local browser in a temporary folder and the
// rig's coordinator (whose job and question plumbing the tests can reach).
struct WindowRig : BrowserRig {
    explicit WindowRig(QList<AndroidDevice> devices)
        : BrowserRig(std::move(devices)),
          local(QUrl::fromLocalFile(folder.path()), AppLogger(QStringLiteral("LocalBrowserViewModel")),
                std::make_shared<InMemoryUserDefaults>()),
          window(new MainWindow(browser, local, coordinator))
    {
        window->show();
    }
    ~WindowRig() { delete window.data(); }

    bool isConnectedTo(const AndroidDevice& device) const
    {
        return browser.selectedDevice() && browser.selectedDevice()->id == device.id && browser.currentSession();
    }

    QTemporaryDir folder;
    LocalBrowserViewModel local;
    QPointer<MainWindow> window;
};

void clickRow(DeviceSidebar* sidebar, int row)
{
    QListWidget* list = sidebar->deviceList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

int highlightedRow(DeviceSidebar* sidebar)
{
    const QList<QListWidgetItem*> selected = sidebar->deviceList()->selectedItems();
    return selected.size() == 1 ? sidebar->deviceList()->row(selected.first()) : -1;
}

QCoro::Task<> ask(OpenTransferCoordinator& coordinator, std::shared_ptr<std::optional<ConflictResolution>> answer,
                  std::shared_ptr<int> answers)
{
    *answer = co_await coordinator.requestResolution(std::nullopt, QStringLiteral("IMG_1.jpg"), QStringLiteral("DCIM"));
    ++*answers;
}

std::optional<LocalItem> localItemNamed(const LocalBrowserViewModel& local, const QString& name)
{
    for (const LocalItem& item : local.items()) {
        if (item.name == name) {
            return item;
        }
    }
    return std::nullopt;
}

bool deviceListsName(const DeviceBrowserViewModel& browser, const QString& name)
{
    const QList<RemoteItem>& items = browser.items();
    return std::any_of(items.cbegin(), items.cend(), [&](const RemoteItem& item) { return item.name == name; });
}

} // namespace

TEST(WindowChrome, TheOnlyDeviceIsListedAndHighlightedOnceConnected)
{
    WindowRig rig({pixel});
    ASSERT_TRUE(waitUntilShown(rig.window));
    DeviceSidebar* sidebar = rig.window->sidebar();
    ASSERT_NE(sidebar, nullptr);
    EXPECT_FALSE(rig.window->findChild<QWidget*>(QStringLiteral("sidebar"))->inherits("quillbarrow::PanePlaceholder"));
    ASSERT_TRUE(processEventsUntil([&] { return rig.isConnectedTo(pixel); }));
    const std::shared_ptr<DeviceSession> session = rig.browser.currentSession();
    ASSERT_EQ(sidebar->deviceList()->count(), 1);
    EXPECT_EQ(highlightedRow(sidebar), 0);
    QTest::qWait(5);
    EXPECT_EQ(rig.browser.currentSession(), session); // the highlight started no second connection
    // The sidebar sits left of the detail column, the banner above the panes when shown.
    EXPECT_LT(sidebar->mapTo(rig.window.data(), QPoint(sidebar->width(), 0)).x(),
              rig.window->paneArea()->mapTo(rig.window.data(), QPoint(0, 0)).x() + 2);
}

TEST(WindowChrome, AChoiceWhileAJobRunsShowsTheBannerAndKeepsTheSession)
{
    WindowRig rig({pixel, tablet});
    ASSERT_TRUE(waitUntilShown(rig.window));
    DeviceSidebar* sidebar = rig.window->sidebar();
    ASSERT_TRUE(processEventsUntil([&] { return rig.browser.devices().size() == 2; }));
    clickRow(sidebar, 0);
    ASSERT_TRUE(processEventsUntil([&] { return rig.isConnectedTo(pixel); }));
    const std::shared_ptr<DeviceSession> session = rig.browser.currentSession();
    ErrorBannerView* banner = rig.window->errorBanner();
    EXPECT_FALSE(banner->isVisible());

    rig.enqueue(QStringLiteral("big.iso"));
    clickRow(sidebar, 1);
    ASSERT_TRUE(rig.browser.errorBanner());
    EXPECT_EQ(rig.browser.errorBanner()->message, ErrorBanner::transfersStillActive().message);
    EXPECT_TRUE(banner->isVisible());
    const QList<QLabel*> labels = banner->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.cbegin(), labels.cend(), [](const QLabel* label) {
        return label->text() == QStringLiteral("Transfers are still active.");
    }));
    EXPECT_LT(banner->mapTo(rig.window.data(), QPoint(0, banner->height())).y(),
              rig.window->paneArea()->mapTo(rig.window.data(), QPoint(0, 0)).y() + 1);
    // Once laid out, the banner is as tall as its wrapped lines need: hiding the conflict rows
    // and buttons must not leave their height behind as an empty band.
    EXPECT_TRUE(processEventsUntil([&] { return banner->height() == banner->heightForWidth(banner->width()); }))
        << banner->height() << " tall, needs " << banner->heightForWidth(banner->width());
    QTest::qWait(5);
    EXPECT_EQ(rig.browser.currentSession(), session);
    EXPECT_TRUE(rig.isConnectedTo(pixel));
    EXPECT_EQ(highlightedRow(sidebar), 0);
}

TEST(WindowChrome, TheBannersButtonsReachTheDeviceBrowser)
{
    WindowRig rig({pixel});
    ASSERT_TRUE(waitUntilShown(rig.window));
    ASSERT_TRUE(processEventsUntil([&] { return rig.isConnectedTo(pixel); }));
    ErrorBannerView* banner = rig.window->errorBanner();

    // Retry under a running job is refused in the banner by the browser itself.
    const TransferID job = rig.enqueue(QStringLiteral("big.iso"));
    rig.browser.showTransfersStillActive();
    const QUuid first = rig.browser.errorBanner()->id;
    banner->findChild<QPushButton*>(QStringLiteral("retryButton"))->click();
    ASSERT_TRUE(processEventsUntil([&] { return rig.browser.errorBanner() && rig.browser.errorBanner()->id != first; }));

    // Once the queue is idle, Retry reconnects: a new session, the banner gone.
    rig.coordinator.cancelTransfer(job);
    const std::shared_ptr<DeviceSession> session = rig.browser.currentSession();
    banner->findChild<QPushButton*>(QStringLiteral("retryButton"))->click();
    ASSERT_TRUE(processEventsUntil([&] { return rig.browser.currentSession() && rig.browser.currentSession() != session; }));
    EXPECT_FALSE(rig.browser.errorBanner());
    EXPECT_FALSE(banner->isVisible());

    rig.browser.showTransfersStillActive();
    EXPECT_TRUE(banner->isVisible());
    banner->findChild<QPushButton*>(QStringLiteral("dismissButton"))->click();
    EXPECT_FALSE(rig.browser.errorBanner());
    EXPECT_FALSE(banner->isVisible());
}

TEST(WindowChrome, AQueuedTransferAppearsInThePanelWhichFollowsTheWindowsHeight)
{
    WindowRig rig({});
    ASSERT_TRUE(waitUntilShown(rig.window));
    TransferPanel* panel = rig.window->transferPanel();
    EXPECT_EQ(panel->height(), 160);
    rig.enqueue(QStringLiteral("holiday.mov"));
    ASSERT_TRUE(processEventsUntil([&] { return panel->model()->rowCount() == 1; }));
    EXPECT_TRUE(panel->listView()->isVisible());
    EXPECT_EQ(panel->model()->index(0, 0).data(Qt::DisplayRole).toString(), QStringLiteral("holiday.mov"));

    rig.window->state().dragTransferPanel(-1000);
    rig.window->state().endTransferPanelDrag();
    EXPECT_EQ(panel->height(), TransferPanel::maximumHeight);
    EXPECT_EQ(panel->panelHeight(), TransferPanel::maximumHeight);
}

TEST(WindowChrome, APendingConflictOpensTheSheetOverTheWindowAndItsButtonAnswersOnce)
{
    WindowRig rig({});
    ASSERT_TRUE(waitUntilShown(rig.window));
    auto answer = std::make_shared<std::optional<ConflictResolution>>();
    auto answers = std::make_shared<int>(0);
    QCoro::Task<> question = ask(rig.coordinator, answer, answers);
    ConflictSheetPresenter* presenter = rig.window->conflictSheet();
    ASSERT_TRUE(processEventsUntil([&] { return presenter->sheet() && presenter->sheet()->isVisible(); }));
    ConflictResolutionSheet* sheet = presenter->sheet();
    EXPECT_EQ(sheet->parentWidget(), rig.window.data());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    QPushButton* keepBoth = sheet->findChild<QPushButton*>(QStringLiteral("keepBothButton"));
    keepBoth->click();
    keepBoth->click();
    ASSERT_TRUE(processEventsUntil([&] { return *answers == 1; }));
    QTest::qWait(5);
    EXPECT_EQ(*answers, 1);
    EXPECT_EQ(*answer, ConflictResolution::keepBoth);
    EXPECT_FALSE(rig.coordinator.pendingConflict());
    EXPECT_FALSE(presenter->sheet());
}

// Each dialog opened from the window state, then left with Escape: its state is cleared, nothing
// is committed, and writing the state again opens it again.
TEST(WindowChrome, EscapeOnEachDialogLeavesNothingStuckAndItOpensAgain)
{
    WindowRig rig({});
    ASSERT_TRUE(waitUntilShown(rig.window));
    QFile file(rig.folder.filePath(QStringLiteral("keep.txt")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("kept");
    file.close();
    rig.local.refresh();
    ASSERT_TRUE(processEventsUntil([&] { return localItemNamed(rig.local, QStringLiteral("keep.txt")).has_value(); }));
    const LocalItem item = *localItemNamed(rig.local, QStringLiteral("keep.txt"));
    const RemoteItem remote(RemoteObjectID(QStringLiteral("7")), StorageID(QStringLiteral("s")), std::nullopt,
                            QStringLiteral("remote.txt"),
                            RemoteItemKind::file, 4, std::nullopt, std::nullopt);
    WindowState& state = rig.window->state();
    WindowSheets* sheets = rig.window->sheets();

    const struct {
        const char* name;
        std::function<void()> open;
        std::function<QWidget*()> dialog;
        std::function<bool()> stateSet;
    } cases[] = {
        {"local new folder", [&] { state.setShowingNewFolderLocal(true); }, [&] { return sheets->localNewFolderSheet(); },
         [&] { return state.showingNewFolderLocal(); }},
        {"android new folder", [&] { state.setShowingNewFolderAndroid(true); },
         [&] { return sheets->androidNewFolderSheet(); }, [&] { return state.showingNewFolderAndroid(); }},
        {"local rename", [&] { state.setLocalRenameTarget(item); }, [&] { return sheets->localRenameSheet(); },
         [&] { return state.localRenameTarget().has_value(); }},
        {"android rename", [&] { state.setAndroidRenameTarget(remote); }, [&] { return sheets->androidRenameSheet(); },
         [&] { return state.androidRenameTarget().has_value(); }},
        {"local delete", [&] { state.setLocalDeleteTargets({item}); },
         [&] { return sheets->localDeleteConfirmation(); }, [&] { return !state.localDeleteTargets().isEmpty(); }},
        {"android delete", [&] { state.setAndroidDeleteTargets({remote}); },
         [&] { return sheets->androidDeleteConfirmation(); }, [&] { return !state.androidDeleteTargets().isEmpty(); }},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        for (int round = 0; round < 2; ++round) {
            row.open();
            QWidget* dialog = row.dialog();
            ASSERT_NE(dialog, nullptr);
            ASSERT_TRUE(processEventsUntil([&] { return dialog->isVisible(); }));
            EXPECT_EQ(dialog->parentWidget(), rig.window.data());
            EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
            QWidget* focus = dialog->focusWidget() ? dialog->focusWidget() : dialog;
            QTest::keyClick(focus, Qt::Key_Escape);
            EXPECT_FALSE(dialog->isVisible());
            EXPECT_FALSE(row.stateSet());
        }
    }
    QTest::qWait(5);
    EXPECT_TRUE(QFile::exists(rig.folder.filePath(QStringLiteral("keep.txt"))));
    EXPECT_EQ(QDir(rig.folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("keep.txt")});
}

TEST(WindowChrome, TheMacSheetsCommitToTheLocalBrowser)
{
    WindowRig rig({});
    ASSERT_TRUE(waitUntilShown(rig.window));
    WindowState& state = rig.window->state();
    WindowSheets* sheets = rig.window->sheets();

    state.setShowingNewFolderLocal(true);
    NewFolderSheet* newFolder = sheets->localNewFolderSheet();
    ASSERT_TRUE(newFolder->isVisible());
    newFolder->nameField()->setText(QStringLiteral("../escape"));
    EXPECT_FALSE(newFolder->createButton()->isEnabled()); // refused, also in the browser below
    newFolder->nameField()->setText(QStringLiteral("Photos"));
    EXPECT_EQ(state.newFolderName(), QStringLiteral("Photos"));
    newFolder->createButton()->click();
    EXPECT_FALSE(state.showingNewFolderLocal());
    EXPECT_TRUE(state.newFolderName().isEmpty());
    ASSERT_TRUE(processEventsUntil([&] { return localItemNamed(rig.local, QStringLiteral("Photos")).has_value(); }));
    EXPECT_TRUE(QDir(rig.folder.filePath(QStringLiteral("Photos"))).exists());

    state.setLocalRenameTarget(*localItemNamed(rig.local, QStringLiteral("Photos")));
    RenameSheet* rename = sheets->localRenameSheet();
    ASSERT_TRUE(rename->isVisible());
    EXPECT_EQ(rename->nameField()->text(), QStringLiteral("Photos"));
    EXPECT_EQ(state.renameValue(), QStringLiteral("Photos"));
    rename->nameField()->setText(QStringLiteral("  Pictures "));
    rename->renameButton()->click();
    EXPECT_FALSE(state.localRenameTarget());
    ASSERT_TRUE(processEventsUntil([&] { return localItemNamed(rig.local, QStringLiteral("Pictures")).has_value(); }));
    EXPECT_FALSE(QDir(rig.folder.filePath(QStringLiteral("Photos"))).exists());

    // Delete: Cancel is the default, so Return deletes nothing; the Delete button does.
    state.setLocalDeleteTargets({*localItemNamed(rig.local, QStringLiteral("Pictures"))});
    DeleteConfirmation* confirmation = sheets->localDeleteConfirmation();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_EQ(confirmation->text(), QStringLiteral("Delete Pictures?"));
    QTest::keyClick(confirmation, Qt::Key_Return);
    EXPECT_TRUE(state.localDeleteTargets().isEmpty());
    EXPECT_TRUE(QDir(rig.folder.filePath(QStringLiteral("Pictures"))).exists());
    state.setLocalDeleteTargets({*localItemNamed(rig.local, QStringLiteral("Pictures"))});
    sheets->localDeleteConfirmation()->deleteButton()->click();
    EXPECT_TRUE(state.localDeleteTargets().isEmpty());
    // The Trash may be unavailable here (the browser then keeps the item and says why); either
    // way the delete reached the local browser, never the device.
    ASSERT_TRUE(processEventsUntil([&] {
        return !QDir(rig.folder.filePath(QStringLiteral("Pictures"))).exists() || rig.local.errorMessage().has_value();
    }));
}

TEST(WindowChrome, TheAndroidSheetsCommitToTheDeviceBrowser)
{
    WindowRig rig({pixel});
    ASSERT_TRUE(waitUntilShown(rig.window));
    ASSERT_TRUE(processEventsUntil([&] { return rig.isConnectedTo(pixel) && rig.browser.currentPage(); }));
    WindowState& state = rig.window->state();
    WindowSheets* sheets = rig.window->sheets();

    state.setShowingNewFolderAndroid(true);
    NewFolderSheet* newFolder = sheets->androidNewFolderSheet();
    ASSERT_TRUE(newFolder->isVisible());
    newFolder->nameField()->setText(QStringLiteral("  Backups  "));
    QTest::keyClick(newFolder->nameField(), Qt::Key_Return);
    EXPECT_FALSE(state.showingNewFolderAndroid());
    ASSERT_TRUE(processEventsUntil([&] { return deviceListsName(rig.browser, QStringLiteral("Backups")); }));

    const auto itemNamed = [&](const QString& name) {
        for (const RemoteItem& item : rig.browser.items()) {
            if (item.name == name) {
                return item;
            }
        }
        ADD_FAILURE() << name.toStdString();
        return rig.browser.items().first();
    };
    state.setAndroidRenameTarget(itemNamed(QStringLiteral("Backups")));
    RenameSheet* rename = sheets->androidRenameSheet();
    ASSERT_TRUE(rename->isVisible());
    rename->nameField()->setText(QStringLiteral("Archive"));
    rename->renameButton()->click();
    EXPECT_FALSE(state.androidRenameTarget());
    ASSERT_TRUE(processEventsUntil([&] { return deviceListsName(rig.browser, QStringLiteral("Archive")); }));
    EXPECT_FALSE(deviceListsName(rig.browser, QStringLiteral("Backups")));

    state.setAndroidDeleteTargets({itemNamed(QStringLiteral("Archive"))});
    DeleteConfirmation* confirmation = sheets->androidDeleteConfirmation();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_EQ(confirmation->informativeText(), DeleteConfirmation::messageFor(DeleteConfirmation::Side::android));
    confirmation->deleteButton()->click();
    EXPECT_TRUE(state.androidDeleteTargets().isEmpty());
    ASSERT_TRUE(processEventsUntil([&] { return !deviceListsName(rig.browser, QStringLiteral("Archive")); }));
    EXPECT_FALSE(rig.browser.errorBanner());
}
