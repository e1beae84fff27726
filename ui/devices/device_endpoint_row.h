#pragma once
// One MIDI port in a device card's details: its role with a symbol and its port name, which
// the user can select. The card keeps one per endpoint id and hands it new content in place.

#include "ui/devices/device_card_model.h"

#include <QWidget>

class QLabel;

namespace norv {

class SymbolLabel;

class DeviceEndpointRow : public QWidget {
    Q_OBJECT
public:
    explicit DeviceEndpointRow(const EndpointRowContent& content, QWidget* parent = nullptr);
    void setContent(const EndpointRowContent& content);

private:
    QWidget* role_;
    SymbolLabel* symbol_;
    QLabel* title_;
    QLabel* name_;
};

}  // namespace norv
