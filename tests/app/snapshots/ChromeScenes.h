#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace quillbarrow::snapshots {

// One picture of the window chrome: a name and a function that builds the widget to render.
// The widget owns whatever it shows (view models included).
struct ChromeScene {
    QString name;
    std::function<std::unique_ptr<QWidget>()> build;
};

std::unique_ptr<QWidget> guideWithoutDeviceScene();
std::unique_ptr<QWidget> bannerWithConflictingAppsScene();
std::unique_ptr<QWidget> conflictSheetScene();
std::unique_ptr<QWidget> newFolderSheetScene();
// The computer side's sheet with "a/b" typed: Create disabled, the reason under the field.
std::unique_ptr<QWidget> newFolderSheetRefusingANameScene();
std::unique_ptr<QWidget> renameSheetScene();
std::unique_ptr<QWidget> localDeleteConfirmationScene();
std::unique_ptr<QWidget> androidDeleteConfirmationScene();
std::unique_ptr<QWidget> serviceRestartAlertScene();
std::unique_ptr<QWidget> transferPanelInEveryStateScene();
// A panel at its first height with a long list of finished rows, a running one and one awaiting
// confirmation below them: the rows needing attention in view.
std::unique_ptr<QWidget> transferPanelConfirmationInFullListScene();
// One running job in a panel of the smallest height: the row whole, no scroll bar.
std::unique_ptr<QWidget> transferPanelWithOneRowScene();

// Every scene above, in this order, then the Android location controls (NavigationScenes.h).
QList<ChromeScene> chromeScenes();

} // namespace quillbarrow::snapshots
