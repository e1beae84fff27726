#include "ui/monitor/midi_monitor_table_view.h"

#include "ui/theme/norv_theme.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTransform>
#include <utility>

namespace norv {

namespace {

// Draws every cell from its row's laid-out text, so a redraw shapes no text it shaped before;
// selected rows get the style's highlight. Message cells of MPE expression messages carry the
// outlined "MPE" badge after the text. The badge's font, size and colours are made once.
class CellDelegate : public QStyledItemDelegate {
public:
    CellDelegate(const MidiMonitorTableModel* model, QObject* parent)
        : QStyledItemDelegate(parent),
          model_(model),
          badgeFont_(NorvTheme::systemFont(8, QFont::Black, true)),
          badgeSize_(QFontMetrics(badgeFont_).horizontalAdvance(QStringLiteral("MPE")) + 10,
                     QFontMetrics(badgeFont_).height() + 4) {
        QColor outline = NorvTheme::violet();
        outline.setAlphaF(0.65f);
        outline_ = QPen(outline, 1);
        badgeText_.setTextFormat(Qt::PlainText);
        badgeText_.prepare(QTransform(), badgeFont_);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        const int row = index.row();
        const int column = index.column();
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        if (selected) style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, widget);

        const QFont* cellFont = model_->cellFont(column);
        const QFont& font = cellFont != nullptr ? *cellFont : option.font;
        const QPalette::ColorGroup group = (option.state & QStyle::State_Enabled) == 0  ? QPalette::Disabled
                                           : (option.state & QStyle::State_Active) == 0 ? QPalette::Inactive
                                                                                        : QPalette::Normal;
        const QColor cellColor = model_->cellColor(row, column);
        const QColor color = selected              ? option.palette.color(group, QPalette::HighlightedText)
                             : cellColor.isValid() ? cellColor
                                                   : option.palette.color(group, QPalette::Text);
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect textRect = option.rect.adjusted(margin, 0, -margin, 0);
        // A cut message leaves room for its badge.
        const bool badge = model_->showsBadge(row, column);
        const QRect labelRect = badge ? textRect.adjusted(0, 0, -(6 + badgeSize_.width()), 0) : textRect;
        // Every drawing here sets the font, pen and clip it draws with, so the painter needs no
        // saving. Names from devices and the engine can hold line breaks or stacked marks that
        // reach past their row: each cell draws within its own rectangle, as item views do.
        painter->setClipRect(option.rect);
        if (painter->pen().color() != color) painter->setPen(color);
        const int width = model_->paintedText(row, column, font).draw(*painter, labelRect, font);
        if (badge) paintBadge(painter, option, labelRect.left() + width + 6);
    }

private:
    void paintBadge(QPainter* painter, const QStyleOptionViewItem& option, int x) const {
        const QRect badge(QPoint(x, option.rect.center().y() - badgeSize_.height() / 2), badgeSize_);
        if (badge.right() > option.rect.right()) return;
        painter->setPen(outline_);
        painter->drawRect(badge.adjusted(0, 0, -1, -1));
        painter->setFont(badgeFont_);
        painter->setPen(NorvTheme::violet());
        const QSizeF size = badgeText_.size();
        painter->drawStaticText(QPointF(badge.left() + (badge.width() - size.width()) / 2,
                                        badge.top() + (badge.height() - size.height()) / 2),
                                badgeText_);
    }

    const MidiMonitorTableModel* model_;
    QFont badgeFont_;
    QSize badgeSize_;
    QStaticText badgeText_{QStringLiteral("MPE")};
    QPen outline_;
};

}  // namespace

MidiMonitorTableView::MidiMonitorTableView(QWidget* parent)
    : QTableView(parent), model_(new MidiMonitorTableModel(this)) {
    setModel(model_);
    setItemDelegate(new CellDelegate(model_, this));
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
    // The header knows one minimum for all columns; each column's own is kept here.
    connect(header, &QHeaderView::sectionResized, this, [header](int column, int, int size) {
        if (column >= 0 && column < MidiMonitorTableModel::columnTotal && size < widths[column].minimum)
            header->resizeSection(column, widths[column].minimum);
    });

    const auto before = [this] { topRow_ = verticalScrollBar()->value() > 0 ? rowAt(0) : -1; };
    connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this, before);
    connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this, before);
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        followRows(first, last, true);
        keepShownRows(first, last, true);
    });
    connect(model_, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
        followRows(first, last, false);
        keepShownRows(first, last, false);
    });
    // Cells changed in place (a device renamed) while a layout is pending are not repainted by the
    // item view, which leaves that to the layout; a layout that only moved the painted rows does
    // not repaint them either.
    connect(model_, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& first, const QModelIndex& last) {
        const int left = columnViewportPosition(first.column());
        const int right = columnViewportPosition(last.column()) + columnWidth(last.column());
        viewport()->update(QRect(left, 0, right - left, viewport()->height()));
    });
    const auto all = [this] { pending_ = Pending::all; };
    connect(model_, &QAbstractItemModel::modelReset, this, all);
    connect(model_, &QAbstractItemModel::layoutChanged, this, all);
}

// After every change of rows the view lays out its headers and scroll bars again, which repaints
// the whole table around the rows. A redraw that inserts at the top as many rows as it trims at
// the bottom leaves all of that as it was: then only the rows are drawn.
void MidiMonitorTableView::updateGeometries() {
    const Geometry now{model_->rowCount(), viewport()->size(), horizontalHeader()->length(), verticalHeader()->length(),
                       horizontalHeader()->sizeHint().height()};
    if (now == laidOut_) return;
    const Geometry before = std::exchange(laidOut_, now);
    if (setRowsRange(before, now)) return;
    QTableView::updateGeometries();
}

// Rows added or removed change only the vertical scroll range. While the scroll bar stays shown
// and its value within the range, the range is set alone: the scroll area's own handling of a
// range change lays out both scroll bars again and repaints them and the frame around them.
bool MidiMonitorTableView::setRowsRange(const Geometry& before, const Geometry& now) {
    QScrollBar* bar = verticalScrollBar();
    const int maximum = now.height - now.viewport.height();
    const bool onlyRows =
        before.rows >= 0 && before.viewport == now.viewport && before.width == now.width && before.header == now.header;
    if (!onlyRows || !bar->isVisible() || bar->maximum() <= 0 || maximum <= 0 || bar->value() > maximum) return false;
    const QSignalBlocker blocker(bar);
    bar->setRange(0, maximum);
    return true;
}

// Rows inserted on top move the painted rows down by their height: the pixels move and only the
// strip they leave is painted. Rows changed below the viewport change nothing painted.
void MidiMonitorTableView::followRows(int first, int last, bool inserted) {
    if (pending_ == Pending::all) return;
    const int rowHeight = verticalHeader()->defaultSectionSize();
    const bool atTop = verticalScrollBar()->value() == 0 && horizontalScrollBar()->value() == 0;
    if (!atTop || !viewport()->isVisible() || !viewport()->updatesEnabled()) {
        pending_ = Pending::all;
    } else if (first * rowHeight >= viewport()->height()) {
        if (pending_ == Pending::nothing) pending_ = Pending::moved;
    } else if (inserted && first == 0) {
        viewport()->scroll(0, (last - first + 1) * rowHeight);
        pending_ = Pending::moved;
    } else {
        pending_ = Pending::all;
    }
}

// Rows are all one height and nothing spans or has a grid, so the cells a paint touches follow
// from its rectangles, and each is drawn by the delegate alone: the item view's own paint builds
// and styles every cell's options again, which costs as much as drawing its text.
void MidiMonitorTableView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QBrush background = viewport()->palette().brush(viewport()->backgroundRole());
    for (const QRect& area : event->region()) painter.fillRect(area, background);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State state = option.state;
    const QHeaderView* header = horizontalHeader();
    QAbstractItemDelegate* delegate = itemDelegate();
    const QItemSelectionModel* selection = selectionModel();
    const int rows = model_->rowCount();
    for (const QRect& area : event->region()) {
        const int first = rowAt(area.top());
        if (first < 0) continue;
        const int below = rowAt(area.bottom());
        const int last = below < 0 ? rows - 1 : below;
        for (int visual = 0; visual < header->count(); ++visual) {
            const int column = header->logicalIndex(visual);
            const int x = columnViewportPosition(column);
            const int width = columnWidth(column);
            if (header->isSectionHidden(column) || x > area.right() || x + width <= area.left()) continue;
            for (int row = first; row <= last; ++row) {
                const QModelIndex index = model_->index(row, column);
                option.rect = QRect(x, rowViewportPosition(row), width, rowHeight(row));
                option.state = state;
                if (selection != nullptr && selection->isSelected(index)) option.state |= QStyle::State_Selected;
                delegate->paint(&painter, option, index);
            }
        }
    }
}

// The style sheet's outline leaves the rows' area to be filled by its style, under which every
// widget behind the table is painted first and moving painted rows is a full repaint. Opaque and
// filled by the table's own paint with the same brush, the area alone is painted, once, with one
// painter, and rows' pixels move.
bool MidiMonitorTableView::event(QEvent* event) {
    const bool handled = QTableView::event(event);
    if (event->type() == QEvent::Hide) pending_ = Pending::all;  // rows hidden are painted when shown
    if (event->type() == QEvent::Polish || event->type() == QEvent::StyleChange) {
        viewport()->setAutoFillBackground(false);
        viewport()->setAttribute(Qt::WA_StyledBackground, false);
        viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    }
    return handled;
}

// The item view lays out and paints the whole table after row changes; when the painted rows
// were moved along with them, only the scroll range follows.
void MidiMonitorTableView::doItemsLayout() {
    const Pending pending = std::exchange(pending_, Pending::nothing);
    if (pending != Pending::moved) {
        QTableView::doItemsLayout();
        return;
    }
    const QSize viewport = this->viewport()->size();
    updateGeometries();
    if (this->viewport()->size() != viewport) this->viewport()->update();
    if (!verticalHeader()->updatesEnabled()) verticalHeader()->setUpdatesEnabled(true);
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
