#pragma once

#include <QLabel>

namespace quillbarrow {

// A label of one line that ends in an ellipsis when it is too narrow for its text, with the whole
// text as its tooltip then. Its text() stays the whole text.
class ElidingLabel final : public QLabel {
public:
    using QLabel::QLabel;

    // The whole text as tooltip while it does not fit, none while it does.
    void updateToolTip();
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace quillbarrow
