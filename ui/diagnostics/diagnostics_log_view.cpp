#include "ui/diagnostics/diagnostics_log_view.h"

#include "ui/diagnostics/diagnostics_view_model.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QListView>
#include <QStackedLayout>
#include <QStringListModel>
#include <QVBoxLayout>

namespace norv {

namespace {

// Lines coloured by their level words.
class LogLineModel : public QStringListModel {
public:
    using QStringListModel::QStringListModel;

    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::ForegroundRole) {
            switch (DiagnosticsViewModel::tone(QStringListModel::data(index, Qt::DisplayRole).toString())) {
                case LogLineTone::red: return NorvTheme::red();
                case LogLineTone::yellow: return NorvTheme::yellow();
                case LogLineTone::primary: return NorvTheme::primary();
            }
        }
        if (role == Qt::EditRole) return {};
        return QStringListModel::data(index, role);
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return QStringListModel::flags(index) & ~Qt::ItemIsEditable;
    }
};

}  // namespace

DiagnosticsLogView::DiagnosticsLogView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("diagnosticsLog"));
    setStyleSheet(QStringLiteral("#diagnosticsLog { border: 1px solid %1; }").arg(NorvTheme::css(NorvTheme::stroke())));
    fillBackground(this, NorvTheme::panel());
    stack_ = new QStackedLayout(this);

    model_ = new LogLineModel(this);
    list_ = new QListView(this);
    list_->setModel(model_);
    list_->setUniformItemSizes(true);
    list_->setSpacing(3);  // 6 pt between lines
    list_->setFont(NorvTheme::systemFont(11, QFont::Normal, true));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list_->setStyleSheet(QStringLiteral("QListView { padding: 11px; background: transparent; }"));
    stack_->addWidget(list_);

    emptyHolder_ = new QWidget(this);
    auto* holderLayout = new QVBoxLayout(emptyHolder_);
    holderLayout->setContentsMargins(14, 14, 14, 14);
    stack_->addWidget(emptyHolder_);
}

void DiagnosticsLogView::setRows(const QStringList& rows, const QString& search) {
    if (model_->stringList() != rows) model_->setStringList(rows);
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

void DiagnosticsLogView::scrollToEnd() { list_->scrollToBottom(); }

bool DiagnosticsLogView::showingEmptyState() const { return stack_->currentWidget() == emptyHolder_; }

}  // namespace norv
