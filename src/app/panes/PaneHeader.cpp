#include "PaneHeader.h"

#include "panes/SelectionPreflightStrip.h"
#include "panes/blocks/PaneHeaderDivider.h"
#include "style/ElidingLabel.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "style/SymbolIcons.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace quillbarrow {

namespace {

QFont scaledFont(const QFont& base, double factor, bool bold)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

// A slot that keeps one child and takes no room while it has none or the child is hidden.
QWidget* makeSlot(QWidget* parent, const QString& name)
{
    auto* slot = new QWidget(parent);
    slot->setObjectName(name);
    auto* layout = new QHBoxLayout(slot);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    slot->hide();
    return slot;
}

void fillSlot(QWidget* slot, QWidget* child, Qt::Alignment alignment = {})
{
    auto* layout = static_cast<QBoxLayout*>(slot->layout());
    while (QLayoutItem* old = layout->takeAt(0)) {
        delete old->widget();
        delete old;
    }
    child->setParent(slot);
    layout->addWidget(child, 0, alignment);
    slot->setVisible(true);
}

} // namespace

PaneHeader::PaneHeader(const QString& sideSymbol, const QString& title, const QString& favoritesHelp,
                       const QString& copyTitle, const QString& copySymbol, const QString& copyHelp,
                       QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("paneHeader"));
    m_stack = new QVBoxLayout(this);
    m_stack->setContentsMargins(10, 10, 10, 10);
    m_stack->setSpacing(10);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("sideIcon"));
    icon->setPixmap(SymbolIcons::icon(sideSymbol).pixmap(18, 18));
    icon->setProperty(SymbolIcons::symbolProperty, sideSymbol);
    m_title = new ElidingLabel(title, this); // a long device name ends in an ellipsis
    m_title->setObjectName(QStringLiteral("paneTitle"));
    m_title->setTextFormat(Qt::PlainText); // a device's name is shown as it is
    m_title->setFont(scaledFont(font(), 1.08, true));
    m_badge = new QLabel(this);
    m_badge->setObjectName(QStringLiteral("selectionBadge"));
    m_badge->setFont(scaledFont(font(), 0.8, false));
    m_badge->setStyleSheet(QStringLiteral("QLabel { background: rgba(128,128,128,0.16); border-radius: 8px;"
                                          " padding: 2px 6px; }"));
    m_badge->setForegroundRole(QPalette::PlaceholderText);
    m_badge->hide();
    m_focused = new QLabel(tr("focused"), this);
    m_focused->setObjectName(QStringLiteral("focusedLabel"));
    m_focused->setFont(scaledFont(font(), 0.8, false));
    m_focused->setForegroundRole(QPalette::PlaceholderText);
    m_focused->hide();
    titleRow->addWidget(icon);
    titleRow->addWidget(m_title);
    titleRow->addWidget(m_badge);
    titleRow->addStretch(1);
    titleRow->addWidget(m_focused);
    m_stack->addLayout(titleRow);

    m_stack->addWidget(new PaneHeaderDivider(this));

    auto* toolbar = new QHBoxLayout;
    toolbar->setSpacing(4);
    m_parent = new ToolbarIconButton(QStringLiteral("chevron.up"), tr("Parent folder (Ctrl+↑)"), this);
    m_parent->setObjectName(QStringLiteral("parentFolderButton"));
    m_refresh = new ToolbarIconButton(QStringLiteral("arrow.clockwise"), tr("Refresh (Ctrl+R)"), this);
    m_refresh->setObjectName(QStringLiteral("refreshButton"));
    m_favorites = new ToolbarIconButton(QStringLiteral("star"), favoritesHelp, this);
    m_favorites->setObjectName(QStringLiteral("favoritesButton"));
    m_favorites->setPopupMode(QToolButton::InstantPopup);
    m_newFolder = new ToolbarIconButton(QStringLiteral("folder.badge.plus"), tr("New Folder"), this);
    m_newFolder->setObjectName(QStringLiteral("newFolderButton"));
    m_hiddenFiles = new ToolbarIconButton(QStringLiteral("eye.slash"), tr("Show hidden files"), this);
    m_hiddenFiles->setObjectName(QStringLiteral("hiddenFilesButton"));
    m_copy = new QPushButton(copyTitle, this);
    m_copy->setObjectName(QStringLiteral("copyButton"));
    SymbolIcons::apply(m_copy, copySymbol);
    m_copy->setToolTip(copyHelp);
    m_copy->setAutoDefault(false);
    // Like the toolbar buttons beside it, a click leaves the keyboard in the table it was in, so
    // the next arrow key still moves through the rows.
    m_copy->setFocusPolicy(Qt::NoFocus);
    // The one prominent button of the row. Disabled, its title takes the dimmed tone of the
    // disabled toolbar symbols beside it.
    const QColor text = palette().color(QPalette::WindowText);
    m_copy->setStyleSheet(QStringLiteral(
        "QPushButton { background: palette(highlight); color: palette(highlighted-text); border-radius: 5px;"
        " padding: 3px 10px; }"
        "QPushButton:disabled { background: rgba(128,128,128,0.25); color: rgba(%1,%2,%3,0.45); }")
                              .arg(text.red())
                              .arg(text.green())
                              .arg(text.blue()));
    toolbar->addWidget(m_parent);
    toolbar->addWidget(m_refresh);
    toolbar->addWidget(m_favorites);
    toolbar->addWidget(m_newFolder);
    toolbar->addWidget(m_hiddenFiles);
    toolbar->addSpacing(12);
    toolbar->addStretch(1);
    toolbar->addWidget(m_copy);
    m_stack->addLayout(toolbar);

    m_switcherSlot = makeSlot(this, QStringLiteral("switcherSlot"));
    m_navigationSlot = makeSlot(this, QStringLiteral("navigationSlot"));
    m_stripSlot = makeSlot(this, QStringLiteral("stripSlot"));
    m_stack->addWidget(m_switcherSlot);
    m_stack->addWidget(m_navigationSlot);
    m_stack->addStretch(1); // room gained from the other pane's taller header stays above the strip
    m_stack->addWidget(m_stripSlot);
}

QString PaneHeader::selectionBadgeText(int count)
{
    return count < 1 ? QString() : tr("%1 selected").arg(count);
}

void PaneHeader::setTitle(const QString& title)
{
    m_title->setText(title);
    static_cast<ElidingLabel*>(m_title)->updateToolTip();
}

void PaneHeader::setSelectionCount(int count)
{
    m_badge->setText(selectionBadgeText(count));
    m_badge->setVisible(count >= 1);
}

void PaneHeader::setFocusedCaptionShown(bool shown)
{
    m_focused->setVisible(shown);
}

void PaneHeader::setHiddenFilesShown(bool shown)
{
    m_hiddenFiles->setSymbol(shown ? QStringLiteral("eye") : QStringLiteral("eye.slash"));
    m_hiddenFiles->setToolTip(shown ? tr("Hide hidden files") : tr("Show hidden files"));
}

void PaneHeader::setFavoritesMenu(QMenu* menu)
{
    m_favorites->setMenu(menu);
    connect(menu, &QMenu::aboutToHide, m_favorites, &ToolbarIconButton::followPointer);
}

void PaneHeader::setSwitcher(QWidget* switcher)
{
    fillSlot(m_switcherSlot, switcher);
}

void PaneHeader::setNavigation(QWidget* navigation)
{
    fillSlot(m_navigationSlot, navigation);
}

void PaneHeader::setStrip(SelectionPreflightStrip* strip)
{
    m_strip = strip;
    fillSlot(m_stripSlot, strip, Qt::AlignTop);
    m_stripSlot->setMinimumHeight(strip->fullHeight());
}

bool PaneHeader::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    if (m_strip != nullptr && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)) {
        m_stripSlot->setMinimumHeight(m_strip->fullHeight());
    }
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show) {
        const int natural = m_stack->sizeHint().height();
        if (natural != m_lastNaturalHeight) {
            m_lastNaturalHeight = natural;
            Q_EMIT naturalHeightChanged(natural);
        }
    }
    return handled;
}

} // namespace quillbarrow
