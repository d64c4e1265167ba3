#pragma once

#include "domain/SelectionSizeSummary.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <optional>

class QLabel;
class QToolButton;

namespace quillbarrow {

class BusySpinner;
class ElidedLabel;
class StorageBar;

// What the selection strip shows; the pane fills it from its view model.
struct SelectionPreflight {
    SelectionSizeSummary summary{0, 0, 0, 0, 0, std::nullopt};
    // The pane's storage ("This Mac", "Android") and its symbol.
    QString storageName;
    QString storageIcon;
    std::optional<qint64> freeBytes;
    std::optional<qint64> capacityBytes;
    // The owner is measuring folders of the selection.
    bool isCalculating = false;
};

// The strip at the bottom of a pane header that tells, before a copy, where the items would go
// and whether they fit: the storage line with its free (and used) space, the bar of used against
// free space, and while something is selected the selection line with its known size and, while
// a selected folder is unmeasured, the Calculate button (its only action: calculateRequested).
// It holds no state but what it was last given.
class SelectionPreflightStrip final : public QWidget {
    Q_OBJECT

public:
    explicit SelectionPreflightStrip(QWidget* parent = nullptr);

    void setPreflight(const SelectionPreflight& preflight);
    // The height the strip takes with its selection line and the Calculate button showing. The
    // header keeps that much room for the strip whatever it shows, so that nothing below the
    // header moves when a selection begins or ends.
    int fullHeight() const;

    // "<name>: <used> used · <free> free", "<name>: <free> free" or "<name>: free space unknown".
    static QString storageText(const QString& storageName, std::optional<qint64> freeBytes,
                               std::optional<qint64> capacityBytes);
    // "<n> item(s) · <bytes>", with " known · <m> folder(s) unchecked" while folders are
    // unmeasured; n counts the items of measured folders.
    static QString selectionText(const SelectionSizeSummary& summary);
    // Used space over capacity, when both are known and the capacity is at least 1; free space
    // outside 0...capacity is taken as its nearest end.
    static std::optional<double> usedFraction(std::optional<qint64> freeBytes, std::optional<qint64> capacityBytes);
    // The bar's accessible value: "<used> used, <free> free" or "Free space unknown".
    static QString storageBarValue(std::optional<qint64> freeBytes, std::optional<qint64> capacityBytes);
    // Whether a copy of the summarised selection may start: some selected folder is unmeasured,
    // or the destination's free space is unknown, or the known bytes fit in it (equal fits).
    static bool allowsCopy(const SelectionSizeSummary& summary);

    ElidedLabel* storageLabel() const { return m_storageText; }
    StorageBar* storageBar() const { return m_bar; }
    QWidget* selectionRow() const { return m_selectionRow; }
    ElidedLabel* selectionLabel() const { return m_selectionText; }
    QToolButton* calculateButton() const { return m_calculate; }

Q_SIGNALS:
    void calculateRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int selectionRowHeight() const;

    QLabel* m_storageIcon;
    ElidedLabel* m_storageText;
    StorageBar* m_bar;
    QWidget* m_selectionRow;
    ElidedLabel* m_selectionText;
    QToolButton* m_calculate;
    BusySpinner* m_spinner;
    // Taken from the palette before the strip's own text turns secondary.
    QColor m_secondary;
    QColor m_fill;
};

} // namespace quillbarrow
