#include "LocalMessageStrip.h"

#include "chrome/KeyboardFocusRing.h"
#include "style/SymbolIcons.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace quillbarrow {

LocalMessageStrip::LocalMessageStrip(LocalBrowserViewModel& browser, TransferCoordinator& coordinator,
                                     QWidget* parent)
    : QWidget(parent), m_browser(&browser), m_coordinator(&coordinator), m_message(new QLabel(this)),
      m_dismiss(new QPushButton(tr("Dismiss"), this))
{
    setObjectName(QStringLiteral("localMessageStrip"));
    m_message->setObjectName(QStringLiteral("localMessage"));
    m_dismiss->setObjectName(QStringLiteral("dismissLocalMessageButton"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::AlternateBase);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("localMessageIcon"));
    icon->setPixmap(
        SymbolIcons::tinted(QStringLiteral("exclamationmark.octagon.fill"), Qt::red).pixmap(16, 16));
    icon->setProperty(SymbolIcons::symbolProperty, QStringLiteral("exclamationmark.octagon.fill"));
    // A file name in the message is data: never rich text.
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    KeyboardFocusRing::attachToStrip(m_message, m_dismiss);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(icon);
    layout->addWidget(m_message, 1);
    layout->addWidget(m_dismiss);
    connect(m_dismiss, &QPushButton::clicked, this, [this] {
        if (m_browser) {
            m_browser->clearError();
        }
    });
    connect(&browser, &LocalBrowserViewModel::errorMessageChanged, this, &LocalMessageStrip::showMessage);
    connect(&coordinator, &TransferCoordinator::lastErrorChanged, this, &LocalMessageStrip::showMessage);
    showMessage();
}

void LocalMessageStrip::showMessage()
{
    const std::optional<QString> message = m_browser ? m_browser->errorMessage() : std::nullopt;
    const bool transferErrorShown = m_coordinator && m_coordinator->lastError().has_value();
    m_message->setText(message.value_or(QString()));
    setVisible(message.has_value() && !transferErrorShown);
}

} // namespace quillbarrow
