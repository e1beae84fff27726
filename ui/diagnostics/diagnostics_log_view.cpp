#include "ui/diagnostics/diagnostics_log_view.h"

#include "ui/components/row_edit_script.h"
#include "ui/diagnostics/diagnostics_view_model.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QListView>
#include <QScrollBar>
#include <QStackedLayout>
#include <QStyleOptionViewItem>
#include <QVBoxLayout>

#include <algorithm>

namespace norv {

// Lines coloured by their level words; rows change by insertion and removal only.
class LogLineModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    const QStringList& lines() const { return lines_; }

    void setLines(const QStringList& next) {
        const std::vector<QString> current(lines_.begin(), lines_.end());
        const std::vector<QString> wanted(next.begin(), next.end());
        applyRowEdits(
            current, wanted,
            [this](int row, int count) {
                beginRemoveRows({}, row, row + count - 1);
                lines_.remove(row, count);
                endRemoveRows();
            },
            [this, &next](int row, int first, int count) {
                beginInsertRows({}, row, row + count - 1);
                for (int i = 0; i < count; ++i) lines_.insert(row + i, next[first + i]);
                endInsertRows();
            });
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(lines_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= lines_.size()) return {};
        const QString& line = lines_[index.row()];
        if (role == Qt::DisplayRole) return line;
        if (role == Qt::ForegroundRole) {
            switch (DiagnosticsViewModel::tone(line)) {
                case LogLineTone::red: return NorvTheme::red();
                case LogLineTone::yellow: return NorvTheme::yellow();
                case LogLineTone::primary: return NorvTheme::primary();
            }
        }
        return {};
    }

private:
    QStringList lines_;
};

DiagnosticsLogView::DiagnosticsLogView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("diagnosticsLog"));
    setStyleSheet(QStringLiteral("#diagnosticsLog { border: 1px solid %1; }").arg(NorvTheme::css(NorvTheme::stroke())));
    fillBackground(this, NorvTheme::panel());
    // The list takes the page's remaining height, and never less than room for a few lines.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stack_ = new QStackedLayout(this);

    model_ = new LogLineModel(this);
    list_ = new QListView(this);
    list_->setModel(model_);
    list_->setUniformItemSizes(true);
    list_->setSpacing(3);  // 6 pt between lines
    list_->setFont(NorvTheme::systemFont(11, QFont::Normal, true));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list_->setStyleSheet(QStringLiteral("QListView { padding: 11px; background: transparent; }"));
    // Copy takes the selected lines, also while new lines arrive.
    auto* copy = new QAction(list_);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    list_->addAction(copy);
    connect(copy, &QAction::triggered, this, [this] { QApplication::clipboard()->setText(selectedText()); });
    stack_->addWidget(list_);
    // Lines arriving or dropping out above the top line move the scroll position with them, so
    // the lines the user is reading stay in place.
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    const auto before = [this] {
        const int step = rowStep();
        topRow_ = step > 0 ? list_->verticalScrollBar()->value() / step : -1;
    };
    connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this, before);
    connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this, before);
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        if (topRow_ > 0 && first <= topRow_) moveBy(last - first + 1);
    });
    connect(model_, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
        if (topRow_ > 0 && first < topRow_) moveBy(-(std::min(last, topRow_ - 1) - first + 1));
    });

    setMinimumHeight(heightFor(kMinimumLines));

    emptyHolder_ = new QWidget(this);
    auto* holderLayout = new QVBoxLayout(emptyHolder_);
    holderLayout->setContentsMargins(14, 14, 14, 14);
    stack_->addWidget(emptyHolder_);
}

void DiagnosticsLogView::setRows(const QStringList& rows, const QString& search) {
    model_->setLines(rows);
    if (!rows.isEmpty()) {
        stack_->setCurrentWidget(list_);
        return;
    }
    const QString title = DiagnosticsViewModel::emptyStateTitle(search);
    if (empty_ == nullptr || title != emptyTitle_) {
        delete empty_;
        empty_ = new EmptyState(QStringLiteral("doc.text.magnifyingglass"), title, QString(), emptyHolder_);
        emptyHolder_->layout()->addWidget(empty_);
        emptyTitle_ = title;
    }
    stack_->setCurrentWidget(emptyHolder_);
}

int DiagnosticsLogView::heightFor(int lines) const {
    // A line as the list's delegate sizes it, with the spacing above and below; then the list's
    // 11 px padding on both sides, a horizontal scroll bar for long lines and the 1 px outline.
    QStyleOptionViewItem option;
    option.initFrom(list_);
    option.font = list_->font();
    option.fontMetrics = QFontMetrics(option.font);
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("2026-10-03T17:30:00Z INFO [engine] Bridge started");
    const int line = list_->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), list_).height();
    return lines * (line + 2 * list_->spacing()) + 2 * 11 + list_->horizontalScrollBar()->sizeHint().height() + 2;
}

int DiagnosticsLogView::rowStep() const {
    // Every line has the same height; the list puts the spacing above and below each.
    return model_->rowCount() > 0 ? list_->sizeHintForRow(0) + 2 * list_->spacing() : 0;
}

void DiagnosticsLogView::moveBy(int rows) {
    list_->doItemsLayout();  // the scroll range follows the new row count before the value moves
    list_->verticalScrollBar()->setValue(list_->verticalScrollBar()->value() + rows * rowStep());
}

void DiagnosticsLogView::scrollToEnd() { list_->scrollToBottom(); }

QString DiagnosticsLogView::selectedText() const {
    QList<int> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (const int row : rows) lines.append(model_->lines()[row]);
    return lines.join(QLatin1Char('\n'));
}

bool DiagnosticsLogView::showingEmptyState() const { return stack_->currentWidget() == emptyHolder_; }

}  // namespace norv
