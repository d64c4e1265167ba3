#include "chrome/ServiceRestartAlert.h"

#include "chrome/ChromeStyle.h"
#include "chrome/KeyboardFocusRing.h"

#include <QPushButton>

namespace quillbarrow {

ServiceRestartAlert::ServiceRestartAlert(QWidget* parent) : QMessageBox(parent)
{
    setObjectName(QStringLiteral("serviceRestartAlert"));
    setIcon(QMessageBox::Warning);
    const QString title = QStringLiteral("Restart Apple Image Capture services?");
    setWindowTitle(title);
    setText(title);
    setInformativeText(QStringLiteral(
        "Quillbarrow will ask launchd to restart Apple Image Capture helper services that are holding the phone. If a "
        "helper does not exit, Quillbarrow may force-quit only those known Apple camera helper processes, then retry "
        "the file transfer session. This does not reset USB hardware or modify files on the phone."));
    setWindowModality(Qt::WindowModal);
    ChromeStyle::widen(this, 480);
    m_restart = addButton(ChromeStyle::buttonTitle(QStringLiteral("Restart & Retry")), QMessageBox::AcceptRole);
    m_restart->setObjectName(QStringLiteral("restartButton"));
    QPushButton* cancel = addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    m_cancel = cancel;
    setEscapeButton(cancel);
    KeyboardFocusRing::attachToButtons(this);
    connect(this, &QDialog::finished, this, [this] {
        if (clickedButton() == m_restart) {
            Q_EMIT restartConfirmed();
        }
    });
}

} // namespace quillbarrow
