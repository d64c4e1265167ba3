#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace quillbarrow {

class TransferCoordinator;

// The strip under the device error banner that shows the last transfer failure: a red
// "exclamationmark.octagon.fill" symbol, the error's user message (its technical details are
// never shown), and "Dismiss", which clears the coordinator's last error. Shown exactly while
// the coordinator has a last error, and follows every change of it. The keyboard reaches it only
// by Tab (see KeyboardFocusRing::attachToStrip).
class TransferErrorStrip final : public QWidget {
    Q_OBJECT

public:
    explicit TransferErrorStrip(TransferCoordinator& coordinator, QWidget* parent = nullptr);

    QPushButton* dismissButton() const { return m_dismiss; }

private:
    void showLastError();

    QPointer<TransferCoordinator> m_coordinator;
    QLabel* m_icon;
    QLabel* m_message;
    QPushButton* m_dismiss;
};

} // namespace quillbarrow
