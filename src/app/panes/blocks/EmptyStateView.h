#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace quillbarrow {

// The centred placeholder of a pane with nothing to list: a large quiet symbol, a title, and a
// description that wraps within 420 pixels, centred; 32 pixels free on every side.
class EmptyStateView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int descriptionWidth = 420;

    EmptyStateView(const QString& title, const QString& symbol, const QString& description, QWidget* parent = nullptr);

    QLabel* symbolLabel() const { return m_symbol; }
    QLabel* titleLabel() const { return m_title; }
    QLabel* descriptionLabel() const { return m_description; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitDescription();

    QLabel* m_symbol;
    QLabel* m_title;
    QLabel* m_description;
};

} // namespace quillbarrow
