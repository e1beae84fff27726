#include "ui/shell/sidebar.h"

#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace norv {

SidebarRow::SidebarRow(const SidebarEntry& entry, QWidget* parent) : QAbstractButton(parent), entry_(entry) {
    setText(entry.title);
    setFont(NorvTheme::commandFont());
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(44);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setObjectName(QStringLiteral("sidebarRow_") + entry.id);
    setAccessibleName(entry.title);
    NorvSymbols::tag(this, entry.symbol);
}

void SidebarRow::setSelected(bool selected) {
    if (selected_ == selected) return;
    selected_ = selected;
    // Screen readers hear the selected row as the selected item.
    setAccessibleDescription(selected ? QStringLiteral("selected") : QString());
    update();
}

QSize SidebarRow::sizeHint() const {
    const QFontMetrics metrics(font());
    return QSize(12 + 16 + 8 + metrics.horizontalAdvance(text()) + 12, 44);
}

void SidebarRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), selected_ ? NorvTheme::panelRaised() : NorvTheme::panel());
    const QColor color = selected_ ? NorvTheme::accent() : NorvTheme::primary();
    const int symbolSize = 16;
    const QRect symbolRect(12, (height() - symbolSize) / 2, symbolSize, symbolSize);
    painter.drawPixmap(symbolRect, NorvSymbols::pixmap(entry_.symbol, color, symbolSize, devicePixelRatioF()));
    painter.setPen(color);
    painter.setFont(font());
    painter.drawText(rect().adjusted(12 + symbolSize + 8, 0, -12, 0), Qt::AlignVCenter | Qt::AlignLeading, text());
}

SidebarStatus::SidebarStatus(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12 + 8 + 9, 12, 12, 12);  // room for the dot, drawn in paintEvent
    row->setSpacing(9);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    state_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Bold, true), NorvTheme::primary(), this);
    state_->setObjectName(QStringLiteral("sidebarStateWord"));
    devices_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    devices_->setObjectName(QStringLiteral("sidebarDeviceCount"));
    column->addWidget(state_);
    column->addWidget(devices_);
    row->addLayout(column);
    row->addStretch();
    setStatus(false, QStringLiteral("Stopped"), 0);
}

QString SidebarStatus::deviceCountText(qint64 count) {
    return QString::number(count) + (count == 1 ? QStringLiteral(" device") : QStringLiteral(" devices"));
}

void SidebarStatus::setStatus(bool connected, const QString& stateWord, qint64 connectedDevices) {
    state_->setText(stateWord.toUpper());
    devices_->setText(deviceCountText(connectedDevices));
    if (connected == connected_) return;
    connected_ = connected;
    update();
}

QString SidebarStatus::stateText() const { return state_->text(); }
QString SidebarStatus::deviceText() const { return devices_->text(); }

void SidebarStatus::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(connected_ ? NorvTheme::teal() : NorvTheme::red());
    painter.drawEllipse(QRectF(12, height() / 2.0 - 4, 8, 8));
}

Sidebar::Sidebar(const QList<SidebarEntry>& entries, QWidget* parent) : QWidget(parent) {
    setMinimumWidth(190);
    setMaximumWidth(240);
    fillBackground(this, NorvTheme::panel());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* title = makeLabel(QStringLiteral("NORV"), NorvTheme::sectionFont(), NorvTheme::secondary(), this);
    title->setContentsMargins(12, 12, 12, 0);
    column->addWidget(title);

    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* list = new QWidget(scroll);
    fillBackground(list, NorvTheme::panel());
    auto* rowsLayout = new QVBoxLayout(list);
    rowsLayout->setContentsMargins(12, 12, 12, 12);
    rowsLayout->setSpacing(6);
    for (const SidebarEntry& entry : entries) {
        auto* row = new SidebarRow(entry, list);
        rowsLayout->addWidget(row);
        rows_.append(row);
        connect(row, &QAbstractButton::clicked, this, [this, id = entry.id] { Q_EMIT rowClicked(id); });
    }
    rowsLayout->addStretch();
    scroll->setWidget(list);
    column->addWidget(scroll, 1);

    status_ = new SidebarStatus(this);
    column->addWidget(status_);
}

void Sidebar::setSelected(const std::optional<QString>& id) {
    for (SidebarRow* row : rows_) row->setSelected(id && *id == row->entry().id);
}

}  // namespace norv
