#pragma once

#include "SnapshotScene.h"
#include "domain/AndroidDevice.h"

#include <QDir>
#include <QList>
#include <QSize>

#include <functional>
#include <memory>

namespace quillbarrow {
class MainWindow;
class QuillbarrowApp;
} // namespace quillbarrow

namespace quillbarrow::snapshot {

// The size of the window in the window scenes.
inline constexpr QSize windowSceneSize(1440, 900);

// The home folder of every scene: a temporary folder with a few standard folders and files,
// the same on every machine. HOME points at it while the program runs.
QDir sceneHome();

// The application over the mock backend serving `devices` (none: no device connected), with
// in-memory user defaults, the scene home and a throw-away opened-files folder.
std::shared_ptr<QuillbarrowApp> makeSceneApp(QList<AndroidDevice> devices);

// A new window of `app`, at the scene size, ready once the local folder is listed, the device
// browser has settled (no device, or the device connected) and `extraReady` holds.
SceneView windowScene(const std::shared_ptr<QuillbarrowApp>& app, MainWindow* window,
                      std::function<bool()> extraReady = [] { return true; });

} // namespace quillbarrow::snapshot
