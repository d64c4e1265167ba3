#include "chrome/DeviceSidebar.h"

#include "chrome/ChromeIcons.h"
#include "chrome/ChromeStyle.h"
#include "chrome/KeyboardFocusRing.h"
#include "style/ElidingLabel.h"
#include "window/DetachedCall.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace quillbarrow {

namespace {

constexpr int deviceIDRole = Qt::UserRole + 1;
// Where the column's text and symbols start, from its left edge.
constexpr int leadingInset = 10;
const QString deviceSymbol = QStringLiteral("iphone.gen3");
constexpr int deviceSymbolSize = 18;

QLabel* captionText(const QString& text, const QFont& base)
{
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    ChromeStyle::setText(label, ChromeStyle::caption(base), true);
    return label;
}

QLabel* groupHeading(const QString& text, const QFont& base)
{
    auto* label = new QLabel(text);
    QFont font = ChromeStyle::caption2(base);
    font.setWeight(QFont::DemiBold);
    ChromeStyle::setText(label, font, true);
    return label;
}

// A leading symbol beside wrapping text, the symbol on the text's first line.
QHBoxLayout* symbolRow(QWidget* leading, QLabel* text)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(leading, 0, Qt::AlignTop);
    row->addWidget(text, 1);
    return row;
}

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// The row of one device: phone symbol, name and, when the device has one, its manufacturer.
QWidget* deviceRow(const AndroidDevice& device, const QFont& base)
{
    auto* row = new QWidget;
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("deviceIcon"));
    ChromeIcons::apply(icon, deviceSymbol, deviceSymbolSize);
    auto* name = new ElidingLabel(device.displayName);
    name->setObjectName(QStringLiteral("deviceName"));
    name->setTextFormat(Qt::PlainText);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(1);
    lines->addWidget(name);
    if (device.manufacturer) {
        auto* maker = new QLabel(*device.manufacturer);
        maker->setObjectName(QStringLiteral("deviceManufacturer"));
        maker->setTextFormat(Qt::PlainText);
        ChromeStyle::setText(maker, ChromeStyle::caption(base), true);
        lines->addWidget(maker);
    }
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 3, 6, 3);
    layout->setSpacing(6);
    layout->addWidget(icon, 0, Qt::AlignVCenter);
    layout->addLayout(lines, 1);
    return row;
}

// A selected row sits on the selection colour, so its text and symbol take the colour meant for
// it; every other row has its usual ones.
void colourDeviceRow(QWidget* row, bool selected, const QPalette& listPalette)
{
    const QColor selectedText = listPalette.color(QPalette::HighlightedText);
    auto* name = row->findChild<QLabel*>(QStringLiteral("deviceName"));
    name->setPalette(QPalette());
    if (selected) {
        QPalette palette = name->palette();
        palette.setColor(QPalette::WindowText, selectedText);
        name->setPalette(palette);
    }
    if (auto* maker = row->findChild<QLabel*>(QStringLiteral("deviceManufacturer"))) {
        maker->setPalette(QPalette());
        QPalette palette = maker->palette();
        palette.setColor(QPalette::WindowText, selected ? selectedText : ChromeStyle::secondaryText(palette));
        maker->setPalette(palette);
    }
    ChromeIcons::apply(row->findChild<QLabel*>(QStringLiteral("deviceIcon")), deviceSymbol, deviceSymbolSize,
                       selected ? selectedText : QColor());
}

// Draws the "No device connected" row with its text where the heading's and the devices' rows
// start; device rows are drawn by their own widgets.
class DeviceRowDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem shifted = option;
        if (!index.data(deviceIDRole).isValid()) {
            const QWidget* view = option.widget;
            const QStyle* style = view != nullptr ? view->style() : QApplication::style();
            const int textMargin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
            shifted.rect.setLeft(option.rect.left() + leadingInset - textMargin);
        }
        QStyledItemDelegate::paint(painter, shifted, index);
    }
};

void colourDeviceRows(QListWidget* list)
{
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem* item = list->item(row);
        if (QWidget* widget = list->itemWidget(item)) {
            colourDeviceRow(widget, item->isSelected(), list->palette());
        }
    }
}

// The footer's scroller asks for the footer's whole height at its width, so that the footer shows
// without a scroll bar whenever the sidebar has the room (the device list takes what is left);
// only a window too short for both scrolls it.
class FooterScroller final : public QScrollArea {
public:
    QSize sizeHint() const override
    {
        const QWidget* content = widget();
        if (content == nullptr) {
            return QScrollArea::sizeHint();
        }
        const int width = viewport()->width() > 0 ? viewport()->width() : content->sizeHint().width();
        const int height = content->hasHeightForWidth() ? content->heightForWidth(width) : content->sizeHint().height();
        return {content->sizeHint().width(), height + 2 * frameWidth()};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A line that comes or goes (the clipboard's) changes the height the footer needs.
        if (watched == widget() && event->type() == QEvent::LayoutRequest) {
            updateGeometry();
        }
        return QScrollArea::eventFilter(watched, event);
    }
    void resizeEvent(QResizeEvent* event) override
    {
        const int oldWidth = viewport()->width();
        QScrollArea::resizeEvent(event);
        if (viewport()->width() != oldWidth) {
            updateGeometry(); // wrapped lines need another height at another width
        }
    }
};

} // namespace

const QUrl DeviceSidebar::supportAddress = QUrl(QStringLiteral("mailto:support@quillbarrow.app"));

DeviceSidebar::DeviceSidebar(DeviceBrowserViewModel* browser, TransferCoordinator* coordinator, QWidget* parent)
    : QWidget(parent),
      m_browser(browser),
      m_coordinator(coordinator),
      m_list(new QListWidget),
      m_retry(new QPushButton(QStringLiteral("Retry"))),
      m_clipboardLine(captionText(QString(), font())),
      m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("deviceSidebar"));

    auto* header = new QLabel(QStringLiteral("Devices"));
    header->setObjectName(QStringLiteral("devicesHeader"));
    QFont headerFont = ChromeStyle::caption(font());
    headerFont.setWeight(QFont::DemiBold);
    ChromeStyle::setText(header, headerFont, true);
    header->setContentsMargins(leadingInset, 8, leadingInset, 2);
    m_list->setObjectName(QStringLiteral("deviceList"));
    m_list->setItemDelegate(new DeviceRowDelegate(m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // The list keeps the row of the connected device highlighted whether it has the keyboard or
    // not, so the keyboard is shown apart from the selection (meanwhile Up and Down choose a
    // device, and no key acts on a pane).
    new KeyboardFocusRing(m_list->viewport(), m_list);

    // The footer.
    auto* footer = new QWidget;
    auto* column = new QVBoxLayout(footer);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(14);

    auto* quickStart = new QVBoxLayout;
    quickStart->setSpacing(8);
    quickStart->addWidget(groupHeading(QStringLiteral("QUICK START"), font()));
    const QStringList steps{
        QStringLiteral("Connect your phone to this Mac with a USB data cable."),
        QStringLiteral("On your phone, choose \u201CTransferring files\u201D and tap \u201CAllow\u201D if prompted."),
        QStringLiteral("Open Quillbarrow."),
        QStringLiteral("If it has not connected yet, click Retry."),
        QStringLiteral("Wait a few seconds."),
    };
    for (qsizetype step = 0; step < steps.size(); ++step) {
        QLabel* number = captionText(QString::number(step + 1) + u'.', font());
        QFont digits = number->font();
        digits.setStyleHint(QFont::Monospace);
        number->setFont(digits);
        QLabel* text = captionText(steps.at(step), font());
        text->setObjectName(QStringLiteral("quickStartStep%1").arg(step + 1));
        quickStart->addLayout(symbolRow(number, text));
    }
    auto* enjoy = new QLabel(QStringLiteral("Enjoy!"));
    QFont enjoyFont = ChromeStyle::caption(font());
    enjoyFont.setWeight(QFont::DemiBold);
    enjoy->setFont(enjoyFont);
    quickStart->addWidget(enjoy);
    m_retry->setObjectName(QStringLiteral("retryButton"));
    ChromeIcons::apply(m_retry, QStringLiteral("arrow.clockwise"));
    m_retry->setFont(ChromeStyle::caption(font()));
    quickStart->addWidget(m_retry, 0, Qt::AlignLeft);
    // Like every button outside the tables, "Retry" and "Contact Support" leave the keyboard in
    // the pane that has it; so does a click in the footer around them.
    m_retry->setFocusPolicy(Qt::NoFocus);
    column->addLayout(quickStart);

    auto* ready = new QVBoxLayout;
    ready->setSpacing(6);
    ready->addWidget(groupHeading(QStringLiteral("READY TO TRANSFER"), font()));
    auto* exchange = new QLabel;
    ChromeIcons::apply(exchange, QStringLiteral("arrow.left.arrow.right"), 12, ChromeStyle::secondaryText(palette()));
    ready->addLayout(symbolRow(
        exchange,
        captionText(QStringLiteral("Drag items between Mac and Android, or use the Copy to Android / Copy to Mac buttons."),
                    font())));
    m_clipboardLine->setObjectName(QStringLiteral("clipboardLine"));
    ready->addWidget(m_clipboardLine);
    column->addLayout(ready);
    column->addWidget(divider());

    auto* support = new QPushButton(QStringLiteral("Contact Support"));
    support->setObjectName(QStringLiteral("contactSupportLink"));
    support->setFlat(true);
    support->setCursor(Qt::PointingHandCursor);
    support->setFont(ChromeStyle::caption(font()));
    ChromeIcons::apply(support, QStringLiteral("envelope"));
    QPalette linkPalette = support->palette();
    linkPalette.setColor(QPalette::ButtonText, linkPalette.color(QPalette::Link));
    support->setPalette(linkPalette);
    support->setFocusPolicy(Qt::NoFocus);
    column->addWidget(support, 0, Qt::AlignLeft);
    column->addStretch(1);

    auto* scroller = new FooterScroller;
    scroller->setObjectName(QStringLiteral("sidebarFooter"));
    scroller->setWidget(footer);
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setFocusPolicy(Qt::NoFocus);
    // Its own height when there is room, less only when the window is too short.
    scroller->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    // The device list keeps room for a few devices, and takes whatever the footer leaves.
    m_list->setMinimumHeight(96);
    m_list->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(m_list, 1);
    layout->addWidget(divider());
    layout->addWidget(scroller);

    connect(m_list, &QListWidget::itemSelectionChanged, this, &DeviceSidebar::userChangedSelection);
    // A clicked row shows as selected at once, before its device has connected.
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] { colourDeviceRows(m_list); });
    connect(m_retry, &QPushButton::clicked, this, [this] {
        if (m_browser) {
            m_browser->start();
        }
    });
    connect(support, &QPushButton::clicked, this, [this] { m_openUrl(supportAddress); });
    if (browser) {
        connect(browser, &DeviceBrowserViewModel::devicesChanged, this, &DeviceSidebar::rebuildRows);
        connect(browser, &DeviceBrowserViewModel::selectedDeviceChanged, this, &DeviceSidebar::applySelection);
    }
    if (coordinator) {
        connect(coordinator, &TransferCoordinator::clipboardChanged, this, &DeviceSidebar::updateClipboardLine);
        connect(coordinator->clipboard(), &Clipboard::contentsChanged, this, &DeviceSidebar::updateClipboardLine);
    }
    rebuildRows();
    updateClipboardLine();
}

void DeviceSidebar::setUrlOpener(std::function<void(const QUrl&)> opener)
{
    m_openUrl = std::move(opener);
}

void DeviceSidebar::rebuildRows()
{
    m_applyingSelection = true;
    m_list->clear();
    const QList<AndroidDevice> devices = m_browser ? m_browser->devices() : QList<AndroidDevice>();
    if (devices.isEmpty()) {
        auto* empty = new QListWidgetItem(QStringLiteral("No device connected"));
        empty->setFlags(Qt::ItemIsEnabled);
        const QFont headline = ChromeStyle::headline(m_list->font());
        empty->setFont(headline);
        empty->setForeground(ChromeStyle::secondaryText(palette()));
        empty->setSizeHint(QSize(0, QFontMetrics(headline).height() + 8));
        m_list->addItem(empty);
    }
    for (const AndroidDevice& device : devices) {
        auto* item = new QListWidgetItem;
        item->setData(deviceIDRole, device.id.rawValue());
        QWidget* row = deviceRow(device, font());
        // As wide as the list: a long name ends in an ellipsis instead of widening the row.
        item->setSizeHint(QSize(0, row->sizeHint().height()));
        m_list->addItem(item);
        m_list->setItemWidget(item, row);
    }
    // No row is current until one is chosen, so nothing looks selected that is not.
    m_list->setCurrentRow(-1);
    // Focus would make the placeholder row current and draw it as if chosen.
    m_list->setFocusPolicy(devices.isEmpty() ? Qt::NoFocus : Qt::StrongFocus);
    m_retry->setVisible(devices.isEmpty());
    m_applyingSelection = false;
    applySelection();
}

void DeviceSidebar::applySelection()
{
    m_applyingSelection = true;
    const std::optional<AndroidDevice> selected = m_browser ? m_browser->selectedDevice() : std::nullopt;
    m_list->clearSelection();
    for (int row = 0; selected && row < m_list->count(); ++row) {
        QListWidgetItem* item = m_list->item(row);
        if (item->data(deviceIDRole).toString() == selected->id.rawValue()) {
            item->setSelected(true);
            m_list->setCurrentItem(item, QItemSelectionModel::NoUpdate);
        }
    }
    colourDeviceRows(m_list);
    m_applyingSelection = false;
}

void DeviceSidebar::userChangedSelection()
{
    if (m_applyingSelection || !m_browser) {
        return;
    }
    const QList<QListWidgetItem*> chosen = m_list->selectedItems();
    if (chosen.isEmpty()) {
        applySelection(); // clearing the selection neither connects nor disconnects
        return;
    }
    const QString id = chosen.first()->data(deviceIDRole).toString();
    std::optional<AndroidDevice> device;
    for (const AndroidDevice& listed : m_browser->devices()) {
        if (listed.id.rawValue() == id) {
            device = listed;
            break;
        }
    }
    const std::optional<AndroidDevice>& connected = m_browser->selectedDevice();
    if (!device || (connected && connected->id == device->id)) {
        applySelection();
        return;
    }
    if (m_coordinator && m_coordinator->transferQueue()->hasActiveJobs()) {
        applySelection();
        Q_EMIT deviceChoiceRefused();
        return;
    }
    // Runs on by itself; a later choice supersedes it in the browser, which reports its failures.
    startDetached(m_browser->selectDevice(*device));
}

void DeviceSidebar::updateClipboardLine()
{
    const bool holds = m_coordinator && !m_coordinator->clipboard()->contents().isEmpty();
    m_clipboardLine->setVisible(holds);
    if (holds) {
        m_clipboardLine->setText(m_coordinator->clipboard()->contents().summary());
    }
}

} // namespace quillbarrow
