#pragma once

#include "domain/StorageID.h"
#include "domain/StorageRoot.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <optional>

class QMenu;

namespace quillbarrow {

class BusySpinner;
class DeviceBrowserViewModel;

// The segment title of a storage at position `index` (from 0) of the device's list: "Internal"
// or "SD card" when the name says so, "Storage <index + 1>" for a blank or generic name,
// otherwise the trimmed name itself.
QString storageShortTitle(const StorageRoot& storage, int index);
// The symbol of a segment that is neither shown nor opening: "sdcard" for removable-sounding
// names, "internaldrive" otherwise.
QString storageIcon(const StorageRoot& storage);
// "<free> free of <capacity>", "<free> free" or "<capacity>" in file-style byte counts; nothing
// when the device reported neither.
std::optional<QString> storageDetail(const StorageRoot& storage);
// The segment's tooltip: what a click does (or what is happening), the trimmed name and, when
// known, the detail after " - ".
QString storageHelp(const StorageRoot& storage, bool isSelected, bool isPending);
// Whether the storage's segment refuses clicks, given the storage of the shown page and the one
// being switched to (either may be absent): the storage being opened always, the shown one
// unless another switch is under way.
bool isStorageSegmentDisabled(const StorageRoot& storage, const std::optional<StorageID>& shownStorageID,
                              const std::optional<StorageID>& pendingStorageID);

// One segment of the storage switcher: its leading mark (a spinner while opening, the accent
// check mark while shown, otherwise the storage's symbol), then its title in the caption font,
// cut at the end when it does not fit. The whole segment takes clicks; the switcher paints the
// shown segment's accent fill.
class StorageSegmentButton final : public QToolButton {
    Q_OBJECT

  public:
    static constexpr int markSize = 14;
    static constexpr int minimumSegmentWidth = 82;
    static constexpr int maximumSegmentWidth = 132;

    StorageSegmentButton(const QString& title, QWidget* parent = nullptr);

    // The mark: `symbol` in `color` while not pending; the spinner while pending.
    void setMark(const QString& symbol, const QColor& color);
    void setPending();
    bool isPending() const { return m_spinner != nullptr; }
    // The title as drawn at the current width.
    QString shownTitle() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Where the mark sits: the mark and the title are centred together in the segment.
    QRect markRect() const;
    int titleRoom() const;

    QIcon m_mark;
    BusySpinner* m_spinner = nullptr;
};

// The segmented row of the device's storages. A click empties the pane's selection (through
// `beforeNavigate`), then switches the pane to that storage's root. Follows the browser's
// storages, shown page and pending switch; the shown and the opening storage are disabled, the
// shown one is marked with the check mark and the accent fill, the opening one with a spinner.
class AndroidStorageSwitcher final : public QWidget {
    Q_OBJECT

  public:
    AndroidStorageSwitcher(DeviceBrowserViewModel& browser, std::function<void()> beforeNavigate,
                           QWidget* parent = nullptr);

    // The segment buttons, in storage order.
    QList<QToolButton*> segments() const { return m_segments; }
    // The dividers between segments (one fewer than the segments).
    QList<QWidget*> dividers() const { return m_dividers; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void rebuild();

    QPointer<DeviceBrowserViewModel> m_browser;
    std::function<void()> m_beforeNavigate;
    QList<QToolButton*> m_segments;
    QList<QWidget*> m_dividers;
    // The shown storage's segment, whose accent fill the switcher paints inside its outline.
    QPointer<QToolButton> m_selected;
};

// The breadcrumb row of the shown device folder: the folders from the storage root ("Storage",
// whatever the storage is called) down to the shown one. Every crumb but the last is a button
// that goes back to its folder, followed by a chevron; the last is bold text. Empty without a
// breadcrumb (no device or no storage).
class AndroidBreadcrumbBar final : public QWidget {
    Q_OBJECT

  public:
    explicit AndroidBreadcrumbBar(DeviceBrowserViewModel& browser, QWidget* parent = nullptr);

  private:
    void rebuild();

    QPointer<DeviceBrowserViewModel> m_browser;
};

// Fills `menu` with the device's favourite folders (a default one reads "<name> (Default)";
// choosing one runs `beforeNavigate`, then opens it), then "Add Current Folder" and "Set Current
// as Default" (disabled without a shown folder), then, with user favourites, "Remove <name>" for
// each of them. Built afresh at every opening: once another phone, or none, is selected, its
// entries are disabled and the menu closes.
void fillAndroidFavoritesMenu(QMenu* menu, DeviceBrowserViewModel& browser,
                              const std::function<void()>& beforeNavigate);

} // namespace quillbarrow
