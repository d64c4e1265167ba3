#include "chrome/ErrorBannerView.h"

#include "chrome/ChromeIcons.h"
#include "chrome/ChromeStyle.h"
#include "chrome/KeyboardFocusRing.h"
#include "chrome/SelectedTextCopier.h"
#include "chrome/ServiceRestartAlert.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <algorithm>

namespace quillbarrow {

namespace {

QLabel* bannerText(const QFont& font, bool secondary, const QString& name)
{
    auto* label = new QLabel;
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    new SelectedTextCopier(label);
    // Spare height goes below the lines, not between them.
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    ChromeStyle::setText(label, font, secondary);
    return label;
}

QPushButton* bannerButton(const QString& title, const QString& name)
{
    auto* button = new QPushButton(ChromeStyle::buttonTitle(title));
    button->setObjectName(name);
    button->setAutoDefault(false);
    // A click leaves the keyboard in the pane that had it: the banner may go with the click, and
    // a hidden button's keyboard would fall to whichever pane comes first. Tab reaches the buttons.
    KeyboardFocusRing::attachToWindowButton(button);
    return button;
}

} // namespace

ErrorBannerView::ErrorBannerView(DeviceBrowserViewModel* browser, QWidget* parent)
    : QFrame(parent), m_browser(browser),
      m_message(bannerText(ChromeStyle::headline(font()), false, QStringLiteral("bannerMessage"))),
      m_detail(bannerText(ChromeStyle::caption(font()), true, QStringLiteral("bannerDetail"))),
      m_detected(bannerText(ChromeStyle::caption(font()), true, QStringLiteral("bannerDetected"))),
      m_managedNote(bannerText(ChromeStyle::caption(font()), true, QStringLiteral("bannerManagedNote"))),
      m_quit(bannerButton(QStringLiteral("Quit & Retry"), QStringLiteral("quitAndRetryButton"))),
      m_restart(
          bannerButton(QStringLiteral("Restart Services & Retry"), QStringLiteral("restartServicesButton"))),
      m_retry(bannerButton(QStringLiteral("Retry"), QStringLiteral("retryButton"))),
      m_dismiss(bannerButton(QStringLiteral("Dismiss"), QStringLiteral("dismissButton")))
{
    setObjectName(QStringLiteral("errorBanner"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::AlternateBase);
    setFrameShape(QFrame::StyledPanel);

    auto* icon = new QLabel;
    ChromeIcons::apply(icon, QStringLiteral("exclamationmark.triangle.fill"), 20, QColor(0xff, 0xcc, 0x00));
    m_managedNote->setText(
        QStringLiteral("Some detected services are managed by macOS; Quillbarrow will not force quit them."));

    auto* texts = new QVBoxLayout;
    texts->addWidget(m_message);
    texts->addWidget(m_detail);
    texts->addWidget(m_detected);
    texts->addWidget(m_managedNote);
    texts->addStretch(1);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(12);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
    for (QPushButton* button : buttons()) {
        row->addWidget(button, 0, Qt::AlignTop);
    }

    connect(m_quit, &QPushButton::clicked, this, &ErrorBannerView::quitConflictsRequested);
    connect(m_restart, &QPushButton::clicked, this, &ErrorBannerView::askToRestartServices);
    connect(m_retry, &QPushButton::clicked, this, &ErrorBannerView::retryRequested);
    connect(m_dismiss, &QPushButton::clicked, this, &ErrorBannerView::dismissRequested);
    if (browser) {
        connect(browser, &DeviceBrowserViewModel::errorBannerChanged, this,
                [this] { setBanner(m_browser->errorBanner()); });
        connect(this, &ErrorBannerView::dismissRequested, browser, &DeviceBrowserViewModel::clearError);
        setBanner(browser->errorBanner());
    } else {
        setBanner(std::nullopt);
    }
}

QList<QPushButton*> ErrorBannerView::buttons() const
{
    return {m_quit, m_restart, m_retry, m_dismiss};
}

void ErrorBannerView::setBanner(const std::optional<ErrorBanner>& banner)
{
    setVisible(banner.has_value());
    if (!banner) {
        return;
    }
    const QList<DetectedConflictApp>& apps = banner->conflictingApps;
    m_message->setText(banner->message);
    m_detail->setText(banner->detail);
    m_detected->setText(QStringLiteral("Detected: ") + ErrorBanner::conflictDisplayNames(apps).join(QStringLiteral(", ")));
    m_detected->setVisible(!apps.isEmpty());
    const auto canQuit = [](const DetectedConflictApp& app) { return app.canRequestQuit(); };
    m_managedNote->setVisible(!std::all_of(apps.cbegin(), apps.cend(), canQuit));
    m_quit->setVisible(std::any_of(apps.cbegin(), apps.cend(), canQuit));
    m_restart->setVisible(
        std::any_of(apps.cbegin(), apps.cend(), [](const DetectedConflictApp& app) { return app.canSoftRestartService(); }));
}

QSize ErrorBannerView::sizeHint() const
{
    QSize hint = QFrame::sizeHint();
    if (width() > 0 && hasHeightForWidth()) {
        hint.setHeight(heightForWidth(width()));
    }
    return hint;
}

void ErrorBannerView::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    if (event->oldSize().width() != event->size().width()) {
        updateGeometry(); // the wrapped height changed with the width
    }
}

void ErrorBannerView::askToRestartServices()
{
    if (m_alert && m_alert->isVisible()) {
        return; // already asking
    }
    if (m_alert) {
        m_alert->deleteLater();
    }
    m_alert = new ServiceRestartAlert(window());
    connect(m_alert, &ServiceRestartAlert::restartConfirmed, this, &ErrorBannerView::restartServicesConfirmed);
    m_alert->open();
}

} // namespace quillbarrow
