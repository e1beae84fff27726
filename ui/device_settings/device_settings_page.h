#pragma once
// The shared settings profiles of the current bridge session, each with a button that pushes
// it to every connected device, and the engine's summary of the last push.

#include "ui/overview/page_frame.h"

#include <QString>

class QLabel;
class QVBoxLayout;

namespace norv {

class BridgeStore;

class DeviceSettingsPage : public PageFrame {
    Q_OBJECT
public:
    explicit DeviceSettingsPage(BridgeStore& store, QWidget* parent = nullptr);

    void refresh();

private:
    BridgeStore& store_;
    QVBoxLayout* blocks_;
    QString shownKey_;
};

}  // namespace norv
