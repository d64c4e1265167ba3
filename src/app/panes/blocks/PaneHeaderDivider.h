#pragma once

#include <QWidget>

namespace quillbarrow {

// The thin rule under a pane header's title row: one pixel of the text colour at 15% opacity,
// spanning the header, with two pixels free above and below.
class PaneHeaderDivider final : public QWidget {
    Q_OBJECT

public:
    static constexpr double opacity = 0.15;

    explicit PaneHeaderDivider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quillbarrow
