#pragma once
// The panel treatment of every page: 16 pt padding on a flat `panel` fill.

#include <QWidget>

class QVBoxLayout;

namespace norv {

class NorvPanel : public QWidget {
    Q_OBJECT
public:
    explicit NorvPanel(QWidget* parent = nullptr);
    QVBoxLayout* contentLayout() const { return layout_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* layout_;
};

// Wraps existing content in a panel.
NorvPanel* norvPanel(QWidget* content, QWidget* parent = nullptr);

// Fills a widget's background with one theme colour (flat, no outline).
void fillBackground(QWidget* widget, const QColor& color);

}  // namespace norv
