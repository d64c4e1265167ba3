// The scenes of the window driven from the keyboard: the start with the Mac table holding the
// keyboard, a folder entered after a selection, the panes' headers before and after their first
// selection (one height), the sidebar with the clipboard's line, the device list with the keyboard,
// the sheets with the keyboard on one of their buttons, a folder sorted by size as the keys select
// its rows, the error strip's Dismiss and the device banner's Retry reached with Tab, and the error
// strip's message with words selected and the menu of a right-click on them.

#include "ChromeScenes.h"
#include "SceneSupport.h"
#include "chrome/DeviceSidebar.h"
#include "chrome/ErrorBannerView.h"
#include "chrome/SelectedTextCopier.h"
#include "chrome/ServiceRestartAlert.h"
#include "panes/LocalPaneView.h"
#include "shell/MainWindow.h"
#include "shell/PaneArea.h"
#include "shell/QuillbarrowApp.h"
#include "table/LocalItemTable.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "window/DetachedCall.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <functional>
#include <memory>

namespace quillbarrow::snapshot {

namespace {

// A key pressed on the window, as the platform delivers it (the panes' key monitors see it).
void press(MainWindow* window, Qt::Key key)
{
    QTest::keyClick(window->windowHandle(), key);
}

// A step of a scene, run once the window is listed and active, one turn of the event loop apart.
using Step = std::function<bool(MainWindow*)>;

// The window with the mock device, the Mac pane in the scene home; `steps` run in order once
// everything is listed, each until it says it is done. `shown` picks the widget to draw.
SceneView keyedScene(QList<Step> steps, std::function<QWidget*(MainWindow*)> shown = {})
{
    auto app = makeSceneApp(MockMTPBackend::defaultDevices());
    MainWindow* window = app->openWindow();
    window->resize(windowSceneSize);
    window->show();
    auto next = std::make_shared<qsizetype>(0);
    SceneView view = windowScene(app, window, [window, steps = std::move(steps), next] {
        if (window->localBrowser().isLoading() || window->localBrowser().items().isEmpty() ||
            !window->deviceBrowser().currentPage() || window->deviceBrowser().isLoading()) {
            return false;
        }
        if (!window->isActiveWindow()) {
            window->activateWindow();
            return false;
        }
        if (*next < steps.size() && steps[*next](window)) {
            ++*next;
        }
        return *next >= steps.size();
    });
    if (shown) {
        view.widget = shown(window);
    }
    return view;
}

LocalPaneView* macPane(MainWindow* window)
{
    return window->findChild<LocalPaneView*>();
}

// Moves the Mac table's current row with the keys to `name` (Home, then Down).
Step keyToRow(const QString& name)
{
    return [name](MainWindow* window) {
        LocalItemTable* table = macPane(window)->table();
        const QModelIndex current = table->currentIndex();
        if (current.isValid() && table->itemModel()->item(current.row()).name == name) {
            return macPane(window)->selection().size() == 1;
        }
        press(window, current.isValid() ? Qt::Key_Down : Qt::Key_Home);
        return false;
    };
}

Step pressOnce(Qt::Key key)
{
    return [key](MainWindow* window) {
        press(window, key);
        return true;
    };
}

const SceneRegistration keyboardAtStart(
    QStringLiteral("window-keyboard-at-start"),
    QStringLiteral("The window just opened: the Mac table has the keyboard (\"focused\" and the tint), and Down has "
                   "selected its first row without a click"),
    [] {
        return keyedScene({[](MainWindow* window) {
                               return QApplication::focusWidget() == macPane(window)->table();
                           },
                           pressOnce(Qt::Key_Down),
                           [](MainWindow* window) { return macPane(window)->selection().size() == 1; }});
    });

const SceneRegistration folderEnteredAfterSelection(
    QStringLiteral("window-folder-entered-after-selection"),
    QStringLiteral("Documents selected with the keys and opened with Return: its row left the selection, so the "
                   "header shows no count and Copy to Android is disabled"),
    [] {
        return keyedScene({keyToRow(QStringLiteral("Documents")), pressOnce(Qt::Key_Return), [](MainWindow* window) {
                               return window->localBrowser().currentDirectory().fileName() ==
                                          QStringLiteral("Documents") &&
                                      !window->localBrowser().isLoading();
                           }});
    });

const SceneRegistration headerBeforeSelection(
    QStringLiteral("panes-header-before-first-selection"),
    QStringLiteral("Both panes before anything is selected: the headers keep the room of the selection line"),
    [] { return keyedScene({}, [](MainWindow* window) { return window->paneArea(); }); });

const SceneRegistration headerAfterSelection(
    QStringLiteral("panes-header-after-first-selection"),
    QStringLiteral("Both panes after the first selection in the Mac pane: the selection line fills the kept room, "
                   "the header and the tables stay where they were"),
    [] {
        return keyedScene({keyToRow(QStringLiteral("readme.txt"))},
                          [](MainWindow* window) { return window->paneArea(); });
    });

const SceneRegistration sidebarWithClipboard(
    QStringLiteral("sidebar-with-clipboard-line"),
    QStringLiteral("The sidebar while the clipboard holds two Mac items: the whole footer shows, without a scroll "
                   "bar"),
    [] {
        return keyedScene({[](MainWindow* window) {
                              const QList<LocalItem>& items = window->localBrowser().items();
                              window->coordinator().clipboard()->copyLocal({items.at(0).id, items.at(1).id});
                              return true;
                          }},
                          [](MainWindow* window) { return window->sidebar(); });
    });

const SceneRegistration deviceListWithKeyboard(
    QStringLiteral("window-device-list-with-keyboard"),
    QStringLiteral(
        "Tab pressed twice: the device list has the keyboard and shows it with the accent ring; the "
        "Android pane keeps the \"focused\" mark, and no key reaches a pane until a table has the keyboard"),
    [] {
        return keyedScene({pressOnce(Qt::Key_Tab), pressOnce(Qt::Key_Tab), [](MainWindow* window) {
                               return QApplication::focusWidget() == window->sidebar()->deviceList();
                           }});
    });

const SceneRegistration sizeSortedAfterHomeDown(
    QStringLiteral("window-size-sorted-after-home-down"),
    QStringLiteral("The home folder sorted by size, smallest first, then Home and Down: Desktop and Documents "
                   "measured as they were selected, their sizes filled in where the rows stood"),
    [] {
        return keyedScene({[](MainWindow* window) {
                               window->localBrowser().setSort(FileSort::size, true);
                               return true;
                           },
                           keyToRow(QStringLiteral("Documents")), [](MainWindow* window) {
                               return window->localBrowser().items().at(1).size.has_value();
                           }});
    });

const SceneRegistration errorStripDismissWithKeyboard(
    QStringLiteral("window-error-strip-dismiss-with-keyboard"),
    QStringLiteral("A transfer error shown and Tab pressed twice: past the tables to the strip's Dismiss, which "
                   "wears the accent ring; the Android pane keeps the \"focused\" mark"),
    [] {
        return keyedScene({[](MainWindow* window) {
                               window->coordinator().reportError(QuillbarrowError::pathNotFound());
                               return true;
                           },
                           pressOnce(Qt::Key_Tab), pressOnce(Qt::Key_Tab), [](MainWindow* window) {
                               return QApplication::focusWidget() ==
                                      window->findChild<QWidget*>(QStringLiteral("dismissTransferErrorButton"));
                           }});
    });

const SceneRegistration bannerRetryWithKeyboard(
    QStringLiteral("window-banner-retry-with-keyboard"),
    QStringLiteral(
        "A phone folder renamed to a name that exists, then Tab pressed twice: past the tables to the "
        "device banner's Retry, which wears the accent ring; the Android pane keeps the \"focused\" mark"),
    [] {
        return keyedScene({[](MainWindow* window) {
                               DeviceBrowserViewModel& browser = window->deviceBrowser();
                               for (const RemoteItem& item : browser.items()) {
                                   if (item.name == QStringLiteral("Download")) {
                                       startDetached(browser.renameItem(item, QStringLiteral("DCIM")));
                                   }
                               }
                               return true;
                           },
                           [](MainWindow* window) { return window->errorBanner()->isVisible(); },
                           pressOnce(Qt::Key_Tab), pressOnce(Qt::Key_Tab),
                           [](MainWindow* window) {
                               return QApplication::focusWidget() ==
                                      window->errorBanner()->findChild<QWidget*>(
                                          QStringLiteral("retryButton"));
                           }});
    });

// A transfer error shown, and its message's first words dragged over with the mouse.
Step selectInTransferErrorMessage()
{
    return [](MainWindow* window) {
        window->coordinator().reportError(QuillbarrowError::pathNotFound());
        auto* message = window->findChild<QLabel*>(QStringLiteral("transferErrorMessage"));
        if (!message->isVisible()) {
            return false;
        }
        const int line = message->height() / 2;
        QTest::mousePress(message, Qt::LeftButton, {}, QPoint(2, line));
        QTest::mouseMove(message, QPoint(message->width() / 8, line));
        QTest::mouseRelease(message, Qt::LeftButton, {}, QPoint(message->width() / 8, line));
        return message->hasSelectedText();
    };
}

const SceneRegistration errorStripTextSelected(
    QStringLiteral("window-error-strip-text-selected"),
    QStringLiteral(
        "The transfer error's first words selected with the mouse: the selection shows in the strip, the Mac "
        "table keeps the keyboard (\"focused\" and the tint), Ctrl+C copies the words"),
    [] { return keyedScene({selectInTransferErrorMessage()}); });

const SceneRegistration errorStripMenu(
    QStringLiteral("menu-error-strip-message"),
    QStringLiteral(
        "The menu of a right-click on the transfer error's selected words: the text widgets' Copy"),
    [] {
        auto app = makeSceneApp(MockMTPBackend::defaultDevices());
        MainWindow* window = app->openWindow();
        window->resize(windowSceneSize);
        window->show();
        window->coordinator().reportError(QuillbarrowError::pathNotFound());
        auto* message = window->findChild<QLabel*>(QStringLiteral("transferErrorMessage"));
        message->setSelection(0, 12);
        QMenu* menu = message->findChild<SelectedTextCopier*>()->buildContextMenu();
        menu->popup(message->mapToGlobal(QPoint(message->width() / 8, message->height() / 2)));
        SceneView view;
        view.widget = menu;
        view.owner = app;
        view.isReady = [menu] { return menu->isVisible(); };
        return view;
    });

// A sheet of the chrome scenes on its own, the keyboard moved by `key` until the button named
// `button` has it.
SceneView sheetWithKeyboardOn(std::unique_ptr<QWidget> sheet, Qt::Key key, const QString& button)
{
    sheet->show();
    QWidget* shown = sheet.get();
    return SceneView{shown, std::shared_ptr<QWidget>(std::move(sheet)), [shown, key, button] {
                         QWidget* focus = QApplication::focusWidget();
                         if (!shown->isActiveWindow()) {
                             shown->activateWindow();
                         } else if (focus == nullptr || focus->objectName() != button) {
                             QTest::keyClick(focus != nullptr ? focus : shown, key,
                                             key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
                         }
                         return shown->isActiveWindow() && focus != nullptr && focus->objectName() == button;
                     }};
}

// The conflict sheet with the keyboard on each of its places: the box it opens on, then each button.
const bool conflictSheetRings = [] {
    const struct {
        const char* place;
        Qt::Key key;
        const char* widget;
        const char* how;
    } places[] = {
        {"box", Qt::Key_Tab, "applyToAllBox", "\"Apply to all remaining conflicts\" as it opens"},
        {"replace", Qt::Key_Backtab, "replaceButton", "\"Replace\" after Shift+Tab"},
        {"keep-both", Qt::Key_Backtab, "keepBothButton", "\"Keep Both\" after Shift+Tab twice"},
        {"skip", Qt::Key_Backtab, "skipButton", "\"Skip\" after Shift+Tab three times"},
        {"cancel", Qt::Key_Tab, "cancelButton", "\"Cancel\" after Tab"},
    };
    const QString description = QStringLiteral(
        "The conflict sheet with the ring on %1: Return presses the button with the ring, else \"Replace\", "
        "the default button");
    for (const auto& at : places) {
        SceneRegistration(QStringLiteral("conflict-sheet-keyboard-on-") + QLatin1String(at.place),
                          description.arg(QLatin1String(at.how)), [at] {
                              return sheetWithKeyboardOn(snapshots::conflictSheetScene(), at.key,
                                                         QLatin1String(at.widget));
                          });
    }
    return true;
}();

const SceneRegistration deleteConfirmationWithKeyboard(
    QStringLiteral("local-delete-confirmation-keyboard-on-delete"),
    QStringLiteral("The Mac delete confirmation after Tab to \"Delete\": the ring on Delete, \"Cancel\" still the "
                   "default button"),
    [] {
        return sheetWithKeyboardOn(snapshots::localDeleteConfirmationScene(), Qt::Key_Tab,
                                   QStringLiteral("deleteButton"));
    });

const SceneRegistration renameSheetWithKeyboard(
    QStringLiteral("rename-sheet-keyboard-on-cancel"),
    QStringLiteral("The rename sheet after Tab from the name field to \"Cancel\": the ring on Cancel"),
    [] { return sheetWithKeyboardOn(snapshots::renameSheetScene(), Qt::Key_Tab, QStringLiteral("cancelButton")); });

const SceneRegistration newFolderSheetWithKeyboard(
    QStringLiteral("new-folder-sheet-keyboard-on-create"),
    QStringLiteral("The new-folder sheet with a name typed and Tab pressed up to \"Create\", the default button: "
                   "the ring as well as the default look"),
    [] { return sheetWithKeyboardOn(snapshots::newFolderSheetScene(), Qt::Key_Tab, QStringLiteral("createButton")); });

} // namespace

} // namespace quillbarrow::snapshot
