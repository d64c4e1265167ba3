#include "chrome/DeleteConfirmation.h"

#include "chrome/ChromeStyle.h"
#include "chrome/KeyboardFocusRing.h"

#include <QPushButton>

namespace quillbarrow {

DeleteConfirmation::DeleteConfirmation(Side side, const QStringList& names, QWidget* parent)
    : QMessageBox(parent)
{
    setObjectName(side == Side::android ? QStringLiteral("androidDeleteConfirmation")
                                        : QStringLiteral("localDeleteConfirmation"));
    setIcon(QMessageBox::Warning);
    setWindowTitle(titleFor(names));
    // A name is shown as it is: one that looks like markup must not be shown as another name.
    setTextFormat(Qt::PlainText);
    setText(titleFor(names));
    setInformativeText(messageFor(side));
    setWindowModality(Qt::WindowModal);
    ChromeStyle::widen(this, 380);
    m_delete = addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    m_delete->setObjectName(QStringLiteral("deleteButton"));
    QPushButton* cancel = addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    m_cancel = cancel;
    setDefaultButton(cancel);
    setEscapeButton(cancel);
    KeyboardFocusRing::attachToButtons(this);

    // Every way out (a button, Escape, the window's close) ends in finished(); the clicked button
    // says which way it was.
    connect(this, &QDialog::finished, this, [this] {
        if (clickedButton() == m_delete) {
            Q_EMIT confirmed();
        } else {
            Q_EMIT cancelled();
        }
    });
}

QString DeleteConfirmation::titleFor(const QStringList& names)
{
    const QString subject =
        names.size() == 1 ? names.first() : QString::number(names.size()) + QStringLiteral(" items");
    return QStringLiteral("Delete ") + subject + u'?';
}

QString DeleteConfirmation::messageFor(Side side)
{
    return side == Side::local
               ? QStringLiteral("Move the selected items to the Trash? This cannot be undone from this app.")
               : QStringLiteral("This will permanently delete the selected items from the Android device.");
}

} // namespace quillbarrow
