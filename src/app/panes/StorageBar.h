#pragma once

#include <QString>
#include <QWidget>

#include <optional>

namespace quillbarrow {

// The thin bar (6 pixels high, radius 3) of used against free space: the used part red, the
// rest green; a neutral grey bar while the space is not known. Its accessible name is the
// storage's name with " storage", its accessible description says what it shows.
class StorageBar final : public QWidget {
    Q_OBJECT

public:
    explicit StorageBar(QWidget* parent = nullptr);

    // With the used fraction (0 to 1) when free space and capacity are known; without it the
    // neutral bar.
    void setUsage(std::optional<double> usedFraction, const QString& accessibleName, const QString& accessibleValue);
    const std::optional<double>& usedFraction() const { return m_usedFraction; }
    // The width of the red part at the bar's current width.
    int usedWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<double> m_usedFraction;
};

} // namespace quillbarrow
