#pragma once

#include "infrastructure/AppEnvironment.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace quillbarrow {

class Clipboard;
class DeviceBrowserViewModel;
class LocalBrowserViewModel;
class MainWindow;
class TransferCoordinator;
class TransferQueue;
class UserDefaults;

// The application: builds the core objects once, in a fixed order, holds the three view models
// for the whole run and gives every main window the same three; opens windows (the first one and
// each "New Window"), and ends the run when the last window closes. Main thread.
//
// Construction, in this order:
//   1. the saved-state folder is removed and the window-restoration defaults are reset
//      (AppDelegate), so no earlier window comes back;
//   2. the device backend is chosen (QUILLBARROW_BACKEND, AppEnvironment);
//   3. the in-app clipboard, the transfer queue (logger "TransferQueue") and the transfer
//      coordinator over both (logger "TransferCoordinator", its default opened-files folder).
// The device browser and the local browser are built later, once, when the first window needs
// them; the device browser shares the coordinator's queue. Each window runs the start-up calls
// when it first shows (MainWindow).
//
// Transfers: when the last main window closes, every transfer is flagged to stop and every
// unfinished job is cancelled; closing a window while another one stays open leaves them alone,
// since all windows share one queue. When the application quits, every transfer is flagged.
class QuillbarrowApp final : public QObject {
    Q_OBJECT

public:
    // What the application takes from its surroundings.
    struct Services {
        // The home folder of the saved-state clean-up.
        QString homePath;
        // The application's own identifier, if it has one.
        std::optional<QString> bundleIdentifier;
        // The user defaults shared by the clean-ups and both browsers.
        std::shared_ptr<UserDefaults> preferences;
        // Chooses the device backend; called once, during construction.
        std::function<AppEnvironment()> chooseBackend;
        // The coordinator's opened-files folder; its own default when absent.
        std::optional<QString> openedFilesCacheDirectory;

        // The user's home, settings and environment.
        static Services live();
    };

    explicit QuillbarrowApp(Services services, QObject* parent = nullptr);
    // Deletes the windows that are left, then the view models.
    ~QuillbarrowApp() override;

    // What follows the platform's launch: the two clean-ups again, in the reverse order.
    void finishLaunching();

    // Builds, shows and returns a new main window over the shared view models (building the
    // browsers first when this is the first window).
    MainWindow* openWindow();
    // The main windows open now, in the order they were opened.
    const QList<MainWindow*>& windows() const { return m_openWindows; }
    // Closes every main window; the last one to close ends the run.
    void quit();
    // Shows the About box over `window`.
    void showAbout(QWidget* window);
    // The application is terminating: every transfer is flagged to stop, nothing else.
    void applicationWillTerminate();

    BackendMode backendMode() const { return m_environment->backendMode; }
    Clipboard& clipboard() const { return *m_clipboard; }
    const std::shared_ptr<TransferQueue>& transferQueue() const { return m_transferQueue; }
    TransferCoordinator& coordinator() const { return *m_coordinator; }
    // Built on the first call.
    DeviceBrowserViewModel& deviceBrowser();
    LocalBrowserViewModel& localBrowser();
    // Whether each browser has been built yet.
    bool isDeviceBrowserBuilt() const { return m_deviceBrowser != nullptr; }
    bool isLocalBrowserBuilt() const { return m_localBrowser != nullptr; }

Q_SIGNALS:
    // The last main window has closed and the transfers are cancelled: the run should end.
    void lastWindowClosed();

private:
    void windowClosed(MainWindow* window);

    Services m_services;
    std::optional<AppEnvironment> m_environment;
    // Declared before the coordinator, which uses it until it is gone.
    std::unique_ptr<Clipboard> m_clipboard;
    std::shared_ptr<TransferQueue> m_transferQueue;
    std::unique_ptr<TransferCoordinator> m_coordinator;
    std::unique_ptr<DeviceBrowserViewModel> m_deviceBrowser;
    std::unique_ptr<LocalBrowserViewModel> m_localBrowser;
    QList<MainWindow*> m_openWindows;
    // Every window not yet deleted, closed ones included.
    QList<QPointer<MainWindow>> m_windows;
};

} // namespace quillbarrow
