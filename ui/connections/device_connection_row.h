#pragma once
// One connected device on the Connections page: transport, address, link round trips and mode.

#include "ui/connections/connection_status_model.h"

#include <QWidget>

namespace norv {

class DeviceConnectionRow : public QWidget {
    Q_OBJECT
public:
    explicit DeviceConnectionRow(const DeviceLinkContent& content, QWidget* parent = nullptr);
};

}  // namespace norv
