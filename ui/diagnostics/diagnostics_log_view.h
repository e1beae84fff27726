#pragma once
// The Diagnostics page's log list: the filtered lines in monospaced text coloured by level, or
// an empty state when none match. New lines are inserted and dropped lines removed as rows, so
// a selection, the current row and the scroll position stay while the engine logs. The page
// decides when to follow the end.

#include <QStringList>
#include <QWidget>

class QListView;
class QStackedLayout;

namespace norv {

class EmptyState;
class LogLineModel;

class DiagnosticsLogView : public QWidget {
    Q_OBJECT
public:
    // Whole lines the list keeps room for however little height the page has.
    static constexpr int kMinimumLines = 10;

    explicit DiagnosticsLogView(QWidget* parent = nullptr);

    // Shows `rows`; the empty state names a search when `search` is not empty.
    void setRows(const QStringList& rows, const QString& search);
    void scrollToEnd();
    // The selected lines, in list order, one a line (what Copy puts on the clipboard).
    QString selectedText() const;

    QListView* list() const { return list_; }
    EmptyState* emptyState() const { return empty_; }
    bool showingEmptyState() const;

private:
    int heightFor(int lines) const;
    int rowStep() const;
    void moveBy(int rows);

    QStackedLayout* stack_;
    QListView* list_;
    LogLineModel* model_;
    EmptyState* empty_ = nullptr;
    QWidget* emptyHolder_;
    QString emptyTitle_;
    int topRow_ = -1;  // the top line before rows change
};

}  // namespace norv
