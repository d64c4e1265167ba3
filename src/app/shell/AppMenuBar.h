#pragma once

#include <QMenuBar>

class QAction;

namespace quillbarrow {

// The menu bar of a main window. The application's menu, "Quillbarrow", holds "About
// Quillbarrow", right after it the informational line "Quillbarrow uses local USB/MTP access
// only. No analytics or uploads are enabled." (a text without action, so disabled), and "Quit
// Quillbarrow" (Ctrl+Q); "File" holds "New Window" (Ctrl+N). The actions only announce the
// request; the application carries it out. No other command is declared: the panes' keys go
// through their key monitors.
class AppMenuBar final : public QMenuBar {
    Q_OBJECT

public:
    explicit AppMenuBar(QWidget* parent = nullptr);

    static QString informationText();

    QAction* aboutAction() const { return m_about; }
    QAction* informationAction() const { return m_information; }
    QAction* quitAction() const { return m_quit; }
    QAction* newWindowAction() const { return m_newWindow; }

Q_SIGNALS:
    void aboutRequested();
    void newWindowRequested();
    void quitRequested();

private:
    QAction* m_about;
    QAction* m_information;
    QAction* m_quit;
    QAction* m_newWindow;
};

} // namespace quillbarrow
