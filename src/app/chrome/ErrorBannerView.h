#pragma once

#include "viewmodels/devicebrowser/ErrorBanner.h"

#include <QFrame>
#include <QPointer>

#include <optional>

class QLabel;
class QPushButton;

namespace quillbarrow {

class DeviceBrowserViewModel;
class ServiceRestartAlert;

// The device side's error banner across the top of the detail column: the warning icon, the
// message and detail, the "Detected: ..." line and the note on services the system manages, and
// the buttons "Quit & Retry" (some entry can be asked to quit), "Restart Services & Retry" (some
// entry's service can be restarted), "Retry" and "Dismiss". It follows the device browser's
// errorBanner and hides itself while there is none; "Dismiss" calls clearError(). The other
// actions are announced: "Restart Services & Retry" first asks in the restart alert and announces
// restartServicesConfirmed only on "Restart & Retry". Buttons stay enabled while a request runs:
// guarding repeated requests is the device browser's business.
class ErrorBannerView final : public QFrame {
    Q_OBJECT

public:
    explicit ErrorBannerView(DeviceBrowserViewModel* browser, QWidget* parent = nullptr);

    void setBanner(const std::optional<ErrorBanner>& banner);
    // The buttons in the order Tab walks them, those hidden for this banner included. Each is a
    // window button (KeyboardFocusRing::attachToWindowButton): a click leaves the keyboard where it
    // is, Tab reaches it after the tables.
    QList<QPushButton*> buttons() const;
    // As tall as the wrapped lines need at the banner's current width: the column stacking it
    // asks for the plain size hint, which guesses a narrow width and leaves a band of empty space.
    QSize sizeHint() const override;
    // The restart alert last opened.
    ServiceRestartAlert* restartAlert() const { return m_alert; }

Q_SIGNALS:
    void dismissRequested();
    void retryRequested();
    void quitConflictsRequested();
    void restartServicesConfirmed();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void askToRestartServices();

    QPointer<DeviceBrowserViewModel> m_browser;
    QLabel* m_message;
    QLabel* m_detail;
    QLabel* m_detected;
    QLabel* m_managedNote;
    QPushButton* m_quit;
    QPushButton* m_restart;
    QPushButton* m_retry;
    QPushButton* m_dismiss;
    QPointer<ServiceRestartAlert> m_alert;
};

} // namespace quillbarrow
