#pragma once
// Small presentation pieces shared by the pages. Each is built from values and keeps no state.

#include <QColor>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace norv {

class SymbolLabel;

// Eyebrow caption, title and an optional subtitle at the top of a page.
class PageHeader : public QWidget {
    Q_OBJECT
public:
    PageHeader(const QString& eyebrow, const QString& title, const QString& subtitle, QWidget* parent = nullptr);
    QLabel* eyebrowLabel() const { return eyebrow_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* subtitleLabel() const { return subtitle_; }  // null while the subtitle has been empty
    // Shows another subtitle in place; an empty one hides the line.
    void setSubtitle(const QString& subtitle);

private:
    QLabel* eyebrow_;
    QLabel* title_;
    QLabel* subtitle_ = nullptr;
};

// Centred placeholder where a list or panel has nothing to show.
class EmptyState : public QWidget {
    Q_OBJECT
public:
    EmptyState(const QString& symbol, const QString& title, const QString& detail, QWidget* parent = nullptr);
    SymbolLabel* symbolLabel() const { return symbol_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* detailLabel() const { return detail_; }  // null when the detail is empty

private:
    SymbolLabel* symbol_;
    QLabel* title_;
    QLabel* detail_ = nullptr;
};

// A square of `side` filled with its tint at 12 % opacity, the symbol centred in the tint.
class TintedSquare : public QWidget {
    Q_OBJECT
public:
    TintedSquare(const QString& symbol, const QColor& tint, int side, int symbolSize, QWidget* parent = nullptr);
    SymbolLabel* symbolLabel() const { return symbol_; }
    void setSymbol(const QString& symbol, const QColor& tint);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor tint_;
    int symbolSize_;
    SymbolLabel* symbol_;
};

// One tile of a status grid: tinted icon square, title, large value and a detail line.
class StatusCard : public QWidget {
    Q_OBJECT
public:
    StatusCard(const QString& title, const QString& value, const QString& detail, const QString& symbol,
               const QColor& tint, QWidget* parent = nullptr);
    SymbolLabel* symbolLabel() const { return symbol_; }
    QLabel* valueLabel() const { return value_; }
    // Shows new figures in place; the title stays.
    void setValues(const QString& value, const QString& detail, const QString& symbol, const QColor& tint);

private:
    TintedSquare* tile_;
    SymbolLabel* symbol_;
    QLabel* value_;
    QLabel* detail_;
};

// A label in one theme colour and font.
QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr);
// Sets a label's text colour; nothing happens when it already has it.
void setTextColor(QLabel* label, const QColor& color);

}  // namespace norv
