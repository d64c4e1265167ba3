// The whole window driven from the keyboard alone, as a person without a mouse does: which table
// has the keyboard, how Tab walks the window, and what the header shows as rows come and go.

#include "WholeWindowRig.h"
#include "chrome/DeviceSidebar.h"
#include "chrome/NewFolderSheet.h"
#include "chrome/RenameSheet.h"
#include "domain/RemoteItem.h"
#include "panes/AndroidPaneView.h"
#include "panes/LocalPaneView.h"
#include "panes/MacNavigation.h"
#include "panes/PaneHeader.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "shell/MainWindow.h"
#include "shell/PaneArea.h"
#include "shell/WindowSheets.h"
#include "style/SymbolIcons.h"
#include "window/WindowState.h"
#include "table/LocalItemTable.h"
#include "table/RemoteItemTable.h"
#include "transport/MockDeviceSession.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

namespace quillbarrow::testing {
namespace {

// Counts the mouse presses the application sees, to show that a session used none.
struct MouseWatch final : QObject {
    int presses = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            ++presses;
        }
        return QObject::eventFilter(watched, event);
    }
};

class KeyboardSession : public WholeWindowTest {
  protected:
    void SetUp() override
    {
        WholeWindowTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        androidPane = qobject_cast<AndroidPaneView*>(window->paneArea()->androidPane());
        ASSERT_NE(androidPane, nullptr);
    }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { pressKey(window, key, modifiers); }

    // Moves the current row of the table with the keyboard (Home, then Down) to `name`, and waits
    // until the pane's selection is that row.
    template <typename Item>
    bool keyTo(NativeTable<Item>* table, const QString& name)
    {
        if (!processEventsUntil([table, &name] {
                for (int row = 0; row < table->itemModel()->rowCount(); ++row) {
                    if (table->itemModel()->item(row).name == name) {
                        return true;
                    }
                }
                return false;
            })) {
            return false;
        }
        press(Qt::Key_Home);
        for (int step = 0; step < table->itemModel()->rowCount(); ++step) {
            const QModelIndex current = table->currentIndex();
            if (current.isValid() && table->itemModel()->item(current.row()).name == name) {
                const typename NativeTable<Item>::ID id = table->itemModel()->item(current.row()).id;
                return processEventsUntil([table, id] { return table->selection() == QSet<typename NativeTable<Item>::ID>{id}; });
            }
            press(Qt::Key_Down);
        }
        return false;
    }

    bool keyboardIsIn(QWidget* widget) const { return QApplication::focusWidget() == widget; }

    // Whether the pane's header says it has the keyboard, and the other one does not.
    bool markedFocused(PaneFrame* pane, PaneFrame* other) const
    {
        return !pane->header()->focusedCaption()->isHidden() && other->header()->focusedCaption()->isHidden();
    }

    QByteArray deviceBytes(const std::optional<RemoteItem>& item)
    {
        return item ? mockSession().content(item->id).value_or(QByteArray("<no bytes>")) : QByteArray("<missing>");
    }

    AndroidPaneView* androidPane = nullptr;
};

// Lists, opens, selects and copies a file from the phone to the computer and back, with keys only.
TEST_F(KeyboardSession, ACopyBothWaysNeedsNoMouse)
{
    const QByteArray text("Written on the phone.\n");
    writeOnDevice({{QStringLiteral("Docs"), std::nullopt}, {QStringLiteral("Docs/note.txt"), text}});
    MouseWatch mouse;
    qApp->installEventFilter(&mouse);

    // The window opens with the Mac table holding the keyboard; Tab goes to the Android table.
    EXPECT_TRUE(keyboardIsIn(macPane->table()));
    EXPECT_TRUE(markedFocused(macPane, androidPane));
    press(Qt::Key_Tab);
    ASSERT_TRUE(keyboardIsIn(androidPane->table()));
    EXPECT_EQ(window->state().focusedPane(), FocusedPane::android);
    EXPECT_TRUE(markedFocused(androidPane, macPane));

    // F5 lists the folder again, with the folder made behind the pane's back.
    press(Qt::Key_F5);
    ASSERT_TRUE(keyTo(androidPane->table(), QStringLiteral("Docs")));

    // Return opens the folder; its row leaves the selection, and the header says so.
    press(Qt::Key_Return);
    ASSERT_TRUE(processEventsUntil([this] { return device().breadcrumb().size() == 2 && !device().isLoading(); }));
    EXPECT_TRUE(processEventsUntil([this] { return androidPane->selection().isEmpty(); }));
    EXPECT_TRUE(androidPane->header()->selectionBadge()->isHidden());
    EXPECT_FALSE(androidPane->header()->copyButton()->isEnabled());

    // The file is copied and pasted into the Mac folder (Shift+Tab goes back to the Mac table).
    ASSERT_TRUE(keyTo(androidPane->table(), QStringLiteral("note.txt")));
    press(Qt::Key_C, Qt::ControlModifier);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_TRUE(keyboardIsIn(macPane->table()));
    EXPECT_TRUE(markedFocused(macPane, androidPane));
    press(Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(waitForLocalRow(QStringLiteral("note.txt")));
    QFile copied(work.filePath(QStringLiteral("note.txt")));
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), text);

    // And back: the Mac copy goes to the phone's storage root (Backspace goes up a folder).
    ASSERT_TRUE(QFile::rename(copied.fileName(), work.filePath(QStringLiteral("back.txt"))));
    press(Qt::Key_F5);
    ASSERT_TRUE(keyTo(macPane->table(), QStringLiteral("back.txt")));
    press(Qt::Key_C, Qt::ControlModifier);
    press(Qt::Key_Tab);
    ASSERT_TRUE(keyboardIsIn(androidPane->table()));
    press(Qt::Key_Backspace);
    ASSERT_TRUE(processEventsUntil([this] { return device().breadcrumb().size() == 1 && !device().isLoading(); }));
    press(Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(processEventsUntil([this] { return deviceRootItem(QStringLiteral("back.txt")).has_value(); }));
    EXPECT_EQ(deviceBytes(deviceRootItem(QStringLiteral("back.txt"))), text);

    qApp->removeEventFilter(&mouse);
    EXPECT_EQ(mouse.presses, 0);
}

// F2 renames the one selected item, as the context menu's Rename does, and Ctrl+L types the
// computer's folder: a rename and a move to another folder, with keys only.
TEST_F(KeyboardSession, F2RenamesTheSelectedItemAndCtrlLTypesAFolder)
{
    QFile(work.filePath(QStringLiteral("draft.txt"))).open(QIODevice::WriteOnly);
    QFile(work.filePath(QStringLiteral("other.txt"))).open(QIODevice::WriteOnly);
    ASSERT_TRUE(work.mkpath(QStringLiteral("Archive/2026")));
    press(Qt::Key_F5);
    ASSERT_TRUE(keyTo(macPane->table(), QStringLiteral("draft.txt")));
    RenameSheet* sheet = window->sheets()->localRenameSheet();

    // Two items selected: nothing to rename.
    press(Qt::Key_A, Qt::ControlModifier);
    ASSERT_TRUE(processEventsUntil([this] { return macPane->selection().size() > 1; }));
    press(Qt::Key_F2);
    for (int turn = 0; turn < 5; ++turn) {
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(sheet->isVisible());

    ASSERT_TRUE(keyTo(macPane->table(), QStringLiteral("draft.txt")));
    press(Qt::Key_F2);
    ASSERT_TRUE(processEventsUntil([sheet] { return sheet->isVisible(); }));
    EXPECT_EQ(sheet->nameField()->text(), QStringLiteral("draft.txt"));
    sheet->nameField()->setText(QStringLiteral("final.txt"));
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_TRUE(processEventsUntil([this] { return QFile::exists(work.filePath(QStringLiteral("final.txt"))); }));
    EXPECT_FALSE(QFile::exists(work.filePath(QStringLiteral("draft.txt"))));

    // Ctrl+L: the path field takes the keyboard with the folder shown; Return goes where it says.
    // The table keeps the keyboard once the window is active again (a window manager makes it so as
    // the sheet closes; here the test does).
    EXPECT_EQ(window->focusWidget(), macPane->table());
    window->activateWindow();
    ASSERT_TRUE(processEventsUntil([this] { return keyboardIsIn(macPane->table()); }));
    press(Qt::Key_L, Qt::ControlModifier);
    QLineEdit* field = macPane->breadcrumbBar()->pathField();
    ASSERT_TRUE(processEventsUntil([field] { return field->hasFocus(); }));
    EXPECT_EQ(field->text(), work.absolutePath());
    field->setText(work.filePath(QStringLiteral("Archive/2026")));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(processEventsUntil([this] {
        return local().currentDirectory() == QUrl::fromLocalFile(work.filePath(QStringLiteral("Archive/2026")));
    }));
}

// Ctrl+H and Ctrl+Shift+N do in the pane with the keyboard what its hidden-files and new-folder
// buttons do, and nothing where those buttons are disabled; Ctrl+N stays the menu's New Window.
TEST_F(KeyboardSession, CtrlHShowsHiddenFilesAndCtrlShiftNMakesAFolder)
{
    QFile(work.filePath(QStringLiteral(".profile"))).open(QIODevice::WriteOnly);
    writeOnDevice({{QStringLiteral(".thumbnails"), std::nullopt}});
    press(Qt::Key_F5);
    ASSERT_TRUE(keyboardIsIn(macPane->table()));
    ToolbarIconButton* macEye = macPane->header()->hiddenFilesButton();

    // Ctrl+H shows the computer's hidden files, and the button says they are shown; again hides them.
    press(Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(local().showHiddenFiles());
    EXPECT_TRUE(waitForLocalRow(QStringLiteral(".profile")));
    EXPECT_EQ(macEye->toolTip(), QStringLiteral("Hide hidden files"));
    EXPECT_EQ(SymbolIcons::symbolOf(macEye), QStringLiteral("eye"));
    EXPECT_FALSE(device().showHiddenFiles());
    press(Qt::Key_H, Qt::ControlModifier);
    EXPECT_FALSE(local().showHiddenFiles());
    EXPECT_EQ(macEye->toolTip(), QStringLiteral("Show hidden files"));

    // Ctrl+Shift+N opens the computer's New Folder sheet, and no new window; its folder is made.
    NewFolderSheet* macSheet = window->sheets()->localNewFolderSheet();
    press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(processEventsUntil([macSheet] { return macSheet->isVisible(); }));
    EXPECT_EQ(fixture->app->windows().size(), 1);
    QTest::keyClicks(macSheet->nameField(), QStringLiteral("Scans"));
    QTest::keyClick(macSheet->nameField(), Qt::Key_Return);
    EXPECT_TRUE(
        processEventsUntil([this] { return QFileInfo(work.filePath(QStringLiteral("Scans"))).isDir(); }));
    EXPECT_FALSE(macSheet->isVisible());

    // In the phone's pane the same keys act there only.
    window->activateWindow();
    ASSERT_TRUE(processEventsUntil([this] { return keyboardIsIn(macPane->table()); }));
    press(Qt::Key_Tab);
    ASSERT_TRUE(keyboardIsIn(androidPane->table()));
    press(Qt::Key_F5); // lists the folder made behind the pane's back
    press(Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(device().showHiddenFiles());
    EXPECT_TRUE(processEventsUntil([this] {
        return std::ranges::any_of(device().items(), [](const RemoteItem& item) {
            return item.name == QStringLiteral(".thumbnails");
        });
    }));
    EXPECT_FALSE(local().showHiddenFiles());
    EXPECT_EQ(SymbolIcons::symbolOf(androidPane->header()->hiddenFilesButton()), QStringLiteral("eye"));
    NewFolderSheet* phoneSheet = window->sheets()->androidNewFolderSheet();
    press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(processEventsUntil([phoneSheet] { return phoneSheet->isVisible(); }));
    EXPECT_FALSE(macSheet->isVisible());
    phoneSheet->reject();
    EXPECT_FALSE(phoneSheet->isVisible());

    // Unplugged, the phone's buttons are disabled, and so are their keys (a click in the pane
    // gives it the keys, its table being gone).
    fixture->backend->simulateDisconnect(MockMTPBackend::defaultDevices().front().id);
    ASSERT_TRUE(
        processEventsUntil([this] { return !androidPane->header()->newFolderButton()->isEnabled(); }));
    window->activateWindow();
    QTest::mouseClick(androidPane, Qt::LeftButton, {}, QPoint(androidPane->width() / 2, 4));
    ASSERT_EQ(window->state().focusedPane(), FocusedPane::android);
    press(Qt::Key_H, Qt::ControlModifier);
    press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    for (int turn = 0; turn < 5; ++turn) {
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(device().showHiddenFiles());
    EXPECT_FALSE(phoneSheet->isVisible());
    EXPECT_FALSE(window->state().showingNewFolderAndroid());

    // Ctrl+N is still the menu's New Window.
    press(Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(processEventsUntil([this] { return fixture->app->windows().size() == 2; }));
}

// Tab and Shift+Tab walk the two tables and the device list, never a table's cells; a table with
// nothing to show is passed over.
TEST_F(KeyboardSession, TabWalksTheTablesAndTheSidebar)
{
    QListWidget* devices = window->sidebar()->deviceList();
    const struct {
        Qt::Key key;
        QWidget* reached;
    } steps[] = {
        {Qt::Key_Tab, androidPane->table()}, {Qt::Key_Tab, devices},         {Qt::Key_Tab, macPane->table()},
        {Qt::Key_Backtab, devices},          {Qt::Key_Backtab, androidPane->table()},
    };
    ASSERT_TRUE(keyboardIsIn(macPane->table()));
    for (const auto& step : steps) {
        press(step.key, step.key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        EXPECT_EQ(QApplication::focusWidget(), step.reached) << "after key " << step.key;
    }
    // The focused pane follows the tables only; the sidebar leaves it as it was.
    EXPECT_EQ(window->state().focusedPane(), FocusedPane::android);

    // A click in a pane, off its rows, takes the keyboard there too: keys and the mark never part.
    QTest::mouseClick(macPane, Qt::LeftButton, {}, QPoint(macPane->width() / 2, 4));
    EXPECT_EQ(QApplication::focusWidget(), macPane->table());
    EXPECT_EQ(window->state().focusedPane(), FocusedPane::mac);

    // The tooltips name the keys of this desktop.
    EXPECT_EQ(macPane->header()->parentButton()->toolTip(), QStringLiteral("Parent folder (Ctrl+\u2191)"));
    EXPECT_EQ(macPane->header()->refreshButton()->toolTip(), QStringLiteral("Refresh (Ctrl+R)"));

    // Without a listing the Android table is hidden, and Tab passes it by.
    androidPane->table()->hide();
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), devices);
}

} // namespace
} // namespace quillbarrow::testing
