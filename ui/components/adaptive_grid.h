#pragma once
// A grid with as many equal columns as fit at a minimum width each; children keep their order.

#include <QWidget>

class QGridLayout;

namespace norv {

class AdaptiveGrid : public QWidget {
    Q_OBJECT
public:
    AdaptiveGrid(int minimumColumnWidth, int spacing, QWidget* parent = nullptr);
    void addItem(QWidget* item);
    void clear();
    // Shows these items in this order; items no longer listed are retired. The same list in the
    // same order touches nothing.
    void setItems(const QList<QWidget*>& items);
    // The item with this object name; null when there is none.
    QWidget* item(const QString& name) const;
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
