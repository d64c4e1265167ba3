#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QMenu;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace quillbarrow {

class SelectionPreflightStrip;
class ToolbarIconButton;

// The header both panes open with: the title row (the side's symbol, the title, the selection
// badge and, while the pane has the keyboard, "focused"), a thin rule, the toolbar (parent
// folder, refresh, the favourites menu, new folder, hidden files, then the prominent copy button
// towards the other pane), the switcher slot (shown by the pane only with two or more entries),
// the navigation row and, at the bottom, the pane's selection strip. The header holds no state:
// the pane sets every text and enabled state from its view models. Extra height (the taller
// header of the other pane) stays empty above the strip, so both panes' strips line up; the
// strip's room is kept whether or not something is selected.
class PaneHeader final : public QWidget {
    Q_OBJECT

  public:
    // `sideSymbol`: "laptopcomputer" or "iphone.gen3"; `copyTitle`, `copySymbol`, `copyHelp`: the
    // copy button's label and tooltip; `favoritesHelp`: the favourites menu's tooltip.
    PaneHeader(const QString& sideSymbol, const QString& title, const QString& favoritesHelp,
               const QString& copyTitle, const QString& copySymbol, const QString& copyHelp,
               QWidget* parent = nullptr);

    // "<n> selected", or nothing below 1 (no singular form).
    static QString selectionBadgeText(int count);

    void setTitle(const QString& title);
    void setSelectionCount(int count);
    void setFocusedCaptionShown(bool shown);
    // The hidden-files button's symbol and tooltip: "eye" and "Hide hidden files" while hidden
    // files are shown, "eye.slash" and "Show hidden files" otherwise.
    void setHiddenFilesShown(bool shown);
    // The favourites button's menu; the button lets go of its highlight when the menu closes.
    void setFavoritesMenu(QMenu* menu);
    // Places the side's switcher and navigation row; the header takes ownership.
    void setSwitcher(QWidget* switcher);
    void setNavigation(QWidget* navigation);
    // The strip keeps its full height's room at the bottom of the header (SelectionPreflightStrip::
    // fullHeight), drawn at the top of that room: the header's height never follows the
    // selection.
    void setStrip(SelectionPreflightStrip* strip);
    QWidget* stripSlot() const { return m_stripSlot; }

    QLabel* titleLabel() const { return m_title; }
    QLabel* selectionBadge() const { return m_badge; }
    QLabel* focusedCaption() const { return m_focused; }
    ToolbarIconButton* parentButton() const { return m_parent; }
    ToolbarIconButton* refreshButton() const { return m_refresh; }
    ToolbarIconButton* favoritesButton() const { return m_favorites; }
    ToolbarIconButton* newFolderButton() const { return m_newFolder; }
    ToolbarIconButton* hiddenFilesButton() const { return m_hiddenFiles; }
    QPushButton* copyButton() const { return m_copy; }

  Q_SIGNALS:
    // The header's natural height changed (a switcher came or went, a font changed).
    void naturalHeightChanged(int height);

  protected:
    bool event(QEvent* event) override;

  private:
    QVBoxLayout* m_stack;
    QLabel* m_title;
    QLabel* m_badge;
    QLabel* m_focused;
    ToolbarIconButton* m_parent;
    ToolbarIconButton* m_refresh;
    ToolbarIconButton* m_favorites;
    ToolbarIconButton* m_newFolder;
    ToolbarIconButton* m_hiddenFiles;
    QPushButton* m_copy;
    QWidget* m_switcherSlot;
    QWidget* m_navigationSlot;
    QWidget* m_stripSlot;
    SelectionPreflightStrip* m_strip = nullptr;
    int m_lastNaturalHeight = -1;
};

} // namespace quillbarrow
