#pragma once

#include <QMessageBox>
#include <QStringList>

namespace quillbarrow {

// "Delete <name>?" or "Delete <n> items?" with the side's message, "Delete" (destructive) and
// "Cancel". Cancel is the default button and Escape's: a destructive default is the last thing
// anyone expects from a file manager. Escape and closing the window end in cancelled() like
// "Cancel", so the targets never stay set.
class DeleteConfirmation final : public QMessageBox {
    Q_OBJECT

public:
    enum class Side { local, android };

    DeleteConfirmation(Side side, const QStringList& names, QWidget* parent = nullptr);

    // "Delete " + the only name, or the count and " items", + "?".
    static QString titleFor(const QStringList& names);
    static QString messageFor(Side side);

    QAbstractButton* deleteButton() const { return m_delete; }
    QAbstractButton* cancelButton() const { return m_cancel; }

Q_SIGNALS:
    void confirmed();
    void cancelled();

private:
    QAbstractButton* m_delete;
    QAbstractButton* m_cancel;
};

} // namespace quillbarrow
