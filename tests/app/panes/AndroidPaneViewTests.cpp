// The phone's pane in a real window over the mock device and real temporary folders: what it
// shows in each state of the device browser, copies both ways by button, keys, drag and drop,
// the context menu, opening files and the sheets it asks the window for.

#include "PaneTestSupport.h"
#include "RunTask.h"
#include "StorageSwitchRig.h"
#include "chrome/DeleteConfirmation.h"
#include "chrome/RenameSheet.h"
#include "panes/AndroidNavigation.h"
#include "panes/AndroidPaneView.h"
#include "panes/LocalPaneView.h"
#include "panes/PaneHeader.h"
#include "panes/SelectionPreflightStrip.h"
#include "panes/blocks/DropTargetOverlay.h"
#include "panes/blocks/ElidedLabel.h"
#include "panes/blocks/StatusCapsule.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "shell/MainWindow.h"
#include "shell/PaneArea.h"
#include "shell/ShellTestSupport.h"
#include "shell/WindowSheets.h"
#include "table/LocalItemTable.h"
#include "table/NativeTablePasteboardItem.h"
#include "table/RemoteItemTable.h"
#include "transport/MockDeviceSession.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/DefaultApplicationOpener.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "window/DetachedCall.h"
#include "window/WindowState.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <gtest/gtest.h>

namespace quillbarrow::testing {
namespace {

QList<RemoteObjectID> idsOf(const QList<RemoteItem>& items)
{
    QList<RemoteObjectID> ids;
    for (const RemoteItem& item : items) {
        ids.append(item.id);
    }
    return ids;
}

class AndroidPaneTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        fixture = std::make_unique<ShellFixture>(MockMTPBackend::defaultDevices());
        QDir home(fixture->home.path());
        ASSERT_TRUE(home.mkpath(QStringLiteral("Work/Photos")));
        work = QDir(home.filePath(QStringLiteral("Work")));
        write(QStringLiteral("alpha.txt"), "alpha");
        write(QStringLiteral("Photos/beach.jpg"), "sand");
        window = fixture->app->openWindow();
        window->show();
        ASSERT_TRUE(waitUntilShown(window));
        pane = window->findChild<AndroidPaneView*>();
        ASSERT_NE(pane, nullptr);
        opener = std::make_shared<RecordingOpener>();
        pane->setDefaultApplicationOpener(opener);
        local().navigateTo(QUrl::fromLocalFile(work.path()));
        ASSERT_TRUE(processEventsUntil([this] { return !local().isLoading(); }));
        ASSERT_TRUE(waitForDevicePage());
    }

    void TearDown() override
    {
        if (window) {
            window->close();
        }
        fixture.reset();
    }

    void write(const QString& name, const QByteArray& bytes)
    {
        QFile file(work.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    LocalBrowserViewModel& local() { return fixture->app->localBrowser(); }
    DeviceBrowserViewModel& device() { return fixture->app->deviceBrowser(); }
    TransferCoordinator& coordinator() { return fixture->app->coordinator(); }
    Clipboard& clipboard() { return fixture->app->clipboard(); }

    bool waitForDevicePage()
    {
        return processEventsUntil([this] {
            return device().currentPage().has_value() && device().currentSession() != nullptr && !device().isLoading();
        });
    }

    std::optional<RemoteItem> item(const QString& name)
    {
        for (const RemoteItem& listed : device().items()) {
            if (listed.name == name) {
                return listed;
            }
        }
        return std::nullopt;
    }

    // Opens the device folder `name` of the folder shown and waits for its listing.
    void openDeviceFolder(const QString& name)
    {
        const std::optional<RemoteItem> folder = item(name);
        ASSERT_TRUE(folder.has_value()) << name.toStdString();
        pane->open(*folder);
        ASSERT_TRUE(processEventsUntil([this, name] {
            const std::optional<DirectoryPage>& page = device().currentPage();
            return !device().isLoading() && page && !page->path.components.isEmpty() &&
                   page->path.components.last() == name;
        }));
    }

    // Tab takes the keyboard from the Mac table, where the window puts it, to the pane's table.
    void tabToTable()
    {
        pressKey(window, Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), pane->table());
    }

    bool deviceShowsSoon(const QString& name)
    {
        return processEventsUntil([this, name] { return item(name).has_value() && !device().isLoading(); });
    }

    std::unique_ptr<ShellFixture> fixture;
    QDir work;
    MainWindow* window = nullptr;
    AndroidPaneView* pane = nullptr;
    std::shared_ptr<RecordingOpener> opener;
};

TEST(AndroidPaneContent, EachStateOfTheDeviceBrowserShowsItsContentAndCapsule)
{
    using Content = AndroidPaneView::Content;
    struct ContentCase {
        bool device, page, loading;
        Content content;
    };
    const ContentCase contents[] = {
        {false, true, true, Content::onboarding}, // no device: the guide, whatever else is said
        {false, false, false, Content::onboarding},
        {true, true, true, Content::table},
        {true, true, false, Content::table},
        {true, false, true, Content::loading},
        {true, false, false, Content::noStorage},
    };
    for (const ContentCase& row : contents) {
        EXPECT_EQ(AndroidPaneView::contentFor(row.device, row.page, row.loading), row.content)
            << row.device << row.page << row.loading;
    }

    using Phase = DeviceConnectionPhase;
    struct StatusCase {
        bool loading, waiting;
        Phase phase;
        bool stale;
        std::optional<AndroidPaneView::Status> status;
    };
    const QString message = QStringLiteral("Opening Pixel 8…");
    const QString turning = QStringLiteral("arrow.clockwise");
    const StatusCase statuses[] = {
        {true, true, Phase::connected, true, AndroidPaneView::Status{"Waiting for the current transfer…", turning}},
        {true, false, Phase::connected, true, AndroidPaneView::Status{"Loading device contents…", turning}},
        {true, false, Phase::opening, false, AndroidPaneView::Status{message, turning}},
        {false, false, Phase::connected, true,
         AndroidPaneView::Status{"Updating after transfer…", QStringLiteral("clock.arrow.circlepath")}},
        {false, true, Phase::connected, false, std::nullopt},
    };
    for (const StatusCase& row : statuses) {
        const std::optional<AndroidPaneView::Status> status =
            AndroidPaneView::statusFor(row.loading, row.waiting, row.phase, row.stale, message);
        EXPECT_EQ(status.has_value(), row.status.has_value()) << row.loading << row.waiting << row.stale;
        if (status && row.status) {
            EXPECT_EQ(status->text, row.status->text);
            EXPECT_EQ(status->symbol, row.status->symbol);
        }
    }
}

TEST(AndroidPaneContent, WithoutADeviceTheGuideShowsAndTheDeviceToolsAreDisabled)
{
    ShellFixture bare;
    MainWindow* lone = bare.app->openWindow();
    lone->show();
    ASSERT_TRUE(waitUntilShown(lone));
    auto* pane = lone->findChild<AndroidPaneView*>();
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(lone->paneArea()->androidPane(), pane);
    EXPECT_EQ(pane->content(), AndroidPaneView::Content::onboarding);
    EXPECT_TRUE(pane->findChild<QWidget*>(QStringLiteral("onboardingView"))->isVisible());
    EXPECT_FALSE(pane->table()->isVisible());
    EXPECT_EQ(pane->header()->titleLabel()->text(), QStringLiteral("Android"));
    PaneHeader* header = pane->header();
    EXPECT_FALSE(header->favoritesButton()->isEnabled());
    EXPECT_FALSE(header->newFolderButton()->isEnabled());
    EXPECT_FALSE(header->hiddenFilesButton()->isEnabled());
    EXPECT_FALSE(header->parentButton()->isEnabled());
    EXPECT_FALSE(header->copyButton()->isEnabled());
    EXPECT_TRUE(header->refreshButton()->isEnabled());
    // Opening a file needs the device.
    pane->open(RemoteItem(RemoteObjectID(QStringLiteral("x")), StorageID(QStringLiteral("s")), std::nullopt,
                          QStringLiteral("notes.txt"), RemoteItemKind::file, 10, std::nullopt, std::nullopt));
    ASSERT_TRUE(bare.app->coordinator().lastError().has_value());
    EXPECT_TRUE(bare.app->coordinator().lastError()->userMessage().endsWith(
        QStringLiteral("The Android device is not connected.")));
    lone->close();
}

TEST_F(AndroidPaneTest, AConnectedDeviceShowsItsRootInTheTable)
{
    EXPECT_EQ(pane->content(), AndroidPaneView::Content::table);
    EXPECT_TRUE(pane->table()->isVisible());
    EXPECT_FALSE(pane->statusCapsule()->isVisible());
    EXPECT_EQ(pane->header()->titleLabel()->text(), device().selectedDevice()->displayName);
    EXPECT_EQ(pane->table()->itemModel()->rowCount(), device().items().size());
    EXPECT_TRUE(pane->header()->newFolderButton()->isEnabled());
    EXPECT_FALSE(pane->header()->parentButton()->isEnabled()); // at the storage root

    // A new listing of the shown folder: the capsule says so over the table.
    QStringList shownWhileLoading;
    QObject::connect(&device(), &DeviceBrowserViewModel::isLoadingChanged, pane, [this, &shownWhileLoading] {
        if (device().isLoading() && pane->statusCapsule()->isVisible()) {
            shownWhileLoading.append(pane->statusCapsule()->text());
        }
    });
    startDetached(device().refresh());
    ASSERT_TRUE(processEventsUntil([&shownWhileLoading] { return !shownWhileLoading.isEmpty(); }));
    EXPECT_EQ(shownWhileLoading.front(), QStringLiteral("Loading device contents…"));
    EXPECT_TRUE(pane->table()->isVisible()); // the folder stays in sight meanwhile
    EXPECT_TRUE(processEventsUntil([this] { return !device().isLoading() && !pane->statusCapsule()->isVisible(); }));
}

TEST_F(AndroidPaneTest, CopyToMacDownloadsTheSelectionIntoTheMacFolder)
{
    openDeviceFolder(QStringLiteral("Download"));
    QPushButton* copy = pane->header()->copyButton();
    EXPECT_FALSE(copy->isEnabled()); // nothing selected
    const RemoteItem apk = *item(QStringLiteral("sample.apk"));
    pane->setSelection({apk.id});
    EXPECT_TRUE(copy->isEnabled());
    EXPECT_EQ(window->state().focusedPane(), FocusedPane::android);
    QTest::mouseClick(copy, Qt::LeftButton);
    const QString target = work.filePath(QStringLiteral("sample.apk"));
    ASSERT_TRUE(processEventsUntil([&target] { return QFile::exists(target); }));
    QFile file(target);
    ASSERT_TRUE(processEventsUntil([&file, &apk] { return file.size() == MockDeviceSession::downloadText(apk).size(); }));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), MockDeviceSession::downloadText(apk));
    // The Mac pane's folder is listed again and shows the copy.
    EXPECT_TRUE(processEventsUntil([this] {
        return std::any_of(local().items().begin(), local().items().end(),
                           [](const LocalItem& listed) { return listed.name == QStringLiteral("sample.apk"); });
    }));

    // Ids that are no longer listed still count as a selection, but weigh nothing.
    pane->setSelection({RemoteObjectID(QStringLiteral("gone"))});
    EXPECT_TRUE(pane->canSendSelectionToMac());
    pane->setSelection({});
    EXPECT_FALSE(copy->isEnabled());
}

TEST_F(AndroidPaneTest, CtrlVUploadsMacFilesIntoTheShownDeviceFolder)
{
    openDeviceFolder(QStringLiteral("Download"));
    clipboard().copyLocal({QUrl::fromLocalFile(work.filePath(QStringLiteral("alpha.txt"))),
                           QUrl::fromLocalFile(work.filePath(QStringLiteral("Photos")))});
    tabToTable();
    pressKey(window, Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(deviceShowsSoon(QStringLiteral("alpha.txt")));
    EXPECT_TRUE(deviceShowsSoon(QStringLiteral("Photos")));
    EXPECT_EQ(device().currentPage()->path.components, QStringList{QStringLiteral("Download")});
    // The folder went with its contents.
    openDeviceFolder(QStringLiteral("Photos"));
    EXPECT_TRUE(item(QStringLiteral("beach.jpg")).has_value());
}

TEST_F(AndroidPaneTest, DeviceItemsPastedOnTheDeviceAreRefusedWithAMessage)
{
    openDeviceFolder(QStringLiteral("Download"));
    const int before = device().items().size();
    tabToTable();
    pane->setSelection({item(QStringLiteral("sample.apk"))->id});
    pressKey(window, Qt::Key_C, Qt::ControlModifier);
    ASSERT_EQ(clipboard().contents().kind(), ClipboardContents::Kind::deviceFiles);
    ASSERT_FALSE(coordinator().lastError().has_value());

    // The menu's Paste is offered, and goes to the coordinator like Ctrl+V.
    const std::unique_ptr<QMenu> menu = pane->buildContextMenu({});
    QAction* paste = menu->findChild<QAction*>(QStringLiteral("pasteAction"));
    ASSERT_TRUE(paste->isEnabled());
    paste->trigger();
    ASSERT_TRUE(processEventsUntil([this] { return coordinator().lastError().has_value(); }));
    EXPECT_EQ(coordinator().lastError()->kind(), QuillbarrowError::Kind::unsupportedOperation);
    EXPECT_EQ(coordinator().lastError()->userMessage(), QStringLiteral("This device does not support that operation."));
    EXPECT_TRUE(coordinator().lastError()->technicalDetails().contains(
        QStringLiteral("Copying within the Android device is not supported yet.")));
    coordinator().clearLastError();
    pressKey(window, Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(processEventsUntil([this] { return coordinator().lastError().has_value(); }));
    ASSERT_TRUE(waitForDevicePage());
    EXPECT_EQ(device().items().size(), before); // nothing copied
}

TEST_F(AndroidPaneTest, MacRowsDroppedOnThePaneUploadIntoTheFolderShownAtTheDrop)
{
    openDeviceFolder(QStringLiteral("Download"));
    // What a drag of the Mac pane's row carries, made by that pane's own table.
    LocalItemTable* macTable = window->findChild<LocalPaneView*>()->table();
    std::optional<int> alphaRow;
    for (int row = 0; row < macTable->itemModel()->rowCount(); ++row) {
        if (macTable->itemModel()->item(row).name == QStringLiteral("alpha.txt")) {
            alphaRow = row;
        }
    }
    ASSERT_TRUE(alphaRow);
    const std::unique_ptr<QMimeData> data(macTable->itemModel()->mimeData({macTable->itemModel()->index(*alphaRow, 0)}));
    ASSERT_TRUE(data);

    // Dropped over the rows: the table takes no drops, so the pane does. The drag is a Shift-drag
    // that proposes a move; the pane copies, and says so.
    QWidget* rows = pane->table()->viewport();
    const QPointF centre = QRectF(rows->rect()).center();
    QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                          Qt::ShiftModifier);
    enter.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(rows, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    EXPECT_TRUE(pane->dropOverlay()->isVisible());
    EXPECT_EQ(pane->dropOverlay()->title(), QStringLiteral("Drop Mac items here"));
    EXPECT_EQ(pane->dropOverlay()->subtitle(), QStringLiteral("They will be copied to the current Android folder"));
    QDropEvent drop(centre, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::ShiftModifier);
    drop.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(rows, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_FALSE(pane->dropOverlay()->isVisible());
    // The user moves on at once: the upload still goes where the drop was made.
    const std::optional<DirectoryPage> dropped = device().currentPage();
    startDetached(pane->navigateUp());
    ASSERT_TRUE(processEventsUntil([this] { return device().breadcrumb().size() == 1 && !device().isLoading(); }));
    ASSERT_TRUE(processEventsUntil([this] { return coordinator().transferJobs().size() == 1 &&
                                                   coordinator().transferJobs().front().state.isTerminal(); }));
    EXPECT_FALSE(item(QStringLiteral("alpha.txt")).has_value()); // not at the root
    openDeviceFolder(QStringLiteral("Download"));
    EXPECT_TRUE(item(QStringLiteral("alpha.txt")).has_value());
}

TEST_F(AndroidPaneTest, DropsWithoutLocalFilesAreRefusedAndChangeNothing)
{
    clipboard().copyLocal({QUrl::fromLocalFile(work.filePath(QStringLiteral("alpha.txt")))});
    const ClipboardContents before = clipboard().contents();
    struct Case {
        const char* what;
        std::function<QMimeData*()> data;
    };
    const Case cases[] = {
        {"the phone's own rows", [] {
             return NativeTablePasteboardItem::mimeData(
                 {NativeTablePasteboardItem::plainText(NativeTablePasteboardItem::androidDragMarker())});
         }},
        {"a web address", [] {
             auto* data = new QMimeData;
             data->setUrls({QUrl(QStringLiteral("https://example.org/a.txt"))});
             return data;
         }},
    };
    for (const Case& row : cases) {
        const std::unique_ptr<QMimeData> data(row.data());
        QDragEnterEvent enter(QPoint(20, 200), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane, &enter);
        EXPECT_FALSE(enter.isAccepted()) << row.what;
        EXPECT_FALSE(pane->dropOverlay()->isVisible()) << row.what;
        EXPECT_FALSE(pane->handleDrop(data.get())) << row.what;
    }
    EXPECT_EQ(clipboard().contents(), before);
    EXPECT_TRUE(coordinator().transferJobs().isEmpty());
}

// A drag's list of files is read once, when it enters: every move over the pane keeps the answer
// of the entry. The next drag is decided anew, even when it hands over the same data object.
TEST_F(AndroidPaneTest, AHoveringDragReadsItsFilesOnceAndEachMoveKeepsTheAnswer)
{
    CountingMimeData data;
    const struct {
        const char* what;
        QUrl url;
        bool taken;
    } cases[] = {
        {"a file of the computer", QUrl::fromLocalFile(work.filePath(QStringLiteral("alpha.txt"))), true},
        {"a web address", QUrl(QStringLiteral("https://example.org/a.txt")), false},
    };
    for (const auto& each : cases) {
        data.setUrls({each.url});
        data.reads.clear();
        QDragEnterEvent enter(QPoint(20, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane, &enter);
        EXPECT_EQ(enter.isAccepted(), each.taken) << each.what;
        for (int step = 1; step <= 20; ++step) {
            QDragMoveEvent move(QPoint(20, 200 + step), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(pane, &move);
            EXPECT_EQ(move.isAccepted(), each.taken) << each.what;
        }
        EXPECT_EQ(pane->dropOverlay()->isVisible(), each.taken) << each.what;
        EXPECT_EQ(data.reads.value(QStringLiteral("text/uri-list")), 1) << each.what;
        QDragLeaveEvent leave;
        QApplication::sendEvent(pane, &leave);
        EXPECT_FALSE(pane->dropOverlay()->isVisible()) << each.what;
    }
    EXPECT_TRUE(coordinator().transferJobs().isEmpty());
}

TEST_F(AndroidPaneTest, DraggingRowsOutPutsThemOnTheClipboardWithTheMarker)
{
    openDeviceFolder(QStringLiteral("DCIM"));
    startDetached(device().navigate(device().breadcrumb().front()));
    ASSERT_TRUE(waitForDevicePage());
    ASSERT_GE(device().items().size(), 2);
    const RemoteItem first = device().items().at(0);
    const RemoteItem second = device().items().at(1);
    auto* model = pane->table()->itemModel();
    const auto indexOf = [model](const RemoteItem& row) { return model->index(*model->rowOf(row.id), 0); };

    // Both selected, both dragged (every cell of their rows, as the table's drag hands them
    // over): both on the clipboard, put there once, and the marker on the drag.
    pane->setSelection({first.id, second.id});
    QSignalSpy changes(&clipboard(), &Clipboard::contentsChanged);
    std::unique_ptr<QMimeData> dragged(model->mimeData(pane->table()->selectionModel()->selectedIndexes()));
    ASSERT_TRUE(dragged);
    EXPECT_EQ(dragged->text(), QStringLiteral("com.quillbarrow.android-drag/v1"));
    EXPECT_FALSE(dragged->hasUrls());
    EXPECT_EQ(clipboard().contents().kind(), ClipboardContents::Kind::deviceFiles);
    EXPECT_EQ(idsOf(clipboard().contents().items()), (QList<RemoteObjectID>{first.id, second.id}));
    EXPECT_EQ(changes.count(), 1);

    // A row outside the selection travels alone; the selection stays.
    pane->setSelection({first.id});
    window->state().focusPane(FocusedPane::mac);
    dragged.reset(model->mimeData({indexOf(second)}));
    EXPECT_EQ(idsOf(clipboard().contents().items()), QList<RemoteObjectID>{second.id});
    EXPECT_EQ(pane->selection(), QSet<RemoteObjectID>{first.id});
    EXPECT_EQ(window->state().focusedPane(), FocusedPane::android); // a drag start takes the focus
}

TEST_F(AndroidPaneTest, ContextMenusHoldTheEntriesOfTheirTargets)
{
    const RemoteItem folder = *item(QStringLiteral("DCIM"));
    const RemoteItem other = *item(QStringLiteral("Download"));
    struct Case {
        QSet<RemoteObjectID> rows;
        QStringList titles;
    };
    const QList<Case> cases{
        {{folder.id},
         {"Open", "-", "Calculate Folder Size", "-", "Copy", "Copy to Mac", "Paste", "-", "Rename…", "-", "Delete"}},
        {{folder.id, other.id}, {"Calculate Folder Size", "-", "Copy", "Copy to Mac", "Paste", "-", "Delete"}},
        {{}, {"Copy", "Copy to Mac", "Paste"}},
    };
    for (const Case& row : cases) {
        const std::unique_ptr<QMenu> menu = pane->buildContextMenu(row.rows);
        EXPECT_EQ(menuTitles(menu.get()), row.titles);
    }
    const std::unique_ptr<QMenu> none = pane->buildContextMenu({});
    EXPECT_FALSE(none->findChild<QAction*>(QStringLiteral("sendAction"))->isEnabled());
    EXPECT_FALSE(none->findChild<QAction*>(QStringLiteral("pasteAction"))->isEnabled()); // empty clipboard

    // A file has no size to calculate; Rename and Delete ask the window for their sheets.
    openDeviceFolder(QStringLiteral("Download"));
    const RemoteItem apk = *item(QStringLiteral("sample.apk"));
    const std::unique_ptr<QMenu> menu = pane->buildContextMenu({apk.id});
    EXPECT_EQ(menuTitles(menu.get()),
              (QStringList{"Open", "-", "Copy", "Copy to Mac", "Paste", "-", "Rename…", "-", "Delete"}));
    EXPECT_TRUE(menu->findChild<QAction*>(QStringLiteral("sendAction"))->isEnabled());
    menu->findChild<QAction*>(QStringLiteral("copyAction"))->trigger();
    EXPECT_EQ(idsOf(clipboard().contents().items()), QList<RemoteObjectID>{apk.id});
    menu->findChild<QAction*>(QStringLiteral("renameAction"))->trigger();
    ASSERT_TRUE(window->state().androidRenameTarget().has_value());
    EXPECT_EQ(window->state().androidRenameTarget()->id, apk.id);
    window->state().setAndroidRenameTarget(std::nullopt);
}

TEST_F(AndroidPaneTest, FolderSizesAreMeasuredOnSelectionAndFromTheMenu)
{
    const auto sizeCell = [this](const QString& name) {
        auto* model = pane->table()->itemModel();
        return model->index(*model->rowOf(item(name)->id), 1).data().toString();
    };
    EXPECT_EQ(sizeCell(QStringLiteral("DCIM")), QStringLiteral("--"));
    // Calculate Folder Size of the menu measures the folder, selected or not.
    pane->buildContextMenu({item(QStringLiteral("DCIM"))->id})
        ->findChild<QAction*>(QStringLiteral("calculateFolderSizeAction"))
        ->trigger();
    ASSERT_TRUE(processEventsUntil([this] { return item(QStringLiteral("DCIM"))->size.has_value(); }));
    EXPECT_NE(sizeCell(QStringLiteral("DCIM")), QStringLiteral("--"));
    EXPECT_TRUE(pane->selection().isEmpty());

    // Selecting a folder measures it quietly, and the strip takes the size when it arrives.
    EXPECT_FALSE(item(QStringLiteral("Download"))->size.has_value());
    pane->setSelection({item(QStringLiteral("Download"))->id});
    ASSERT_TRUE(processEventsUntil([this] { return item(QStringLiteral("Download"))->size.has_value(); }));
    const qint64 measured = *item(QStringLiteral("Download"))->size;
    EXPECT_EQ(pane->selectionStrip()->selectionLabel()->text(),
              SelectionPreflightStrip::selectionText(SelectionSizeSummary(1, 1, 1, measured, 0, std::nullopt)));
    openDeviceFolder(QStringLiteral("Download"));
    EXPECT_EQ(measured, item(QStringLiteral("sample.apk"))->size); // its one file
}

TEST_F(AndroidPaneTest, RenameRefusesANameThatWouldReachIntoAnotherFolder)
{
    openDeviceFolder(QStringLiteral("Download"));
    const RemoteItem apk = *item(QStringLiteral("sample.apk"));
    pane->buildContextMenu({apk.id})->findChild<QAction*>(QStringLiteral("renameAction"))->trigger();
    RenameSheet* sheet = window->sheets()->androidRenameSheet();
    ASSERT_TRUE(processEventsUntil([sheet] { return sheet->isVisible(); }));
    sheet->nameField()->setText(QStringLiteral("a/b"));
    EXPECT_FALSE(sheet->renameButton()->isEnabled());
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_TRUE(sheet->isVisible()); // nothing committed
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_FALSE(window->state().androidRenameTarget().has_value());

    // Asked directly, the device browser refuses it too, and the item keeps its name.
    startDetached(device().renameItem(apk, QStringLiteral("a/b")));
    EXPECT_TRUE(processEventsUntil([this] { return device().errorBanner().has_value(); }));
    ASSERT_TRUE(waitForDevicePage());
    EXPECT_TRUE(item(QStringLiteral("sample.apk")).has_value());
}

TEST_F(AndroidPaneTest, DeleteGoesOnlyAfterTheConfirmation)
{
    openDeviceFolder(QStringLiteral("Download"));
    const RemoteItem apk = *item(QStringLiteral("sample.apk"));
    tabToTable();
    pane->setSelection({apk.id});
    pressKey(window, Qt::Key_Delete);
    DeleteConfirmation* confirmation = nullptr;
    ASSERT_TRUE(processEventsUntil([this, &confirmation] {
        confirmation = window->sheets()->androidDeleteConfirmation();
        return confirmation && confirmation->isVisible();
    }));
    EXPECT_EQ(confirmation->text(), QStringLiteral("Delete sample.apk?"));
    // Return answers with the default button, Cancel.
    EXPECT_EQ(confirmation->defaultButton(), confirmation->cancelButton());
    QTest::keyClick(confirmation, Qt::Key_Return);
    ASSERT_TRUE(processEventsUntil([this] { return window->state().androidDeleteTargets().isEmpty(); }));
    QTest::qWait(5);
    EXPECT_TRUE(item(QStringLiteral("sample.apk")).has_value());

    pressKey(window, Qt::Key_Delete);
    ASSERT_TRUE(processEventsUntil([this, &confirmation] {
        confirmation = window->sheets()->androidDeleteConfirmation();
        return confirmation && confirmation->isVisible();
    }));
    QTest::mouseClick(static_cast<QWidget*>(confirmation->deleteButton()), Qt::LeftButton);
    EXPECT_TRUE(processEventsUntil([this] { return !item(QStringLiteral("sample.apk")) && !device().isLoading(); }));
}

TEST_F(AndroidPaneTest, OpenNavigatesIntoFoldersAndHandsDownloadedFilesToTheOpener)
{
    openDeviceFolder(QStringLiteral("DCIM"));
    openDeviceFolder(QStringLiteral("Camera"));
    const RemoteItem photo = *item(QStringLiteral("IMG_0001.jpg"));
    tabToTable();
    pane->setSelection({photo.id});
    pressKey(window, Qt::Key_Return);
    ASSERT_TRUE(processEventsUntil([this] { return !opener->opened.isEmpty(); }));
    EXPECT_TRUE(opener->opened.front().startsWith(fixture->openedFiles.path()));
    EXPECT_TRUE(opener->opened.front().endsWith(QStringLiteral("/IMG_0001.jpg")));
    EXPECT_EQ(opener->contents.front(), MockDeviceSession::downloadText(photo));
    EXPECT_FALSE(coordinator().lastError().has_value());

    // No application takes it: the failure names the file and says why.
    opener->succeeds = false;
    pane->open(photo);
    ASSERT_TRUE(processEventsUntil([this] { return coordinator().lastError().has_value(); }));
    EXPECT_TRUE(coordinator().lastError()->userMessage().contains(QStringLiteral("IMG_0001.jpg")));
    EXPECT_TRUE(coordinator().lastError()->userMessage().endsWith(
        QStringLiteral("No compatible Mac application is available.")));

    // Ctrl+Up goes back; at the root it is taken and does nothing.
    for (const qsizetype depth : {2, 1}) {
        pressKey(window, Qt::Key_Up, Qt::ControlModifier);
        ASSERT_TRUE(processEventsUntil([&] { return device().breadcrumb().size() == depth && !device().isLoading(); }));
    }
    EXPECT_TRUE(pane->handleKey(PaneKeyCommand::parentFolder));
    EXPECT_EQ(device().breadcrumb().size(), 1);
}

TEST_F(AndroidPaneTest, KeysActOnlyWhileTheAndroidPaneIsFocused)
{
    window->state().focusPane(FocusedPane::mac);
    for (const PaneKeyCommand command :
         {PaneKeyCommand::copy, PaneKeyCommand::paste, PaneKeyCommand::selectAll, PaneKeyCommand::parentFolder,
          PaneKeyCommand::refresh, PaneKeyCommand::deleteSelection, PaneKeyCommand::openSelection}) {
        EXPECT_FALSE(pane->handleKey(command));
    }
    EXPECT_TRUE(pane->selection().isEmpty());

    tabToTable();
    EXPECT_FALSE(pane->handleKey(PaneKeyCommand::deleteSelection)); // nothing selected
    pressKey(window, Qt::Key_A, Qt::ControlModifier);
    // The table writes a selection of all its rows into the binding on the next turn.
    EXPECT_TRUE(processEventsUntil([this] { return pane->selection().size() == device().items().size(); }));
    EXPECT_EQ(pane->header()->selectionBadge()->text(), QStringLiteral("2 selected"));
    EXPECT_FALSE(pane->handleKey(PaneKeyCommand::openSelection)); // two rows: not handled

    // Ctrl+C with nothing selected empties the clipboard.
    clipboard().copyLocal({QUrl::fromLocalFile(work.filePath(QStringLiteral("alpha.txt")))});
    pane->setSelection({});
    pressKey(window, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard().contents().kind(), ClipboardContents::Kind::empty);

    // Delete with ids no longer listed is taken, but names nothing to delete.
    pane->setSelection({RemoteObjectID(QStringLiteral("gone"))});
    EXPECT_TRUE(pane->handleKey(PaneKeyCommand::deleteSelection));
    EXPECT_TRUE(window->state().androidDeleteTargets().isEmpty());
    EXPECT_EQ(window->sheets()->androidDeleteConfirmation(), nullptr);
}

TEST_F(AndroidPaneTest, HeaderPlacesTheBreadcrumbAndTheFavouritesOfTheDevice)
{
    // One storage: no switcher; the breadcrumb row names the storage root.
    EXPECT_FALSE(pane->storageSwitcher()->isVisibleTo(pane));
    EXPECT_TRUE(pane->breadcrumbBar()->isVisibleTo(pane));
    openDeviceFolder(QStringLiteral("DCIM"));
    EXPECT_TRUE(pane->header()->parentButton()->isEnabled());

    // A favourite opens with nothing selected.
    QMenu* menu = pane->favoritesMenu();
    const auto action = [menu](const QString& title) -> QAction* {
        Q_EMIT menu->aboutToShow();
        for (QAction* item : menu->actions()) {
            if (item->text() == title) {
                return item;
            }
        }
        return nullptr;
    };
    ASSERT_NE(action(QStringLiteral("Add Current Folder")), nullptr);
    action(QStringLiteral("Add Current Folder"))->trigger();
    QTest::mouseClick(pane->header()->parentButton(), Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([this] { return device().breadcrumb().size() == 1 && !device().isLoading(); }));
    pane->setSelection({item(QStringLiteral("Download"))->id});
    QAction* dcim = action(QStringLiteral("DCIM"));
    ASSERT_NE(dcim, nullptr);
    dcim->trigger();
    EXPECT_TRUE(pane->selection().isEmpty());
    EXPECT_TRUE(processEventsUntil([this] { return device().breadcrumb().size() == 2 && !device().isLoading(); }));
}

TEST(AndroidPaneHeader, TwoStoragesShowTheSwitcherWhichEmptiesTheSelection)
{
    StorageRig rig;
    rig.connect();
    ShellFixture shell;
    WindowState state;
    AndroidPaneView pane(rig.browser, shell.app->localBrowser(), shell.app->coordinator(), state);
    pane.resize(700, 500);
    pane.show();
    AndroidStorageSwitcher* switcher = pane.storageSwitcher();
    EXPECT_TRUE(switcher->isVisibleTo(&pane));
    ASSERT_EQ(switcher->segments().size(), 2);
    pane.setSelection({rig.browser.items().front().id});
    switcher->segments()[1]->click();
    EXPECT_TRUE(pane.selection().isEmpty());
    EXPECT_TRUE(processEventsUntil([&rig] {
        return rig.browser.currentPage() && rig.browser.currentPage()->storage.id == cardStorage().id &&
               !rig.browser.pendingStorageID();
    }));
}

TEST(AndroidPaneHeader, CopyToMacIsDisabledOnceTheDeviceIsUnplugged)
{
    auto rig = std::make_unique<StorageRig>();
    rig->connect();
    rig->browser.start();
    ASSERT_TRUE(processEventsUntil([&rig] { return rig->backend->streamCount() == 1; }));
    {
        ShellFixture shell;
        WindowState state;
        AndroidPaneView pane(rig->browser, shell.app->localBrowser(), shell.app->coordinator(), state);
        QPushButton* copy = pane.header()->copyButton();
        pane.setSelection({rig->browser.items().front().id});
        ASSERT_TRUE(copy->isEnabled());

        // The session goes with the device, and the button follows it; the rows go too, and
        // with them the selection.
        rig->backend->simulateDisconnect(rig->device.id);
        ASSERT_TRUE(processEventsUntil(
            [&rig] { return !rig->browser.selectedDevice() && !rig->browser.currentSession(); }));
        EXPECT_TRUE(pane.selection().isEmpty());
        EXPECT_FALSE(pane.canSendSelectionToMac());
        EXPECT_FALSE(copy->isEnabled());
    }
    // The monitoring ends with its browser, so nothing of it outlives the test.
    const std::shared_ptr<StorageRigBackend> backend = rig->backend;
    rig.reset();
    EXPECT_TRUE(processEventsUntil([&backend] { return backend->streamCount() == 0; }));
}

} // namespace
} // namespace quillbarrow::testing
