// The whole window driven from the keyboard alone, as a person without a mouse does: which table
// has the keyboard, how Tab walks the window, and what the header shows as rows come and go.

#include "WholeWindowRig.h"
#include "chrome/DeleteConfirmation.h"
#include "chrome/DeviceSidebar.h"
#include "chrome/ErrorBannerView.h"
#include "chrome/NewFolderSheet.h"
#include "chrome/RenameSheet.h"
#include "chrome/ServiceRestartAlert.h"
#include "domain/RemoteItem.h"
#include "panes/AndroidPaneView.h"
#include "panes/LocalPaneView.h"
#include "panes/MacNavigation.h"
#include "panes/PaneHeader.h"
#include "panes/SelectionPreflightStrip.h"
#include "panes/blocks/ElidedLabel.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "shell/MainWindow.h"
#include "shell/PaneArea.h"
#include "shell/WindowSheets.h"
#include "style/Palette.h"
#include "table/LocalItemTable.h"
#include "table/RemoteItemTable.h"
#include "transport/MockDeviceSession.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "window/DetachedCall.h"
#include "window/WindowState.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <ranges>

namespace quillbarrow::testing {
namespace {

using namespace std::chrono_literals;

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

    // Once every transfer has ended, brings the keyboard back into `table` as a person does after a
    // sheet: the window activated, then Tab.
    bool backTo(QWidget* table)
    {
        window->activateWindow();
        const bool settled = processEventsUntil([this] {
            return window->isActiveWindow() && QApplication::focusWidget() != nullptr &&
                   std::ranges::all_of(coordinator().transferJobs(),
                                       [](const TransferJob& job) { return job.state.isTerminal(); });
        });
        for (int step = 0; settled && step < 3 && !keyboardIsIn(table); ++step) {
            press(Qt::Key_Tab);
        }
        return keyboardIsIn(table);
    }

    // Whether the pane's header says it has the keyboard, and the other one does not.
    bool markedFocused(PaneFrame* pane, PaneFrame* other) const
    {
        return !pane->header()->focusedCaption()->isHidden() && other->header()->focusedCaption()->isHidden();
    }

    QByteArray deviceBytes(const std::optional<RemoteItem>& item)
    {
        return item ? mockSession().content(item->id).value_or(QByteArray("<no bytes>")) : QByteArray("<missing>");
    }

    static QTableView* tableOf(PaneFrame* pane) { return qobject_cast<QTableView*>(pane->keyboardTarget()); }
    // The names of the rows in the order shown, or of those selected.
    static QStringList rowNames(PaneFrame* pane, bool selectedOnly = false)
    {
        QTableView* table = tableOf(pane);
        QStringList names;
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            if (!selectedOnly || table->selectionModel()->isRowSelected(row)) {
                names.append(table->model()->index(row, 0).data().toString());
            }
        }
        return names;
    }
    qsizetype selectedCount(PaneFrame* pane)
    {
        return pane == androidPane ? androidPane->selection().size() : macPane->selection().size();
    }
    // The names of what a copy or a delete takes from the pane: its selected items as listed now.
    QStringList selectedItemNames(PaneFrame* pane)
    {
        QStringList names;
        const auto add = [&names](const auto& items) {
            for (const auto& item : items) {
                names.append(item.name);
            }
        };
        pane == androidPane ? add(androidPane->selectedItems()) : add(macPane->selectedItems());
        return names;
    }
    // The strip weighs the pane's selection as its browser does.
    void expectStripWeighs(PaneFrame* pane)
    {
        const SelectionSizeSummary summary =
            pane == androidPane ? device().selectionSummary(androidPane->selection(), std::nullopt)
                                : local().selectionSummary(macPane->selection(), std::nullopt);
        EXPECT_EQ(pane->header()->findChild<SelectionPreflightStrip*>()->selectionLabel()->text(),
                  SelectionPreflightStrip::selectionText(summary));
    }
    bool settle(const std::function<bool()>& ready)
    {
        return processEventsUntil([&] { return !device().isLoading() && !local().isLoading() && ready(); },
                                  5s);
    }
    QString shownFolder(PaneFrame* pane)
    {
        return pane == androidPane ? device().breadcrumb().last().name()
                                   : local().currentDirectory().fileName();
    }
    // Whether the pane shows the folder it started in.
    bool atTop(PaneFrame* pane)
    {
        return pane == androidPane ? device().breadcrumb().size() == 1
                                   : local().currentDirectory() == QUrl::fromLocalFile(work.path());
    }
    // With the keyboard brought back to the pane's table, lists its folder again and selects `name`
    // with keys; `enter` then opens it with Return.
    bool keyToIn(PaneFrame* pane, const QString& name)
    {
        return backTo(tableOf(pane)) &&
               (press(Qt::Key_F5),
                pane == androidPane ? keyTo(androidPane->table(), name) : keyTo(macPane->table(), name));
    }
    bool enter(PaneFrame* pane, const QString& name)
    {
        return keyToIn(pane, name) &&
               (press(Qt::Key_Return), settle([&] { return shownFolder(pane) == name; }));
    }
    void showTransferError() { coordinator().reportError(QuillbarrowError::pathNotFound()); }
    // A rename to a name the computer refuses, which the local message strip reports.
    void showLocalMessage() { local().rename(local().items().first(), QStringLiteral("a/b")); }

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

// However the path editor closes, the keyboard is back in the Mac table, never in the phone's:
// Delete then asks about the Mac selection, with a selection waiting in the phone's table too.
// Closed by a click after the keyboard went to the phone's table, it leaves the keyboard there.
TEST_F(KeyboardSession, ThePathEditorGivesTheKeyboardBackToTheMacTable)
{
    QFile(work.filePath(QStringLiteral("keep.txt"))).open(QIODevice::WriteOnly);
    writeOnDevice({{QStringLiteral("phone.txt"), QByteArray("on the phone")}});
    press(Qt::Key_F5);
    press(Qt::Key_Tab);
    press(Qt::Key_F5);
    ASSERT_TRUE(keyTo(androidPane->table(), QStringLiteral("phone.txt")));
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_TRUE(keyTo(macPane->table(), QStringLiteral("keep.txt")));

    MacBreadcrumbBar* bar = macPane->breadcrumbBar();
    const auto click = [](QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); };
    const QList<std::tuple<const char*, std::function<void()>, PaneFrame*>> closings{
        {"Return on the folder's path", [this] { press(Qt::Key_Return); }, macPane},
        {"Esc", [this] { press(Qt::Key_Escape); }, macPane},
        {"Go", [&] { click(bar->goButton()); }, macPane},
        {"the cancel button", [&] { click(bar->cancelButton()); }, macPane},
        {"Tab, then Go", [&] { press(Qt::Key_Tab), click(bar->goButton()); }, androidPane},
        {"Tab, then the cancel button", [&] { press(Qt::Key_Tab), click(bar->cancelButton()); }, androidPane},
    };
    for (const auto& [how, close, keeping] : closings) {
        SCOPED_TRACE(how);
        const bool mac = keeping == macPane;
        QTest::mouseClick(bar->editButton(), Qt::LeftButton); // the pencil: the only way in
        ASSERT_TRUE(processEventsUntil([bar] { return bar->pathField()->hasFocus(); }));
        close();
        ASSERT_FALSE(bar->isEditingPath());
        EXPECT_TRUE(keyboardIsIn(keeping->keyboardTarget()));
        EXPECT_TRUE(markedFocused(keeping, mac ? static_cast<PaneFrame*>(androidPane) : macPane));

        press(Qt::Key_Delete);
        ASSERT_EQ(window->state().localDeleteTargets().size(), mac ? 1 : 0);
        EXPECT_EQ(window->state().androidDeleteTargets().size(), mac ? 0 : 1);
        QTest::keyClick(mac ? window->sheets()->localDeleteConfirmation()
                            : window->sheets()->androidDeleteConfirmation(),
                        Qt::Key_Escape);
        // The table has the keyboard again once the window is active (a window manager makes it
        // so as the sheet closes; here the test does).
        window->activateWindow();
        ASSERT_TRUE(processEventsUntil([&] { return keyboardIsIn(keeping->keyboardTarget()); }));
    }
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
    // The list's left edge, below its one row, is in the accent colour while it has the keyboard.
    const auto listMarked = [devices] {
        const QPoint edge(1, devices->viewport()->height() * 3 / 4);
        return devices->viewport()->grab().toImage().pixelColor(edge) == devices->palette().color(QPalette::Highlight);
    };
    ASSERT_TRUE(keyboardIsIn(macPane->table()));
    for (const auto& step : steps) {
        press(step.key, step.key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        EXPECT_EQ(QApplication::focusWidget(), step.reached) << "after key " << step.key;
        EXPECT_EQ(listMarked(), step.reached == devices) << "after key " << step.key;
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

// With the keyboard on the device list, no key acts on a pane: not the one marked focused, and not
// with a folder selected in it and something on the clipboard to paste there. Up and Down choose a
// device, as in any list.
TEST_F(KeyboardSession, KeysOnTheDeviceListActOnNoPane)
{
    const QList<TreeEntry> tree{{QStringLiteral("Docs"), std::nullopt},
                                {QStringLiteral("Docs/Inner"), std::nullopt},
                                {QStringLiteral("Docs/a.bin"), QByteArray("a")}};
    write(work, tree);
    writeOnDevice(tree);
    for (PaneFrame* pane : {static_cast<PaneFrame*>(macPane), static_cast<PaneFrame*>(androidPane)}) {
        ASSERT_TRUE(enter(pane, QStringLiteral("Docs")) && keyToIn(pane, QStringLiteral("Inner")));
    }
    QListWidget* devices = window->sidebar()->deviceList();
    const QList<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys{
        {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Backspace, Qt::NoModifier},
        {Qt::Key_Delete, Qt::NoModifier}, {Qt::Key_C, Qt::ControlModifier},
        {Qt::Key_V, Qt::ControlModifier}, {Qt::Key_A, Qt::ControlModifier},
        {Qt::Key_F5, Qt::NoModifier},     {Qt::Key_R, Qt::ControlModifier},
        {Qt::Key_Up, Qt::AltModifier},    {Qt::Key_Up, Qt::ControlModifier}};
    // What a pane command would change: the folders shown, the selections, a question, the
    // clipboard, a transfer.
    const auto panes = [this] {
        return QStringList{shownFolder(macPane),
                           shownFolder(androidPane),
                           QString::number(selectedCount(macPane)),
                           QString::number(selectedCount(androidPane)),
                           QString::number(window->state().localDeleteTargets().size()),
                           QString::number(window->state().androidDeleteTargets().size()),
                           fixture->app->clipboard().contents().summary(),
                           QString::number(coordinator().transferJobs().size())};
    };
    for (const FocusedPane marked : {FocusedPane::android, FocusedPane::mac}) {
        const bool android = marked == FocusedPane::android;
        SCOPED_TRACE(android ? "the phone's pane marked" : "the computer's pane marked");
        // Tab from the phone's table, Shift+Tab from the computer's, reach the list.
        android ? press(Qt::Key_Tab)
                : (press(Qt::Key_Tab), press(Qt::Key_Backtab, Qt::ShiftModifier),
                   press(Qt::Key_Backtab, Qt::ShiftModifier));
        ASSERT_TRUE(keyboardIsIn(devices));
        ASSERT_EQ(window->state().focusedPane(), marked);
        // Something for Ctrl+V to paste into the marked pane.
        android ? fixture->app->clipboard().copyLocal(
                      {QUrl::fromLocalFile(work.filePath(QStringLiteral("Docs/a.bin")))})
                : fixture->app->clipboard().copyDevice({*deviceRootItem(QStringLiteral("Docs"))},
                                                       device().currentPage()->storage.id);
        const QStringList before = panes();
        QSignalSpy listings(&device(), &DeviceBrowserViewModel::isLoadingChanged);
        QSignalSpy localListings(&local(), &LocalBrowserViewModel::isLoadingChanged);
        for (const auto& [key, modifiers] : keys) {
            press(key, modifiers);
        }
        QCoreApplication::processEvents(); // a selection is written on the next turn
        EXPECT_EQ(panes(), before);
        EXPECT_EQ(listings.count() + localListings.count(), 0);
        EXPECT_TRUE(keyboardIsIn(devices));
        EXPECT_EQ(window->state().focusedPane(), marked);
        press(Qt::Key_Tab); // back to the computer's table
    }

    const AndroidDevice other(DeviceID(QStringLiteral("other")), QStringLiteral("Galaxy S24"),
                              QStringLiteral("Samsung"), QStringLiteral("S24"), QStringLiteral("BBB"),
                              DeviceConnectionKind::usb);
    fixture->backend->simulateConnect(other);
    ASSERT_TRUE(processEventsUntil([devices] { return devices->count() == 2; }));
    devices->setFocus(Qt::TabFocusReason);
    const QString first = device().selectedDevice()->displayName;
    for (const auto& [key, chosen] :
         {std::pair(Qt::Key_Down, other.displayName), std::pair(Qt::Key_Up, first)}) {
        press(key);
        EXPECT_TRUE(processEventsUntil([&] {
            return device().selectedDevice() && device().selectedDevice()->displayName == chosen;
        })) << "after key "
            << key;
    }
}

// Text selected with the mouse in either strip's message goes to the system clipboard by Ctrl+C and
// by the right-click's Copy, whatever has the keyboard; the program's clipboard keeps what it held
// and the keyboard stays where it was. A click on a row ends the selection: Ctrl+C copies the row.
TEST_F(KeyboardSession, CtrlCAndTheMenuCopyTheTextSelectedInAStrip)
{
    write(work, {{QStringLiteral("m1.txt"), QByteArray("1")}});
    press(Qt::Key_F5);
    QClipboard* system = QGuiApplication::clipboard();
    Clipboard& program = fixture->app->clipboard();
    const struct {
        const char* message;
        std::function<void()> show;
        QWidget* keyboard; // where the keyboard is while the text is copied
    } cases[] = {
        {"transferErrorMessage", [this] { showTransferError(); }, macPane->table()},
        {"localMessage", [this] { showLocalMessage(); }, macPane->table()},
        {"transferErrorMessage", [this] { showTransferError(); }, window->sidebar()->deviceList()},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(std::string(each.message) + ", keyboard in " +
                     each.keyboard->objectName().toStdString());
        ASSERT_TRUE(keyToIn(macPane, QStringLiteral("m1.txt")));
        program.copyDevice({*deviceRootItem(QStringLiteral("DCIM"))}, device().currentPage()->storage.id);
        const QString held = program.contents().summary();
        each.show();
        auto* label = window->findChild<QLabel*>(QString::fromLatin1(each.message));
        ASSERT_TRUE(processEventsUntil([label] { return label->isVisible(); }));
        each.keyboard->setFocus(Qt::TabFocusReason);
        const int line = label->height() / 2;
        QTest::mousePress(label, Qt::LeftButton, {}, QPoint(2, line));
        QTest::mouseMove(label, QPoint(label->width() / 4, line));
        QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(label->width() / 4, line));
        const QString selected = label->selectedText();
        ASSERT_FALSE(selected.isEmpty());
        // Ctrl+C, then the right-click's menu, which holds the text widgets' Copy and nothing else.
        for (const bool byMenu : {false, true}) {
            EXPECT_TRUE(keyboardIsIn(each.keyboard));
            system->setText(QStringLiteral("before"));
            if (!byMenu) {
                press(Qt::Key_C, Qt::ControlModifier);
            } else {
                // A right press brings the context menu event, as the window system sends it.
                const QPoint at(label->width() / 2, line);
                QTest::mousePress(label, Qt::RightButton, {}, at);
                QContextMenuEvent opening(QContextMenuEvent::Mouse, at, label->mapToGlobal(at));
                QApplication::sendEvent(label, &opening);
                QTest::mouseRelease(label, Qt::RightButton, {}, at);
                auto* menu = label->findChild<QMenu*>(QStringLiteral("messageContextMenu"));
                ASSERT_TRUE(menu != nullptr && processEventsUntil([menu] { return menu->isVisible(); }));
                ASSERT_EQ(menu->actions().size(), 1);
                QAction* copy = menu->actions().constFirst();
                EXPECT_EQ(copy->text().section(u'\t', 0, 0).remove(u'&'), QStringLiteral("Copy"));
                EXPECT_TRUE(copy->isEnabled());
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(copy).center());
            }
            EXPECT_EQ(system->text(), selected);
            EXPECT_EQ(program.contents().summary(), held);
        }
        EXPECT_TRUE(keyboardIsIn(each.keyboard));
        // A click on a row ends the selection, and Ctrl+C is the pane's again.
        clickRow(macPane->table(), QStringLiteral("m1.txt"));
        EXPECT_FALSE(label->hasSelectedText());
        press(Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(program.contents().summary(), QStringLiteral("1 Mac item"));
        EXPECT_EQ(system->text(), selected);
        coordinator().clearLastError();
        local().clearError();
    }
}

// The accent ring round `widget`: the accent at half height by its left edge, on it or just outside.
bool ringShown(QWidget* widget)
{
    const QImage image = widget->parentWidget()->grab(widget->geometry().adjusted(-4, -4, 4, 4)).toImage();
    return std::ranges::any_of(std::views::iota(0, 8), [&](int x) {
        return image.pixelColor(x, image.height() / 2) == Palette::accent(widget->palette());
    });
}

// In every sheet, opened as the window opens it, Return presses the button with the ring, and
// otherwise the sheet's default; wherever Tab and Shift+Tab take the keyboard, the ring shows it.
// Keypad Enter does as Return.
TEST_F(KeyboardSession, ReturnPressesTheButtonWithTheRingElseTheSheetsDefault)
{
    write(work, {{QStringLiteral("a.txt"), QByteArray("from the computer")}});
    writeOnDevice({{QStringLiteral("a.txt"), QByteArray("on the phone")}});
    press(Qt::Key_F5);
    ASSERT_TRUE(keyTo(macPane->table(), QStringLiteral("a.txt")));
    press(Qt::Key_C, Qt::ControlModifier);
    press(Qt::Key_Tab);
    press(Qt::Key_F5);

    const auto restartAlert = [this] {
        auto* alert = new ServiceRestartAlert(window);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->open();
    };
    const struct {
        const char* sheet;
        std::function<void()> open;
        // Tab presses (Shift+Tab below 0), then the button that Return presses.
        QList<std::pair<int, const char*>> answers;
    } sheets[] = {
        {"conflict, opening on the box",
         [this] {
             ASSERT_TRUE(backTo(androidPane->table()));
             press(Qt::Key_V, Qt::ControlModifier); // a.txt is on the phone already
         },
         {{0, "replaceButton"}, {-1, "replaceButton"}, {-2, "keepBothButton"}, {-3, "skipButton"},
          {1, "cancelButton"}}},
        {"new folder",
         [this] {
             window->state().setShowingNewFolderLocal(true);
             QTest::keyClicks(window->sheets()->localNewFolderSheet()->nameField(), QStringLiteral("Made"));
         },
         {{0, "createButton"}, {1, "cancelButton"}, {2, "createButton"}}},
        {"rename", [this] { window->state().setLocalRenameTarget(local().items().first()); },
         {{0, "renameButton"}, {1, "cancelButton"}}},
        {"delete", [this] { window->state().setLocalDeleteTargets({local().items().first()}); },
         {{0, "cancelButton"}, {1, "deleteButton"}}},
        {"restart alert", restartAlert, {{1, "cancelButton"}, {2, "restartButton"}}},
    };
    for (const auto& kind : sheets) {
        for (qsizetype each = 0; each < 2 * kind.answers.size(); ++each) {
            const auto& [tabs, expected] = kind.answers[each / 2];
            const Qt::Key key = each % 2 == 0 ? Qt::Key_Return : Qt::Key_Enter;
            SCOPED_TRACE(std::string(kind.sheet) + ", " + std::to_string(tabs) + " tabs, key " +
                         std::to_string(key));
            kind.open();
            QPointer<QDialog> sheet;
            ASSERT_TRUE(processEventsUntil([&sheet] {
                sheet = qobject_cast<QDialog*>(QApplication::activeWindow());
                return sheet && sheet->isVisible();
            }));
            for (int step = 0; step < std::abs(tabs); ++step) {
                pressKey(sheet, tabs > 0 ? Qt::Key_Tab : Qt::Key_Backtab,
                         tabs > 0 ? Qt::NoModifier : Qt::ShiftModifier);
            }
            if (auto* ringed = qobject_cast<QAbstractButton*>(QApplication::focusWidget())) {
                EXPECT_TRUE(ringShown(ringed)) << ringed->objectName().toStdString() << " unmarked";
            }
            QObject scope; // ends the recording with the case
            QString pressed;
            for (QAbstractButton* button : sheet->findChildren<QAbstractButton*>()) {
                QObject::connect(button, &QAbstractButton::clicked, &scope,
                                 [&pressed, button] { pressed += button->objectName(); });
            }
            pressKey(sheet, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            EXPECT_EQ(pressed, QString::fromLatin1(expected));
            ASSERT_TRUE(processEventsUntil([&sheet] { return sheet.isNull() || !sheet->isVisible(); }));
        }
    }
}

// A click on a button of the window's strips, banner, panel or pane header leaves the keyboard in
// the pane that had it: the next Down moves in that pane's rows, the next Delete asks about that
// pane's selection. So do the sidebar's, a strip's after a click on its text (which may be selected)
// and a strip's "Dismiss" reached with Tab after the tables (with the ring) and pressed with a key.
TEST_F(KeyboardSession, AClickedButtonLeavesTheKeyboardInThePaneThatHadIt)
{
    write(work, {{QStringLiteral("m1.txt"), QByteArray("1")}, {QStringLiteral("m2.txt"), QByteArray("2")}});
    writeOnDevice({{QStringLiteral("p1.txt"), QByteArray("1")}, {QStringLiteral("p2.txt"), QByteArray("2")}});
    press(Qt::Key_F5);
    press(Qt::Key_Tab);
    press(Qt::Key_F5);

    const auto named = [this](const char* name) {
        return window->findChild<QAbstractButton*>(QString::fromLatin1(name));
    };
    const auto transferError = [this] { coordinator().reportError(QuillbarrowError::pathNotFound()); };
    const auto localMessage = [this] { local().rename(local().items().first(), QStringLiteral("a/b")); };
    const struct {
        PaneFrame* pane;
        QAbstractButton* button;
        std::function<void()> show = [] {};
        const char* textClickedFirst = nullptr;
        Qt::Key key = Qt::Key_unknown; // pressed once Tab has reached the button, in place of a click
    } cases[] = {
        {androidPane, named("dismissTransferErrorButton"), transferError, "transferErrorMessage"},
        {androidPane, named("dismissLocalMessageButton"), localMessage, "localMessage"},
        {androidPane, named("dismissTransferErrorButton"), transferError, nullptr, Qt::Key_Space},
        {androidPane, named("dismissTransferErrorButton"), transferError, nullptr, Qt::Key_Return},
        {androidPane, named("dismissLocalMessageButton"), localMessage, nullptr, Qt::Key_Enter},
        {androidPane, named("dismissButton"), [this] { device().showTransfersStillActive(); }},
        {androidPane, androidPane->header()->copyButton()},
        {macPane, macPane->header()->copyButton()},
        {androidPane, named("clearFinished")},
        {androidPane, named("contactSupportLink"),
         [this] { window->sidebar()->setUrlOpener([](const QUrl&) {}); }},
        {macPane, named("retryButton"),
         [this] { fixture->backend->simulateDisconnect(fixture->devices[0].id); }},
    };
    for (const auto& step : cases) {
        SCOPED_TRACE(step.button->objectName().toStdString() + ", " + step.pane->objectName().toStdString());
        auto* table = qobject_cast<QAbstractItemView*>(step.pane->keyboardTarget());
        const bool android = step.pane == androidPane;
        ASSERT_TRUE(backTo(table) && (android ? keyTo(androidPane->table(), QStringLiteral("p1.txt"))
                                              : keyTo(macPane->table(), QStringLiteral("m1.txt"))));
        const int row = table->currentIndex().row();
        step.show();
        QAbstractButton* button = step.button;
        ASSERT_TRUE(processEventsUntil([button] { return button->isVisible() && button->isEnabled(); }));
        if (step.textClickedFirst != nullptr) {
            QTest::mouseClick(window->findChild<QLabel*>(step.textClickedFirst), Qt::LeftButton);
            EXPECT_TRUE(keyboardIsIn(table));
        }
        if (step.key == Qt::Key_unknown) {
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            press(Qt::Key_Tab);
            EXPECT_TRUE(keyboardIsIn(button) && ringShown(button));
            press(step.key, step.key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        }
        EXPECT_TRUE(keyboardIsIn(table));
        EXPECT_EQ(window->state().focusedPane(), android ? FocusedPane::android : FocusedPane::mac);
        press(Qt::Key_Down);
        EXPECT_EQ(table->currentIndex().row(), row + 1);
        press(Qt::Key_Delete);
        EXPECT_EQ(window->state().androidDeleteTargets().size(), android ? 1 : 0);
        EXPECT_EQ(window->state().localDeleteTargets().size(), android ? 0 : 1);
        window->state().setAndroidDeleteTargets({});
        window->state().setLocalDeleteTargets({});
    }
}

// While the device banner (after a failed rename on the phone) or a strip shows, Tab and Shift+Tab
// reach its buttons between the tables and the device list, with the ring. Return or Space presses
// the button reached and gives the keyboard back to the phone's table, its selected folder unopened;
// a press on a button released off it presses nothing.
TEST_F(KeyboardSession, TabReachesTheBannerAndStripButtonsWhichGiveTheKeyboardBack)
{
    writeOnDevice({{QStringLiteral("Docs"), std::nullopt},
                   {QStringLiteral("Docs/inside.txt"), QByteArray("x")},
                   {QStringLiteral("a.txt"), QByteArray("a")},
                   {QStringLiteral("b.txt"), QByteArray("b")}});
    write(work, {{QStringLiteral("m1.txt"), QByteArray("1")}});
    press(Qt::Key_F5);
    RemoteItemTable* table = androidPane->table();
    // The widget of that name in `part` (the sidebar has a "retryButton" too), else in the window.
    const auto named = [this](const QString& name, const QWidget* part = nullptr) {
        QWidget* inPart = part != nullptr ? part->findChild<QWidget*>(name) : nullptr;
        return inPart != nullptr ? inPart : window->findChild<QWidget*>(name);
    };
    const auto failedRename = [this] {
        startDetached(device().renameItem(
            *std::ranges::find(device().items(), QStringLiteral("a.txt"), &RemoteItem::name),
            QStringLiteral("b.txt")));
    };
    const auto transferError = [this] { showTransferError(); };
    const auto localMessage = [this] { showLocalMessage(); };
    // A banner naming a service that may be restarted: its button asks first, in an alert over the
    // window, which Escape closes.
    const auto busy = [this] {
        window->errorBanner()->setBanner(ErrorBanner(
            QStringLiteral("Another app or macOS service is already using this phone."), QString(),
            {DetectedConflictApp(101, QStringLiteral("Image Capture helper"), std::nullopt, std::nullopt,
                                 false, true)}));
    };
    const auto cancelAlert = [this] {
        ServiceRestartAlert* alert = window->errorBanner()->restartAlert();
        ASSERT_TRUE(alert != nullptr && processEventsUntil([alert] { return alert->isVisible(); }));
        QTest::keyClick(alert, Qt::Key_Escape);
        ASSERT_TRUE(processEventsUntil([alert] { return !alert->isVisible(); }));
        window->activateWindow();
        ASSERT_TRUE(processEventsUntil([this] { return window->isActiveWindow(); }));
    };
    const QStringList bannerStops{"retryButton", "dismissButton", "deviceList"};
    const QStringList transferStops{"dismissTransferErrorButton", "deviceList"};
    const QStringList localStops{"dismissLocalMessageButton", "deviceList"};
    const QStringList busyStops{"restartServicesButton", "retryButton", "dismissButton", "deviceList"};
    const struct {
        const char* what;
        std::function<void()> show;
        const char* shown;
        QStringList stops; // what Tab reaches from the phone's table, in order
        qsizetype pressed; // the stop pressed
        Qt::Key key;       // Qt::Key_unknown: a mouse press on it, released off it
        bool stays = false;
        std::function<void()> answer = [] {};
    } cases[] = {
        {"banner, Return on Dismiss", failedRename, "errorBanner", bannerStops, 1, Qt::Key_Return},
        {"banner, Space on Dismiss", failedRename, "errorBanner", bannerStops, 1, Qt::Key_Space},
        {"banner, Dismiss released off", failedRename, "errorBanner", bannerStops, 1, Qt::Key_unknown, true},
        {"transfer strip, Return", transferError, "transferErrorStrip", transferStops, 0, Qt::Key_Return},
        {"transfer strip, released off", transferError, "transferErrorStrip", transferStops, 0,
         Qt::Key_unknown, true},
        {"local strip, Return", localMessage, "localMessageStrip", localStops, 0, Qt::Key_Return},
        {"local strip, released off", localMessage, "localMessageStrip", localStops, 0, Qt::Key_unknown,
         true},
        {"banner, Return on Restart", busy, "errorBanner", busyStops, 0, Qt::Key_Return, true, cancelAlert},
        // Retry connects the phone again, and the keyboard is back once its folder shows.
        {"banner, Return on Retry", failedRename, "errorBanner", bannerStops, 0, Qt::Key_Return},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        ASSERT_TRUE(keyToIn(androidPane, QStringLiteral("Docs")));
        const QSet<RemoteObjectID> selected = androidPane->selection();
        each.show();
        QWidget* shown = named(QString::fromLatin1(each.shown));
        ASSERT_TRUE(processEventsUntil([shown] { return shown->isVisible(); }));
        ASSERT_TRUE(keyboardIsIn(table));
        QStringList reached;
        for (qsizetype step = 0; step < each.stops.size(); ++step) {
            press(Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            reached.append(focus->objectName());
            EXPECT_TRUE(qobject_cast<QAbstractButton*>(focus) == nullptr || ringShown(focus))
                << "no ring on " << reached.last().toStdString();
        }
        EXPECT_EQ(reached, each.stops);
        for (qsizetype step = each.stops.size() - 2; step >= -1; --step) {
            press(Qt::Key_Backtab, Qt::ShiftModifier);
            EXPECT_EQ(QApplication::focusWidget(), step < 0 ? table : named(each.stops[step], shown));
        }
        ASSERT_TRUE(keyboardIsIn(table));

        auto* button = qobject_cast<QAbstractButton*>(named(each.stops[each.pressed], shown));
        ASSERT_NE(button, nullptr);
        if (each.key == Qt::Key_unknown) {
            QTest::mousePress(button, Qt::LeftButton);
            QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(-20, button->height() / 2));
        } else {
            for (qsizetype step = 0; step <= each.pressed; ++step) {
                press(Qt::Key_Tab);
            }
            ASSERT_TRUE(keyboardIsIn(button));
            press(each.key);
        }
        each.answer();
        const bool retried = button->objectName() == QStringLiteral("retryButton");
        EXPECT_TRUE(!retried || processEventsUntil([this] {
            return device().connectionPhase() == DeviceConnectionPhase::connected && !device().isLoading();
        }));
        EXPECT_TRUE(keyboardIsIn(table));
        EXPECT_EQ(window->state().focusedPane(), FocusedPane::android);
        EXPECT_EQ(shown->isVisible(), each.stays);
        EXPECT_TRUE(atTop(androidPane)) << "the folder selected was opened";
        EXPECT_TRUE(coordinator().transferJobs().isEmpty());
        EXPECT_TRUE(retried || androidPane->selection() == selected);
        // The next case starts where the first did, whatever this one did.
        device().clearError();
        coordinator().clearLastError();
        local().clearError();
        if (!atTop(androidPane)) {
            runTask(device().navigate(device().breadcrumb().first()));
        }
    }
}

// Sorted by size, a selected folder's size fills in where its row stands, so a key, double-click or copy
// reaches the row seen; the order takes it in at a change of folder, refresh, hidden switch, header click.
// A change made in the folder shown lists it again with every row seen where it stood, "b" (renamed
// too) still selected, so a double-click where "b" was seen opens it.
TEST_F(KeyboardSession, RowsSortedBySizeStayWhereTheUserSawThemAsTheirSizesArrive)
{
    int next = 99; // each case's folders: "99a" of 1000 bytes, "99b" of 3000, "99c" of 2000, then "98a"...
    for (PaneFrame* pane : QList<PaneFrame*>{androidPane, macPane}) {
        const bool android = pane == androidPane;
        auto* table = qobject_cast<QTableView*>(pane->keyboardTarget());
        const QAbstractItemModel* rows = table->model();
        const auto cell = [rows](const QString& name, int column) {
            const QModelIndexList found = rows->match(rows->index(0, 0), Qt::DisplayRole, name);
            return found.isEmpty() ? QModelIndex() : found.first().siblingAtColumn(column);
        };
        // The case's folders in the rows' order (direction 0), or by the sizes shown, unmeasured lowest.
        const auto order = [&](const QString& prefix, int direction) {
            QString letters = QStringLiteral("abc");
            std::ranges::stable_sort(letters, {}, [&](QChar letter) {
                const QModelIndex size = cell(prefix + letter, 1);
                const qsizetype bySize = size.data() == "--" ? -1 : QStringLiteral("acb").indexOf(letter);
                return direction == 0 ? size.row() : direction * bySize;
            });
            return letters;
        };
        const auto settled = [this] { return !device().isLoading() && !local().isLoading(); };
        const auto shown = [&] {
            return android ? device().breadcrumb().last().name() : local().currentDirectory().fileName();
        };
        const auto click = [&](const QString& name, bool twice) {
            const QPoint at = table->visualRect(cell(name, 0)).center();
            twice ? QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at)
                  : QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
        };
        const auto clickSizeHeader = [header = table->horizontalHeader()] {
            const QPoint sizeTitle(header->sectionViewportPosition(1) + 4, 4);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeTitle);
        };
        const auto clickButton = [](QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); };
        const auto answer = [this](QDialog* sheet, QLineEdit* field, const QString& text) {
            ASSERT_TRUE(processEventsUntil([sheet] { return sheet->isVisible(); }));
            QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(field, text);
            pressKey(sheet, Qt::Key_Return);
        };
        const auto remote = [this](const QString& name) {
            return *std::ranges::find(device().items(), name, &RemoteItem::name);
        };
        const auto localItem = [this](const QString& name) {
            return *std::ranges::find(local().items(), name, &LocalItem::name);
        };
        WindowSheets* sheets = window->sheets();
        WindowState& state = window->state();
        ASSERT_TRUE(backTo(table));
        clickSizeHeader(); // smallest first
        // The phone's folders listed on connecting are measured by themselves, once, before the cases.
        ASSERT_TRUE(!android || processEventsUntil([&] {
            return cell("DCIM", 1).data() != "--" && device().calculatingFolderSizeIDs().isEmpty();
        }, 5s));
        // What acts on "b" (opening it, or copying it to the other side), and the direction of the
        // order by size after it (none: the rows stay where they were); for a change that lists the
        // folder again, the item it makes and the one it takes away.
        const struct {
            std::string_view what;
            std::function<void(const QString& b)> act;
            bool reachesB;
            int after;
            const char* came = nullptr;
            const char* gone = nullptr;
        } cases[] = {
            {"Return", [&](const QString&) { press(Qt::Key_Return); }, true, 1},
            {"double-click", [&](const QString& b) { click(b, true); }, true, 1},
            {"copy button", [&](const QString&) { clickButton(pane->header()->copyButton()); }, true, 0},
            {"a copy from the other pane",
             [&](const QString& b) {
                 const QString name = b.chopped(1) + "x.txt";
                 android ? write(work, {{name, QByteArray(10, 'x')}})
                         : writeOnDevice({{name, QByteArray(10, 'x')}});
                 PaneFrame* other = android ? static_cast<PaneFrame*>(macPane) : androidPane;
                 ASSERT_TRUE(keyToIn(other, name));
                 clickButton(other->header()->copyButton());
             },
             false, 0, "x.txt"},
            {"a new folder",
             [&](const QString& b) {
                 clickButton(pane->header()->newFolderButton());
                 NewFolderSheet* sheet =
                     android ? sheets->androidNewFolderSheet() : sheets->localNewFolderSheet();
                 answer(sheet, sheet->nameField(), b.chopped(1) + "new");
             },
             false, 0, "new"},
            {"a rename of the selected row",
             [&](const QString& b) {
                 android ? state.setAndroidRenameTarget(remote(b)) : state.setLocalRenameTarget(localItem(b));
                 RenameSheet* sheet = android ? sheets->androidRenameSheet() : sheets->localRenameSheet();
                 answer(sheet, sheet->nameField(), b.chopped(1) + "d");
             },
             false, 0, "d", "b"},
            {"a delete",
             [&](const QString& b) {
                 const QString c = b.chopped(1) + 'c';
                 android ? state.setAndroidDeleteTargets({remote(c)})
                         : state.setLocalDeleteTargets({localItem(c)});
                 DeleteConfirmation* sheet =
                     android ? sheets->androidDeleteConfirmation() : sheets->localDeleteConfirmation();
                 ASSERT_TRUE(processEventsUntil([sheet] { return sheet->isVisible(); }));
                 clickButton(sheet->deleteButton());
             },
             false, 0, nullptr, "c"},
            {"F5", [&](const QString&) { press(Qt::Key_F5); }, false, 1},
            {"hidden files", [&](const QString&) { clickButton(pane->header()->hiddenFilesButton()); }, false, 1},
            {"size header", [&](const QString&) { clickSizeHeader(); }, false, -1},
        };
        for (const auto& [what, act, reachesB, after, came, gone] : cases) {
            const QString prefix = QString::number(next--), b = prefix + 'b';
            SCOPED_TRACE(pane->objectName().toStdString() + ", " + std::string(what));
            QList<TreeEntry> folders;
            for (const auto& [letter, bytes] : {std::pair('a', 1000), {'b', 3000}, {'c', 2000}}) {
                folders += {{prefix + letter, std::nullopt}, {prefix + letter + "/f", QByteArray(bytes, 0)}};
            }
            android ? writeOnDevice(folders) : write(work, folders);
            ASSERT_TRUE(backTo(table));
            press(Qt::Key_F5);
            ASSERT_TRUE(processEventsUntil([&] { return settled() && order(prefix, 0) == "abc"; }, 5s));
            // Home and Down select "a", then "b"; a double-click's first click selects "b".
            const bool clicks = what == "double-click";
            clicks ? click(b, false) : (press(Qt::Key_Home), press(Qt::Key_Down));
            ASSERT_TRUE(processEventsUntil([&] { return order(prefix, 1) == (clicks ? "acb" : "cab"); }, 5s));
            EXPECT_EQ(order(prefix, 0), "abc") << "rows moved as their sizes arrived";
            const QStringList seen = rowNames(pane);
            const QPoint whereBWasSeen = table->visualRect(cell(b, 0)).center();
            act(b);
            const auto copied = [&] { return android ? work.exists(b) : deviceRootItem(b).has_value(); };
            const auto reached = [&] { return settled() && (shown() == b || copied()); };
            EXPECT_TRUE(!reachesB || processEventsUntil(reached, 5s)) << qPrintable(shown());
            if (shown() == b) {
                press(Qt::Key_Backspace); // a change of folder too
            }
            const auto ordered = [&] { return settled() && order(prefix, 0) == order(prefix, after); };
            EXPECT_TRUE(processEventsUntil(ordered, 5s)) << qPrintable(order(prefix, 0));
            if (after != 0) {
                continue;
            }
            const QString made = came != nullptr ? prefix + came : QString();
            const QString left = gone != nullptr ? prefix + gone : QString();
            ASSERT_TRUE(settle([&] {
                const QStringList names = rowNames(pane);
                return (made.isEmpty() || names.contains(made)) && (left.isEmpty() || !names.contains(left));
            })) << qPrintable(rowNames(pane).join(','));
            // The rows seen, the one renamed under its new name, and a new item wherever it goes.
            QStringList expected = seen, names = rowNames(pane);
            if (left.isEmpty()) {
                names.removeOne(made);
            } else if (made.isEmpty()) {
                expected.removeOne(left);
            } else {
                expected.replace(expected.indexOf(left), made);
            }
            EXPECT_EQ(names.join(QChar(',')).toStdString(), expected.join(QChar(',')).toStdString());
            const QString bNow = left == b ? made : b;
            EXPECT_EQ(selectedItemNames(pane), QStringList{bNow});
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, whereBWasSeen);
            QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, whereBWasSeen);
            ASSERT_TRUE(settle([&] { return !atTop(pane); }));
            EXPECT_EQ(shown().toStdString(), bNow.toStdString());
            press(Qt::Key_Backspace);
            ASSERT_TRUE(settle([&] { return atTop(pane) && cell(bNow, 0).isValid(); }));
        }
    }
}

// In a folder of more rows than the window's thread goes over for a measured size (its rows take
// the sizes on the work pool), in either pane sorted by size: a clicked folder's size, then with
// Ctrl+A every folder's, fill in their rows where they stand, and the strip weighs the selection as
// the browser does; Backspace then leaves the folder with nothing selected.
TEST_F(KeyboardSession, SizesArrivingAtABigFolderFillInWhereItsRowsStandAndTheStripWeighsThem)
{
    QList<TreeEntry> big{{"Big", std::nullopt}, {"Big/.hidden", "h"}};
    for (int index = 0; index < 1'000; ++index) {
        big.append({QStringLiteral("Big/file %1").arg(index, 4, 10, QLatin1Char('0')),
                    QByteArray(1 + index % 3, 'x')});
    }
    for (const auto& [folder, bytes] : {std::pair("f1", 300), {"f2", 100}, {"f3", 200}}) {
        big += {{QStringLiteral("Big/") + folder, std::nullopt},
                {QStringLiteral("Big/") + folder + "/data", QByteArray(bytes, 'x')}};
    }
    write(work, big);
    writeOnDevice(big);
    const int rowCount = 1'003;
    for (PaneFrame* pane : QList<PaneFrame*>{androidPane, macPane}) {
        SCOPED_TRACE(pane->objectName().toStdString());
        QTableView* table = tableOf(pane);
        const QAbstractItemModel* rows = table->model();
        ASSERT_TRUE(enter(pane, QStringLiteral("Big")) &&
                    settle([&] { return rows->rowCount() == rowCount; }));
        const QPoint sizeTitle(table->horizontalHeader()->sectionViewportPosition(1) + 4, 4);
        QTest::mouseClick(table->horizontalHeader()->viewport(), Qt::LeftButton, {}, sizeTitle);
        const auto shows = [rows](int row, const QString& name, const QString& size) {
            return rows->index(row, 0).data().toString() == name &&
                   rows->index(row, 1).data().toString() == size;
        };
        // Smallest first: the folders, none measured, by name; then the files by size.
        ASSERT_TRUE(processEventsUntil(
            [&] { return shows(0, "f1", "--") && shows(2, "f3", "--") && shows(3, "file 0000", "1 byte"); },
            5s));
        const QPoint f2 = table->visualRect(rows->index(1, 0)).center();
        const struct {
            const char* what;
            std::function<void()> act;
            QStringList sizes;
            int selected;
        } steps[] = {
            {"a click on f2",
             [&] { QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, f2); },
             {"--", "100 bytes", "--"},
             1},
            {"Ctrl+A",
             [&] { press(Qt::Key_A, Qt::ControlModifier); },
             {"300 bytes", "100 bytes", "200 bytes"},
             rowCount},
        };
        for (const auto& step : steps) {
            SCOPED_TRACE(step.what);
            step.act();
            ASSERT_TRUE(settle([&] {
                return shows(0, "f1", step.sizes[0]) && shows(1, "f2", step.sizes[1]) &&
                       shows(2, "f3", step.sizes[2]) &&
                       table->selectionModel()->selectedRows().size() == step.selected &&
                       device().calculatingFolderSizeIDs().isEmpty() &&
                       local().calculatingFolderSizeIDs().isEmpty();
            }));
            EXPECT_EQ(pane->header()->selectionBadge()->text(),
                      PaneHeader::selectionBadgeText(step.selected));
            expectStripWeighs(pane);
            EXPECT_TRUE(shows(3, "file 0000", "1 byte")) << "a file moved";
        }
        // Hidden files shown place the rows anew (the folders by their sizes now), the hidden one
        // unselected among them: what a copy takes is still every row selected, as listed now.
        QTest::mouseClick(pane->header()->hiddenFilesButton(), Qt::LeftButton);
        ASSERT_TRUE(settle([&] { return rows->rowCount() == rowCount + 1 && shows(0, "f2", "100 bytes"); }));
        EXPECT_EQ(rowNames(pane, true).size(), rowCount);
        EXPECT_EQ(selectedItemNames(pane), rowNames(pane, true));
        expectStripWeighs(pane);
        QTest::mouseClick(pane->header()->hiddenFilesButton(), Qt::LeftButton);
        ASSERT_TRUE(settle([&] { return rows->rowCount() == rowCount; }));
        // Leaving the folder with every row selected selects nothing in the one left for.
        press(Qt::Key_Backspace);
        ASSERT_TRUE(settle([&] { return rows->rowCount() < rowCount; }));
        EXPECT_TRUE(table->selectionModel()->selectedRows().isEmpty());
        EXPECT_EQ(selectedCount(pane), 0);
        EXPECT_FALSE(pane->header()->selectionBadge()->isVisible());
        expectStripWeighs(pane);
    }
}

// With the pointer gone elsewhere while its menu was open, the star of either pane is drawn as
// it was before the pointer came: not down, not hovered.
TEST_F(KeyboardSession, TheFavouritesButtonLetsGoOfItsHighlightWhenItsMenuCloses)
{
    for (PaneFrame* pane : QList<PaneFrame*>{macPane, androidPane}) {
        SCOPED_TRACE(pane->objectName().toStdString());
        ToolbarIconButton* star = pane->header()->favoritesButton();
        QMenu* menu = star->menu();
        ASSERT_NE(menu, nullptr);
        const QImage plain = star->grab().toImage();
        QTest::mouseMove(star);
        ASSERT_TRUE(star->isHovering());
        // The press opens the menu and returns once it has closed: meanwhile the button is released
        // and the pointer goes over the table. X tells the button nothing while the menu holds the
        // pointer, where the offscreen platform sends it a Leave: it is entered again, as X leaves it.
        const QPoint elsewhere = pane->keyboardTarget()->mapToGlobal(pane->keyboardTarget()->rect().center());
        QTimer::singleShot(0, menu, [star, menu, elsewhere] {
            QTest::mouseRelease(star, Qt::LeftButton);
            const QPointF inside = star->rect().center();
            QEnterEvent stillEntered(inside, inside, star->mapToGlobal(inside));
            QCoreApplication::sendEvent(star, &stillEntered);
            QCursor::setPos(elsewhere);
            menu->close();
        });
        QTest::mousePress(star, Qt::LeftButton);
        ASSERT_FALSE(menu->isVisible());
        EXPECT_FALSE(star->isDown() || star->isHovering());
        EXPECT_TRUE(star->grab().toImage() == plain) << "drawn highlighted";
    }
}

// Typing a name (its keys one name, whatever the machine's pace) goes to its row in either pane, past
// rows sharing its first letters, case aside, round from the row the keyboard was on, and selects it.
TEST_F(KeyboardSession, TypingANameGoesToItsRowInEitherPane)
{
    const int interval = QApplication::keyboardInputInterval();
    QApplication::setKeyboardInputInterval(24 * 3600 * 1000);
    const auto restore = qScopeGuard([interval] { QApplication::setKeyboardInputInterval(interval); });
    const QList<TreeEntry> files{{"IMG_1.jpg", "x"},   {"img_2.jpg", "x"}, {"IMG_10.jpg", "x"},
                                 {"IMG_100.jpg", "x"}, {"notes.txt", "x"}, {"Zebra.txt", "x"}};
    write(work, files);
    writeOnDevice(files);
    // Types "img_10." into the window from "notes.txt" in `table`; gives the name on the row the keyboard
    // is on then, and whether the table's selection is that row once written (on the next turn).
    const auto typeInto = [this](auto* table) -> std::string {
        press(Qt::Key_F5);
        if (!keyTo(table, QStringLiteral("notes.txt"))) {
            return "notes.txt not reached";
        }
        for (const char key : QByteArrayLiteral("img_10.")) {
            QTest::keyClick(window->windowHandle(), key);
        }
        const auto& row = table->itemModel()->item(table->currentIndex().row());
        const bool selected = processEventsUntil([table, id = row.id] { return table->selection() == QSet{id}; });
        return row.name.toStdString() + (selected ? ", selected" : ", not selected");
    };
    EXPECT_EQ(typeInto(macPane->table()), "IMG_10.jpg, selected");
    press(Qt::Key_Tab);
    EXPECT_EQ(typeInto(androidPane->table()), "IMG_10.jpg, selected");
}

} // namespace
} // namespace quillbarrow::testing
