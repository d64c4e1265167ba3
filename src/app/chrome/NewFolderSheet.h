#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quillbarrow {

// "New Folder": a name field, "Cancel" and "Create" (Return). "Create" stays disabled while the
// name is not acceptable (ItemNameRules), and the reason shows under the field. Each presentation starts with an empty field. Escape,
// closing the window and "Cancel" all end in cancelled(), so nothing is left half open.
class NewFolderSheet final : public QDialog {
    Q_OBJECT

public:
    // Which pane asks: the device side is given the trimmed name, the computer side the name as
    // typed (its browser trims it).
    enum class Side { local, android };

    explicit NewFolderSheet(Side side, QWidget* parent = nullptr);

    // Empties the field and opens the sheet window-modally.
    void present();
    QLineEdit* nameField() const { return m_name; }
    QPushButton* createButton() const { return m_create; }
    // Why the typed name is refused; hidden while it is acceptable.
    QLabel* reasonText() const { return m_reason; }

Q_SIGNALS:
    void createRequested(const QString& name);
    void cancelled();

public Q_SLOTS:
    void reject() override;

private:
    void create();
    void updateCreateButton();

    Side m_side;
    QLineEdit* m_name;
    QPushButton* m_create;
    QLabel* m_reason;
};

} // namespace quillbarrow
