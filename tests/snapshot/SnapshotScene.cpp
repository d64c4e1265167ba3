#include "SnapshotScene.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quillbarrow::snapshot {

SceneRegistry& SceneRegistry::instance()
{
    static SceneRegistry registry;
    return registry;
}

void SceneRegistry::add(Scene scene)
{
    if (find(scene.name) != nullptr) {
        std::fprintf(stderr, "quillbarrow-snapshot: two scenes are named %s\n", qPrintable(scene.name));
        std::abort();
    }
    m_scenes.append(std::move(scene));
}

QList<Scene> SceneRegistry::scenes() const
{
    QList<Scene> sorted = m_scenes;
    std::sort(sorted.begin(), sorted.end(), [](const Scene& a, const Scene& b) { return a.name < b.name; });
    return sorted;
}

const Scene* SceneRegistry::find(const QString& name) const
{
    const auto found =
        std::find_if(m_scenes.cbegin(), m_scenes.cend(), [&](const Scene& scene) { return scene.name == name; });
    return found == m_scenes.cend() ? nullptr : &*found;
}

SceneRegistration::SceneRegistration(const QString& name, const QString& description, SceneBuilder build)
{
    SceneRegistry::instance().add(Scene{name, description, std::move(build)});
}

} // namespace quillbarrow::snapshot
