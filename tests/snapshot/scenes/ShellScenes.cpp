// The scenes of the window's shell: the window without and with a device, the device error
// banner, a sheet open over the window, the transfer-error strip, focus and split moved, the
// smallest window, the application menu and the About box.

#include "SceneSupport.h"
#include "chrome/NewFolderSheet.h"
#include "domain/QuillbarrowError.h"
#include "shell/AppMenuBar.h"
#include "shell/MainWindow.h"
#include "shell/QuillbarrowApp.h"
#include "shell/WindowSheets.h"
#include "window/WindowState.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QLineEdit>

#include <QApplication>
#include <QMenu>
#include <QMessageBox>

namespace quillbarrow::snapshot {

namespace {

const SceneRegistration windowEmpty(QStringLiteral("window-empty"),
                                    QStringLiteral("The main window just opened, no device connected"), [] {
                                        auto app = makeSceneApp({});
                                        return windowScene(app, app->openWindow());
                                    });

const SceneRegistration windowDevice(QStringLiteral("window-device"),
                                     QStringLiteral("The main window with the mock device connected"), [] {
                                         auto app = makeSceneApp(MockMTPBackend::defaultDevices());
                                         return windowScene(app, app->openWindow());
                                     });

const SceneRegistration windowBanner(
    QStringLiteral("window-banner"),
    QStringLiteral("The device error banner above the panes: a device chosen while a transfer runs"), [] {
        auto app = makeSceneApp(MockMTPBackend::defaultDevices());
        MainWindow* window = app->openWindow();
        DeviceBrowserViewModel* browser = &window->deviceBrowser();
        // Shown once the connection settled, so the connection cannot clear it first.
        return windowScene(app, window, [browser] {
            if (!browser->errorBanner()) {
                browser->showTransfersStillActive();
            }
            return true;
        });
    });

const SceneRegistration windowSheet(
    QStringLiteral("window-sheet"), QStringLiteral("The Mac pane's New Folder sheet open over the window, a name typed"),
    [] {
        auto app = makeSceneApp(MockMTPBackend::defaultDevices());
        MainWindow* window = app->openWindow();
        window->state().setShowingNewFolderLocal(true);
        NewFolderSheet* sheet = window->sheets()->localNewFolderSheet();
        sheet->nameField()->setText(QStringLiteral("Holiday photos"));
        return windowScene(app, window, [sheet] { return sheet->isVisible(); });
    });

const SceneRegistration windowTransferError(
    QStringLiteral("window-transfer-error"),
    QStringLiteral("The transfer-error strip above the panes, with the device connected"), [] {
        auto app = makeSceneApp(MockMTPBackend::defaultDevices());
        MainWindow* window = app->openWindow();
        app->coordinator().reportError(QuillbarrowError::transferFailed(
            QStringLiteral("The device stopped answering while \"IMG_0001.jpg\" was being copied.")));
        return windowScene(app, window);
    });

const SceneRegistration windowAndroidFocused(
    QStringLiteral("window-android-focused"),
    QStringLiteral("The Android pane focused, the split dragged to the left, the transfer panel taller"), [] {
        auto app = makeSceneApp(MockMTPBackend::defaultDevices());
        MainWindow* window = app->openWindow();
        WindowState& state = window->state();
        state.focusPane(FocusedPane::android);
        state.dragPaneSplit(-1000, 1000); // stops at the smallest fraction
        state.endPaneSplitDrag();
        state.dragTransferPanel(-100);
        state.endTransferPanelDrag();
        return windowScene(app, window);
    });

const SceneRegistration windowMinimum(QStringLiteral("window-minimum-size"),
                                      QStringLiteral("The main window at its smallest size, 1200 x 720"), [] {
                                          auto app = makeSceneApp(MockMTPBackend::defaultDevices());
                                          MainWindow* window = app->openWindow();
                                          SceneView view = windowScene(app, window);
                                          window->resize(window->minimumSizeHint());
                                          return view;
                                      });

const SceneRegistration applicationMenu(
    QStringLiteral("menu-application"), QStringLiteral("The application menu open: About, the informational line, Quit"),
    [] {
        auto app = makeSceneApp({});
        MainWindow* window = app->openWindow();
        auto* menuBar = qobject_cast<AppMenuBar*>(window->menuBar());
        auto* menu = menuBar->findChild<QMenu*>(QStringLiteral("applicationMenu"));
        menu->popup(window->mapToGlobal(QPoint(0, menuBar->height())));
        SceneView view;
        view.widget = menu;
        view.owner = app;
        view.isReady = [menu] { return menu->isVisible(); };
        return view;
    });

const SceneRegistration aboutBox(QStringLiteral("about-box"), QStringLiteral("The About box"), [] {
    auto app = makeSceneApp({});
    MainWindow* window = app->openWindow();
    app->showAbout(window);
    auto* box = window->findChild<QMessageBox*>(QStringLiteral("aboutBox"));
    SceneView view;
    view.widget = box;
    view.owner = app;
    view.isReady = [box] { return box->isVisible(); };
    return view;
});

} // namespace

} // namespace quillbarrow::snapshot
