#include "ui/components/adaptive_grid.h"

#include "ui/components/retire_widget.h"

#include <QGridLayout>
#include <QResizeEvent>

namespace norv {

AdaptiveGrid::AdaptiveGrid(int minimumColumnWidth, int spacing, QWidget* parent)
    : QWidget(parent), minimumColumnWidth_(minimumColumnWidth), spacing_(spacing), grid_(new QGridLayout(this)) {
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setSpacing(spacing);
}

void AdaptiveGrid::addItem(QWidget* item) {
    item->setParent(this);
    items_.append(item);
    columns_ = 0;
    relayout(width());
}

void AdaptiveGrid::clear() {
    for (QWidget* item : items_) {
        grid_->removeWidget(item);
        retireWidget(item);
    }
    items_.clear();
    columns_ = 0;
}

void AdaptiveGrid::setItems(const QList<QWidget*>& items) {
    if (items == items_) return;
    for (QWidget* item : items_) {
        if (items.contains(item)) continue;
        grid_->removeWidget(item);
        retireWidget(item);
    }
    for (QWidget* item : items) item->setParent(this);  // a no-op for the items kept
    items_ = items;
    columns_ = 0;
    relayout(width());
}

QWidget* AdaptiveGrid::item(const QString& name) const {
    for (QWidget* item : items_)
        if (item->objectName() == name) return item;
    return nullptr;
}

void AdaptiveGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout(event->size().width());
}

void AdaptiveGrid::relayout(int width) {
    const int columns = qMax(1, (width + spacing_) / (minimumColumnWidth_ + spacing_));
    if (columns == columns_) return;
    columns_ = columns;
    for (QWidget* item : items_) grid_->removeWidget(item);
    for (int c = 0; c < grid_->columnCount(); ++c) grid_->setColumnStretch(c, 0);
    for (int i = 0; i < items_.size(); ++i) grid_->addWidget(items_[i], i / columns, i % columns);
    for (int c = 0; c < columns; ++c) grid_->setColumnStretch(c, 1);
}

}  // namespace norv
