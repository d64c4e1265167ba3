#pragma once

#include "FocusedPane.h"
#include "domain/LocalItem.h"
#include "domain/RemoteItem.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace quillbarrow {

// The state one main window shares between its panes, sheets and handles: which pane has the
// keyboard, the targets of the rename and delete dialogs, the new-folder flags and their shared
// texts, the pane split, the transfer panel's height and the common pane-header height. Views
// open a dialog by writing its state and react to these signals; nothing here is persisted.
// Main thread. Every setter announces its property through the changed signal, also when the
// value stayed the same.
class WindowState final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showingNewFolderAndroid READ showingNewFolderAndroid WRITE setShowingNewFolderAndroid NOTIFY
                   showingNewFolderAndroidChanged)
    Q_PROPERTY(bool showingNewFolderLocal READ showingNewFolderLocal WRITE setShowingNewFolderLocal NOTIFY
                   showingNewFolderLocalChanged)
    Q_PROPERTY(QString newFolderName READ newFolderName WRITE setNewFolderName NOTIFY newFolderNameChanged)
    Q_PROPERTY(bool showingServiceRestartConfirmation READ showingServiceRestartConfirmation WRITE
                   setShowingServiceRestartConfirmation NOTIFY showingServiceRestartConfirmationChanged)
    Q_PROPERTY(quillbarrow::FocusedPane focusedPane READ focusedPane WRITE setFocusedPane NOTIFY focusedPaneChanged)
    Q_PROPERTY(QString renameValue READ renameValue WRITE setRenameValue NOTIFY renameValueChanged)
    Q_PROPERTY(qreal transferPanelHeight READ transferPanelHeight NOTIFY transferPanelHeightChanged)
    Q_PROPERTY(qreal paneHeaderHeight READ paneHeaderHeight NOTIFY paneHeaderHeightChanged)
    Q_PROPERTY(qreal paneSplitFraction READ paneSplitFraction NOTIFY paneSplitFractionChanged)

public:
    // The window's starting values: the Mac pane focused, no dialog, the split at one half, the
    // transfer panel 160 high, no header height reported.
    static constexpr qreal initialTransferPanelHeight = 160;
    static constexpr qreal initialPaneSplitFraction = 0.5;
    // Each pane keeps at least this width once the pane area is wide enough for both.
    static constexpr qreal minimumPaneWidth = 360;
    // Where dragging stops the split fraction and the panel's height.
    static constexpr qreal minimumPaneSplitFraction = 0.2;
    static constexpr qreal maximumPaneSplitFraction = 0.8;
    static constexpr qreal minimumTransferPanelHeight = 80;
    static constexpr qreal maximumTransferPanelHeight = 520;

    explicit WindowState(QObject* parent = nullptr);

    bool showingNewFolderAndroid() const { return m_showingNewFolderAndroid; }
    void setShowingNewFolderAndroid(bool showing);
    bool showingNewFolderLocal() const { return m_showingNewFolderLocal; }
    void setShowingNewFolderLocal(bool showing);
    // One text shared by both new-folder sheets.
    const QString& newFolderName() const { return m_newFolderName; }
    void setNewFolderName(const QString& name);
    bool showingServiceRestartConfirmation() const { return m_showingServiceRestartConfirmation; }
    void setShowingServiceRestartConfirmation(bool showing);

    FocusedPane focusedPane() const { return m_focusedPane; }
    void setFocusedPane(FocusedPane pane);
    // What a pane does on a click, a selection change or a drag start: takes the keyboard, and
    // writes the state only when the other pane holds it.
    void focusPane(FocusedPane pane);

    const std::optional<LocalItem>& localRenameTarget() const { return m_localRenameTarget; }
    void setLocalRenameTarget(std::optional<LocalItem> item);
    const std::optional<RemoteItem>& androidRenameTarget() const { return m_androidRenameTarget; }
    void setAndroidRenameTarget(std::optional<RemoteItem> item);
    // One text shared by both rename sheets.
    const QString& renameValue() const { return m_renameValue; }
    void setRenameValue(const QString& value);
    const QList<LocalItem>& localDeleteTargets() const { return m_localDeleteTargets; }
    void setLocalDeleteTargets(QList<LocalItem> items);
    const QList<RemoteItem>& androidDeleteTargets() const { return m_androidDeleteTargets; }
    void setAndroidDeleteTargets(QList<RemoteItem> items);
    // The delete confirmations' titles: "Delete " and the one item's name, or the count and
    // " items", then "?".
    QString localDeleteAlertTitle() const;
    QString androidDeleteAlertTitle() const;
    static QString deleteAlertTitle(const QStringList& names);

    // ---- Transfer panel height -------------------------------------------------------------

    qreal transferPanelHeight() const { return m_transferPanelHeight; }
    const std::optional<qreal>& transferPanelDragStartHeight() const { return m_transferPanelDragStartHeight; }
    // One change of a drag of the panel's handle, `translationY` measured from where the drag
    // began (downwards positive): the height becomes the height at the drag's start less the
    // translation, kept within 80 and 520. The first change of a drag records that start.
    void dragTransferPanel(qreal translationY);
    void endTransferPanelDrag();

    // ---- Pane split ------------------------------------------------------------------------

    qreal paneSplitFraction() const { return m_paneSplitFraction; }
    const std::optional<qreal>& paneSplitDragStart() const { return m_paneSplitDragStart; }
    // One change of a drag of the split handle: the fraction becomes the fraction at the drag's
    // start plus the translation over `totalWidth` (taken as at least 1), kept within 0.2 and 0.8.
    void dragPaneSplit(qreal translationX, qreal totalWidth);
    void endPaneSplitDrag();
    // The width of the left pane in a pane area `paneAreaWidth` wide, of which the split's rule
    // takes 1: half of the rest while that is at most 720; else `fraction` of it, leaving each
    // pane at least 360.
    static qreal paneSplitLeftWidth(qreal paneAreaWidth, qreal fraction);

    // ---- Common pane-header height -----------------------------------------------------------

    // The tallest height the panes' headers report; 0 until one reports.
    qreal paneHeaderHeight() const { return m_paneHeaderHeight; }
    // A header's measured height; the window keeps the larger of the two panes' reports.
    void reportPaneHeaderHeight(FocusedPane pane, qreal height);

Q_SIGNALS:
    void showingNewFolderAndroidChanged();
    void showingNewFolderLocalChanged();
    void newFolderNameChanged();
    void showingServiceRestartConfirmationChanged();
    void focusedPaneChanged();
    void localRenameTargetChanged();
    void androidRenameTargetChanged();
    void renameValueChanged();
    void localDeleteTargetsChanged();
    void androidDeleteTargetsChanged();
    void transferPanelHeightChanged();
    void transferPanelDragStartHeightChanged();
    void paneHeaderHeightChanged();
    void paneSplitFractionChanged();
    void paneSplitDragStartChanged();

private:
    bool m_showingNewFolderAndroid = false;
    bool m_showingNewFolderLocal = false;
    QString m_newFolderName;
    bool m_showingServiceRestartConfirmation = false;
    FocusedPane m_focusedPane = FocusedPane::mac;
    std::optional<LocalItem> m_localRenameTarget;
    std::optional<RemoteItem> m_androidRenameTarget;
    QString m_renameValue;
    QList<LocalItem> m_localDeleteTargets;
    QList<RemoteItem> m_androidDeleteTargets;
    qreal m_transferPanelHeight = initialTransferPanelHeight;
    std::optional<qreal> m_transferPanelDragStartHeight;
    qreal m_paneHeaderHeight = 0;
    qreal m_macHeaderHeight = 0;
    qreal m_androidHeaderHeight = 0;
    qreal m_paneSplitFraction = initialPaneSplitFraction;
    std::optional<qreal> m_paneSplitDragStart;
};

} // namespace quillbarrow
