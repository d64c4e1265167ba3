#include "TableScenes.h"

#include "panes/SelectionPreflightStrip.h"
#include "panes/blocks/DropTargetOverlay.h"
#include "panes/blocks/EmptyStateView.h"
#include "panes/blocks/PaneHeaderDivider.h"
#include "panes/blocks/StatusCapsule.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "style/Fonts.h"
#include "table/NativeTable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quillbarrow::snapshots {

namespace {

const QDateTime sceneTime(QDate(2024, 3, 5), QTime(14, 7), Qt::UTC);

QList<LocalItem> longLocalListing()
{
    QList<LocalItem> items;
    const QStringList folders{"Applications", "Camera Uploads", "Desktop", "Documents", "Downloads", "Music",
                              "Pictures", "Projects"};
    for (int index = 0; index < folders.size(); ++index) {
        const std::optional<qint64> size = index % 3 == 0 ? std::optional<qint64>(1'250'000'000LL * (index + 1))
                                                           : std::nullopt;
        items.append(LocalItem(QUrl::fromLocalFile(QStringLiteral("/home/ada/") + folders[index]), folders[index],
                               RemoteItemKind::folder, size, sceneTime.addDays(-index), false));
    }
    for (int index = 0; index < 300; ++index) {
        const QString name = index % 7 == 0
                                 ? QStringLiteral("A very long holiday photo name from the summer trip %1 edited.jpg").arg(index)
                                 : QStringLiteral("IMG_%1.jpg").arg(4000 + index);
        const std::optional<QDateTime> date = index % 11 == 5 ? std::nullopt : std::optional(sceneTime.addSecs(-3600 * index));
        items.append(LocalItem(QUrl::fromLocalFile(QStringLiteral("/home/ada/") + name), name, RemoteItemKind::file,
                               index % 13 == 4 ? std::nullopt : std::optional<qint64>(37'000LL * (index + 1)), date, false));
    }
    return items;
}

QList<RemoteItem> remoteListing()
{
    QList<RemoteItem> items;
    const StorageID storage(QStringLiteral("65537"));
    const QStringList folders{"Alarms", "DCIM", "Download", "Movies", "Music", "Pictures"};
    for (int index = 0; index < folders.size(); ++index) {
        items.append(RemoteItem(RemoteObjectID(QString::number(100 + index)), storage, std::nullopt, folders[index],
                                RemoteItemKind::folder, index == 1 ? std::optional<qint64>(8'400'000'000) : std::nullopt,
                                sceneTime.addDays(-3 * index), std::nullopt));
    }
    for (int index = 0; index < 14; ++index) {
        items.append(RemoteItem(RemoteObjectID(QString::number(200 + index)), storage, std::nullopt,
                                QStringLiteral("PXL_2024030%1_1405%2.mp4").arg(index % 9).arg(10 + index),
                                RemoteItemKind::file, 52'000'000LL + 3'100'000LL * index, sceneTime.addSecs(-7200 * index),
                                std::nullopt));
    }
    return items;
}

SelectionPreflight macPreflight(SelectionSizeSummary summary, bool calculating = false)
{
    SelectionPreflight preflight;
    preflight.summary = summary;
    preflight.storageName = QStringLiteral("This Mac");
    preflight.storageIcon = QStringLiteral("laptopcomputer");
    preflight.freeBytes = 182'400'000'000;
    preflight.capacityBytes = 494'380'000'000;
    preflight.isCalculating = calculating;
    return preflight;
}

QWidget* headerRow(QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* title = new QLabel(QStringLiteral("Documents"), row);
    title->setFont(Fonts::headline());
    layout->addWidget(title);
    layout->addStretch(1);
    layout->addWidget(new ToolbarIconButton(QStringLiteral("chevron.up"), QStringLiteral("Parent folder (Ctrl+↑)"), row));
    layout->addWidget(new ToolbarIconButton(QStringLiteral("arrow.clockwise"), QStringLiteral("Refresh (Ctrl+R)"), row));
    layout->addWidget(new ToolbarIconButton(QStringLiteral("star"), QStringLiteral("Favorite folders"), row));
    layout->addWidget(new ToolbarIconButton(QStringLiteral("folder.badge.plus"), QStringLiteral("New folder"), row));
    auto* hidden = new ToolbarIconButton(QStringLiteral("eye.slash"), QStringLiteral("Show hidden files"), row);
    layout->addWidget(hidden);
    auto* copy = new ToolbarIconButton(QStringLiteral("arrow.right"), QStringLiteral("Copy"), row);
    copy->setText(QStringLiteral("Copy to Android"));
    copy->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    copy->setEnabled(false);
    layout->addWidget(copy);
    return row;
}

} // namespace

std::unique_ptr<QWidget> paneWithLongListingScene()
{
    auto pane = std::make_unique<QWidget>();
    pane->setObjectName(QStringLiteral("paneWithLongListingScene"));
    auto* layout = new QVBoxLayout(pane.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QWidget(pane.get());
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(10, 10, 10, 10);
    headerLayout->setSpacing(6);
    headerLayout->addWidget(headerRow(header));
    headerLayout->addWidget(new PaneHeaderDivider(header));
    auto* strip = new SelectionPreflightStrip(header);
    strip->setPreflight(macPreflight(SelectionSizeSummary(0, 0, 0, 0, 0, std::nullopt)));
    headerLayout->addWidget(strip);
    layout->addWidget(header);
    auto* table = new NativeTable<LocalItem>(NativeTableColumn::standardColumns(), pane.get());
    table->setItems(longLocalListing(), QStringLiteral("/home/ada"));
    table->setOnSortColumn([](const QString&, bool) {});
    table->setSortColumn(QStringLiteral("name"), true);
    layout->addWidget(table, 1);
    pane->resize(700, 560);
    return pane;
}

std::unique_ptr<QWidget> tableSelectionScene()
{
    auto frame = std::make_unique<QWidget>();
    frame->setObjectName(QStringLiteral("tableSelectionScene"));
    auto* layout = new QVBoxLayout(frame.get());
    layout->setContentsMargins(0, 0, 0, 0);
    auto* table = new NativeTable<RemoteItem>(NativeTableColumn::standardColumns(), frame.get());
    table->setItems(remoteListing(), QStringLiteral("scene"));
    table->setOnSortColumn([](const QString&, bool) {});
    table->setSortColumn(QStringLiteral("size"), false);
    table->setSelection({RemoteObjectID(QStringLiteral("101")), RemoteObjectID(QStringLiteral("203")),
                         RemoteObjectID(QStringLiteral("204")), RemoteObjectID(QStringLiteral("205"))});
    layout->addWidget(table);
    auto* capsule = new StatusCapsule(table);
    capsule->setStatus(QStringLiteral("Updating after transfer…"), QStringLiteral("clock.arrow.circlepath"));
    capsule->move((640 - capsule->sizeHint().width()) / 2, 32);
    frame->resize(640, 420);
    table->setFocus();
    return frame;
}

std::unique_ptr<QWidget> stripWithSelectionScene()
{
    auto column = std::make_unique<QWidget>();
    column->setObjectName(QStringLiteral("stripWithSelectionScene"));
    auto* layout = new QVBoxLayout(column.get());
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(10);
    const QList<SelectionPreflight> strips{
        macPreflight(SelectionSizeSummary(1, 1, 0, 4'812'000, 0, std::nullopt)),
        macPreflight(SelectionSizeSummary(2, 41, 2, 1'250'000'000, 1, std::nullopt)),
        macPreflight(SelectionSizeSummary(2, 41, 2, 1'250'000'000, 1, std::nullopt), true),
    };
    for (const SelectionPreflight& preflight : strips) {
        auto* strip = new SelectionPreflightStrip(column.get());
        strip->setPreflight(preflight);
        layout->addWidget(strip);
    }
    SelectionPreflight android;
    android.summary = SelectionSizeSummary(3, 3, 0, 156'000'000, 0, std::nullopt);
    android.storageName = QStringLiteral("Android");
    android.storageIcon = QStringLiteral("iphone.gen3");
    android.freeBytes = 10'000'000'000;
    auto* unknownCapacity = new SelectionPreflightStrip(column.get());
    unknownCapacity->setPreflight(android);
    layout->addWidget(unknownCapacity);
    layout->addStretch(1);
    column->resize(460, 330);
    return column;
}

std::unique_ptr<QWidget> emptyStateScene()
{
    auto view = std::make_unique<EmptyStateView>(
        QStringLiteral("No storage available"), QStringLiteral("externaldrive.badge.questionmark"),
        QStringLiteral("Keep the device unlocked and verify that File Transfer / MTP mode is selected."));
    view->resize(560, 360);
    return view;
}

std::unique_ptr<QWidget> dropOverlayScene()
{
    auto frame = std::make_unique<QWidget>();
    frame->setObjectName(QStringLiteral("dropOverlayScene"));
    auto* layout = new QVBoxLayout(frame.get());
    layout->setContentsMargins(0, 0, 0, 0);
    auto* table = new NativeTable<RemoteItem>(NativeTableColumn::standardColumns(), frame.get());
    table->setItems(remoteListing(), QStringLiteral("scene"));
    layout->addWidget(table);
    auto* overlay = new DropTargetOverlay(QStringLiteral("Drop Mac items here"),
                                          QStringLiteral("They will be copied to the current Android folder"), frame.get());
    overlay->setTargeted(true);
    frame->resize(640, 420);
    return frame;
}

QList<TableScene> tableScenes()
{
    return {
        {QStringLiteral("pane with a long listing"), paneWithLongListingScene},
        {QStringLiteral("a selection"), tableSelectionScene},
        {QStringLiteral("the strip with a selection"), stripWithSelectionScene},
        {QStringLiteral("the empty state"), emptyStateScene},
        {QStringLiteral("the drop overlay"), dropOverlayScene},
    };
}

} // namespace quillbarrow::snapshots
