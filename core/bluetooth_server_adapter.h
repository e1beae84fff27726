#pragma once
// The store's Bluetooth seam over the real Bluetooth server.

#include "core/bridge_store_ports.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace norv {

class BluezPeripheralBackend;
class NorvBluetoothServer;

// The Bluetooth server on the one backend chosen here: BlueZ whenever the system bus answers (the
// backend follows bluetoothd and adapters that appear later), else a stack without a radio that
// reports itself unavailable. The look runs off the GUI thread; a start asked for meanwhile waits
// for it. NORV_BLUEZ_FAKE_L2CAP=1 (tests only) publishes the channels on stand-in sockets.
class BluetoothServerAdapter : public BluetoothPort {
public:
    BluetoothServerAdapter();
    ~BluetoothServerAdapter() override;

    void start(const QString& name, quint16 port, quint16 secureMidiPort) override;
    void stop() override;
    void setHandlers(std::function<void(const QString&)> onStatus,
                     std::function<void(const QString&)> onEvent) override;

private:
    struct Start {
        QString name;
        quint16 port;
        quint16 secureMidiPort;
    };

    void choose(std::shared_ptr<BluezPeripheralBackend> backend, const QString& reason);
    void applyHandlers();

    QObject context_;  // owns the look for BlueZ while it runs
    std::unique_ptr<NorvBluetoothServer> server_;
    std::optional<Start> pending_;
    std::function<void(const QString&)> onStatus_;
    std::function<void(const QString&)> onEvent_;
};

}  // namespace norv
