#include "ui/theme/norv_panel.h"

#include "ui/theme/norv_theme.h"

#include <QPainter>
#include <QVBoxLayout>

namespace norv {

NorvPanel::NorvPanel(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(16, 16, 16, 16);
    setObjectName(QStringLiteral("norvPanel"));
}

void NorvPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), NorvTheme::panel());
}

NorvPanel* norvPanel(QWidget* content, QWidget* parent) {
    auto* panel = new NorvPanel(parent);
    panel->contentLayout()->addWidget(content);
    return panel;
}

void fillBackground(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

}  // namespace norv
