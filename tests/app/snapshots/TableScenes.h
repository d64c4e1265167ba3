#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace quillbarrow::snapshots {

// Named scenes of the native table, the pane building blocks and the selection strip, for the
// snapshot program to render: each function builds a top-level widget at its intended size, not
// yet shown, from fixed data (no view model, no clock).
std::unique_ptr<QWidget> paneWithLongListingScene();
std::unique_ptr<QWidget> tableSelectionScene();
std::unique_ptr<QWidget> stripWithSelectionScene();
std::unique_ptr<QWidget> emptyStateScene();
std::unique_ptr<QWidget> dropOverlayScene();

struct TableScene {
    QString name;
    std::function<std::unique_ptr<QWidget>()> build;
};

// Every scene above with its name: "pane with a long listing", "a selection", "the strip with a
// selection", "the empty state", "the drop overlay".
QList<TableScene> tableScenes();

} // namespace quillbarrow::snapshots
