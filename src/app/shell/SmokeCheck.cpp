#include "SmokeCheck.h"

#include "MainWindow.h"
#include "QuillbarrowApp.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QEvent>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace quillbarrow {

SmokeCheck::SmokeCheck(QuillbarrowApp& app, MainWindow& window) : QObject(&app), m_app(app), m_window(&window)
{
    window.winId(); // makes the platform window, whose exposure is watched
    window.windowHandle()->installEventFilter(this);
    connect(&window.deviceBrowser(), &DeviceBrowserViewModel::devicesChanged, this, &SmokeCheck::check);
    check();
}

QString SmokeCheck::reachedLine(const QStringList& deviceNames)
{
    return QStringLiteral("quillbarrow: window shown; devices: ") + deviceNames.join(QStringLiteral(", "));
}

bool SmokeCheck::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Expose) {
        // Exposure is updated by the window's own handling of the event, after this filter.
        QTimer::singleShot(0, this, &SmokeCheck::check);
    }
    return QObject::eventFilter(watched, event);
}

void SmokeCheck::check()
{
    if (m_done || m_window == nullptr || !m_window->windowHandle()->isExposed()) {
        return;
    }
    const QList<AndroidDevice>& devices = m_window->deviceBrowser().devices();
    if (devices.isEmpty()) {
        return;
    }
    m_done = true;
    QStringList names;
    for (const AndroidDevice& device : devices) {
        names.append(device.displayName);
    }
    std::printf("%s\n", qPrintable(reachedLine(names)));
    std::fflush(stdout);
    QTimer::singleShot(0, &m_app, &QuillbarrowApp::quit);
}

} // namespace quillbarrow
