#pragma once

#include <QString>
#include <QWidget>

namespace quillbarrow {

// A small status label on a capsule: a symbol and a text in the caption font and the secondary
// colour, 10 pixels of padding left and right and 6 above and below, over a pane's content.
class StatusCapsule final : public QWidget {
    Q_OBJECT

public:
    explicit StatusCapsule(QWidget* parent = nullptr);

    void setStatus(const QString& text, const QString& symbol);
    const QString& text() const { return m_text; }
    const QString& symbol() const { return m_symbol; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QString m_symbol;
};

} // namespace quillbarrow
