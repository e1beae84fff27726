#include "ui/monitor/midi_monitor_table_view.h"

#include "ui/theme/norv_theme.h"

#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace norv {

namespace {

// Draws the message text and, for MPE expression messages, the outlined "MPE" badge after it.
class MessageDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!index.data(MidiMonitorTableModel::MpeRole).toBool()) return;
        const QString text = index.data(Qt::DisplayRole).toString();
        const QFont badgeFont = NorvTheme::systemFont(8, QFont::Black, true);
        const QFontMetrics textMetrics(option.font);
        const QFontMetrics badgeMetrics(badgeFont);
        const int x = option.rect.left() + 4 + textMetrics.horizontalAdvance(text) + 6;
        const QRect badge(x, option.rect.center().y() - (badgeMetrics.height() + 4) / 2,
                          badgeMetrics.horizontalAdvance(QStringLiteral("MPE")) + 10, badgeMetrics.height() + 4);
        if (badge.right() > option.rect.right()) return;
        painter->save();
        QColor outline = NorvTheme::violet();
        outline.setAlphaF(0.65f);
        painter->setPen(QPen(outline, 1));
        painter->drawRect(badge.adjusted(0, 0, -1, -1));
        painter->setFont(badgeFont);
        painter->setPen(NorvTheme::violet());
        painter->drawText(badge, Qt::AlignCenter, QStringLiteral("MPE"));
        painter->restore();
    }
};

}  // namespace

MidiMonitorTableView::MidiMonitorTableView(QWidget* parent)
    : QTableView(parent), model_(new MidiMonitorTableModel(this)) {
    setModel(model_);
    setItemDelegateForColumn(MidiMonitorTableModel::messageColumn, new MessageDelegate(this));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setShowGrid(false);
    setWordWrap(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(22);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setFrameShape(QFrame::NoFrame);
    setStyleSheet(QStringLiteral("QTableView { border: 1px solid %1; }").arg(NorvTheme::css(NorvTheme::stroke())));

    // Fixed widths stay; the others start at their ideal width and never go below their minimum.
    struct Width {
        int minimum;
        int ideal;
        bool fixed;
    };
    static constexpr Width widths[MidiMonitorTableModel::columnTotal] = {
        {88, 88, true},   {90, 120, false}, {96, 96, true},   {110, 145, false}, {34, 34, true},
        {82, 110, false}, {70, 110, false}, {74, 105, false}, {120, 190, false}, {130, 210, false},
    };
    QHeaderView* header = horizontalHeader();
    header->setMinimumSectionSize(34);
    header->setStretchLastSection(true);
    for (int column = 0; column < MidiMonitorTableModel::columnTotal; ++column) {
        header->setSectionResizeMode(column, widths[column].fixed ? QHeaderView::Fixed : QHeaderView::Interactive);
        header->resizeSection(column, widths[column].ideal);
    }

    const auto before = [this] { topRow_ = verticalScrollBar()->value() > 0 ? rowAt(0) : -1; };
    connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this, before);
    connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this, before);
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { keepShownRows(first, last, true); });
    connect(model_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { keepShownRows(first, last, false); });
}

void MidiMonitorTableView::keepShownRows(int first, int last, bool inserted) {
    if (topRow_ < 0 || first > topRow_) return;
    const int rows = inserted ? last - first + 1 : -(std::min(last, topRow_ - 1) - first + 1);
    topRow_ = -1;
    if (rows == 0) return;
    updateGeometries();  // the scroll range follows the new row count before the value moves
    verticalScrollBar()->setValue(verticalScrollBar()->value() + rows * verticalHeader()->defaultSectionSize());
}

}  // namespace norv
