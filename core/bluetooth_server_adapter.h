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
// for it.
class BluetoothServerAdapter : public BluetoothPort {
public:
    // Where BlueZ's L2CAP channels are published: kernel sockets on the radio, or AF_UNIX
    // stand-ins in a private folder so the whole peripheral runs on a machine without Bluetooth.
    enum class L2capChannels { kernelSockets, standInSockets };

    explicit BluetoothServerAdapter(L2capChannels channels);
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
