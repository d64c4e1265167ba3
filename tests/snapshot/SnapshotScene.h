#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace quillbarrow::snapshot {

// What a scene hands over to be drawn: the widget (rendered with QWidget::grab, so a window
// with its menu bar, or a popup on its own), whatever must stay alive while it is drawn, and
// when it is ready (the program processes events until then).
struct SceneView {
    QWidget* widget = nullptr;
    std::shared_ptr<void> owner;
    std::function<bool()> isReady = [] { return true; };
};

using SceneBuilder = std::function<SceneView()>;

struct Scene {
    QString name;
    QString description;
    SceneBuilder build;
};

// The named scenes of the snapshot program, in name order. Scenes register themselves from
// their own source file, one SceneRegistration per scene:
//
//     const SceneRegistration windowEmpty(QStringLiteral("window-empty"),
//                                         QStringLiteral("The main window without a device"),
//                                         [] { ... return view; });
class SceneRegistry {
public:
    static SceneRegistry& instance();

    void add(Scene scene);
    QList<Scene> scenes() const;
    const Scene* find(const QString& name) const;

private:
    QList<Scene> m_scenes;
};

struct SceneRegistration {
    SceneRegistration(const QString& name, const QString& description, SceneBuilder build);
};

} // namespace quillbarrow::snapshot
