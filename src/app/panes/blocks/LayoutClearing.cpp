#include "LayoutClearing.h"

#include <QLayout>
#include <QWidget>

namespace quillbarrow {

void takeAllLater(QLayout* row)
{
    while (QLayoutItem* item = row->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

} // namespace quillbarrow
