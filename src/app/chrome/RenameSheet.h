#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quillbarrow {

// "Rename": the current name, a field opened filled with it, "Cancel" and "Rename" (Return).
// "Rename" stays disabled, with the reason under the field, while the new name is not
// acceptable (ItemNameRules). Committing
// closes the sheet and asks for the rename with the trimmed name, only when it differs from the
// current one. Escape, closing the window and "Cancel" end in cancelled().
class RenameSheet final : public QDialog {
    Q_OBJECT

public:
    explicit RenameSheet(QWidget* parent = nullptr);

    // Shows the item's name and fills the field with it, whatever an earlier presentation left.
    void present(const QString& currentName);
    QLineEdit* nameField() const { return m_value; }
    QPushButton* renameButton() const { return m_rename; }
    // Why the typed name is refused; hidden while it is acceptable.
    QLabel* reasonText() const { return m_reason; }

Q_SIGNALS:
    void renameRequested(const QString& newName);
    void cancelled();

public Q_SLOTS:
    void reject() override;

private:
    void commit();
    void updateRenameButton();

    QString m_currentName;
    QLabel* m_current;
    QLineEdit* m_value;
    QPushButton* m_rename;
    QLabel* m_reason;
};

} // namespace quillbarrow
