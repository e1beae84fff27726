#pragma once
// One transport tile: tinted symbol square, title, value and a detail line.

#include "ui/connections/connections_view_model.h"

#include <QWidget>

class QLabel;

namespace norv {

class SymbolLabel;

class ConnectionStatusTile : public QWidget {
    Q_OBJECT
public:
    explicit ConnectionStatusTile(const StatusTileContent& content, QWidget* parent = nullptr);
    const StatusTileContent& content() const { return content_; }
    void setContent(const StatusTileContent& content);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    StatusTileContent content_;
    SymbolLabel* symbol_;
    QLabel* title_;
    QLabel* value_;
    QLabel* detail_;
};

}  // namespace norv
