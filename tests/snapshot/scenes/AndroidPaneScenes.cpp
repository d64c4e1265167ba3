// The scenes of the phone's pane in the whole window: no device (the guide), a device that is
// still connecting (the spinner with its status line), a folder with the status capsule over it,
// a storage root of many folders measured and sorted by size, a Mac file dragged over a folder of
// photos, the conflict sheet asked by a paste into the device while its transfer waits, and two
// files opened for viewing, their rows in the panel.

#include "SceneSupport.h"
#include "async/Sleep.h"
#include "chrome/TransferJobListModel.h"
#include "chrome/TransferPanel.h"
#include "domain/QuillbarrowError.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "panes/AndroidPaneView.h"
#include "panes/blocks/DropTargetOverlay.h"
#include "panes/blocks/StatusCapsule.h"
#include "shell/MainWindow.h"
#include "shell/QuillbarrowApp.h"
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
#include <QDialog>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>

namespace quillbarrow::snapshot {

namespace {

// What the scene backend holds back, to keep the window in a state that lasts a moment only.
struct Holds {
    bool opening = false;  // the session never finishes opening
    bool listings = false; // a listing asked for from now on never ends
};

QCoro::Task<> holdOn()
{
    // Far longer than any scene; the program quits first.
    co_await sleepFor(std::chrono::hours(24));
}

// The mock device's session, whose listings can be held.
class HeldSession final : public DeviceSession {
  public:
    HeldSession(std::shared_ptr<DeviceSession> session, std::shared_ptr<Holds> holds)
        : m_session(std::move(session)), m_holds(std::move(holds))
    {
    }
    AndroidDevice device() const override { return m_session->device(); }
    QCoro::Task<QList<StorageRoot>> storages() override { return m_session->storages(); }
    QCoro::Task<DirectoryPage> rootDirectory(StorageID storageID) override
    {
        if (m_holds->listings) {
            co_await holdOn();
        }
        QCoro::Task<DirectoryPage> listing = m_session->rootDirectory(storageID);
        co_return co_await std::move(listing);
    }
    QCoro::Task<DirectoryPage> listDirectory(RemoteObjectID parentID, RemotePath path) override
    {
        if (m_holds->listings) {
            co_await holdOn();
        }
        QCoro::Task<DirectoryPage> listing = m_session->listDirectory(parentID, path);
        co_return co_await std::move(listing);
    }
    QCoro::Task<RemoteItem> createFolder(QString name, std::optional<RemoteObjectID> parentID,
                                         StorageID storageID) override
    {
        return m_session->createFolder(name, parentID, storageID);
    }
    QCoro::Task<> rename(RemoteObjectID itemID, QString newName) override { return m_session->rename(itemID, newName); }
    QCoro::Task<> deleteItem(RemoteObjectID itemID) override { return m_session->deleteItem(itemID); }
    QCoro::Task<> downloadFile(RemoteObjectID itemID, QString destination, TransferProgressFunction progress) override
    {
        return m_session->downloadFile(itemID, destination, progress);
    }
    QCoro::Task<RemoteItem> uploadFile(QString source, QString name, std::optional<RemoteObjectID> parentID,
                                       StorageID storageID, TransferProgressFunction progress) override
    {
        return m_session->uploadFile(source, name, parentID, storageID, progress);
    }
    QCoro::Task<> close() override { return m_session->close(); }

  private:
    std::shared_ptr<DeviceSession> m_session;
    std::shared_ptr<Holds> m_holds;
};

// The mock device behind the holds.
class HeldBackend final : public MTPBackend {
  public:
    explicit HeldBackend(std::shared_ptr<Holds> holds)
        : m_devices(std::make_shared<MockMTPBackend>(MockMTPBackend::defaultDevices())), m_holds(std::move(holds))
    {
    }
    QCoro::Task<QList<AndroidDevice>> currentDevices() override { return m_devices->currentDevices(); }
    AsyncChannel<DeviceConnectionEvent> events() override { return m_devices->events(); }
    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID deviceID, OpenSessionOptions options) override
    {
        if (m_holds->opening) {
            co_await holdOn();
        }
        QCoro::Task<std::shared_ptr<DeviceSession>> opening = m_devices->openSession(deviceID, options);
        std::shared_ptr<DeviceSession> session = co_await std::move(opening);
        co_return std::make_shared<HeldSession>(std::move(session), m_holds);
    }

  private:
    std::shared_ptr<MockMTPBackend> m_devices;
    std::shared_ptr<Holds> m_holds;
};

// The scene application over the held mock device.
std::shared_ptr<QuillbarrowApp> makeHeldApp(std::shared_ptr<Holds> holds)
{
    static QTemporaryDir openedFiles;
    QuillbarrowApp::Services services;
    services.homePath = sceneHome().path();
    services.preferences = std::make_shared<InMemoryUserDefaults>();
    services.openedFilesCacheDirectory = openedFiles.path();
    services.chooseBackend = [holds] { return AppEnvironment(std::make_shared<HeldBackend>(holds), BackendMode::mock); };
    return std::make_shared<QuillbarrowApp>(std::move(services));
}

AndroidPaneView* androidPane(MainWindow* window)
{
    return window->findChild<AndroidPaneView*>();
}

// The mock device with a storage root of `folders` folders, folder number i holding i + 1 files of
// 1.5 MB (so that no two weigh the same), and a few photos beside them.
class ManyFoldersBackend final : public MTPBackend {
  public:
    explicit ManyFoldersBackend(int folders)
        : m_devices(std::make_shared<MockMTPBackend>(MockMTPBackend::defaultDevices())),
          m_tree({StorageRoot(MockMTPBackend::storageIDFor(MockMTPBackend::defaultDevices().front().id),
                              QStringLiteral("Internal shared storage"), 256'000'000'000LL, 141'000'000'000LL)},
                 {})
    {
        const StorageID storage = m_tree.storages().front().id;
        for (int index = 0; index < folders; ++index) {
            const RemoteItem folder = m_tree.addFolder(
                QStringLiteral("Album %1").arg(index + 1, 2, 10, QLatin1Char('0')), std::nullopt, storage);
            for (int file = 0; file <= index; ++file) {
                m_tree.addFile(QStringLiteral("IMG_%1.jpg").arg(file, 4, 10, QLatin1Char('0')), folder.id, storage,
                               1'500'000);
            }
        }
        for (int index = 0; index < 4; ++index) {
            m_tree.addFile(QStringLiteral("Screenshot %1.png").arg(index + 1), std::nullopt, storage, 800'000);
        }
    }
    QCoro::Task<QList<AndroidDevice>> currentDevices() override { return m_devices->currentDevices(); }
    AsyncChannel<DeviceConnectionEvent> events() override { return m_devices->events(); }
    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID deviceID, OpenSessionOptions) override
    {
        for (const AndroidDevice& device : MockMTPBackend::defaultDevices()) {
            if (device.id == deviceID) {
                co_return std::make_shared<MockDeviceSession>(device, m_tree);
            }
        }
        throw QuillbarrowError::deviceNotFound();
    }

  private:
    std::shared_ptr<MockMTPBackend> m_devices;
    MockTree m_tree;
};

// The app over a phone whose storage root holds `folders` folders, with a home of its own.
std::shared_ptr<QuillbarrowApp> manyFoldersApp(int folders)
{
    static QTemporaryDir openedFiles;
    QuillbarrowApp::Services services;
    services.homePath = sceneHome().path();
    services.preferences = std::make_shared<InMemoryUserDefaults>();
    services.openedFilesCacheDirectory = openedFiles.path();
    services.chooseBackend = [folders] {
        return AppEnvironment(std::make_shared<ManyFoldersBackend>(folders), BackendMode::mock);
    };
    return std::make_shared<QuillbarrowApp>(std::move(services));
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
        auto holds = std::make_shared<Holds>();
        holds->opening = true;
        auto app = makeHeldApp(holds);
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

// The window once the pane has opened the device folder `folder` of the storage root and `then`
// has acted in it; ready when `shown` holds.
SceneView deviceFolderScene(const std::shared_ptr<QuillbarrowApp>& app, MainWindow* window, const QString& folder,
                            std::function<void(AndroidPaneView*)> then, std::function<bool()> shown)
{
    auto step = std::make_shared<int>(0);
    return windowScene(app, window, [window, step, folder, then = std::move(then), shown = std::move(shown)] {
        DeviceBrowserViewModel& device = window->deviceBrowser();
        AndroidPaneView* pane = androidPane(window);
        if (*step == 0 && device.currentPage() && !device.isLoading()) {
            *step = 1;
            // Opening replaces the listed items at once: the folder is found first.
            const QList<RemoteItem> listed = device.items();
            const auto found = std::find_if(listed.begin(), listed.end(),
                                            [&folder](const RemoteItem& item) { return item.name == folder; });
            if (found != listed.end()) {
                pane->open(*found);
            }
            return false;
        }
        if (*step == 1 && device.currentPage() && !device.isLoading() &&
            device.currentPage()->path.components == QStringList{folder}) {
            *step = 2;
            window->state().focusPane(FocusedPane::android);
            then(pane);
            return false; // one more turn for what `then` changed
        }
        return *step == 2 && shown();
    });
}

const SceneRegistration androidCapsule(
    QStringLiteral("android-pane-capsule"),
    QStringLiteral("The Android pane in DCIM while the folder is listed again: \"Loading device contents…\" over the "
                   "table, one folder selected"),
    [] {
        auto holds = std::make_shared<Holds>();
        auto app = makeHeldApp(holds);
        MainWindow* window = app->openWindow();
        DeviceBrowserViewModel* device = &window->deviceBrowser();
        AndroidPaneView* pane = androidPane(window);
        return deviceFolderScene(
            app, window, QStringLiteral("DCIM"),
            [device, holds](AndroidPaneView* shownPane) {
                shownPane->setSelection({device->items().front().id});
                // The folder is listed again, and the listing is held: loading over the shown folder.
                holds->listings = true;
                QCoro::Task<> refresh = device->refresh();
                Q_UNUSED(refresh)
            },
            [pane] { return pane->statusCapsule()->isVisible(); });
    });

// The pane over a storage root of `folders` folders, sorted by size, largest first, before the
// automatic pass measured them (each size filled in where its row stood). Once every folder is
// measured, `then` runs at each turn, told whether it is its first, until it says the scene is ready.
SceneView sizeSortedFoldersScene(int folders, std::function<bool(MainWindow*, bool first)> then)
{
    auto app = manyFoldersApp(folders);
    app->deviceBrowser().setSort(FileSort::size, false);
    MainWindow* window = app->openWindow();
    auto started = std::make_shared<bool>(false);
    return windowScene(app, window, [window, started, then = std::move(then)] {
        const DeviceBrowserViewModel& device = window->deviceBrowser();
        const QList<RemoteItem>& items = device.items();
        const bool measured = !items.isEmpty() && device.calculatingFolderSizeIDs().isEmpty() &&
                              std::all_of(items.begin(), items.end(), [](const RemoteItem& item) {
                                  return item.kind != RemoteItemKind::folder || item.size.has_value();
                              });
        if (!*started && !measured) {
            return false;
        }
        return then(window, !std::exchange(*started, true));
    });
}

const SceneRegistration androidManyFolders(
    QStringLiteral("android-pane-many-folders"),
    QStringLiteral(
        "The Android pane over a storage root of 40 folders, each measured by the automatic pass and "
        "sorted by size, largest first; the largest selected"),
    [] {
        return sizeSortedFoldersScene(40, [](MainWindow* window, bool first) {
            if (!first) {
                return true;
            }
            // Measured once the page showed, the sizes filled in where the rows stood: two clicks on
            // the size header order them by size again, largest first.
            window->deviceBrowser().setSort(FileSort::size, true);
            window->deviceBrowser().setSort(FileSort::size, false);
            window->state().focusPane(FocusedPane::android);
            androidPane(window)->setSelection({window->deviceBrowser().items().front().id});
            return false; // one more turn for the strip
        });
    });

const SceneRegistration androidSizeSortedAfterNewFolder(
    QStringLiteral("android-pane-size-sorted-after-new-folder"),
    QStringLiteral(
        "The Android pane sorted by size, largest first, while the automatic pass measured its 12 folders "
        "(each size filled in where its row stood), then \"New Folder\" made with Album 03 selected: the "
        "rows stay where they were seen, the new folder takes the place the sort gives it among them, and "
        "Album 03 stays selected"),
    [] {
        return sizeSortedFoldersScene(12, [](MainWindow* window, bool first) {
            DeviceBrowserViewModel& device = window->deviceBrowser();
            const QList<RemoteItem>& items = device.items();
            if (first) {
                window->state().focusPane(FocusedPane::android);
                androidPane(window)->setSelection({items.at(2).id});
                QCoro::Task<> creating = device.createFolder(QStringLiteral("New Folder"));
                Q_UNUSED(creating)
                return false;
            }
            return !device.isLoading() && std::any_of(items.begin(), items.end(), [](const RemoteItem& item) {
                return item.name == QStringLiteral("New Folder");
            });
        });
    });

const SceneRegistration androidDropOverlay(
    QStringLiteral("android-pane-drop-overlay"),
    QStringLiteral(
        "A Mac file dragged over the Android pane showing a folder of twelve photos: the rows and the "
        "column titles show through the faint fill"),
    [] {
        auto app = manyFoldersApp(12);
        MainWindow* window = app->openWindow();
        return deviceFolderScene(
            app, window, QStringLiteral("Album 12"),
            [](AndroidPaneView* shownPane) {
                static QMimeData data;
                data.setUrls({QUrl::fromLocalFile(sceneHome().filePath(QStringLiteral("readme.txt")))});
                QDragEnterEvent enter(shownPane->rect().center(), Qt::CopyAction, &data, Qt::LeftButton,
                                      Qt::NoModifier);
                QApplication::sendEvent(shownPane, &enter);
            },
            [window] { return androidPane(window)->findChild<DropTargetOverlay*>()->isTargeted(); });
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
        Clipboard* clipboard = window->coordinator().clipboard();
        return deviceFolderScene(
            app, window, QStringLiteral("Download"),
            [clipboard, source](AndroidPaneView* pane) {
                clipboard->copyLocal({QUrl::fromLocalFile(source)});
                pane->paste();
            },
            [window] {
                const QDialog* sheet = window->findChild<QDialog*>(QStringLiteral("conflictSheet"));
                return sheet && sheet->isVisible() && window->transferPanel()->model()->rowCount() > 0;
            });
    });

// Stands in for the desktop's application: takes every file and launches nothing.
class SceneOpener final : public DefaultApplicationOpener {
  public:
    QCoro::Task<bool> open(const QString&) override { co_return true; }
};

// Puts the scene home's readme on the phone's storage root under each of `names`, then lists the
// root again.
QCoro::Task<> putOnPhone(QPointer<DeviceBrowserViewModel> browser, QStringList names)
{
    const std::shared_ptr<DeviceSession> session = browser->currentSession();
    const StorageID storage = browser->currentPage()->storage.id;
    for (const QString& name : names) {
        QCoro::Task<RemoteItem> upload = session->uploadFile(
            sceneHome().filePath(QStringLiteral("readme.txt")), name, std::nullopt, storage);
        co_await std::move(upload);
    }
    if (browser) {
        QCoro::Task<> listing = browser->refresh();
        co_await std::move(listing);
    }
}

const SceneRegistration temporaryViews(
    QStringLiteral("window-temporary-views"),
    QStringLiteral(
        "Two phone files opened for viewing, at the window's own size: each row of the panel shows the "
        "file's whole name, then the \"Temporary view\" tag"),
    [] {
        auto app = makeSceneApp(MockMTPBackend::defaultDevices());
        MainWindow* window = app->openWindow();
        const QStringList names{QStringLiteral("s1.dat"), QStringLiteral("IMG_0001.jpg")};
        auto stage = std::make_shared<int>(0);
        return windowScene(app, window, [window, names, stage] {
            DeviceBrowserViewModel& browser = window->deviceBrowser();
            AndroidPaneView* pane = androidPane(window);
            if (*stage == 0) {
                startDetached(putOnPhone(&browser, names));
                ++*stage;
                return false;
            }
            if (*stage == 1) {
                QList<RemoteItem> opened;
                for (const RemoteItem& item : browser.items()) {
                    if (names.contains(item.name)) {
                        opened.append(item);
                    }
                }
                if (opened.size() < names.size() || browser.isLoading()) {
                    return false;
                }
                pane->setDefaultApplicationOpener(std::make_shared<SceneOpener>());
                for (const RemoteItem& item : opened) {
                    pane->open(item);
                }
                ++*stage;
                return false;
            }
            // The panel shows the jobs a moment after they change.
            const QList<TransferJob> jobs = window->coordinator().transferJobs();
            return jobs.size() == names.size() &&
                   window->transferPanel()->model()->rowCount() == names.size() &&
                   std::all_of(jobs.begin(), jobs.end(),
                               [](const TransferJob& job) { return job.state.isTerminal(); });
        });
    });

} // namespace

} // namespace quillbarrow::snapshot
