// The computer's pane in a real window over the mock device and real temporary folders: the
// copy to the device, drops and pastes of device items, the keys, the context menu, the header,
// the path editor and the failures the local browser reports.

#include "PaneTestSupport.h"
#include "RunTask.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "panes/LocalMessageStrip.h"
#include "panes/LocalPaneView.h"
#include "panes/MacNavigation.h"
#include "panes/PaneHeader.h"
#include "panes/SelectionPreflightStrip.h"
#include "panes/blocks/DropTargetOverlay.h"
#include "panes/blocks/ElidedLabel.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "platform/VolumeMonitor.h"
#include "shell/MainWindow.h"
#include "shell/PaneArea.h"
#include "shell/ShellTestSupport.h"
#include "window/WindowState.h"
#include "style/SymbolIcons.h"
#include "table/LocalItemTable.h"
#include "table/NativeTablePasteboardItem.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/DefaultApplicationOpener.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/TransferQueue.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>
#include <functional>
#include <unistd.h>

namespace quillbarrow::testing {
namespace {

class MacPaneTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(trash.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(trash.path()));
        fixture = std::make_unique<ShellFixture>(MockMTPBackend::defaultDevices());
        QDir home(fixture->home.path());
        ASSERT_TRUE(home.mkpath(QStringLiteral("Work/Photos")));
        work = QDir(home.filePath(QStringLiteral("Work")));
        write(QStringLiteral("alpha.txt"), "alpha");
        write(QStringLiteral("beta.txt"), "beta!");
        window = fixture->app->openWindow();
        window->show();
        ASSERT_TRUE(waitUntilShown(window));
        pane = window->findChild<LocalPaneView*>();
        ASSERT_NE(pane, nullptr);
        opener = std::make_shared<RecordingOpener>();
        pane->setDefaultApplicationOpener(opener);
        browser().navigateTo(QUrl::fromLocalFile(work.path()));
        ASSERT_TRUE(waitForListing());
    }

    void TearDown() override
    {
        if (window) {
            window->close();
        }
        fixture.reset();
        qunsetenv("XDG_DATA_HOME");
    }

    void write(const QString& name, const QByteArray& bytes)
    {
        QFile file(work.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    LocalBrowserViewModel& browser() { return fixture->app->localBrowser(); }
    DeviceBrowserViewModel& device() { return fixture->app->deviceBrowser(); }
    TransferCoordinator& coordinator() { return fixture->app->coordinator(); }

    bool waitForListing()
    {
        return processEventsUntil([this] { return !browser().isLoading(); });
    }
    bool waitForDevicePage()
    {
        return processEventsUntil(
            [this] { return device().currentPage().has_value() && device().currentSession() != nullptr; });
    }

    std::optional<LocalItem> item(const QString& name)
    {
        for (const LocalItem& listed : browser().items()) {
            if (listed.name == name) {
                return listed;
            }
        }
        return std::nullopt;
    }

    // Runs one more paste of the clipboard to its end, into a folder of its own: the coordinator
    // takes pastes one at a time, in order, so any paste an earlier drop started has landed by then.
    void finishEarlierPastes()
    {
        QTemporaryDir elsewhere;
        ASSERT_TRUE(elsewhere.isValid());
        runTask(coordinator().pasteIntoLocal(QUrl::fromLocalFile(elsewhere.path()), device().currentSession()));
    }

    bool deviceShows(const QString& name)
    {
        const std::optional<DirectoryPage>& page = device().currentPage();
        return page && std::any_of(page->items.begin(), page->items.end(),
                                   [&name](const RemoteItem& item) { return item.name == name; });
    }

    // Clicks the row of `name` in the table, as a person selects it.
    void clickRow(const QString& name, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        LocalItemTable* table = pane->table();
        for (int row = 0; row < table->itemModel()->rowCount(); ++row) {
            if (table->itemModel()->item(row).name == name) {
                const QRect cell = table->visualRect(table->itemModel()->index(row, 0));
                QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers, cell.center());
                processEventsUntil([table] { return false; }, std::chrono::milliseconds(5));
                return;
            }
        }
        ADD_FAILURE() << "no row " << name.toStdString();
    }

    // A drag of device rows as the phone's pane starts it: the marker text on the drag, the
    // items on the in-app clipboard.
    std::unique_ptr<QMimeData> deviceDrag()
    {
        const DirectoryPage page = *device().currentPage();
        EXPECT_FALSE(page.items.isEmpty());
        fixture->app->clipboard().copyDevice(page.items.mid(0, 1), page.storage.id);
        draggedName = page.items.front().name;
        return std::unique_ptr<QMimeData>(NativeTablePasteboardItem::mimeData(
            {NativeTablePasteboardItem::plainText(NativeTablePasteboardItem::androidDragMarker())}));
    }

    QTemporaryDir trash;
    std::unique_ptr<ShellFixture> fixture;
    QDir work;
    MainWindow* window = nullptr;
    LocalPaneView* pane = nullptr;
    std::shared_ptr<RecordingOpener> opener;
    QString draggedName;
};

TEST_F(MacPaneTest, TakesThePlaceOfThePlaceholderAndListsTheFolder)
{
    EXPECT_EQ(window->paneArea()->macPane(), pane);
    EXPECT_EQ(pane->header()->titleLabel()->text(), QStringLiteral("This Mac"));
    EXPECT_EQ(pane->table()->itemModel()->rowCount(), 3); // Photos, alpha.txt, beta.txt
}

TEST_F(MacPaneTest, CopyToAndroidCopiesTheSelectionIntoTheDeviceFolder)
{
    ASSERT_TRUE(waitForDevicePage());
    QPushButton* copy = pane->header()->copyButton();
    EXPECT_FALSE(copy->isEnabled()); // nothing selected
    clickRow(QStringLiteral("alpha.txt"));
    ASSERT_TRUE(processEventsUntil([copy] { return copy->isEnabled(); }));
    EXPECT_FALSE(deviceShows(QStringLiteral("alpha.txt")));
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_TRUE(processEventsUntil([this] { return deviceShows(QStringLiteral("alpha.txt")); }));
    EXPECT_FALSE(deviceShows(QStringLiteral("beta.txt")));
}

TEST_F(MacPaneTest, CopyToAndroidIsRefusedWithoutADeviceFolder)
{
    // No device: nothing to copy into, the button and the menu item stay disabled.
    ShellFixture bare;
    QFile note(QDir(bare.home.path()).filePath(QStringLiteral("note.txt")));
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.close();
    MainWindow* lone = bare.app->openWindow();
    lone->show();
    ASSERT_TRUE(waitUntilShown(lone));
    auto* lonePane = lone->findChild<LocalPaneView*>();
    bare.app->localBrowser().navigateTo(QUrl::fromLocalFile(work.path()));
    ASSERT_TRUE(processEventsUntil([&bare] { return !bare.app->localBrowser().items().isEmpty(); }));
    const LocalItem first = bare.app->localBrowser().items().front();
    lonePane->setSelection({first.id});
    EXPECT_FALSE(lonePane->canSendSelectionToAndroid());
    EXPECT_FALSE(lonePane->header()->copyButton()->isEnabled());
    const std::unique_ptr<QMenu> menu = lonePane->buildContextMenu({first.id});
    EXPECT_FALSE(menu->findChild<QAction*>(QStringLiteral("sendAction"))->isEnabled());
    lone->close();
}

TEST_F(MacPaneTest, DroppedAndroidRowsDownloadIntoTheShownFolder)
{
    ASSERT_TRUE(waitForDevicePage());
    const std::unique_ptr<QMimeData> data = deviceDrag();
    // Dropped over the rows: the table takes no drops, so the pane does.
    QWidget* rows = pane->table()->viewport();
    const QPointF centre = QRectF(rows->rect()).center();
    QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(rows, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(pane->dropOverlay()->isVisible());
    QDropEvent drop(centre, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(rows, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_FALSE(pane->dropOverlay()->isVisible());
    EXPECT_TRUE(processEventsUntil([this] { return QFile::exists(work.filePath(draggedName)); }));
    // The listing is read again after the paste.
    EXPECT_TRUE(processEventsUntil([this] { return item(draggedName).has_value(); }));
}

// Only the Android pane's own drag is taken, and always as a copy (a Shift-drag proposes a move);
// other text, even while device items wait on the clipboard, and a drag that allows no copy are
// refused. The overlay names the folder the items would go to, the root included.
TEST_F(MacPaneTest, OnlyTheAndroidDragIsTakenAndAlwaysAsACopy)
{
    ASSERT_TRUE(waitForDevicePage());
    const struct {
        const char* what;
        QString text;
        Qt::DropActions possible;
        Qt::DropAction proposed;
        bool taken;
    } cases[] = {
        {"the Android pane's drag", NativeTablePasteboardItem::androidDragMarker(), Qt::CopyAction | Qt::MoveAction,
         Qt::CopyAction, true},
        {"a Shift-drag of Android rows", NativeTablePasteboardItem::androidDragMarker(),
         Qt::CopyAction | Qt::MoveAction, Qt::MoveAction, true},
        {"text from another application", QStringLiteral("hello"), Qt::CopyAction, Qt::CopyAction, false},
        {"a drag that may only move", NativeTablePasteboardItem::androidDragMarker(), Qt::MoveAction, Qt::MoveAction,
         false},
    };
    for (const auto& each : cases) {
        const std::unique_ptr<QMimeData> unused = deviceDrag(); // device items on the clipboard
        QMimeData data;
        data.setText(each.text);
        QDragEnterEvent enter(QPoint(20, 20), each.possible, &data, Qt::LeftButton, Qt::NoModifier);
        enter.setDropAction(each.proposed);
        QApplication::sendEvent(pane, &enter);
        EXPECT_EQ(enter.isAccepted(), each.taken) << each.what;
        EXPECT_EQ(pane->dropOverlay()->isVisible(), each.taken) << each.what;
        // Over the table only: the header stays in view above it.
        const QRect table(pane->table()->mapTo(pane, QPoint(0, 0)), pane->table()->size());
        EXPECT_EQ(pane->dropOverlay()->geometry(), table) << each.what;
        QDropEvent drop(QPointF(20, 20), each.possible, &data, Qt::LeftButton, Qt::NoModifier);
        drop.setDropAction(each.proposed);
        QApplication::sendEvent(pane, &drop);
        EXPECT_EQ(drop.isAccepted(), each.taken) << each.what;
        const QFileInfo landed(work.filePath(draggedName));
        if (!each.taken) {
            finishEarlierPastes();
            EXPECT_FALSE(landed.exists()) << each.what;
        } else {
            EXPECT_TRUE(processEventsUntil([this, &landed] {
                return QFileInfo::exists(landed.filePath()) && !coordinator().transferQueue()->hasActiveJobs();
            })) << each.what;
            EXPECT_EQ(drop.dropAction(), Qt::CopyAction) << each.what;
            ASSERT_TRUE(landed.isDir() ? QDir(landed.filePath()).removeRecursively() : QFile::remove(landed.filePath()));
        }
    }

    for (const QString& folder : {work.filePath(QStringLiteral("Photos")), QStringLiteral("/")}) {
        browser().navigateTo(QUrl::fromLocalFile(folder));
        ASSERT_TRUE(waitForListing());
        EXPECT_EQ(pane->dropOverlay()->subtitle(),
                  QStringLiteral("They will be copied to ") +
                      (folder == QStringLiteral("/") ? folder : QStringLiteral("Photos")));
    }
}

TEST_F(MacPaneTest, MacRowsDraggedOntoTheMacPaneAreRefused)
{
    clickRow(QStringLiteral("alpha.txt"));
    pane->copySelection(); // what the drag's start does
    QMimeData data;
    data.setText(QStringLiteral("alpha.txt"));
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane, &enter);
    EXPECT_FALSE(enter.isAccepted());
    EXPECT_FALSE(pane->dropOverlay()->isVisible());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane, &drop);
    EXPECT_FALSE(drop.isAccepted());
    finishEarlierPastes();
    EXPECT_EQ(QDir(work).entryList(QDir::Files).size(), 2); // no copy made
}

// The drag of a large selection puts it on the clipboard once, not once per row.
TEST_F(MacPaneTest, DraggingManySelectedRowsPutsThemOnTheClipboardOnce)
{
    for (int number = 0; number < 60; ++number) {
        write(QStringLiteral("IMG_%1.jpg").arg(number), "jpeg");
    }
    browser().refresh();
    ASSERT_TRUE(processEventsUntil([this] { return browser().items().size() == 63 && !browser().isLoading(); }));
    clickRow(QStringLiteral("alpha.txt"));
    pressKey(window, Qt::Key_A, Qt::ControlModifier);
    ASSERT_TRUE(processEventsUntil([this] { return pane->selection().size() == 63; }));
    QList<QUrl> listed;
    for (const LocalItem& each : browser().items()) {
        listed.append(each.id);
    }

    QSignalSpy changes(&fixture->app->clipboard(), &Clipboard::contentsChanged);
    // Every cell of every selected row, as the table's drag hands them over.
    const std::unique_ptr<QMimeData> dragged(
        pane->table()->itemModel()->mimeData(pane->table()->selectionModel()->selectedIndexes()));
    ASSERT_TRUE(dragged);
    EXPECT_EQ(dragged->urls(), listed);
    EXPECT_EQ(fixture->app->clipboard().contents().urls(), listed);
    EXPECT_EQ(changes.count(), 1);
}

// A drag's text is read once, when it enters; what the clipboard holds is asked at every move, so
// device items leaving the clipboard during the drag turn it away.
TEST_F(MacPaneTest, AHoveringDragReadsItsTextOnceAndFollowsTheClipboard)
{
    ASSERT_TRUE(waitForDevicePage());
    const std::unique_ptr<QMimeData> unused = deviceDrag(); // device items on the clipboard
    CountingMimeData data;
    data.setText(NativeTablePasteboardItem::androidDragMarker());
    const auto move = [this, &data](int step) {
        QDragMoveEvent moved(QPoint(20, 20 + step), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane, &moved);
        return moved.isAccepted();
    };
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane, &enter);
    EXPECT_TRUE(enter.isAccepted());
    for (int step = 1; step <= 20; ++step) {
        EXPECT_TRUE(move(step)) << step;
    }
    EXPECT_TRUE(pane->dropOverlay()->isVisible());
    EXPECT_EQ(data.reads.value(QStringLiteral("text/plain")), 1);

    fixture->app->clipboard().copyLocal({item(QStringLiteral("alpha.txt"))->id});
    EXPECT_FALSE(move(21));
    EXPECT_FALSE(pane->dropOverlay()->isVisible());
    QDragLeaveEvent leave;
    QApplication::sendEvent(pane, &leave);
}

TEST_F(MacPaneTest, DraggingARowOutsideTheSelectionCopiesThatRowAlone)
{
    clickRow(QStringLiteral("alpha.txt"));
    const std::optional<LocalItem> beta = item(QStringLiteral("beta.txt"));
    ASSERT_TRUE(beta);
    const QSet<QUrl> before = pane->selection();
    const QModelIndex row =
        pane->table()->itemModel()->index(*pane->table()->itemModel()->rowOf(beta->id), 0);
    std::unique_ptr<QMimeData> dragged(pane->table()->itemModel()->mimeData({row}));
    ASSERT_TRUE(dragged);
    EXPECT_EQ(dragged->urls(), QList<QUrl>{beta->id});
    EXPECT_EQ(fixture->app->clipboard().contents().urls(), QList<QUrl>{beta->id});
    EXPECT_EQ(pane->selection(), before);
}

TEST_F(MacPaneTest, CtrlCThenCtrlVCopiesAndDeviceItemsPasteHere)
{
    clickRow(QStringLiteral("alpha.txt"));
    pressKey(window, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(fixture->app->clipboard().contents().urls(),
              QList<QUrl>{item(QStringLiteral("alpha.txt"))->id});

    ASSERT_TRUE(waitForDevicePage());
    const std::unique_ptr<QMimeData> unused = deviceDrag(); // device items on the clipboard
    pressKey(window, Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(processEventsUntil([this] { return QFile::exists(work.filePath(draggedName)); }));
}

TEST_F(MacPaneTest, KeysActOnlyWhileTheMacPaneIsFocused)
{
    window->state().focusPane(FocusedPane::android);
    for (const PaneKeyCommand command :
         {PaneKeyCommand::copy, PaneKeyCommand::paste, PaneKeyCommand::selectAll,
          PaneKeyCommand::parentFolder, PaneKeyCommand::refresh, PaneKeyCommand::deleteSelection,
          PaneKeyCommand::openSelection}) {
        EXPECT_FALSE(pane->handleKey(command));
    }
    EXPECT_TRUE(pane->selection().isEmpty());
    EXPECT_EQ(browser().currentDirectory(), QUrl::fromLocalFile(work.path()));
    window->state().focusPane(FocusedPane::mac);
    EXPECT_FALSE(pane->handleKey(PaneKeyCommand::deleteSelection)); // nothing selected: not handled
    EXPECT_TRUE(window->state().localDeleteTargets().isEmpty());
    window->state().focusPane(FocusedPane::mac);
    pressKey(window, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(processEventsUntil([this] { return pane->selection().size() == 3; }));

    // Delete with a selection asks the window for the confirmation of exactly those items.
    pressKey(window, Qt::Key_Delete);
    EXPECT_EQ(window->state().localDeleteTargets().size(), 3);
    // Return with several rows does nothing.
    pressKey(window, Qt::Key_Return);
    EXPECT_TRUE(opener->opened.isEmpty());
}

TEST_F(MacPaneTest, OpenNavigatesIntoFoldersAndHandsFilesToTheDefaultApplication)
{
    clickRow(QStringLiteral("beta.txt"));
    pressKey(window, Qt::Key_Return);
    EXPECT_EQ(opener->opened, QStringList{work.filePath(QStringLiteral("beta.txt"))});

    opener->succeeds = false;
    pane->open(*item(QStringLiteral("alpha.txt")));
    ASSERT_TRUE(coordinator().lastError().has_value());
    EXPECT_TRUE(coordinator().lastError()->userMessage().contains(QStringLiteral("alpha.txt")));
    EXPECT_TRUE(coordinator().lastError()->userMessage().endsWith(
        QStringLiteral("No compatible Mac application is available.")));

    pane->open(*item(QStringLiteral("Photos")));
    EXPECT_EQ(browser().currentDirectory(), QUrl::fromLocalFile(work.filePath(QStringLiteral("Photos"))));
}

TEST_F(MacPaneTest, ContextMenusHoldTheItemsOfTheirTargets)
{
    const LocalItem file = *item(QStringLiteral("alpha.txt"));
    const LocalItem folder = *item(QStringLiteral("Photos"));
    struct Case {
        QSet<QUrl> rows;
        QStringList titles;
    };
    const QList<Case> cases{
        {{file.id}, {"Open", "-", "Copy", "Copy to Android", "Paste", "-", "Rename…", "-", "Delete"}},
        {{folder.id},
         {"Open", "-", "Calculate Folder Size", "-", "Copy", "Copy to Android", "Paste", "-", "Rename…", "-",
          "Delete"}},
        {{}, {"Copy", "Copy to Android", "Paste"}},
    };
    for (const Case& row : cases) {
        const std::unique_ptr<QMenu> menu = pane->buildContextMenu(row.rows);
        EXPECT_EQ(menuTitles(menu.get()), row.titles);
    }
    // Rename and Delete ask the window for their sheets.
    const std::unique_ptr<QMenu> menu = pane->buildContextMenu({file.id});
    menu->findChild<QAction*>(QStringLiteral("renameAction"))->trigger();
    ASSERT_TRUE(window->state().localRenameTarget().has_value());
    EXPECT_EQ(window->state().localRenameTarget()->id, file.id);
    menu->findChild<QAction*>(QStringLiteral("deleteAction"))->trigger();
    EXPECT_EQ(window->state().localDeleteTargets().size(), 1);
    // Copy with no target empties the clipboard.
    fixture->app->clipboard().copyLocal({file.id});
    const std::unique_ptr<QMenu> empty = pane->buildContextMenu({});
    empty->findChild<QAction*>(QStringLiteral("copyAction"))->trigger();
    EXPECT_EQ(fixture->app->clipboard().contents().kind(), ClipboardContents::Kind::empty);
}

TEST_F(MacPaneTest, HeaderFollowsSelectionFocusAndHiddenFiles)
{
    PaneHeader* header = pane->header();
    EXPECT_FALSE(header->selectionBadge()->isVisible());
    clickRow(QStringLiteral("alpha.txt"));
    EXPECT_TRUE(header->selectionBadge()->isVisible());
    EXPECT_EQ(header->selectionBadge()->text(), QStringLiteral("1 selected"));
    EXPECT_EQ(PaneHeader::selectionBadgeText(0), QString());
    EXPECT_EQ(PaneHeader::selectionBadgeText(3), QStringLiteral("3 selected"));

    EXPECT_TRUE(header->focusedCaption()->isVisible());
    window->state().focusPane(FocusedPane::android);
    EXPECT_FALSE(header->focusedCaption()->isVisible());

    EXPECT_EQ(header->hiddenFilesButton()->toolTip(), QStringLiteral("Show hidden files"));
    EXPECT_EQ(SymbolIcons::symbolOf(header->hiddenFilesButton()), QStringLiteral("eye.slash"));
    QTest::mouseClick(header->hiddenFilesButton(), Qt::LeftButton);
    EXPECT_TRUE(browser().showHiddenFiles());
    EXPECT_EQ(header->hiddenFilesButton()->toolTip(), QStringLiteral("Hide hidden files"));
    EXPECT_EQ(SymbolIcons::symbolOf(header->hiddenFilesButton()), QStringLiteral("eye"));

    QTest::mouseClick(header->newFolderButton(), Qt::LeftButton);
    EXPECT_TRUE(window->state().showingNewFolderLocal());

    // The parent button leads up, and is disabled at the root.
    EXPECT_TRUE(header->parentButton()->isEnabled());
    browser().navigateTo(QUrl::fromLocalFile(QStringLiteral("/")));
    EXPECT_FALSE(header->parentButton()->isEnabled());
}

TEST_F(MacPaneTest, TheStripAndHeaderFollowTheSelectionAndFolderSizesAsTheyArrive)
{
    write(QStringLiteral("Photos/p.jpg"), "1234567");
    SelectionPreflightStrip* strip = pane->selectionStrip();
    // What the strip must say: the browser's own sum over the whole listing for the selection.
    const auto expected = [this] {
        return SelectionPreflightStrip::selectionText(browser().selectionSummary(pane->selection(), std::nullopt));
    };
    struct Step {
        const char* what;
        std::function<void()> act;
        QString badge;
        QString text;
    };
    const QList<Step> steps{
        {"Ctrl+A, until the folder is measured",
         [this] {
             clickRow(QStringLiteral("alpha.txt"));
             pressKey(window, Qt::Key_A, Qt::ControlModifier);
             ASSERT_TRUE(processEventsUntil([this] {
                 const std::optional<LocalItem> photos = item(QStringLiteral("Photos"));
                 return browser().calculatingFolderSizeIDs().isEmpty() && photos && photos->size == 7;
             }));
         },
         QStringLiteral("3 selected"), QStringLiteral("3 items · 17 bytes")},
        {"a new file listed among the selected rows",
         [this] {
             write(QStringLiteral("alpha0.txt"), "gg");
             browser().refresh();
             ASSERT_TRUE(processEventsUntil([this] { return item(QStringLiteral("alpha0.txt")).has_value(); }));
         },
         QStringLiteral("3 selected"), QStringLiteral("3 items · 17 bytes")},
        {"a click on one file", [this] { clickRow(QStringLiteral("beta.txt")); }, QStringLiteral("1 selected"),
         QStringLiteral("1 item · 5 bytes")},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        processEventsUntil([] { return false; }, std::chrono::milliseconds(5));
        EXPECT_EQ(pane->header()->selectionBadge()->text(), step.badge);
        EXPECT_EQ(strip->selectionLabel()->text(), step.text);
        EXPECT_EQ(strip->selectionLabel()->text(), expected());
        // What Ctrl+C, Delete or the copy button take: the selected items as listed now.
        QList<LocalItem> selected;
        for (const LocalItem& listed : browser().items()) {
            if (pane->selection().contains(listed.id)) {
                selected.append(listed);
            }
        }
        EXPECT_EQ(pane->selectedItems(), selected);
    }
}

TEST_F(MacPaneTest, PathEditorOpensFoldersAndFilesAndKeepsAWrongPath)
{
    MacBreadcrumbBar* bar = pane->breadcrumbBar();
    QTest::mouseClick(bar->editButton(), Qt::LeftButton);
    ASSERT_TRUE(bar->isEditingPath());
    EXPECT_EQ(bar->pathField()->text(), work.path());
    ASSERT_TRUE(processEventsUntil([bar] { return bar->pathField()->hasFocus(); }));

    // A missing path: "Not found", the editor stays with the text.
    bar->pathField()->clear();
    QTest::keyClicks(bar->pathField(), work.filePath(QStringLiteral("missing")));
    pressKey(window, Qt::Key_Return);
    EXPECT_TRUE(bar->isEditingPath());
    EXPECT_TRUE(bar->hasPathError());
    EXPECT_TRUE(bar->notFoundLabel()->isVisible());
    EXPECT_EQ(bar->notFoundLabel()->text(), QStringLiteral("Not found"));
    // Reported once, in the editor: the window's message strip stays away.
    EXPECT_FALSE(window->findChild<LocalMessageStrip*>()->isVisible());
    EXPECT_EQ(bar->pathField()->text(), work.filePath(QStringLiteral("missing")));
    EXPECT_EQ(browser().currentDirectory(), QUrl::fromLocalFile(work.path()));

    // A folder, with spaces around it, opens and brings the crumbs back.
    bar->pathField()->setText(QStringLiteral("  ") + work.filePath(QStringLiteral("Photos")) +
                              QStringLiteral(" "));
    pressKey(window, Qt::Key_Return);
    EXPECT_FALSE(bar->isEditingPath());
    EXPECT_FALSE(bar->hasPathError());
    EXPECT_EQ(browser().currentDirectory(), QUrl::fromLocalFile(work.filePath(QStringLiteral("Photos"))));

    // A file opens the folder that holds it.
    bar->beginPathEdit();
    bar->pathField()->setText(work.filePath(QStringLiteral("alpha.txt")));
    QTest::mouseClick(bar->goButton(), Qt::LeftButton);
    EXPECT_FALSE(bar->isEditingPath());
    EXPECT_EQ(browser().currentDirectory(), QUrl::fromLocalFile(work.path()));

    // Escape restores the crumbs without moving.
    bar->beginPathEdit();
    ASSERT_TRUE(processEventsUntil([bar] { return bar->pathField()->hasFocus(); }));
    bar->pathField()->setText(QStringLiteral("/"));
    pressKey(window, Qt::Key_Escape);
    EXPECT_FALSE(bar->isEditingPath());
    EXPECT_TRUE(bar->crumbRow()->isVisible());
    EXPECT_EQ(browser().currentDirectory(), QUrl::fromLocalFile(work.path()));
}

TEST_F(MacPaneTest, CrumbsOpenTheirFoldersAndTheRowsLeftBehindLeaveTheSelection)
{
    clickRow(QStringLiteral("alpha.txt"));
    ASSERT_EQ(pane->selection().size(), 1);
    QList<QToolButton*> crumbs;
    for (QToolButton* button :
         pane->breadcrumbBar()->findChildren<QToolButton*>(QStringLiteral("crumbButton"))) {
        crumbs.append(button);
    }
    ASSERT_FALSE(crumbs.isEmpty());
    EXPECT_EQ(crumbs.front()->text(), QStringLiteral("/"));
    QTest::mouseClick(crumbs.back(), Qt::LeftButton); // the parent of the shown folder
    EXPECT_EQ(browser().currentDirectory(), QUrl::fromLocalFile(fixture->home.path()));
    // The selected row stayed in the folder left: once the parent is listed it is not selected.
    EXPECT_TRUE(processEventsUntil([this] { return !browser().isLoading() && pane->selection().isEmpty(); }));
    EXPECT_TRUE(pane->header()->selectionBadge()->isHidden());
}

TEST_F(MacPaneTest, DeleteAfterTheConfirmationMovesToTheTrash)
{
    clickRow(QStringLiteral("beta.txt"));
    pressKey(window, Qt::Key_Delete);
    ASSERT_EQ(window->state().localDeleteTargets().size(), 1);
    EXPECT_TRUE(QFile::exists(work.filePath(QStringLiteral("beta.txt")))); // nothing before the answer
    // The confirmation's Delete.
    browser().deleteItems(window->state().localDeleteTargets());
    EXPECT_TRUE(
        processEventsUntil([this] { return !item(QStringLiteral("beta.txt")) && !browser().isLoading(); }));
    EXPECT_FALSE(QFile::exists(work.filePath(QStringLiteral("beta.txt"))));
    EXPECT_TRUE(QFile::exists(QDir(trash.path()).filePath(QStringLiteral("Trash/files/beta.txt"))));
}

TEST_F(MacPaneTest, FailedRenamesShowTheMessageWhereTheTransferErrorStands)
{
    auto* strip = window->findChild<LocalMessageStrip*>();
    ASSERT_NE(strip, nullptr);
    EXPECT_FALSE(strip->isVisible());
    const LocalItem alpha = *item(QStringLiteral("alpha.txt"));

    browser().rename(alpha, QStringLiteral("a/b"));
    ASSERT_TRUE(processEventsUntil([strip] { return strip->isVisible(); }));
    EXPECT_FALSE(strip->messageLabel()->text().isEmpty());
    EXPECT_TRUE(QFile::exists(work.filePath(QStringLiteral("alpha.txt"))));
    EXPECT_FALSE(QFile::exists(work.filePath(QStringLiteral("a/b"))));
    QTest::mouseClick(strip->dismissButton(), Qt::LeftButton);
    EXPECT_FALSE(strip->isVisible());
    EXPECT_FALSE(browser().errorMessage().has_value());

    // Onto a name that is taken: the message, and both files as they were.
    browser().rename(alpha, QStringLiteral("beta.txt"));
    ASSERT_TRUE(processEventsUntil([strip] { return strip->isVisible(); }));
    EXPECT_TRUE(strip->messageLabel()->text().startsWith(QStringLiteral("Could not rename")));
    QFile beta(work.filePath(QStringLiteral("beta.txt")));
    ASSERT_TRUE(beta.open(QIODevice::ReadOnly));
    EXPECT_EQ(beta.readAll(), QByteArray("beta!"));
    EXPECT_TRUE(QFile::exists(work.filePath(QStringLiteral("alpha.txt"))));

    // A transfer error takes the place first; the message comes back after its Dismiss.
    coordinator().reportError(QuillbarrowError::transferFailed(QStringLiteral("stopped")));
    EXPECT_FALSE(strip->isVisible());
    coordinator().clearLastError();
    EXPECT_TRUE(strip->isVisible());
}

// The two strips that stand in one place, the transfer error's and the local message's, carry
// one and the same error symbol.
TEST_F(MacPaneTest, BothMessageStripsShowTheSameErrorSymbol)
{
    const auto* transferIcon = window->findChild<QLabel*>(QStringLiteral("transferErrorIcon"));
    const auto* localIcon = window->findChild<QLabel*>(QStringLiteral("localMessageIcon"));
    ASSERT_NE(transferIcon, nullptr);
    ASSERT_NE(localIcon, nullptr);
    EXPECT_EQ(transferIcon->property(SymbolIcons::symbolProperty), localIcon->property(SymbolIcons::symbolProperty));
    EXPECT_EQ(transferIcon->pixmap().toImage(), localIcon->pixmap().toImage());
}

TEST_F(MacPaneTest, AFolderThatCannotBeListedOrWrittenSaysSoInTheStrip)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads and writes every folder: run through run-unprivileged.sh";
    }
    auto* strip = window->findChild<LocalMessageStrip*>();
    const QString locked = work.filePath(QStringLiteral("Locked"));
    ASSERT_TRUE(work.mkdir(QStringLiteral("Locked")));
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::Permissions()));
    browser().navigateTo(QUrl::fromLocalFile(locked));
    EXPECT_TRUE(processEventsUntil([strip] { return strip->isVisible(); }));
    EXPECT_FALSE(strip->messageLabel()->text().isEmpty());
    QTest::mouseClick(strip->dismissButton(), Qt::LeftButton);

    // A read-only folder refuses the new folder; the failure is not silent.
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    browser().navigateTo(QUrl::fromLocalFile(locked));
    ASSERT_TRUE(waitForListing());
    EXPECT_FALSE(strip->isVisible());
    browser().createFolder(QStringLiteral("New"));
    EXPECT_TRUE(processEventsUntil([strip] { return strip->isVisible(); }));
    EXPECT_FALSE(QFile::exists(QDir(locked).filePath(QStringLiteral("New"))));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(MacPaneTest, FavouritesMenuAddsSetsTheDefaultAndRemoves)
{
    browser().startObservingVolumes();
    QMenu* menu = pane->favoritesMenu();
    const auto refill = [menu] { Q_EMIT menu->aboutToShow(); };
    const auto action = [menu](const QString& title) -> QAction* {
        for (QAction* item : menu->actions()) {
            if (item->text() == title) {
                return item;
            }
        }
        return nullptr;
    };
    refill();
    ASSERT_NE(action(QStringLiteral("Add Current Folder")), nullptr);
    ASSERT_NE(action(QStringLiteral("Set Current as Default")), nullptr);
    EXPECT_EQ(action(QStringLiteral("Remove Work")), nullptr); // no user favourite yet

    action(QStringLiteral("Add Current Folder"))->trigger();
    action(QStringLiteral("Set Current as Default"))->trigger();
    refill();
    EXPECT_NE(action(QStringLiteral("Work (Default)")), nullptr);
    QAction* remove = action(QStringLiteral("Remove Work"));
    ASSERT_NE(remove, nullptr);

    // Choosing a favourite clears the selection, then opens it.
    browser().navigateTo(QUrl::fromLocalFile(work.filePath(QStringLiteral("Photos"))));
    ASSERT_TRUE(waitForListing());
    pane->setSelection({QUrl::fromLocalFile(work.filePath(QStringLiteral("Photos/x")))});
    action(QStringLiteral("Work (Default)"))->trigger();
    EXPECT_TRUE(pane->selection().isEmpty());
    EXPECT_EQ(browser().currentDirectory(), QUrl::fromLocalFile(work.path()));
    window->state().focusPane(FocusedPane::mac);
    EXPECT_FALSE(pane->handleKey(PaneKeyCommand::deleteSelection)); // nothing selected: not handled
    EXPECT_TRUE(window->state().localDeleteTargets().isEmpty());

    remove->trigger();
    refill();
    EXPECT_EQ(action(QStringLiteral("Remove Work")), nullptr);
}

// A menu reads one "&" as the mark of a shortcut letter; folder names are shown as written.
TEST_F(MacPaneTest, FavouriteFolderNamesKeepTheirAmpersands)
{
    ASSERT_TRUE(work.mkdir(QStringLiteral("Tom & Jerry")));
    browser().navigateTo(QUrl::fromLocalFile(work.filePath(QStringLiteral("Tom & Jerry"))));
    ASSERT_TRUE(waitForListing());
    browser().addCurrentDirectoryToFavorites();
    QMenu* menu = pane->favoritesMenu();
    Q_EMIT menu->aboutToShow();
    QStringList titles;
    for (const QAction* item : menu->actions()) {
        titles.append(item->text());
    }
    EXPECT_TRUE(titles.contains(QStringLiteral("Tom && Jerry"))) << titles.join(u'|').toStdString();
    EXPECT_TRUE(titles.contains(QStringLiteral("Remove Tom && Jerry"))) << titles.join(u'|').toStdString();
}

TEST_F(MacPaneTest, HeaderTakesTheTallerHeightOfThePanesAndKeepsItsStripAtTheBottom)
{
    PaneHeader* header = pane->header();
    ASSERT_TRUE(processEventsUntil([this] { return window->state().paneHeaderHeight() > 0; }));
    EXPECT_EQ(window->state().paneHeaderHeight(), header->sizeHint().height());
    const int taller = header->height() + 60;
    window->state().reportPaneHeaderHeight(FocusedPane::android, taller);
    ASSERT_TRUE(processEventsUntil([header, taller] { return header->height() == taller; }));
    // The strip's room ends at the header's padding; the strip is drawn at the top of its room.
    QWidget* room = header->stripSlot();
    EXPECT_EQ(room->mapTo(header, QPoint(0, room->height())).y(), taller - 10);
    EXPECT_EQ(pane->selectionStrip()->mapTo(room, QPoint(0, 0)).y(), 0);
    // A shorter report later does not shrink it, once the layouts have taken the report in.
    window->state().reportPaneHeaderHeight(FocusedPane::android, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_EQ(header->minimumHeight(), taller);
    EXPECT_EQ(header->height(), taller);
}

// The header keeps the room of the strip's selection line: a first selection (of a file or of a
// folder) moves neither the header nor the table below it.
TEST_F(MacPaneTest, ASelectionNeverChangesTheHeadersHeight)
{
    ASSERT_TRUE(processEventsUntil([this] { return window->state().paneHeaderHeight() > 0; }));
    const int headerHeight = pane->header()->height();
    const int tableTop = pane->table()->mapTo(window, QPoint(0, 0)).y();
    for (const QString& name : {QStringLiteral("alpha.txt"), QStringLiteral("Photos")}) {
        clickRow(name);
        ASSERT_TRUE(processEventsUntil([this] { return pane->selection().size() == 1; }));
        EXPECT_FALSE(pane->selectionStrip()->selectionRow()->isHidden()) << name.toStdString();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
        EXPECT_EQ(pane->header()->height(), headerHeight) << name.toStdString();
        EXPECT_EQ(pane->table()->mapTo(window, QPoint(0, 0)).y(), tableTop) << name.toStdString();
        EXPECT_EQ(window->state().paneHeaderHeight(), headerHeight) << name.toStdString();
    }
}

// Home and one drive mounted at `drive`.
class TwoVolumes final : public VolumeMonitor {
  public:
    explicit TwoVolumes(QString drive, QString label = QStringLiteral("TRAVEL"))
        : m_drive(std::move(drive)), m_label(std::move(label))
    {
    }
    QList<MountedVolume> mountedVolumes() const override
    {
        if (!mounted) {
            return {};
        }
        BlockDeviceFacts stick;
        stick.isRemovable = true;
        stick.isEjectable = true;
        stick.isInternal = false;
        return {MountedVolume{MountRecord{QStringLiteral("8:17"), QStringLiteral("/"), m_drive,
                                          QStringLiteral("vfat"), QStringLiteral("/dev/sdb1")},
                              stick, m_label}};
    }
    void startWatching() override {}
    bool mounted = true;

  private:
    QString m_drive;
    QString m_label;
};

TEST_F(MacPaneTest, VolumesSwitcherShowsWithTwoLocationsAndOpensTheOtherOne)
{
    QTemporaryDir drive;
    auto volumes = std::make_shared<TwoVolumes>(drive.path());
    // The work folder lies outside the user's Home, so Home is not active at first.
    LocalBrowserViewModel local(QUrl::fromLocalFile(work.path()),
                                AppLogger(QStringLiteral("LocalBrowserViewModel")), fixture->defaults,
                                volumes);
    WindowState state;
    LocalPaneView two(local, coordinator(), device(), state);
    two.resize(700, 500);
    two.show();
    local.refreshLocations();
    ASSERT_EQ(local.locations().size(), 2);
    VolumesSwitcher* switcher = two.volumesSwitcher();
    EXPECT_TRUE(switcher->isVisibleTo(&two));
    ASSERT_EQ(switcher->segments().size(), 2);
    EXPECT_EQ(switcher->findChildren<QFrame*>().size(), 1); // one divider between two segments
    QToolButton* travel = switcher->segments()[1];
    EXPECT_EQ(travel->toolTip(), QStringLiteral("Open TRAVEL"));
    ASSERT_TRUE(processEventsUntil([travel] { return travel->isVisible(); }));

    two.setSelection({QUrl::fromLocalFile(work.filePath(QStringLiteral("alpha.txt")))});
    travel->click();
    EXPECT_EQ(local.currentDirectory(), QUrl::fromLocalFile(drive.path()));
    EXPECT_TRUE(two.selection().isEmpty());
    travel = switcher->segments()[1];
    EXPECT_FALSE(travel->isEnabled()); // the active one does nothing
    EXPECT_EQ(SymbolIcons::symbolOf(travel), QStringLiteral("checkmark.circle.fill"));
    // ... yet its check mark is drawn in full colour, not faded like a disabled icon.
    EXPECT_EQ(travel->icon().pixmap(travel->iconSize(), QIcon::Disabled).toImage(),
              travel->icon().pixmap(travel->iconSize(), QIcon::Normal).toImage());
    EXPECT_EQ(travel->toolTip(), QStringLiteral("Current location: TRAVEL"));
    EXPECT_TRUE(switcher->segments()[0]->isEnabled());

    // The drive goes: Home alone shows no switcher.
    volumes->mounted = false;
    local.refreshLocations();
    EXPECT_FALSE(switcher->isVisibleTo(&two));
}

// A drive's name is shown as it is: an "&" in it is no shortcut mark.
TEST_F(MacPaneTest, AVolumeNameKeepsItsAmpersand)
{
    QTemporaryDir drive;
    LocalBrowserViewModel local(QUrl::fromLocalFile(work.path()), AppLogger(QStringLiteral("LocalBrowserViewModel")),
                                fixture->defaults, std::make_shared<TwoVolumes>(drive.path(), QStringLiteral("Tom & Jerry")));
    WindowState state;
    LocalPaneView two(local, coordinator(), device(), state);
    local.refreshLocations();
    ASSERT_EQ(two.volumesSwitcher()->segments().size(), 2);
    const QString shown = two.volumesSwitcher()->segments()[1]->text();
    EXPECT_TRUE(QKeySequence::mnemonic(shown).isEmpty()) << shown.toStdString();
    EXPECT_EQ(QString(shown).replace(QStringLiteral("&&"), QStringLiteral("&")), QStringLiteral("Tom & Jerry"));
}

TEST(MacNavigationTest, TheLongestContainingLocationIsActive)
{
    const auto location = [](const QString& path) {
        const QUrl url = QUrl::fromLocalFile(path);
        return VolumeLocation(url, path, url, QStringLiteral("externaldrive"), true);
    };
    const QList<VolumeLocation> locations{location(QStringLiteral("/home/ann")),
                                          location(QStringLiteral("/media/Data")),
                                          location(QStringLiteral("/media/Data/Inner"))};
    struct Case {
        const char* folder;
        std::optional<QString> active;
    };
    const Case cases[] = {
        {"/home/ann", QStringLiteral("/home/ann")},
        {"/home/ann/Music", QStringLiteral("/home/ann")},
        {"/media/Data2/x", std::nullopt}, // the "/" keeps Data from claiming Data2
        {"/media/Data/Inner/y", QStringLiteral("/media/Data/Inner")},
        {"/usr/share", std::nullopt},
    };
    for (const Case& row : cases) {
        const std::optional<QUrl> active =
            activeLocationID(locations, QUrl::fromLocalFile(QString::fromUtf8(row.folder)));
        EXPECT_EQ(active ? std::optional<QString>(active->toLocalFile()) : std::nullopt, row.active)
            << row.folder;
    }
    // Equally long: the first in list order.
    const QList<VolumeLocation> twins{location(QStringLiteral("/media/a")),
                                      location(QStringLiteral("/media/a"))};
    EXPECT_EQ(activeLocationID(twins, QUrl::fromLocalFile(QStringLiteral("/media/a/z"))), twins.front().id);
}

} // namespace
} // namespace quillbarrow::testing
