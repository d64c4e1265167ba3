#include "SelectionPreflightStrip.h"

#include "domain/ByteCountFormatter.h"
#include "panes/StorageBar.h"
#include "panes/blocks/BusySpinner.h"
#include "panes/blocks/ElidedLabel.h"
#include "style/Fonts.h"
#include "style/Palette.h"
#include "style/SymbolIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quillbarrow {

namespace {

const QString separator = QStringLiteral(" · ");
constexpr int symbolSize = 12;

struct Space {
    qint64 used;
    qint64 free;
    qint64 capacity;
};

// Used and free space when both figures are known and the capacity is at least 1; free space
// above the capacity counts as all of it, below zero as none.
std::optional<Space> knownSpace(std::optional<qint64> freeBytes, std::optional<qint64> capacityBytes)
{
    if (!freeBytes || !capacityBytes || *capacityBytes < 1) {
        return std::nullopt;
    }
    const qint64 free = std::clamp<qint64>(*freeBytes, 0, *capacityBytes);
    return Space{*capacityBytes - free, free, *capacityBytes};
}

QLabel* symbolLabel(const QString& symbol, const QColor& color, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(SymbolIcons::tinted(symbol, color).pixmap(symbolSize, symbolSize));
    label->setProperty(SymbolIcons::symbolProperty, symbol);
    label->setFixedSize(symbolSize + 2, symbolSize + 2);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

SelectionPreflightStrip::SelectionPreflightStrip(QWidget* parent)
    : QWidget(parent), m_storageIcon(new QLabel(this)), m_storageText(new ElidedLabel(this)),
      m_bar(new StorageBar(this)), m_selectionRow(new QWidget(this)), m_selectionText(new ElidedLabel(m_selectionRow)),
      m_calculate(new QToolButton(m_selectionRow)), m_spinner(new BusySpinner(14, m_selectionRow))
{
    setObjectName(QStringLiteral("selectionPreflightStrip"));
    setFont(Fonts::caption());
    m_secondary = Palette::secondary(palette());
    m_fill = Palette::primary(palette(), 0.045);
    QPalette quiet = palette();
    quiet.setColor(QPalette::WindowText, m_secondary);
    quiet.setColor(QPalette::ButtonText, m_secondary);
    setPalette(quiet);
    m_storageText->setObjectName(QStringLiteral("storageText"));
    m_storageIcon->setFixedSize(symbolSize + 2, symbolSize + 2);
    m_storageIcon->setAlignment(Qt::AlignCenter);
    m_selectionRow->setObjectName(QStringLiteral("selectionRow"));
    m_selectionText->setObjectName(QStringLiteral("selectionText"));
    m_calculate->setObjectName(QStringLiteral("calculateFolderSizeButton"));
    m_calculate->setAutoRaise(true);
    m_calculate->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_calculate->setIconSize(QSize(symbolSize, symbolSize));
    m_calculate->setToolTip(QStringLiteral("Calculate selected folder sizes"));
    m_calculate->setFont(Fonts::caption());

    auto* storageRow = new QHBoxLayout;
    storageRow->setContentsMargins(0, 0, 0, 0);
    storageRow->setSpacing(4);
    storageRow->addWidget(m_storageIcon);
    storageRow->addWidget(m_storageText, 1);
    storageRow->addSpacing(8);

    auto* selection = new QHBoxLayout(m_selectionRow);
    selection->setContentsMargins(0, 0, 0, 0);
    selection->setSpacing(4);
    selection->addWidget(symbolLabel(QStringLiteral("checklist"), m_secondary, m_selectionRow));
    selection->addWidget(m_selectionText, 1);
    selection->addSpacing(8);
    selection->addWidget(m_spinner);
    selection->addWidget(m_calculate);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 5, 7, 5);
    layout->setSpacing(5);
    layout->addLayout(storageRow);
    layout->addWidget(m_bar);
    layout->addWidget(m_selectionRow);

    connect(m_calculate, &QToolButton::clicked, this, &SelectionPreflightStrip::calculateRequested);
    setPreflight(SelectionPreflight());
    // The selection line is as tall with the Calculate button as without it.
    m_selectionRow->setMinimumHeight(selectionRowHeight());
}

int SelectionPreflightStrip::selectionRowHeight() const
{
    return std::max({m_selectionText->sizeHint().height(), m_calculate->sizeHint().height(),
                     m_spinner->sizeHint().height()});
}

int SelectionPreflightStrip::fullHeight() const
{
    // The layout's own measure, with the selection line added when it is hidden now.
    QLayout* column = layout();
    const int shown = column->sizeHint().height();
    return m_selectionRow->isHidden() ? shown + column->spacing() + selectionRowHeight() : shown;
}

void SelectionPreflightStrip::setPreflight(const SelectionPreflight& preflight)
{
    m_storageIcon->setPixmap(
        SymbolIcons::tinted(preflight.storageIcon, m_secondary).pixmap(symbolSize, symbolSize));
    m_storageIcon->setProperty(SymbolIcons::symbolProperty, preflight.storageIcon);
    m_storageText->setText(storageText(preflight.storageName, preflight.freeBytes, preflight.capacityBytes));
    m_bar->setUsage(usedFraction(preflight.freeBytes, preflight.capacityBytes),
                    preflight.storageName + QStringLiteral(" storage"),
                    storageBarValue(preflight.freeBytes, preflight.capacityBytes));

    const SelectionSizeSummary& summary = preflight.summary;
    m_selectionRow->setVisible(summary.selectedItemCount >= 1);
    m_selectionText->setText(selectionText(summary));
    m_calculate->setVisible(summary.unknownFolderCount >= 1);
    m_calculate->setEnabled(!preflight.isCalculating);
    m_spinner->setVisible(summary.unknownFolderCount >= 1 && preflight.isCalculating);
    if (preflight.isCalculating) {
        m_calculate->setIcon(QIcon());
        m_calculate->setToolButtonStyle(Qt::ToolButtonTextOnly);
        m_calculate->setText(QStringLiteral("Calculating folder size…"));
        m_calculate->setProperty(SymbolIcons::symbolProperty, QVariant());
    } else {
        SymbolIcons::apply(m_calculate, QStringLiteral("sum"));
        m_calculate->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        m_calculate->setText(QStringLiteral("Calculate folder size"));
    }
}

QString SelectionPreflightStrip::storageText(const QString& storageName, std::optional<qint64> freeBytes,
                                             std::optional<qint64> capacityBytes)
{
    if (const std::optional<Space> space = knownSpace(freeBytes, capacityBytes)) {
        return storageName + QStringLiteral(": ") + ByteCountFormatter::string(space->used) + QStringLiteral(" used") +
               separator + ByteCountFormatter::string(space->free) + QStringLiteral(" free");
    }
    if (freeBytes && !capacityBytes) {
        return storageName + QStringLiteral(": ") + ByteCountFormatter::string(*freeBytes) + QStringLiteral(" free");
    }
    return storageName + QStringLiteral(": free space unknown");
}

QString SelectionPreflightStrip::selectionText(const SelectionSizeSummary& summary)
{
    const QString items = QString::number(summary.itemCount) +
                          (summary.itemCount == 1 ? QStringLiteral(" item") : QStringLiteral(" items"));
    const QString bytes = ByteCountFormatter::string(summary.knownBytes);
    if (summary.unknownFolderCount == 0) {
        return items + separator + bytes;
    }
    return items + separator + bytes + QStringLiteral(" known") + separator + QString::number(summary.unknownFolderCount) +
           (summary.unknownFolderCount == 1 ? QStringLiteral(" folder") : QStringLiteral(" folders")) +
           QStringLiteral(" unchecked");
}

std::optional<double> SelectionPreflightStrip::usedFraction(std::optional<qint64> freeBytes,
                                                            std::optional<qint64> capacityBytes)
{
    const std::optional<Space> space = knownSpace(freeBytes, capacityBytes);
    if (!space) {
        return std::nullopt;
    }
    return static_cast<double>(space->used) / static_cast<double>(space->capacity);
}

QString SelectionPreflightStrip::storageBarValue(std::optional<qint64> freeBytes, std::optional<qint64> capacityBytes)
{
    const std::optional<Space> space = knownSpace(freeBytes, capacityBytes);
    if (!space) {
        return QStringLiteral("Free space unknown");
    }
    return ByteCountFormatter::string(space->used) + QStringLiteral(" used, ") + ByteCountFormatter::string(space->free) +
           QStringLiteral(" free");
}

bool SelectionPreflightStrip::allowsCopy(const SelectionSizeSummary& summary)
{
    return summary.unknownFolderCount != 0 || !summary.destinationFreeBytes ||
           summary.knownBytes <= *summary.destinationFreeBytes;
}

void SelectionPreflightStrip::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 6, 6);
    painter.fillPath(shape, m_fill);
}

} // namespace quillbarrow
