#pragma once
// The status line above the page: the last action's message, teal on success, red on failure.

#include <QWidget>
#include <optional>

class QLabel;
class QToolButton;

namespace norv {

class SymbolLabel;

class StatusNotice : public QWidget {
    Q_OBJECT
public:
    explicit StatusNotice(QWidget* parent = nullptr);

    // Hidden while there is no message; an unchanged message touches nothing.
    void setMessage(const std::optional<QString>& message, bool failed);

    QString message() const;
    bool failed() const { return failed_; }
    SymbolLabel* symbol() const { return symbol_; }
    QToolButton* dismissButton() const { return dismiss_; }

Q_SIGNALS:
    void dismissRequested();

private:
    SymbolLabel* symbol_;
    QLabel* text_;
    QToolButton* dismiss_;
    bool failed_ = false;
};

// "Bridge managed by another application · Read only", shown while an outside engine answers.
class ExternalEngineLine : public QWidget {
    Q_OBJECT
public:
    explicit ExternalEngineLine(QWidget* parent = nullptr);
    static QString text();
};

}  // namespace norv
