// The scenes of the native table, the pane building blocks and the selection strip, built from
// fixed data by the functions the widget tests also draw.

#include "SnapshotScene.h"
#include "TableScenes.h"

#include <QWidget>

namespace quillbarrow::snapshot {

namespace {

SceneView ownedView(std::unique_ptr<QWidget> widget)
{
    QWidget* shown = widget.get();
    return SceneView{shown, std::shared_ptr<QWidget>(std::move(widget))};
}

const SceneRegistration paneWithLongListing(QStringLiteral("table-long-listing"),
                                            QStringLiteral("A pane's table with a long listing"),
                                            [] { return ownedView(snapshots::paneWithLongListingScene()); });
const SceneRegistration tableSelection(QStringLiteral("table-selection"),
                                       QStringLiteral("A table with several rows selected"),
                                       [] { return ownedView(snapshots::tableSelectionScene()); });
const SceneRegistration stripWithSelection(QStringLiteral("strip-with-selection"),
                                           QStringLiteral("The selection strip: storage bar and the selection's size"),
                                           [] { return ownedView(snapshots::stripWithSelectionScene()); });
const SceneRegistration emptyState(QStringLiteral("pane-empty-state"), QStringLiteral("A pane's empty state"),
                                   [] { return ownedView(snapshots::emptyStateScene()); });
const SceneRegistration dropOverlay(QStringLiteral("pane-drop-overlay"),
                                    QStringLiteral("The drop overlay over a pane's table"),
                                    [] { return ownedView(snapshots::dropOverlayScene()); });

} // namespace

} // namespace quillbarrow::snapshot
