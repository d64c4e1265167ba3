#include "SidebarSplitter.h"

#include <QPainter>
#include <QSplitterHandle>

namespace quillbarrow {

namespace {

// Draws the line itself: the style's own handle is invisible at one pixel.
class LineHandle final : public QSplitterHandle {
public:
    LineHandle(Qt::Orientation orientation, QSplitter* parent) : QSplitterHandle(orientation, parent) {}

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Mid));
    }
};

} // namespace

SidebarSplitter::SidebarSplitter(QWidget* parent) : QSplitter(Qt::Horizontal, parent)
{
    setChildrenCollapsible(false);
    setHandleWidth(1);
}

QSplitterHandle* SidebarSplitter::createHandle()
{
    return new LineHandle(orientation(), this);
}

} // namespace quillbarrow
