#pragma once

#include <QSplitter>

namespace quillbarrow {

// The split between the device sidebar and the detail column: a one-pixel line in the separator
// colour that can be dragged; neither side collapses.
class SidebarSplitter final : public QSplitter {
    Q_OBJECT

public:
    explicit SidebarSplitter(QWidget* parent = nullptr);

protected:
    QSplitterHandle* createHandle() override;
};

} // namespace quillbarrow
