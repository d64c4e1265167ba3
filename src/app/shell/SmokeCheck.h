#pragma once

#include <QObject>
#include <QPointer>

namespace quillbarrow {

class MainWindow;
class QuillbarrowApp;

// The run of `quillbarrow --smoke-test`, for checking a build on a real display: it waits until
// the first window is exposed on the screen (mapped and drawn) and the device browser lists at
// least one device, then prints one line to standard output,
//     quillbarrow: window shown; devices: <names, joined with ", ">
// and quits the application the way the menu's Quit does. It waits on events only; whoever runs
// it bounds the time.
class SmokeCheck final : public QObject {
    Q_OBJECT

public:
    SmokeCheck(QuillbarrowApp& app, MainWindow& window);

    static QString reachedLine(const QStringList& deviceNames);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void check();

    QuillbarrowApp& m_app;
    QPointer<MainWindow> m_window;
    bool m_done = false;
};

} // namespace quillbarrow
