#include "ui/components/retire_widget.h"

#include <QLayout>
#include <QWidget>

namespace norv {

void retireWidget(QWidget* widget) {
    if (!widget) return;
    if (QWidget* parent = widget->parentWidget(); parent && parent->layout()) parent->layout()->removeWidget(widget);
    widget->hide();
    widget->deleteLater();
}

void retireLayoutItems(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (item->layout()) retireLayoutItems(item->layout());
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

}  // namespace norv
