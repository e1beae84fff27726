#pragma once

#include <QObject>
#include <QString>
#include <QUuid>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "bluetooth/bluetooth_clock.h"
#include "bluetooth/bluetooth_peripheral_manager.h"
#include "bluetooth/codec/bluetooth_publication_state.h"
#include "bluetooth/codec/bluetooth_startup_recovery.h"

namespace norv {

class BluetoothPipe;

// The Bluetooth LE peripheral through which devices reach the engine. It publishes an encrypted
// L2CAP channel for the state stream and one for MIDI, each on a peripheral manager of its own,
// then a GATT service whose two read characteristics name both PSMs, and advertises it. Every
// channel a central opens is piped to the engine over TCP on 127.0.0.1. Start-up failures are
// retried after 1, 3 and 10 s; a fourth asks the user to restart Bluetooth. An advertisement the
// platform drops by itself is registered again while the radio is on.
//
// Status words: "OFF", "STARTING", "DISCOVERABLE", "RETRYING", "RESTART BLUETOOTH",
// "PERMISSION REQUIRED", "BLUETOOTH OFF", "UNAVAILABLE", and "NOT PAIRABLE" in place of
// "DISCOVERABLE" while the platform lets no central pair (centrals cannot read or open the
// encrypted channels then). GUI thread only.
class NorvBluetoothServer : public QObject, public BluetoothPeripheralManagerDelegate {
    Q_OBJECT

public:
    explicit NorvBluetoothServer(std::shared_ptr<BluetoothPeripheralBackend> backend,
                                 std::shared_ptr<BluetoothClock> clock = nullptr, QObject* parent = nullptr);
    ~NorvBluetoothServer() override;

    // Does nothing while running; a caller that wants other ports stops first. Both calls are
    // refused (and logged) from any thread but the server's own.
    void start(const QString& name, std::uint16_t port, std::uint16_t secureMidiPort);
    void stop();

    QString status() const { return status_; }
    bool running() const { return running_; }
    QString name() const { return name_; }
    std::uint16_t port() const { return port_; }
    std::uint16_t secureMidiPort() const { return secureMidiPort_; }
    std::size_t openPipes() const { return pipes_.size(); }

    // Told each new status word, and each event line.
    std::function<void(const QString&)> onStatus;
    std::function<void(const QString&)> onEvent;

    void peripheralManagerDidUpdateState(BluetoothPeripheralManager& manager) override;
    void peripheralManagerDidPublishChannel(BluetoothPeripheralManager& manager, std::uint16_t psm,
                                            const std::optional<BluetoothPlatformError>& error) override;
    void peripheralManagerDidAddService(BluetoothPeripheralManager& manager, const std::string& serviceUuid,
                                        const std::optional<BluetoothPlatformError>& error) override;
    void peripheralManagerDidStartAdvertising(BluetoothPeripheralManager& manager,
                                              const std::optional<BluetoothPlatformError>& error) override;
    void peripheralManagerDidReceiveRead(BluetoothPeripheralManager& manager, BluetoothReadRequest& request) override;
    void peripheralManagerDidOpenChannel(BluetoothPeripheralManager& manager,
                                         std::shared_ptr<BluetoothL2capChannel> channel,
                                         const std::optional<BluetoothPlatformError>& error) override;
    void peripheralManagerDidStopAdvertising(BluetoothPeripheralManager& manager) override;
    void peripheralManagerDidUpdatePairable(BluetoothPeripheralManager& manager) override;

    // ATT result codes of read requests.
    static constexpr int attSuccess = 0x00;
    static constexpr int attRequestNotSupported = 0x06;
    static constexpr int attInvalidOffset = 0x07;
    static constexpr int attUnlikelyError = 0x0E;

private:
    using Fields = std::vector<std::pair<QString, QString>>;
    using Role = BluetoothPublicationState::Role;

    // The server lives on one thread; a call from any other is refused and logged.
    bool onOwnThread(const char* operation) const;
    void setStatus(const QString& status);
    // Whether advertising has been confirmed, and the word that says so.
    bool advertised() const;
    QString advertisedStatus() const;
    void createManagers();
    void publishIfReady();
    void advertise();
    void scheduleRestart(const QString& reason);
    void teardown();
    std::optional<Role> roleOf(const BluetoothPeripheralManager& manager) const;
    void writeEvent(const QString& name, const Fields& fields);
    void adoptPipe(const QUuid& pipeId, std::unique_ptr<BluetoothPipe> pipe, std::uint16_t psm, const QUuid& peer);
    void closePipe(const QUuid& pipeId, const QString& reason);
    void retirePipe(const QUuid& pipeId);
    void stateClosed(const QUuid& peer, const QUuid& pipeId, const QString& reason);
    void midiClosed(const QUuid& peer, const QUuid& pipeId, const QString& reason);
    static void refuse(BluetoothL2capChannel& channel);

    std::shared_ptr<BluetoothPeripheralBackend> backend_;
    std::shared_ptr<BluetoothClock> clock_;
    QString status_ = QStringLiteral("OFF");
    bool running_ = false;
    QString name_ = QStringLiteral("Norv Bridge");
    std::uint16_t port_ = 9311;
    std::uint16_t secureMidiPort_ = 9312;
    std::unique_ptr<BluetoothPeripheralManager> manager_;
    std::unique_ptr<BluetoothPeripheralManager> midiManager_;
    BluetoothPublicationState publication_;
    BluetoothStartupRecovery recovery_;
    std::unique_ptr<BluetoothTimer> startupDeadline_;
    std::unique_ptr<BluetoothTimer> retryTimer_;
    int generation_ = 0;
    bool radioInterrupted_ = false;
    std::map<QUuid, std::unique_ptr<BluetoothPipe>> pipes_;
    std::map<QUuid, QUuid> statePipes_;
    std::map<QUuid, std::set<QUuid>> midiPipes_;
    // Closed pipes wait here until the event loop is back, so a pipe is never destroyed while
    // one of its own calls is still on the stack.
    std::vector<std::unique_ptr<BluetoothPipe>> retired_;
};

}  // namespace norv
