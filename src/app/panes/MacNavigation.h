#pragma once

#include "viewmodels/localbrowser/LocalFavoriteLocation.h"
#include "viewmodels/localbrowser/VolumeLocation.h"

#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStackedLayout;
class QToolButton;

namespace quillbarrow {

class LocalBrowserViewModel;

// The location that holds `directory`: of the locations whose path equals the folder's path or
// is a prefix of it followed by "/", the longest (the first of equally long ones); nothing for a
// folder outside all of them.
std::optional<QUrl> activeLocationID(const QList<VolumeLocation>& locations, const QUrl& directory);

// The segmented row of Home and the connected drives. Choosing a segment empties the pane's
// selection (through `beforeNavigate`), then opens the location; the active one is disabled and
// shows a check mark.
class VolumesSwitcher final : public QWidget {
    Q_OBJECT

  public:
    VolumesSwitcher(LocalBrowserViewModel& browser, std::function<void()> beforeNavigate,
                    QWidget* parent = nullptr);

    // The segment buttons, in list order.
    QList<QToolButton*> segments() const { return m_segments; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void rebuild();

    QPointer<LocalBrowserViewModel> m_browser;
    std::function<void()> m_beforeNavigate;
    QList<QToolButton*> m_segments;
};

// The breadcrumb row of the shown folder, or the inline path editor. The crumbs are the folders
// from "/" down to the shown one: every one but the last opens its folder; the pencil opens the
// editor, filled with the folder's path. Return or "Go" tries the typed path: success closes the
// editor, a failure keeps it open with "Not found" and a red outline. Escape and the cancel
// button close it without moving. When the editor closes with the keyboard in it (the field or
// "Go"), keyboardReturned() is emitted first, while the editor is still shown, so that the pane
// can take the keyboard back before Qt hands it to the next widget of the window (the other
// pane's table).
class MacBreadcrumbBar final : public QWidget {
    Q_OBJECT

  public:
    explicit MacBreadcrumbBar(LocalBrowserViewModel& browser, QWidget* parent = nullptr);

    bool isEditingPath() const { return m_editingPath; }
    bool hasPathError() const { return m_pathError; }
    QLineEdit* pathField() const { return m_field; }
    QLabel* notFoundLabel() const { return m_notFound; }
    QPushButton* goButton() const { return m_go; }
    QToolButton* cancelButton() const { return m_cancel; }
    QToolButton* editButton() const { return m_edit; }
    QWidget* crumbRow() const { return m_crumbs; }
    QWidget* editor() const { return m_editor; }

    void beginPathEdit();
    void commitPathEdit();
    void cancelPathEdit();

  Q_SIGNALS:
    void keyboardReturned();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void rebuildCrumbs();
    void showState();

    QPointer<LocalBrowserViewModel> m_browser;
    QStackedLayout* m_stack;
    QWidget* m_crumbs;
    QWidget* m_crumbItems;
    QToolButton* m_edit;
    QWidget* m_editor;
    QLineEdit* m_field;
    QLabel* m_notFound;
    QPushButton* m_go;
    QToolButton* m_cancel;
    bool m_editingPath = false;
    bool m_pathError = false;
};

// Fills `menu` with the favourite folders (a default one reads "<name> (Default)"; choosing one
// runs `beforeNavigate`, then opens it), then "Add Current Folder" and "Set Current as Default",
// then, with user favourites, "Remove <name>" for each of them. Built afresh at every opening.
void fillLocalFavoritesMenu(QMenu* menu, LocalBrowserViewModel& browser,
                            const std::function<void()>& beforeNavigate);

} // namespace quillbarrow
