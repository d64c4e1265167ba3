#include "TransferErrorStrip.h"

#include "chrome/KeyboardFocusRing.h"
#include "style/SymbolIcons.h"
#include "viewmodels/transfers/TransferCoordinator.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace quillbarrow {

namespace {

constexpr int stripPadding = 8;
constexpr int symbolSize = 16;

} // namespace

TransferErrorStrip::TransferErrorStrip(TransferCoordinator& coordinator, QWidget* parent)
    : QWidget(parent), m_coordinator(&coordinator), m_icon(new QLabel(this)), m_message(new QLabel(this)),
      m_dismiss(new QPushButton(tr("Dismiss"), this))
{
    setObjectName(QStringLiteral("transferErrorStrip"));
    m_icon->setObjectName(QStringLiteral("transferErrorIcon"));
    m_message->setObjectName(QStringLiteral("transferErrorMessage"));
    m_dismiss->setObjectName(QStringLiteral("dismissTransferErrorButton"));

    // A strip over the window's background, in the manner of a translucent bar.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::AlternateBase);

    // The same red symbol as the local message's strip, which stands in the same place.
    m_icon->setProperty(SymbolIcons::symbolProperty, QStringLiteral("exclamationmark.octagon.fill"));
    m_icon->setPixmap(SymbolIcons::tinted(QStringLiteral("exclamationmark.octagon.fill"), Qt::red)
                          .pixmap(symbolSize, symbolSize));
    // The message is data: shown as it is, never as rich text.
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    KeyboardFocusRing::attachToStrip(m_message, m_dismiss);
    QFont callout = m_message->font();
    callout.setPointSizeF(callout.pointSizeF() - 1);
    m_message->setFont(callout);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(stripPadding, stripPadding, stripPadding, stripPadding);
    layout->addWidget(m_icon);
    layout->addWidget(m_message, 1);
    layout->addWidget(m_dismiss);

    connect(m_dismiss, &QPushButton::clicked, this, [this] {
        if (m_coordinator != nullptr) {
            m_coordinator->clearLastError();
        }
    });
    connect(m_coordinator, &TransferCoordinator::lastErrorChanged, this, &TransferErrorStrip::showLastError);
    showLastError();
}

void TransferErrorStrip::showLastError()
{
    const std::optional<QuillbarrowError>& error = m_coordinator->lastError();
    const std::optional<TransferDirection> direction = m_coordinator->lastErrorDirection();
    m_message->setText(!error ? QString() : direction ? error->userMessage(*direction) : error->userMessage());
    setVisible(error.has_value());
}

} // namespace quillbarrow
