#pragma once

#include <QMessageBox>

namespace quillbarrow {

// "Restart Apple Image Capture services?" with its explanation, "Restart & Retry" and "Cancel".
// Only "Restart & Retry" ends in restartConfirmed(); Cancel, Escape and closing do nothing more
// than close it.
class ServiceRestartAlert final : public QMessageBox {
    Q_OBJECT

public:
    explicit ServiceRestartAlert(QWidget* parent = nullptr);

    QAbstractButton* restartButton() const { return m_restart; }
    QAbstractButton* cancelButton() const { return m_cancel; }

Q_SIGNALS:
    void restartConfirmed();

private:
    QAbstractButton* m_restart;
    QAbstractButton* m_cancel;
};

} // namespace quillbarrow
