#pragma once
// The Diagnostics page's log list: the filtered lines in monospaced text coloured by level, or
// an empty state when none match. The page decides when to follow the end.

#include <QStringList>
#include <QWidget>

class QListView;
class QStackedLayout;
class QStringListModel;

namespace norv {

class EmptyState;

class DiagnosticsLogView : public QWidget {
    Q_OBJECT
public:
    explicit DiagnosticsLogView(QWidget* parent = nullptr);

    // Shows `rows`; the empty state names a search when `search` is not empty.
    void setRows(const QStringList& rows, const QString& search);
    void scrollToEnd();

    QListView* list() const { return list_; }
    EmptyState* emptyState() const { return empty_; }
    bool showingEmptyState() const;

private:
    QStackedLayout* stack_;
    QListView* list_;
    QStringListModel* model_;
    EmptyState* empty_ = nullptr;
    QWidget* emptyHolder_;
    QString emptyTitle_;
};

}  // namespace norv
