#include "EmptyStateView.h"

#include "style/Fonts.h"
#include "style/Palette.h"
#include "style/SymbolIcons.h"

#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace quillbarrow {

EmptyStateView::EmptyStateView(const QString& title, const QString& symbol, const QString& description,
                               QWidget* parent)
    : QWidget(parent), m_symbol(new QLabel(this)), m_title(new QLabel(title, this)),
      m_description(new QLabel(description, this))
{
    setObjectName(QStringLiteral("emptyState"));
    constexpr int symbolSize = 44;
    m_symbol->setObjectName(QStringLiteral("emptyStateSymbol"));
    m_symbol->setPixmap(SymbolIcons::tinted(symbol, Palette::secondary(palette())).pixmap(symbolSize, symbolSize));
    m_symbol->setProperty(SymbolIcons::symbolProperty, symbol);
    m_symbol->setAlignment(Qt::AlignCenter);
    m_title->setObjectName(QStringLiteral("emptyStateTitle"));
    m_title->setFont(Fonts::title3Semibold());
    m_title->setAlignment(Qt::AlignCenter);
    m_description->setObjectName(QStringLiteral("emptyStateDescription"));
    m_description->setFont(Fonts::callout());
    m_description->setWordWrap(true);
    m_description->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette quiet = m_description->palette();
    quiet.setColor(QPalette::WindowText, Palette::secondary(palette()));
    m_description->setPalette(quiet);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(12);
    layout->addStretch(1);
    layout->addWidget(m_symbol, 0, Qt::AlignHCenter);
    layout->addWidget(m_title, 0, Qt::AlignHCenter);
    layout->addWidget(m_description, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    fitDescription();
}

void EmptyStateView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitDescription();
}

void EmptyStateView::fitDescription()
{
    // A wrapped label in a centred slot would keep its one-line size; it gets the width it may
    // use and the height its lines need at that width.
    const int margins = layout()->contentsMargins().left() + layout()->contentsMargins().right();
    const int available = std::max(1, std::min(descriptionWidth, width() - margins));
    m_description->setFixedWidth(available);
    m_description->setFixedHeight(m_description->heightForWidth(available));
}

} // namespace quillbarrow
