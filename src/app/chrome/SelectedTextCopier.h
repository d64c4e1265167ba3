#pragma once

#include <QObject>

class QLabel;
class QMenu;

namespace quillbarrow {

// Lets the text selected with the mouse in a message of the window (a strip's or the banner's) be
// copied, while the keyboard stays in the pane that has it: Ctrl+C puts the selection on the
// system clipboard, whatever widget of the window has the keyboard, and a right-click on the
// message offers the text widgets' standard "Copy". The program's own clipboard (the pane's Copy)
// is left alone. Without a selection in the message, Ctrl+C is the pane's as always.
//
// The selection ends at a mouse press anywhere outside the message, as a selection in a page does:
// a row clicked afterwards is what the next Ctrl+C copies. From a press on the message until that
// press elsewhere the copier watches the application's events, ahead of the window's own key
// handling; it watches nothing otherwise. Lives as a child of the message. Main thread.
class SelectedTextCopier final : public QObject {
    Q_OBJECT

  public:
    // Makes `message` selectable with the mouse, never taking the keyboard.
    explicit SelectedTextCopier(QLabel* message);

    // The menu a right-click on the message opens, as a child of the message: "Copy", for the text
    // selected as it opens.
    QMenu* buildContextMenu();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void watchApplication(bool watch);
    // Ctrl+C pressed on the message's window while it has a selection: copied, and the press taken.
    bool copiesSelection(QObject* watched, QEvent* event) const;

    QLabel* m_message;
    bool m_watching = false;
};

} // namespace quillbarrow
