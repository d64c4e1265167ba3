// The scenes of the phone's pane in the whole window: no device (the guide), a device that is
// still connecting (the spinner with its status line), a folder with the status capsule over it,
// and the conflict sheet asked by a paste into the device while its transfer waits.

#include "SceneSupport.h"
#include "async/Sleep.h"
#include "domain/QuillbarrowError.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "panes/AndroidPaneView.h"
#include "panes/blocks/StatusCapsule.h"
#include "shell/MainWindow.h"
#include "shell/QuillbarrowApp.h"
#include "shell/WindowState.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/Clipboard.h"
#include "viewmodels/TransferCoordinator.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QDialog>
#include <QFile>
#include <QTemporaryDir>

namespace quillbarrow::snapshot {

namespace {

// The mock device, whose session never finishes opening: the window stays in "Connecting to …".
class SlowOpeningBackend final : public MTPBackend {
  public:
    SlowOpeningBackend() : m_devices(std::make_shared<MockMTPBackend>(MockMTPBackend::defaultDevices())) {}
    QCoro::Task<QList<AndroidDevice>> currentDevices() override { return m_devices->currentDevices(); }
    AsyncChannel<DeviceConnectionEvent> events() override { return m_devices->events(); }
    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID, OpenSessionOptions) override
    {
        co_await sleepFor(std::chrono::hours(24), m_stop.get_token());
        throw QuillbarrowError::deviceNotFound();
    }

  private:
    std::shared_ptr<MockMTPBackend> m_devices;
    std::stop_source m_stop;
};

AndroidPaneView* androidPane(MainWindow* window)
{
    return window->findChild<AndroidPaneView*>();
}

const SceneRegistration androidNoDevice(
    QStringLiteral("android-pane-no-device"),
    QStringLiteral("The Android pane focused with no device: the connect-a-device guide"), [] {
        auto app = makeSceneApp({});
        MainWindow* window = app->openWindow();
        window->state().focusPane(FocusedPane::android);
        return windowScene(app, window);
    });

const SceneRegistration androidConnecting(
    QStringLiteral("android-pane-connecting"),
    QStringLiteral("The Android pane while the device's session opens: the spinner and \"Connecting to Pixel 8…\""),
    [] {
        QuillbarrowApp::Services services;
        services.homePath = sceneHome().path();
        services.preferences = std::make_shared<InMemoryUserDefaults>();
        static QTemporaryDir openedFiles;
        services.openedFilesCacheDirectory = openedFiles.path();
        services.chooseBackend = [] {
            return AppEnvironment(std::make_shared<SlowOpeningBackend>(), BackendMode::mock);
        };
        auto app = std::make_shared<QuillbarrowApp>(std::move(services));
        MainWindow* window = app->openWindow();
        window->resize(windowSceneSize);
        SceneView view;
        view.widget = window;
        view.owner = app;
        view.isReady = [window] {
            return window->deviceBrowser().connectionPhase() == DeviceConnectionPhase::opening &&
                   !window->localBrowser().isLoading() &&
                   androidPane(window)->content() == AndroidPaneView::Content::loading;
        };
        return view;
    });

const SceneRegistration androidCapsule(
    QStringLiteral("android-pane-capsule"),
    QStringLiteral("The Android pane in DCIM while the folder is listed again: \"Loading device contents…\" over the "
                   "table, one folder selected"),
    [] {
        auto app = makeSceneApp(MockMTPBackend::defaultDevices());
        MainWindow* window = app->openWindow();
        auto step = std::make_shared<int>(0);
        return windowScene(app, window, [window, step] {
            DeviceBrowserViewModel& device = window->deviceBrowser();
            AndroidPaneView* pane = androidPane(window);
            if (*step == 0 && device.currentPage() && !device.isLoading()) {
                *step = 1;
                for (const RemoteItem& item : device.items()) {
                    if (item.name == QStringLiteral("DCIM")) {
                        pane->open(item);
                    }
                }
                return false;
            }
            if (*step == 1 && device.currentPage() && !device.isLoading() &&
                device.currentPage()->path.components == QStringList{QStringLiteral("DCIM")}) {
                *step = 2;
                window->state().focusPane(FocusedPane::android);
                pane->setSelection({device.items().front().id});
                // A refresh raises loading over the shown folder; the picture is taken at once.
                QCoro::Task<> refresh = device.refresh();
                Q_UNUSED(refresh)
                return false;
            }
            return *step == 2 && pane->statusCapsule()->isVisible();
        });
    });

const SceneRegistration androidConflict(
    QStringLiteral("android-pane-conflict-sheet"),
    QStringLiteral("A Mac file pasted into the device's Download folder, which holds one of that name: the conflict "
                   "sheet over the window, the transfer waiting in the panel"),
    [] {
        auto app = makeSceneApp(MockMTPBackend::defaultDevices());
        MainWindow* window = app->openWindow();
        // A file of the same name as the mock device's download.
        const QString source = sceneHome().filePath(QStringLiteral("Downloads/sample.apk"));
        QFile file(source);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QByteArray(48'000, 'x'));
        }
        file.close();
        window->localBrowser().navigateTo(QUrl::fromLocalFile(sceneHome().filePath(QStringLiteral("Downloads"))));
        auto step = std::make_shared<int>(0);
        return windowScene(app, window, [window, step, source] {
            DeviceBrowserViewModel& device = window->deviceBrowser();
            AndroidPaneView* pane = androidPane(window);
            if (*step == 0 && device.currentPage() && !device.isLoading()) {
                *step = 1;
                for (const RemoteItem& item : device.items()) {
                    if (item.name == QStringLiteral("Download")) {
                        pane->open(item);
                    }
                }
                return false;
            }
            if (*step == 1 && device.currentPage() && !device.isLoading() &&
                device.currentPage()->path.components == QStringList{QStringLiteral("Download")}) {
                *step = 2;
                window->state().focusPane(FocusedPane::android);
                window->coordinator().clipboard()->copyLocal({QUrl::fromLocalFile(source)});
                pane->paste();
                return false;
            }
            const QDialog* sheet = window->findChild<QDialog*>(QStringLiteral("conflictSheet"));
            return *step == 2 && sheet && sheet->isVisible();
        });
    });

} // namespace

} // namespace quillbarrow::snapshot
