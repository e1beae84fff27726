#pragma once
// One line per connected controller device: platform symbol, label, port names, transport word.

#include "model/bridge_device.h"

#include <QWidget>
#include <vector>

class QLabel;

namespace norv {

class SymbolLabel;

// The device's endpoints in engine order, keeping only the first of each source unique id, so
// that a port the engine lists once per direction is named once.
std::vector<MidiEndpoint> physicalEndpoints(const BridgeDevice& device);

class CompactDeviceRow : public QWidget {
    Q_OBJECT
public:
    explicit CompactDeviceRow(const BridgeDevice& device, QWidget* parent = nullptr);
    void setContent(const BridgeDevice& device);

    // The port names joined by two spaces.
    static QString endpointLine(const BridgeDevice& device);

    SymbolLabel* symbolLabel() const { return symbol_; }
    QLabel* endpointsLabel() const { return endpoints_; }
    QLabel* transportLabel() const { return transport_; }

private:
    SymbolLabel* symbol_;
    QLabel* label_;
    QLabel* endpoints_;
    QLabel* transport_;
};

}  // namespace norv
