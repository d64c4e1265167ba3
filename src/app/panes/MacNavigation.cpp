#include "MacNavigation.h"

#include "chrome/ChromeStyle.h"
#include "panes/blocks/BreadcrumbButton.h"
#include "panes/blocks/LayoutClearing.h"
#include "style/SymbolIcons.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>

namespace quillbarrow {

namespace {

QFont captionFont(const QFont& base, double factor = 0.85)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    return font;
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(alpha);
    return color;
}

// The switcher's outline, and the lines between its segments.
QColor outlineColour(const QPalette& palette)
{
    return withAlpha(palette.text().color(), 0.24);
}

constexpr int segmentIconSize = 14;

// The current location's check mark. Its segment is disabled only so that it takes no click, so the
// mark keeps its full colour there instead of the faded one of a disabled icon.
QIcon activeMark(const QColor& color)
{
    const QIcon tinted = SymbolIcons::tinted(QStringLiteral("checkmark.circle.fill"), color);
    QIcon mark;
    for (const qreal scale : {1.0, 2.0}) {
        const QPixmap full = tinted.pixmap(QSize(segmentIconSize, segmentIconSize), scale);
        mark.addPixmap(full, QIcon::Normal);
        mark.addPixmap(full, QIcon::Disabled);
    }
    return mark;
}

} // namespace

std::optional<QUrl> activeLocationID(const QList<VolumeLocation>& locations, const QUrl& directory)
{
    const QString path = directory.toLocalFile();
    const VolumeLocation* best = nullptr;
    for (const VolumeLocation& location : locations) {
        const QString candidate = location.url.toLocalFile();
        // The added "/" keeps /Volumes/Data from claiming a folder of /Volumes/Data2.
        const QString prefix =
            candidate.endsWith(QLatin1Char('/')) ? candidate : candidate + QLatin1Char('/');
        if (path != candidate && !path.startsWith(prefix)) {
            continue;
        }
        if (!best || candidate.size() > best->url.toLocalFile().size()) {
            best = &location;
        }
    }
    return best ? std::optional<QUrl>(best->id) : std::nullopt;
}

// ---- Volumes switcher ----------------------------------------------------------------------

VolumesSwitcher::VolumesSwitcher(LocalBrowserViewModel& browser, std::function<void()> beforeNavigate,
                                 QWidget* parent)
    : QWidget(parent), m_browser(&browser), m_beforeNavigate(std::move(beforeNavigate))
{
    setObjectName(QStringLiteral("volumesSwitcher"));
    setToolTip(tr("Go to Home or a connected drive"));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(1, 1, 1, 1);
    row->setSpacing(0);
    connect(&browser, &LocalBrowserViewModel::locationsChanged, this, &VolumesSwitcher::rebuild);
    connect(&browser, &LocalBrowserViewModel::currentDirectoryChanged, this, &VolumesSwitcher::rebuild);
    rebuild();
}

void VolumesSwitcher::rebuild()
{
    QLayout* row = layout();
    takeAllLater(row);
    m_segments.clear();
    if (!m_browser) {
        return;
    }
    const QList<VolumeLocation> locations = m_browser->locations();
    const std::optional<QUrl> active = activeLocationID(locations, m_browser->currentDirectory());
    for (const VolumeLocation& location : locations) {
        const bool isActive = active && *active == location.id;
        auto* segment = new QToolButton(this);
        segment->setObjectName(QStringLiteral("volumeSegment"));
        segment->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        segment->setAutoRaise(true);
        segment->setText(ChromeStyle::buttonTitle(location.name)); // an "&" is part of the name, not a mnemonic
        segment->setFont(captionFont(font()));
        if (isActive) {
            segment->setIcon(activeMark(palette().highlight().color()));
            segment->setProperty(SymbolIcons::symbolProperty, QStringLiteral("checkmark.circle.fill"));
            segment->setStyleSheet(
                QStringLiteral("QToolButton { background: rgba(%1,%2,%3,0.12); color: palette(text); }")
                    .arg(palette().highlight().color().red())
                    .arg(palette().highlight().color().green())
                    .arg(palette().highlight().color().blue()));
        } else {
            SymbolIcons::apply(segment, location.systemImage);
        }
        segment->setIconSize(QSize(segmentIconSize, segmentIconSize));
        segment->setMinimumWidth(82);
        segment->setMaximumWidth(160);
        segment->setContentsMargins(8, 3, 8, 3);
        segment->setEnabled(!isActive);
        segment->setToolTip(isActive ? tr("Current location: ") + location.name
                                     : tr("Open ") + location.name);
        const QUrl url = location.url;
        connect(segment, &QToolButton::clicked, this, [this, url] {
            if (m_beforeNavigate) {
                m_beforeNavigate();
            }
            if (m_browser) {
                m_browser->navigateTo(url);
            }
        });
        row->addWidget(segment);
        m_segments.append(segment);
        if (location.id != locations.last().id) {
            auto* divider = new QFrame(this);
            divider->setFrameShape(QFrame::VLine);
            divider->setFrameShadow(QFrame::Plain);
            divider->setFixedHeight(18);
            QPalette lineColour = divider->palette();
            lineColour.setColor(QPalette::WindowText, outlineColour(palette()));
            divider->setPalette(lineColour);
            row->addWidget(divider);
        }
    }
}

void VolumesSwitcher::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(outlineColour(palette()), 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}

// ---- Breadcrumb bar and path editor ----------------------------------------------------------

MacBreadcrumbBar::MacBreadcrumbBar(LocalBrowserViewModel& browser, QWidget* parent)
    : QWidget(parent), m_browser(&browser)
{
    setObjectName(QStringLiteral("breadcrumbBar"));
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);

    m_crumbs = new QWidget(this);
    m_crumbs->setObjectName(QStringLiteral("crumbRow"));
    auto* crumbRow = new QHBoxLayout(m_crumbs);
    crumbRow->setContentsMargins(0, 0, 0, 0);
    crumbRow->setSpacing(4);
    m_crumbItems = new QWidget(m_crumbs);
    auto* items = new QHBoxLayout(m_crumbItems);
    items->setContentsMargins(0, 0, 0, 0);
    items->setSpacing(4);
    crumbRow->addWidget(m_crumbItems);
    crumbRow->addStretch(1);
    crumbRow->addSpacing(6);
    m_edit = new BreadcrumbButton(QString(), m_crumbs);
    m_edit->setObjectName(QStringLiteral("editPathButton"));
    static_cast<BreadcrumbButton*>(m_edit)->setSymbol(QStringLiteral("pencil"));
    m_edit->setToolTip(tr("Edit path — type or paste a folder path"));
    crumbRow->addWidget(m_edit);
    connect(m_edit, &QToolButton::clicked, this, &MacBreadcrumbBar::beginPathEdit);

    m_editor = new QFrame(this);
    m_editor->setObjectName(QStringLiteral("pathEditor"));
    auto* editorRow = new QHBoxLayout(m_editor);
    editorRow->setContentsMargins(6, 2, 6, 2);
    editorRow->setSpacing(6);
    auto* folder = new QLabel(m_editor);
    folder->setPixmap(SymbolIcons::icon(QStringLiteral("folder")).pixmap(14, 14));
    m_field = new QLineEdit(m_editor);
    m_field->setObjectName(QStringLiteral("pathField"));
    m_field->setPlaceholderText(tr("Type or paste a path"));
    m_field->setFrame(false);
    m_field->setFont(captionFont(font()));
    m_field->installEventFilter(this);
    m_notFound = new QLabel(tr("Not found"), m_editor);
    m_notFound->setObjectName(QStringLiteral("notFoundLabel"));
    m_notFound->setFont(captionFont(font(), 0.8));
    m_notFound->setStyleSheet(QStringLiteral("color: red;"));
    m_go = new QPushButton(tr("Go"), m_editor);
    m_go->setObjectName(QStringLiteral("goButton"));
    m_go->setAutoDefault(false);
    // A click leaves the keyboard where it was, as on every button outside the tables: in the
    // field, or in the phone's table when it has gone there meanwhile.
    m_go->setFocusPolicy(Qt::NoFocus);
    m_cancel = new QToolButton(m_editor);
    m_cancel->setObjectName(QStringLiteral("cancelPathButton"));
    m_cancel->setAutoRaise(true);
    SymbolIcons::apply(m_cancel, QStringLiteral("xmark.circle.fill"));
    m_cancel->setToolTip(tr("Cancel (Esc)"));
    editorRow->addWidget(folder);
    editorRow->addWidget(m_field, 1);
    editorRow->addWidget(m_notFound);
    editorRow->addWidget(m_go);
    editorRow->addWidget(m_cancel);
    connect(m_field, &QLineEdit::returnPressed, this, &MacBreadcrumbBar::commitPathEdit);
    connect(m_go, &QPushButton::clicked, this, &MacBreadcrumbBar::commitPathEdit);
    connect(m_cancel, &QToolButton::clicked, this, &MacBreadcrumbBar::cancelPathEdit);

    m_stack->addWidget(m_crumbs);
    m_stack->addWidget(m_editor);
    connect(&browser, &LocalBrowserViewModel::breadcrumbChanged, this, &MacBreadcrumbBar::rebuildCrumbs);
    rebuildCrumbs();
    showState();
}

void MacBreadcrumbBar::rebuildCrumbs()
{
    QLayout* row = m_crumbItems->layout();
    takeAllLater(row);
    if (!m_browser) {
        return;
    }
    const QList<QUrl> crumbs = m_browser->breadcrumb();
    for (qsizetype index = 0; index < crumbs.size(); ++index) {
        const QUrl address = crumbs[index];
        QString title = address.fileName();
        if (title.isEmpty()) {
            title = QStringLiteral("/");
        }
        if (index == crumbs.size() - 1) {
            auto* last = new QLabel(title, m_crumbItems);
            last->setObjectName(QStringLiteral("currentCrumb"));
            last->setTextFormat(Qt::PlainText);
            QFont semibold = captionFont(font());
            semibold.setWeight(QFont::DemiBold);
            last->setFont(semibold);
            row->addWidget(last);
            continue;
        }
        auto* crumb = new BreadcrumbButton(title, m_crumbItems);
        crumb->setObjectName(QStringLiteral("crumbButton"));
        crumb->setFont(captionFont(font()));
        connect(crumb, &QToolButton::clicked, this, [this, address] {
            if (m_browser) {
                m_browser->navigateTo(address);
            }
        });
        row->addWidget(crumb);
        auto* chevron = new QLabel(m_crumbItems);
        chevron->setPixmap(SymbolIcons::icon(QStringLiteral("chevron.right")).pixmap(9, 9));
        row->addWidget(chevron);
    }
}

void MacBreadcrumbBar::beginPathEdit()
{
    if (!m_browser) {
        return;
    }
    m_field->setText(m_browser->currentDirectory().toLocalFile());
    m_pathError = false;
    m_editingPath = true;
    showState();
    // The field takes the keyboard on the next turn, once it is shown.
    QTimer::singleShot(0, m_field, [field = m_field] { field->setFocus(Qt::OtherFocusReason); });
}

void MacBreadcrumbBar::commitPathEdit()
{
    if (!m_browser) {
        return;
    }
    const bool hadMessage = m_browser->errorMessage().has_value();
    if (m_browser->navigateToPath(m_field->text())) {
        m_editingPath = false;
        m_pathError = false;
    } else {
        m_pathError = true;
        // The editor's own "Not found" reports the miss; the browser's note of it would show
        // again in the window's message strip.
        if (!hadMessage) {
            m_browser->clearError();
        }
    }
    showState();
}

void MacBreadcrumbBar::cancelPathEdit()
{
    m_editingPath = false;
    m_pathError = false;
    showState();
}

void MacBreadcrumbBar::showState()
{
    if (!m_editingPath && m_stack->currentWidget() == m_editor && m_editor->isAncestorOf(QApplication::focusWidget())) {
        Q_EMIT keyboardReturned();
    }
    m_stack->setCurrentWidget(m_editingPath ? m_editor : m_crumbs);
    m_notFound->setVisible(m_pathError);
    m_editor->setStyleSheet(
        m_pathError ? QStringLiteral("#pathEditor { border: 1px solid rgba(255,0,0,0.6); border-radius: 5px;"
                                     " background: rgba(128,128,128,0.05); }")
                    : QStringLiteral("#pathEditor { border: 1px solid rgba(128,128,128,0.25);"
                                     " border-radius: 5px; background: rgba(128,128,128,0.05); }"));
}

bool MacBreadcrumbBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        cancelPathEdit();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Favourites menu -------------------------------------------------------------------------

void fillLocalFavoritesMenu(QMenu* menu, LocalBrowserViewModel& browser,
                            const std::function<void()>& beforeNavigate)
{
    menu->clear();
    QPointer<LocalBrowserViewModel> model(&browser);
    const QList<LocalFavoriteLocation> favorites = browser.favoriteLocations();
    for (const LocalFavoriteLocation& favorite : favorites) {
        const QString title = favorite.isDefault ? favorite.name + QObject::tr(" (Default)") : favorite.name;
        QAction* action = menu->addAction(ChromeStyle::buttonTitle(title));
        SymbolIcons::apply(action, favorite.systemImage);
        const QUrl url = favorite.url;
        QObject::connect(action, &QAction::triggered, menu, [model, url, beforeNavigate] {
            if (beforeNavigate) {
                beforeNavigate();
            }
            if (model) {
                model->navigateTo(url);
            }
        });
    }
    menu->addSeparator();
    QAction* add = menu->addAction(QObject::tr("Add Current Folder"));
    add->setObjectName(QStringLiteral("addFavoriteAction"));
    SymbolIcons::apply(add, QStringLiteral("star.badge.plus"));
    QObject::connect(add, &QAction::triggered, menu, [model] {
        if (model) {
            model->addCurrentDirectoryToFavorites();
        }
    });
    QAction* setDefault = menu->addAction(QObject::tr("Set Current as Default"));
    setDefault->setObjectName(QStringLiteral("setDefaultAction"));
    SymbolIcons::apply(setDefault, QStringLiteral("pin"));
    QObject::connect(setDefault, &QAction::triggered, menu, [model] {
        if (model) {
            model->setCurrentDirectoryAsDefault();
        }
    });
    bool hasUserFavorites = false;
    for (const LocalFavoriteLocation& favorite : favorites) {
        if (!favorite.isUserFavorite) {
            continue;
        }
        if (!hasUserFavorites) {
            menu->addSeparator();
            hasUserFavorites = true;
        }
        QAction* remove = menu->addAction(ChromeStyle::buttonTitle(QObject::tr("Remove ") + favorite.name));
        remove->setObjectName(QStringLiteral("removeFavoriteAction"));
        SymbolIcons::apply(remove, QStringLiteral("trash"));
        QObject::connect(remove, &QAction::triggered, menu, [model, favorite] {
            if (model) {
                model->removeFavorite(favorite);
            }
        });
    }
}

} // namespace quillbarrow
