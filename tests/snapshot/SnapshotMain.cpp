// quillbarrow-snapshot: renders named scenes of the real window to PNG files for people to look
// at. Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
//     quillbarrow-snapshot --list
//     quillbarrow-snapshot [--scene NAME]... [--out DIR]      (every scene when none is named)

#include "RunTask.h"
#include "SceneSupport.h"
#include "SnapshotScene.h"

#include "async/Allocator.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLayout>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <chrono>
#include <cstdio>

using namespace quillbarrow::snapshot;

namespace {

// How long a scene may take to become ready; generous, for a busy machine.
constexpr std::chrono::seconds readyWatchdog(60);

// The picture of the widget with the window-modal dialogs open over it drawn in: those are
// windows of their own, so grab() leaves them out. Each is drawn where a sheet hangs, centred
// under the top of the window's content, with a thin edge.
QPixmap pictureWithSheets(QWidget* widget)
{
    QPixmap picture = widget->grab();
    QPainter painter(&picture);
    const QWidget* content = widget->isWindow() ? widget : nullptr;
    const int top = content && content->layout() && content->layout()->menuBar()
                        ? content->layout()->menuBar()->height()
                        : 0;
    for (QDialog* dialog : widget->findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) {
        if (!dialog->isVisible() || dialog->windowModality() != Qt::WindowModal) {
            continue;
        }
        const QPixmap sheet = dialog->grab();
        const QRect place(QPoint((widget->width() - dialog->width()) / 2, top), dialog->size());
        painter.drawPixmap(place.topLeft(), sheet);
        painter.setPen(QColor(0, 0, 0, 90));
        painter.drawRect(place.adjusted(0, 0, -1, -1));
    }
    return picture;
}

bool render(const Scene& scene, const QDir& out)
{
    SceneView view = scene.build();
    if (view.widget == nullptr) {
        std::fprintf(stderr, "quillbarrow-snapshot: scene %s built nothing\n", qPrintable(scene.name));
        return false;
    }
    if (!view.widget->isVisible()) {
        view.widget->show();
    }
    if (!quillbarrow::testing::processEventsUntil(view.isReady, readyWatchdog)) {
        std::fprintf(stderr, "quillbarrow-snapshot: scene %s did not become ready\n", qPrintable(scene.name));
        return false;
    }
    // Lets pending layouts and repaints land before the picture is taken. A layout pass can post
    // the next one (a wrapped text growing a row), so a few rounds, as a person's first glance
    // comes a moment after the change.
    for (int round = 0; round < 4; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
    const QString path = out.filePath(scene.name + QStringLiteral(".png"));
    if (!pictureWithSheets(view.widget).save(path)) {
        std::fprintf(stderr, "quillbarrow-snapshot: could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // The allocator as the program sets it, before anything allocates from another thread.
    quillbarrow::configureAllocator();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Every scene sees the same home folder, settings folders and locale on every machine.
    const QDir home = sceneHome();
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral(".cache"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral(".local/share"))));
    const QString runtime = home.filePath(QStringLiteral(".runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillbarrow"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders named scenes of the Quillbarrow window to PNG files."));
    parser.addHelpOption();
    const QCommandLineOption list(QStringLiteral("list"), QStringLiteral("Lists the scenes and what each shows."));
    const QCommandLineOption scene(QStringLiteral("scene"), QStringLiteral("Renders this scene (repeatable)."),
                                   QStringLiteral("NAME"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Folder for the PNG files (default: snapshots)."),
                                 QStringLiteral("DIR"), QStringLiteral("snapshots"));
    parser.addOptions({list, scene, out});
    parser.process(application);

    const SceneRegistry& registry = SceneRegistry::instance();
    if (parser.isSet(list)) {
        for (const Scene& each : registry.scenes()) {
            std::printf("%-32s %s\n", qPrintable(each.name), qPrintable(each.description));
        }
        return 0;
    }

    QList<Scene> chosen;
    const QStringList names = parser.values(scene);
    for (const QString& name : names) {
        const Scene* found = registry.find(name);
        if (found == nullptr) {
            std::fprintf(stderr, "quillbarrow-snapshot: no scene is named %s (see --list)\n", qPrintable(name));
            return 2;
        }
        chosen.append(*found);
    }
    if (names.isEmpty()) {
        chosen = registry.scenes();
    }

    QDir outFolder(parser.value(out));
    if (!outFolder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "quillbarrow-snapshot: cannot make %s\n", qPrintable(outFolder.path()));
        return 2;
    }
    int failures = 0;
    for (const Scene& each : std::as_const(chosen)) {
        failures += render(each, outFolder) ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
