#include "ui/routes/track_routing_row.h"

#include "ui/routes/route_card.h"
#include "ui/routes/routes_view_model.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace norv {

namespace {

// A captioned value: small monospaced caption over the value; returns the value's label. A
// nested layout, not a widget of its own: a row is built for every track that gains a plan.
QLabel* routingValue(const QString& caption, QHBoxLayout* into, QWidget* parent, QLabel** captionLabel = nullptr) {
    auto* column = new QVBoxLayout;
    column->setSpacing(3);
    QLabel* title = makeLabel(caption, NorvTheme::systemFont(9, QFont::Bold, true), NorvTheme::secondary(), parent);
    column->addWidget(title);
    QLabel* value = makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::primary(), parent);
    column->addWidget(value);
    into->addLayout(column);
    if (captionLabel) *captionLabel = title;
    return value;
}

}  // namespace

// The status dot: a filled circle in the status tint.
class TrackRoutingRow::Dot : public QWidget {
public:
    explicit Dot(QWidget* parent) : QWidget(parent) { setFixedSize(8, 8); }
    void setColor(const QColor& color) {
        if (color == color_) return;
        color_ = color;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color_);
        painter.drawEllipse(rect());
    }

private:
    QColor color_;
};

TrackRoutingRow::TrackRoutingRow(const TrackRowContent& content, QWidget* parent) : QWidget(parent) {
    fillBackground(this, NorvTheme::panelRaised());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(13, 13, 13, 13);
    column->setSpacing(10);

    auto* head = new QHBoxLayout;
    head->setSpacing(12);
    dot_ = new Dot(this);
    head->addWidget(dot_);
    title_ = makeLabel(QString(), NorvTheme::headlineFont(), NorvTheme::primary(), this);
    head->addWidget(title_);
    head->addStretch();
    status_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Bold, true), NorvTheme::secondary(), this);
    head->addWidget(status_);
    column->addLayout(head);

    auto* values = new QHBoxLayout;
    values->setSpacing(26);
    owners_ = routingValue(QStringLiteral("DEVICES"), values, this);
    routed_ = routingValue(QStringLiteral("ROUTED"), values, this, &routedCaption_);
    desired_ = routingValue(QStringLiteral("DESIRED INPUT"), values, this);
    liveInput_ = routingValue(QStringLiteral("LIVE INPUT"), values, this);
    values->addStretch();
    armedSymbol_ = new SymbolLabel(this);
    values->addWidget(armedSymbol_);
    armed_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Bold, true), NorvTheme::secondary(), this);
    values->addWidget(armed_);
    column->addLayout(values);
    setContent(content);
}

void TrackRoutingRow::setContent(const TrackRowContent& content) {
    using Labels = RoutesViewModel;
    const QColor tint = routeTintColor(Labels::trackStatusTint(content.status));
    dot_->setColor(tint);
    title_->setText(Labels::trackTitle(content.plan));
    status_->setText(Labels::trackStatusLabel(content.plan, content.status));
    setTextColor(status_, tint);
    owners_->setText(Labels::ownersText(content.plan));
    const std::optional<QString> routed = Labels::routedOwnersText(content.plan);
    routed_->setText(routed.value_or(QString()));
    routedCaption_->setVisible(routed.has_value());
    routed_->setVisible(routed.has_value());
    desired_->setText(QString::fromStdString(content.plan.desiredInput));
    liveInput_->setText(Labels::liveInputText(content.status));
    const bool armed = Labels::armed(content.status);
    const QColor armedColor = armed ? NorvTheme::yellow() : NorvTheme::secondary();
    armedSymbol_->setSymbol(armed ? QStringLiteral("record.circle.fill") : QStringLiteral("record.circle"), armedColor,
                            12);
    armed_->setText(armed ? QStringLiteral("ARMED") : QStringLiteral("NOT ARMED"));
    setTextColor(armed_, armedColor);
}

}  // namespace norv
