// The scenes of the computer's pane in the whole window: browsing a real folder with a row
// selected, the volumes switcher with Home and a drive, the path editor after a wrong path and
// the drop overlay while device rows hover over the pane (over one row, and over a dozen).

#include "SceneSupport.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "panes/LocalPaneView.h"
#include "panes/MacNavigation.h"
#include "platform/VolumeMonitor.h"
#include "shell/MainWindow.h"
#include "shell/QuillbarrowApp.h"
#include "table/NativeTablePasteboardItem.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>

namespace quillbarrow::snapshot {

namespace {

// Home and one USB drive, whatever the machine has mounted.
class SceneVolumes final : public VolumeMonitor {
  public:
    explicit SceneVolumes(QString mountPoint) : m_mountPoint(std::move(mountPoint)) {}
    QList<MountedVolume> mountedVolumes() const override
    {
        BlockDeviceFacts stick;
        stick.isRemovable = true;
        stick.isEjectable = true;
        stick.isInternal = false;
        return {MountedVolume{MountRecord{QStringLiteral("8:17"), QStringLiteral("/"), m_mountPoint,
                                          QStringLiteral("vfat"), QStringLiteral("/dev/sdb1")},
                              stick, QStringLiteral("TRAVEL")}};
    }
    void startWatching() override {}

  private:
    QString m_mountPoint;
};

LocalPaneView* macPane(MainWindow* window)
{
    return window->findChild<LocalPaneView*>();
}

SceneView browsingScene(const QString& folder, std::function<void(MainWindow*)> then)
{
    auto app = makeSceneApp(MockMTPBackend::defaultDevices());
    MainWindow* window = app->openWindow();
    window->localBrowser().navigateTo(QUrl::fromLocalFile(sceneHome().filePath(folder)));
    auto done = std::make_shared<bool>(false);
    return windowScene(app, window, [window, then = std::move(then), done] {
        if (!*done && !window->localBrowser().isLoading() && !window->localBrowser().items().isEmpty() &&
            window->deviceBrowser().currentPage().has_value()) {
            *done = true;
            then(window);
            return false; // one more turn for what `then` changed
        }
        return *done;
    });
}

const SceneRegistration macPaneBrowsing(
    QStringLiteral("mac-pane-browsing"),
    QStringLiteral(
        "The Mac pane in Documents with one file selected: the breadcrumb, the badge and the strip"),
    [] {
        return browsingScene(QStringLiteral("Documents"), [](MainWindow* window) {
            LocalPaneView* pane = macPane(window);
            pane->setSelection({window->localBrowser().items().front().id});
        });
    });

const SceneRegistration
    macPaneVolumes(QStringLiteral("mac-pane-volumes"),
                   QStringLiteral("The Mac pane with Home and a USB drive in the volumes switcher"), [] {
                       struct Holder {
                           std::shared_ptr<QuillbarrowApp> app;
                           QTemporaryDir drive;
                           std::unique_ptr<LocalBrowserViewModel> browser;
                       };
                       auto holder = std::make_shared<Holder>();
                       holder->app = makeSceneApp(MockMTPBackend::defaultDevices());
                       holder->browser = std::make_unique<LocalBrowserViewModel>(
                           QUrl::fromLocalFile(sceneHome().filePath(QStringLiteral("Pictures"))),
                           AppLogger(QStringLiteral("LocalBrowserViewModel")),
                           std::make_shared<InMemoryUserDefaults>(),
                           std::make_shared<SceneVolumes>(holder->drive.path()));
                       auto* window = new MainWindow(holder->app->deviceBrowser(), *holder->browser,
                                                     holder->app->coordinator());
                       SceneView view = windowScene(holder->app, window);
                       view.owner = holder;
                       return view;
                   });

const SceneRegistration macPanePathError(
    QStringLiteral("mac-pane-path-error"),
    QStringLiteral("The Mac path editor after a path that names nothing: \"Not found\" and the red outline"),
    [] {
        return browsingScene(QStringLiteral("Documents"), [](MainWindow* window) {
            MacBreadcrumbBar* bar = macPane(window)->breadcrumbBar();
            bar->beginPathEdit();
            bar->pathField()->setText(QStringLiteral("~/Documents/Old Projects"));
            bar->commitPathEdit();
        });
    });

// Android rows dragged over the Mac pane while it shows `folder`.
SceneView dropOverlayScene(const QString& folder)
{
    return browsingScene(folder, [](MainWindow* window) {
        LocalPaneView* pane = macPane(window);
        const std::optional<DirectoryPage>& page = window->deviceBrowser().currentPage();
        if (page && !page->items.isEmpty()) {
            window->coordinator().clipboard()->copyDevice(page->items.mid(0, 1), page->storage.id);
        }
        static QMimeData* data = NativeTablePasteboardItem::mimeData(
            {NativeTablePasteboardItem::plainText(NativeTablePasteboardItem::androidDragMarker())});
        QDragEnterEvent enter(pane->rect().center(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane, &enter);
    });
}

const SceneRegistration macPaneDropOverlay(
    QStringLiteral("mac-pane-drop-overlay"),
    QStringLiteral("Android rows dragged over the Mac pane: the drop overlay names the shown folder"),
    [] { return dropOverlayScene(QStringLiteral("Pictures")); });

const SceneRegistration macPaneDropOverlayOverRows(
    QStringLiteral("mac-pane-drop-overlay-over-rows"),
    QStringLiteral(
        "Android rows dragged over the Mac pane showing a folder of twelve files: the rows and the "
        "column titles show through the faint fill"),
    [] {
        const QDir desktop(sceneHome().filePath(QStringLiteral("Desktop")));
        for (int index = 1; index <= 12; ++index) {
            QFile file(desktop.filePath(QStringLiteral("Scan %1.pdf").arg(index, 2, 10, QLatin1Char('0'))));
            if (file.open(QIODevice::WriteOnly)) {
                file.write(QByteArray(index * 21'000, 's'));
            }
        }
        return dropOverlayScene(QStringLiteral("Desktop"));
    });

} // namespace

} // namespace quillbarrow::snapshot
