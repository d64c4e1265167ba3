#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace quillbarrow {

class LocalBrowserViewModel;
class TransferCoordinator;

// The local browser's last failure (a folder not created, an item not renamed or not moved to
// the Trash, a folder not listed), shown where the transfer-error strip stands: the red symbol,
// the message and "Dismiss", which clears it. A transfer error takes the place first; the local
// message shows again once that is dismissed. Follows every change of either. The keyboard reaches
// it only by Tab (see KeyboardFocusRing::attachToStrip).
class LocalMessageStrip final : public QWidget {
    Q_OBJECT

  public:
    LocalMessageStrip(LocalBrowserViewModel& browser, TransferCoordinator& coordinator,
                      QWidget* parent = nullptr);

    QLabel* messageLabel() const { return m_message; }
    QPushButton* dismissButton() const { return m_dismiss; }

  private:
    void showMessage();

    QPointer<LocalBrowserViewModel> m_browser;
    QPointer<TransferCoordinator> m_coordinator;
    QLabel* m_message;
    QPushButton* m_dismiss;
};

} // namespace quillbarrow
