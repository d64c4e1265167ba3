#include "WindowState.h"

#include <algorithm>

namespace quillbarrow {

WindowState::WindowState(QObject* parent) : QObject(parent) {}

void WindowState::setShowingNewFolderAndroid(bool showing)
{
    m_showingNewFolderAndroid = showing;
    Q_EMIT showingNewFolderAndroidChanged();
}

void WindowState::setShowingNewFolderLocal(bool showing)
{
    m_showingNewFolderLocal = showing;
    Q_EMIT showingNewFolderLocalChanged();
}

void WindowState::setNewFolderName(const QString& name)
{
    m_newFolderName = name;
    Q_EMIT newFolderNameChanged();
}

void WindowState::setShowingServiceRestartConfirmation(bool showing)
{
    m_showingServiceRestartConfirmation = showing;
    Q_EMIT showingServiceRestartConfirmationChanged();
}

void WindowState::setFocusedPane(FocusedPane pane)
{
    m_focusedPane = pane;
    Q_EMIT focusedPaneChanged();
}

void WindowState::focusPane(FocusedPane pane)
{
    if (m_focusedPane != pane) {
        setFocusedPane(pane);
    }
}

void WindowState::setLocalRenameTarget(std::optional<LocalItem> item)
{
    m_localRenameTarget = std::move(item);
    Q_EMIT localRenameTargetChanged();
}

void WindowState::setAndroidRenameTarget(std::optional<RemoteItem> item)
{
    m_androidRenameTarget = std::move(item);
    Q_EMIT androidRenameTargetChanged();
}

void WindowState::setRenameValue(const QString& value)
{
    m_renameValue = value;
    Q_EMIT renameValueChanged();
}

void WindowState::setLocalDeleteTargets(QList<LocalItem> items)
{
    m_localDeleteTargets = std::move(items);
    Q_EMIT localDeleteTargetsChanged();
}

void WindowState::setAndroidDeleteTargets(QList<RemoteItem> items)
{
    m_androidDeleteTargets = std::move(items);
    Q_EMIT androidDeleteTargetsChanged();
}

QString WindowState::localDeleteAlertTitle() const
{
    QStringList names;
    for (const LocalItem& item : m_localDeleteTargets) {
        names.append(item.name);
    }
    return deleteAlertTitle(names);
}

QString WindowState::androidDeleteAlertTitle() const
{
    QStringList names;
    for (const RemoteItem& item : m_androidDeleteTargets) {
        names.append(item.name);
    }
    return deleteAlertTitle(names);
}

QString WindowState::deleteAlertTitle(const QStringList& names)
{
    const QString subject =
        names.size() == 1 ? names.front() : QString::number(names.size()) + QStringLiteral(" items");
    return QStringLiteral("Delete ") + subject + QStringLiteral("?");
}

void WindowState::dragTransferPanel(qreal translationY)
{
    const qreal start = m_transferPanelDragStartHeight.value_or(m_transferPanelHeight);
    if (!m_transferPanelDragStartHeight) {
        m_transferPanelDragStartHeight = start;
        Q_EMIT transferPanelDragStartHeightChanged();
    }
    m_transferPanelHeight = std::clamp(start - translationY, minimumTransferPanelHeight, maximumTransferPanelHeight);
    Q_EMIT transferPanelHeightChanged();
}

void WindowState::endTransferPanelDrag()
{
    m_transferPanelDragStartHeight.reset();
    Q_EMIT transferPanelDragStartHeightChanged();
}

void WindowState::dragPaneSplit(qreal translationX, qreal totalWidth)
{
    const qreal start = m_paneSplitDragStart.value_or(m_paneSplitFraction);
    if (!m_paneSplitDragStart) {
        m_paneSplitDragStart = start;
        Q_EMIT paneSplitDragStartChanged();
    }
    m_paneSplitFraction = std::clamp(start + translationX / std::max(totalWidth, qreal(1)), minimumPaneSplitFraction,
                                     maximumPaneSplitFraction);
    Q_EMIT paneSplitFractionChanged();
}

void WindowState::endPaneSplitDrag()
{
    m_paneSplitDragStart.reset();
    Q_EMIT paneSplitDragStartChanged();
}

qreal WindowState::paneSplitLeftWidth(qreal paneAreaWidth, qreal fraction)
{
    const qreal available = std::max(paneAreaWidth - 1, qreal(0));
    if (available <= 2 * minimumPaneWidth) {
        return available * 0.5;
    }
    return std::min(std::max(available * fraction, minimumPaneWidth), available - minimumPaneWidth);
}

void WindowState::reportPaneHeaderHeight(FocusedPane pane, qreal height)
{
    (pane == FocusedPane::mac ? m_macHeaderHeight : m_androidHeaderHeight) = height;
    m_paneHeaderHeight = std::max(m_macHeaderHeight, m_androidHeaderHeight);
    Q_EMIT paneHeaderHeightChanged();
}

} // namespace quillbarrow
