#pragma once

#include <QString>
#include <QWidget>

namespace quillbarrow {

// One line of text that shortens itself with an ellipsis when it does not fit; the whole text is
// then its tooltip. Drawn in the widget's font and foreground colour.
class ElidedLabel final : public QWidget {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr, Qt::TextElideMode mode = Qt::ElideRight);

    const QString& text() const { return m_text; }
    void setText(const QString& text);
    // The text as drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateTooltip();

    QString m_text;
    Qt::TextElideMode m_mode;
};

} // namespace quillbarrow
