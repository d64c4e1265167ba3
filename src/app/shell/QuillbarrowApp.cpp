#include "QuillbarrowApp.h"

#include "AppDelegate.h"
#include "AppMenuBar.h"
#include "MainWindow.h"
#include "logging/AppLogger.h"
#include "infrastructure/QSettingsUserDefaults.h"
#include "infrastructure/RunningAppConflictDetector.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/TransferQueue.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>

namespace quillbarrow {

QuillbarrowApp::Services QuillbarrowApp::Services::live()
{
    Services services;
    services.homePath = QDir::homePath();
    const QString identifier = QGuiApplication::desktopFileName();
    if (!identifier.isEmpty()) {
        services.bundleIdentifier = identifier;
    }
    services.preferences = std::make_shared<QSettingsUserDefaults>();
    services.chooseBackend = [] { return AppEnvironment::live(); };
    return services;
}

QuillbarrowApp::QuillbarrowApp(Services services, QObject* parent) : QObject(parent), m_services(std::move(services))
{
    AppDelegate::removeStaleSavedApplicationState(m_services.homePath, m_services.bundleIdentifier);
    AppDelegate::disableWindowRestorationDefaults(*m_services.preferences);
    m_environment = m_services.chooseBackend();
    m_clipboard = std::make_unique<Clipboard>();
    m_transferQueue = std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue")));
    m_coordinator = std::make_unique<TransferCoordinator>(m_clipboard.get(), m_transferQueue,
                                                          AppLogger(QStringLiteral("TransferCoordinator")),
                                                          m_services.openedFilesCacheDirectory);
    if (QCoreApplication::instance() != nullptr) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &QuillbarrowApp::applicationWillTerminate);
    }
}

QuillbarrowApp::~QuillbarrowApp()
{
    // The windows observe the view models: they go first.
    for (const QPointer<MainWindow>& window : std::as_const(m_windows)) {
        delete window.data();
    }
}

void QuillbarrowApp::finishLaunching()
{
    AppDelegate::disableWindowRestorationDefaults(*m_services.preferences);
    AppDelegate::removeStaleSavedApplicationState(m_services.homePath, m_services.bundleIdentifier);
}

DeviceBrowserViewModel& QuillbarrowApp::deviceBrowser()
{
    if (m_deviceBrowser == nullptr) {
        m_deviceBrowser = std::make_unique<DeviceBrowserViewModel>(
            m_environment->backend, AppLogger(QStringLiteral("DeviceBrowserViewModel")),
            std::make_shared<RunningAppConflictDetector>(), m_coordinator->transferQueue(), m_services.preferences);
    }
    return *m_deviceBrowser;
}

LocalBrowserViewModel& QuillbarrowApp::localBrowser()
{
    if (m_localBrowser == nullptr) {
        m_localBrowser = std::make_unique<LocalBrowserViewModel>(
            std::nullopt, AppLogger(QStringLiteral("LocalBrowserViewModel")), m_services.preferences);
    }
    return *m_localBrowser;
}

MainWindow* QuillbarrowApp::openWindow()
{
    auto* window = new MainWindow(deviceBrowser(), localBrowser(), *m_coordinator);
    auto* menuBar = new AppMenuBar(window);
    window->setMenuBar(menuBar);
    connect(menuBar, &AppMenuBar::newWindowRequested, this, &QuillbarrowApp::openWindow);
    connect(menuBar, &AppMenuBar::quitRequested, this, &QuillbarrowApp::quit);
    connect(menuBar, &AppMenuBar::aboutRequested, this, [this, window] { showAbout(window); });
    connect(window, &MainWindow::closed, this, &QuillbarrowApp::windowClosed);
    m_openWindows.append(window);
    m_windows.append(window);
    window->show();
    return window;
}

void QuillbarrowApp::quit()
{
    const QList<MainWindow*> open = m_openWindows;
    for (MainWindow* window : open) {
        if (!window->close()) {
            return;
        }
    }
}

void QuillbarrowApp::showAbout(QWidget* window)
{
    auto* box = new QMessageBox(QMessageBox::NoIcon, tr("About Quillbarrow"),
                                QStringLiteral("Quillbarrow ") + QStringLiteral(QUILLBARROW_VERSION),
                                QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setInformativeText(tr("Copies files between this computer and Android devices over USB (MTP).") +
                            QStringLiteral("\n\n") + AppMenuBar::informationText());
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void QuillbarrowApp::applicationWillTerminate()
{
    m_coordinator->requestCancellationForAllTransfers();
}

void QuillbarrowApp::windowClosed(MainWindow* window)
{
    if (!m_openWindows.removeOne(window) || !m_openWindows.isEmpty()) {
        return;
    }
    m_coordinator->requestCancellationForAllTransfers();
    m_coordinator->cancelAllTransfers();
    Q_EMIT lastWindowClosed();
}

} // namespace quillbarrow
