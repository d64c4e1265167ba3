#include "SceneSupport.h"

#include "infrastructure/AppEnvironment.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "shell/MainWindow.h"
#include "shell/QuillbarrowApp.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

namespace quillbarrow::snapshot {

namespace {

// Every sample file carries this date, so listings look the same on every run.
const QDateTime sampleDate(QDate(2024, 5, 14), QTime(9, 41), Qt::UTC);

void writeSample(const QDir& folder, const QString& name, qsizetype bytes)
{
    QFile file(folder.filePath(name));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QByteArray(bytes, 'q'));
        file.close();
        file.setFileTime(sampleDate, QFileDevice::FileModificationTime);
    }
}

QTemporaryDir& temporaryHome()
{
    static QTemporaryDir home;
    return home;
}

} // namespace

QDir sceneHome()
{
    QDir home(temporaryHome().path());
    if (!home.exists(QStringLiteral("Documents"))) {
        for (const char* folder : {"Desktop", "Documents", "Downloads", "Music", "Pictures"}) {
            home.mkdir(QString::fromLatin1(folder));
        }
        writeSample(QDir(home.filePath(QStringLiteral("Documents"))), QStringLiteral("Trip notes.txt"), 2'400);
        writeSample(QDir(home.filePath(QStringLiteral("Documents"))), QStringLiteral("Budget 2024.csv"), 18'000);
        writeSample(QDir(home.filePath(QStringLiteral("Pictures"))), QStringLiteral("Harbour.jpg"), 412'000);
        writeSample(home, QStringLiteral("readme.txt"), 640);
    }
    return home;
}

std::shared_ptr<QuillbarrowApp> makeSceneApp(QList<AndroidDevice> devices)
{
    static QTemporaryDir openedFiles;
    QuillbarrowApp::Services services;
    services.homePath = sceneHome().path();
    services.preferences = std::make_shared<InMemoryUserDefaults>();
    services.chooseBackend = [devices] {
        return AppEnvironment(std::make_shared<MockMTPBackend>(devices), BackendMode::mock);
    };
    services.openedFilesCacheDirectory = openedFiles.path();
    return std::make_shared<QuillbarrowApp>(std::move(services));
}

SceneView windowScene(const std::shared_ptr<QuillbarrowApp>& app, MainWindow* window, std::function<bool()> extraReady)
{
    window->resize(windowSceneSize);
    SceneView view;
    view.widget = window;
    view.owner = app;
    view.isReady = [window, extraReady = std::move(extraReady)] {
        const DeviceBrowserViewModel& browser = window->deviceBrowser();
        const bool deviceSettled = browser.devices().isEmpty()
                                       ? browser.connectionPhase() == DeviceConnectionPhase::idle
                                       : browser.connectionPhase() == DeviceConnectionPhase::connected;
        return deviceSettled && !window->localBrowser().isLoading() && extraReady();
    };
    return view;
}

} // namespace quillbarrow::snapshot
