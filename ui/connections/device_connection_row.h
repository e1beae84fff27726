#pragma once
// One connected device on the Connections page: transport, address, link round trips and mode.

#include "ui/connections/connections_view_model.h"

#include <QWidget>

class QLabel;

namespace norv {

class SymbolLabel;

class DeviceConnectionRow : public QWidget {
    Q_OBJECT
public:
    explicit DeviceConnectionRow(const DeviceLinkContent& content, QWidget* parent = nullptr);
    void setContent(const DeviceLinkContent& content);

    QLabel* transportLabel() const { return transport_; }
    QLabel* modeLabel() const { return mode_; }

private:
    SymbolLabel* symbol_;
    QLabel* label_;
    QLabel* detail_;
    QLabel* link_;
    QLabel* signal_;
    QLabel* transport_;
    QLabel* mode_;
};

}  // namespace norv
