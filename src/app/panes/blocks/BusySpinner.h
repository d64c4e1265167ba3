#pragma once

#include <QTimer>
#include <QWidget>

namespace quillbarrow {

// A small turning arc that says "working"; it turns only while shown.
class BusySpinner final : public QWidget {
    Q_OBJECT

public:
    explicit BusySpinner(int size, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int m_size;
    int m_angle = 0;
    // 12 steps a second: smooth enough for a 14-pixel arc, cheap while a measurement runs.
    QTimer m_turn;
};

} // namespace quillbarrow
