#pragma once
// A grid with as many equal columns as fit at a minimum width each; children keep their order.
// KeyedGrid fills it from state.

#include <QWidget>

class QGridLayout;

namespace norv {

class AdaptiveGrid : public QWidget {
    Q_OBJECT
public:
    AdaptiveGrid(int minimumColumnWidth, int spacing, QWidget* parent = nullptr);
    // Shows `items` in this order, moving widgets only when the order changed. Items it held and
    // does not now are taken out of the grid; deleting them is the caller's.
    void setItems(const QList<QWidget*>& items);
    QList<QWidget*> items() const { return items_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout(int width);

    int minimumColumnWidth_;
    int spacing_;
    int columns_ = 0;
    QGridLayout* grid_;
    QList<QWidget*> items_;
};

}  // namespace norv
