#include "ui/components/adaptive_grid.h"

#include <QGridLayout>
#include <QResizeEvent>

namespace norv {

AdaptiveGrid::AdaptiveGrid(int minimumColumnWidth, int spacing, QWidget* parent)
    : QWidget(parent), minimumColumnWidth_(minimumColumnWidth), spacing_(spacing), grid_(new QGridLayout(this)) {
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setSpacing(spacing);
}

void AdaptiveGrid::setItems(const QList<QWidget*>& items) {
    if (items == items_) return;
    for (QWidget* item : items_)
        if (!items.contains(item)) grid_->removeWidget(item);
    for (QWidget* item : items)
        if (item->parentWidget() != this) item->setParent(this);
    items_ = items;
    columns_ = 0;
    relayout(width());
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
