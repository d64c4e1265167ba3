// The scenes of single widgets (the native table, the pane building blocks, the selection strip,
// the window chrome and its sheets), built from fixed data by the functions the widget tests
// also draw. A scene's file name is its name with spaces as dashes.

#include "ChromeScenes.h"
#include "SnapshotScene.h"
#include "TableScenes.h"

#include <QWidget>

namespace quillbarrow::snapshot {

namespace {

template <typename WidgetScene>
void registerWidgetScenes(const QString& group, const QList<WidgetScene>& scenes)
{
    for (const WidgetScene& scene : scenes) {
        const auto build = scene.build;
        SceneRegistry::instance().add(Scene{QString(scene.name).replace(u' ', u'-'), group + scene.name, [build] {
                                                std::unique_ptr<QWidget> widget = build();
                                                QWidget* shown = widget.get();
                                                return SceneView{shown, std::shared_ptr<QWidget>(std::move(widget))};
                                            }});
    }
}

const bool registered = [] {
    registerWidgetScenes(QStringLiteral("Table and strip: "), snapshots::tableScenes());
    registerWidgetScenes(QStringLiteral("Window chrome: "), snapshots::chromeScenes());
    return true;
}();

} // namespace

} // namespace quillbarrow::snapshot
