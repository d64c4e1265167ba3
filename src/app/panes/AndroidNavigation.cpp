#include "AndroidNavigation.h"

#include "chrome/ChromeStyle.h"
#include "panes/blocks/BreadcrumbButton.h"
#include "panes/blocks/BusySpinner.h"
#include "panes/blocks/LayoutClearing.h"
#include "style/PlainToolTip.h"
#include "window/DetachedCall.h"
#include "style/Fonts.h"
#include "style/ListingFormat.h"
#include "style/Palette.h"
#include "style/SymbolIcons.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QFontMetricsF>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace quillbarrow {

namespace {

// The name the device gave, without surrounding white space; a blank name reads "Storage".
QString trimmedName(const StorageRoot& storage)
{
    const QString trimmed = storage.name.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("Storage") : trimmed;
}

// Names like these belong to a card or another storage that can be taken out.
bool soundsRemovable(const QString& lowerName)
{
    static const QStringList words{QStringLiteral("sd"), QStringLiteral("card"), QStringLiteral("external"),
                                   QStringLiteral("removable")};
    for (const QString& word : words) {
        if (lowerName.contains(word)) {
            return true;
        }
    }
    return false;
}

std::optional<StorageID> shownStorageID(const DeviceBrowserViewModel& browser)
{
    const std::optional<DirectoryPage>& page = browser.currentPage();
    return page ? std::optional<StorageID>(page->storage.id) : std::nullopt;
}

// Whole pixels rounded up: a width rounded down cuts the last letter off a title that fits.
int titleWidth(const QString& text, const QFont& font)
{
    return qCeil(QFontMetricsF(font).horizontalAdvance(text));
}

constexpr int segmentPaddingH = 8;
constexpr int segmentPaddingV = 3;
constexpr int markSpacing = 5;
constexpr double cornerRadius = 6;

} // namespace

QString storageShortTitle(const StorageRoot& storage, int index)
{
    const QString title = trimmedName(storage);
    const QString lower = title.toLower();
    if (lower.contains(QStringLiteral("internal"))) {
        return QStringLiteral("Internal");
    }
    if (soundsRemovable(lower)) {
        return QStringLiteral("SD card");
    }
    if (title == QStringLiteral("Storage")) {
        return QStringLiteral("Storage ") + QString::number(index + 1);
    }
    return title;
}

QString storageIcon(const StorageRoot& storage)
{
    return soundsRemovable(trimmedName(storage).toLower()) ? QStringLiteral("sdcard") : QStringLiteral("internaldrive");
}

std::optional<QString> storageDetail(const StorageRoot& storage)
{
    if (storage.freeSpace && storage.capacity) {
        return ListingFormat::sizeText(storage.freeSpace) + QObject::tr(" free of ") +
               ListingFormat::sizeText(storage.capacity);
    }
    if (storage.freeSpace) {
        return ListingFormat::sizeText(storage.freeSpace) + QObject::tr(" free");
    }
    if (storage.capacity) {
        return ListingFormat::sizeText(storage.capacity);
    }
    return std::nullopt;
}

QString storageHelp(const StorageRoot& storage, bool isSelected, bool isPending)
{
    QString help = isPending    ? QObject::tr("Opening ")
                   : isSelected ? QObject::tr("Current Android storage: ")
                                : QObject::tr("Open ");
    help += trimmedName(storage);
    if (const std::optional<QString> detail = storageDetail(storage)) {
        help += QStringLiteral(" - ") + *detail;
    }
    return help;
}

bool isStorageSegmentDisabled(const StorageRoot& storage, const std::optional<StorageID>& shownStorageID,
                              const std::optional<StorageID>& pendingStorageID)
{
    if (pendingStorageID && *pendingStorageID == storage.id) {
        return true;
    }
    if (!shownStorageID || *shownStorageID != storage.id) {
        return false;
    }
    // The shown storage takes a click again only to win over another switch under way.
    return !pendingStorageID;
}

// ---- Storage segment --------------------------------------------------------------------------

StorageSegmentButton::StorageSegmentButton(const QString& title, QWidget* parent) : QToolButton(parent)
{
    setObjectName(QStringLiteral("storageSegment"));
    setText(title);
    setFont(Fonts::caption());
    setAutoRaise(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setMinimumWidth(minimumSegmentWidth);
    setMaximumWidth(maximumSegmentWidth);
}

void StorageSegmentButton::setMark(const QString& symbol, const QColor& color)
{
    delete m_spinner;
    m_spinner = nullptr;
    m_mark = SymbolIcons::tinted(symbol, color);
    setProperty(SymbolIcons::symbolProperty, symbol);
    update();
}

void StorageSegmentButton::setPending()
{
    if (!m_spinner) {
        m_spinner = new BusySpinner(markSize, this);
    }
    m_mark = QIcon();
    setProperty(SymbolIcons::symbolProperty, QString());
    m_spinner->move(markRect().topLeft());
    m_spinner->show();
    update();
}

int StorageSegmentButton::titleRoom() const
{
    return width() - 2 * segmentPaddingH - markSize - markSpacing;
}

QString StorageSegmentButton::shownTitle() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, titleRoom());
}

QRect StorageSegmentButton::markRect() const
{
    const int content = markSize + markSpacing + titleWidth(shownTitle(), font());
    const int left = std::max(segmentPaddingH, (width() - content) / 2);
    return QRect(left, (height() - markSize) / 2, markSize, markSize);
}

QSize StorageSegmentButton::sizeHint() const
{
    const int width = 2 * segmentPaddingH + markSize + markSpacing + titleWidth(text(), font());
    const int height = 2 * segmentPaddingV + std::max(markSize, fontMetrics().height());
    return QSize(std::clamp(width, minimumSegmentWidth, maximumSegmentWidth), height);
}

QSize StorageSegmentButton::minimumSizeHint() const
{
    return QSize(minimumSegmentWidth, sizeHint().height());
}

void StorageSegmentButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // A plain button: no frame or hover fill, only a dimmer label while pressed.
    if (isDown()) {
        painter.setOpacity(0.6);
    }
    const QRect mark = markRect();
    if (!m_mark.isNull()) {
        m_mark.paint(&painter, mark);
    }
    const int titleLeft = mark.right() + 1 + markSpacing;
    const QRect title(titleLeft, 0, width() - segmentPaddingH - titleLeft, height());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(title, Qt::AlignLeft | Qt::AlignVCenter, shownTitle());
}

void StorageSegmentButton::resizeEvent(QResizeEvent* event)
{
    QToolButton::resizeEvent(event);
    if (m_spinner) {
        m_spinner->move(markRect().topLeft());
    }
}

// ---- Storage switcher --------------------------------------------------------------------------

AndroidStorageSwitcher::AndroidStorageSwitcher(DeviceBrowserViewModel& browser, std::function<void()> beforeNavigate,
                                               QWidget* parent)
    : QWidget(parent), m_browser(&browser), m_beforeNavigate(std::move(beforeNavigate))
{
    setObjectName(QStringLiteral("storageSwitcher"));
    setToolTip(tr("Choose Android storage"));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(1, 1, 1, 1);
    row->setSpacing(0);
    connect(&browser, &DeviceBrowserViewModel::storagesChanged, this, &AndroidStorageSwitcher::rebuild);
    connect(&browser, &DeviceBrowserViewModel::currentPageChanged, this, &AndroidStorageSwitcher::rebuild);
    connect(&browser, &DeviceBrowserViewModel::pendingStorageIDChanged, this, &AndroidStorageSwitcher::rebuild);
    rebuild();
}

void AndroidStorageSwitcher::rebuild()
{
    takeAllLater(layout());
    m_segments.clear();
    m_dividers.clear();
    m_selected = nullptr;
    if (!m_browser) {
        return;
    }
    const QList<StorageRoot> storages = m_browser->storages();
    const std::optional<StorageID> shown = shownStorageID(*m_browser);
    const std::optional<StorageID> pending = m_browser->pendingStorageID();
    for (qsizetype index = 0; index < storages.size(); ++index) {
        const StorageRoot& storage = storages[index];
        const bool isSelected = shown && *shown == storage.id;
        const bool isPending = pending && *pending == storage.id;
        auto* segment = new StorageSegmentButton(storageShortTitle(storage, static_cast<int>(index)), this);
        if (isPending) {
            segment->setPending();
        } else if (isSelected) {
            segment->setMark(QStringLiteral("checkmark.circle.fill"), Palette::accent(palette()));
        } else {
            segment->setMark(storageIcon(storage), Palette::secondary(palette()));
        }
        segment->setEnabled(!isStorageSegmentDisabled(storage, shown, pending));
        segment->setToolTip(plainToolTip(storageHelp(storage, isSelected, isPending)));
        connect(segment, &QToolButton::clicked, this, [this, storage] {
            if (m_beforeNavigate) {
                m_beforeNavigate();
            }
            if (m_browser) {
                startDetached(m_browser->openStorage(storage));
            }
        });
        layout()->addWidget(segment);
        m_segments.append(segment);
        if (isSelected) {
            m_selected = segment;
        }
        // Identity, not position, decides: the last storage's segment has nothing after it.
        if (storage.id != storages.last().id) {
            auto* divider = new QFrame(this);
            divider->setObjectName(QStringLiteral("storageDivider"));
            divider->setFrameShape(QFrame::VLine);
            divider->setFrameShadow(QFrame::Plain);
            divider->setFixedHeight(18);
            // Drawn like the switcher's outline, not as a heavier line of its own.
            QPalette lineColour = divider->palette();
            lineColour.setColor(QPalette::WindowText, Palette::secondary(palette(), 0.24));
            divider->setPalette(lineColour);
            layout()->addWidget(divider);
            m_dividers.append(divider);
        }
    }
    update();
}

void AndroidStorageSwitcher::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath rounded;
    rounded.addRoundedRect(outline, cornerRadius, cornerRadius);
    if (m_selected && m_selected->isVisible()) {
        // The fill stays inside the rounded outline, also at the row's two ends.
        painter.save();
        painter.setClipPath(rounded);
        painter.fillRect(m_selected->geometry(), Palette::accent(palette(), 0.12));
        painter.restore();
    }
    painter.setPen(QPen(Palette::secondary(palette(), 0.24), 1));
    painter.drawPath(rounded);
}

// ---- Breadcrumb row ----------------------------------------------------------------------------

AndroidBreadcrumbBar::AndroidBreadcrumbBar(DeviceBrowserViewModel& browser, QWidget* parent)
    : QWidget(parent), m_browser(&browser)
{
    setObjectName(QStringLiteral("androidBreadcrumbBar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    connect(&browser, &DeviceBrowserViewModel::breadcrumbChanged, this, &AndroidBreadcrumbBar::rebuild);
    rebuild();
}

void AndroidBreadcrumbBar::rebuild()
{
    auto* row = static_cast<QHBoxLayout*>(layout());
    takeAllLater(row);
    if (!m_browser) {
        return;
    }
    const QList<RemotePath> crumbs = m_browser->breadcrumb();
    for (qsizetype index = 0; index < crumbs.size(); ++index) {
        const RemotePath path = crumbs[index];
        // Every root reads "Storage": the switcher above names the storage.
        const QString title = path.isRoot() ? QStringLiteral("Storage") : path.name();
        if (index == crumbs.size() - 1) {
            auto* last = new QLabel(title, this);
            last->setObjectName(QStringLiteral("currentCrumb"));
            last->setTextFormat(Qt::PlainText);
            QFont semibold = Fonts::caption();
            semibold.setWeight(QFont::DemiBold);
            last->setFont(semibold);
            row->addWidget(last);
            continue;
        }
        auto* crumb = new BreadcrumbButton(title, this);
        crumb->setObjectName(QStringLiteral("crumbButton"));
        crumb->setFont(Fonts::caption());
        connect(crumb, &QToolButton::clicked, this, [this, path] {
            if (m_browser) {
                startDetached(m_browser->navigate(path));
            }
        });
        row->addWidget(crumb);
        auto* chevron = new QLabel(this);
        chevron->setObjectName(QStringLiteral("crumbChevron"));
        chevron->setPixmap(SymbolIcons::tinted(QStringLiteral("chevron.right"), Palette::secondary(palette()))
                               .pixmap(9, 9));
        row->addWidget(chevron);
    }
    row->addStretch(1);
}

// ---- Favourites menu ---------------------------------------------------------------------------

void fillAndroidFavoritesMenu(QMenu* menu, DeviceBrowserViewModel& browser,
                              const std::function<void()>& beforeNavigate)
{
    menu->clear();
    QPointer<DeviceBrowserViewModel> model(&browser);
    const bool hasPage = browser.currentPage().has_value();
    const QList<RemoteFavoriteLocation> favorites = browser.favoriteLocations();
    for (const RemoteFavoriteLocation& favorite : favorites) {
        // The mark is not translated: it follows the name as written. A folder's "&" is shown as
        // such, not taken as a keyboard mnemonic.
        const QString title = favorite.isDefault ? favorite.name + QStringLiteral(" (Default)") : favorite.name;
        QAction* action = menu->addAction(ChromeStyle::buttonTitle(title));
        action->setObjectName(QStringLiteral("favoriteAction"));
        SymbolIcons::apply(action, favorite.systemImage);
        QObject::connect(action, &QAction::triggered, menu, [model, favorite, beforeNavigate] {
            if (beforeNavigate) {
                beforeNavigate();
            }
            if (model) {
                startDetached(model->openFavorite(favorite));
            }
        });
    }
    menu->addSeparator();
    QAction* add = menu->addAction(QObject::tr("Add Current Folder"));
    add->setObjectName(QStringLiteral("addFavoriteAction"));
    SymbolIcons::apply(add, QStringLiteral("star.badge.plus"));
    add->setEnabled(hasPage);
    QObject::connect(add, &QAction::triggered, menu, [model] {
        if (model) {
            model->addCurrentLocationToFavorites();
        }
    });
    QAction* setDefault = menu->addAction(QObject::tr("Set Current as Default"));
    setDefault->setObjectName(QStringLiteral("setDefaultAction"));
    SymbolIcons::apply(setDefault, QStringLiteral("pin"));
    setDefault->setEnabled(hasPage);
    QObject::connect(setDefault, &QAction::triggered, menu, [model] {
        if (model) {
            model->setCurrentLocationAsDefault();
        }
    });
    bool hasUserFavorites = false;
    for (const RemoteFavoriteLocation& favorite : favorites) {
        if (!favorite.isUserFavorite) {
            continue;
        }
        if (!hasUserFavorites) {
            menu->addSeparator();
            hasUserFavorites = true;
        }
        QAction* remove = menu->addAction(ChromeStyle::buttonTitle(QObject::tr("Remove %1").arg(favorite.name)));
        remove->setObjectName(QStringLiteral("removeFavoriteAction"));
        SymbolIcons::apply(remove, QStringLiteral("trash"));
        QObject::connect(remove, &QAction::triggered, menu, [model, favorite] {
            if (model) {
                model->removeFavorite(favorite);
            }
        });
    }
    // The entries name folders by storage and path, which another phone may have as well (most
    // number their first storage alike): once the phone they were read from is no longer the
    // selected one, none of them is taken any more and the menu closes.
    const std::optional<DeviceID> device =
        browser.selectedDevice() ? std::optional<DeviceID>(browser.selectedDevice()->id) : std::nullopt;
    for (QAction* action : menu->actions()) {
        QObject::connect(&browser, &DeviceBrowserViewModel::selectedDeviceChanged, action,
                         [source = &browser, device, action, menu] {
                             const std::optional<AndroidDevice>& selected = source->selectedDevice();
                             if (!selected || !device || selected->id != *device) {
                                 action->setEnabled(false);
                                 menu->hide();
                             }
                         });
    }
}

} // namespace quillbarrow
