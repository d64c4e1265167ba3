#include "shell/MainWindow.h"
#include "shell/QuillbarrowApp.h"
#include "shell/SmokeCheck.h"

#include "async/Allocator.h"

#include <QApplication>
#include <QCommandLineParser>

using namespace quillbarrow;

int main(int argc, char** argv)
{
    // First, before QApplication starts any thread: big listings are made on one thread and freed
    // on the work pool while the window's thread allocates. Without the allocator's fast bins the
    // window's thread never waits for a merge of their blocks under the allocator's lock, and with
    // big blocks mapped apart their pages go back once freed (see configureAllocator()).
    configureAllocator();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillbarrow"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLBARROW_VERSION));
    // The application ends the run itself once the last main window has closed and its transfers
    // are cancelled; a dialog left open does not keep it running.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A file manager for Android devices over USB (MTP). QUILLBARROW_BACKEND=mock "
                       "serves a pretend device."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption smokeTest(
        QStringLiteral("smoke-test"),
        QStringLiteral("Print one line once the window is on screen and a device is listed, then quit."));
    parser.addOption(smokeTest);
    parser.process(application);

    QuillbarrowApp app(QuillbarrowApp::Services::live());
    QObject::connect(&app, &QuillbarrowApp::lastWindowClosed, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    app.finishLaunching();
    MainWindow* window = app.openWindow();
    if (parser.isSet(smokeTest)) {
        new SmokeCheck(app, *window);
    }
    return QApplication::exec();
}
