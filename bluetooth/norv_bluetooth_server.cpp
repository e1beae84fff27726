#include "bluetooth/norv_bluetooth_server.h"

#include <QThread>
#include <QTimer>
#include <algorithm>

#include "bluetooth/bluetooth_log.h"
#include "bluetooth/bluetooth_pipe.h"
#include "bluetooth/codec/norv_bluetooth_wire.h"
#include "bluetooth/system_bluetooth_clock.h"

namespace norv {

namespace {

constexpr double publicationDeadline = 12.0;
constexpr int maximumMidiPipes = 2;
constexpr int eventValueLimit = 240;
const QString discoverable = QStringLiteral("DISCOVERABLE");
const QString notPairable = QStringLiteral("NOT PAIRABLE");

QString roleName(BluetoothPublicationState::Role role) {
    return role == BluetoothPublicationState::Role::state ? QStringLiteral("state") : QStringLiteral("midi");
}

QString describe(const BluetoothPlatformError& error) { return QString::fromStdString(error.description); }

// The first 240 characters of an event value, one fewer when the cut would split a surrogate pair.
QString eventValue(const QString& value) {
    if (value.size() <= eventValueLimit) return value;
    const int length = value.at(eventValueLimit - 1).isHighSurrogate() ? eventValueLimit - 1 : eventValueLimit;
    return value.left(length);
}

}  // namespace

NorvBluetoothServer::NorvBluetoothServer(std::shared_ptr<BluetoothPeripheralBackend> backend,
                                         std::shared_ptr<BluetoothClock> clock, QObject* parent)
    : QObject(parent),
      backend_(std::move(backend)),
      clock_(clock ? std::move(clock) : std::make_shared<SystemBluetoothClock>()) {}

NorvBluetoothServer::~NorvBluetoothServer() {
    onStatus = nullptr;
    onEvent = nullptr;
    running_ = false;
    teardown();
    retired_.clear();
}

bool NorvBluetoothServer::onOwnThread(const char* operation) const {
    if (QThread::currentThread() == thread()) return true;
    qCWarning(bluetoothLog, "Bluetooth server: %s refused, called from a thread other than its own", operation);
    return false;
}

void NorvBluetoothServer::start(const QString& name, std::uint16_t port, std::uint16_t secureMidiPort) {
    if (!onOwnThread("start") || running_) return;
    running_ = true;
    name_ = name;
    port_ = port;
    secureMidiPort_ = secureMidiPort;
    recovery_.failures = 0;
    createManagers();
}

void NorvBluetoothServer::stop() {
    if (!onOwnThread("stop")) return;
    running_ = false;
    teardown();
    recovery_.failures = 0;
    setStatus(QStringLiteral("OFF"));
}

void NorvBluetoothServer::setStatus(const QString& status) {
    if (status == status_) return;
    status_ = status;
    if (onStatus) onStatus(status);
}

bool NorvBluetoothServer::advertised() const { return status_ == discoverable || status_ == notPairable; }

QString NorvBluetoothServer::advertisedStatus() const {
    return !manager_ || manager_->pairable() ? discoverable : notPairable;
}

void NorvBluetoothServer::createManagers() {
    setStatus(QStringLiteral("STARTING"));
    radioInterrupted_ = false;
    manager_ = backend_->createManager(this);
    midiManager_ = backend_->createManager(this);
}

std::optional<NorvBluetoothServer::Role> NorvBluetoothServer::roleOf(const BluetoothPeripheralManager& manager) const {
    if (manager_ && &manager == manager_.get()) return Role::state;
    if (midiManager_ && &manager == midiManager_.get()) return Role::midi;
    return std::nullopt;
}

void NorvBluetoothServer::writeEvent(const QString& name, const Fields& fields) {
    if (!onEvent) return;
    auto sorted = fields;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QString line = name;
    for (const auto& [field, value] : sorted) {
        if (field == QLatin1String("peer")) continue;  // lines never name a central
        line += QLatin1Char(' ') + field + QLatin1Char('=') + eventValue(value);
    }
    onEvent(line);
}

void NorvBluetoothServer::peripheralManagerDidUpdateState(BluetoothPeripheralManager& manager) {
    if (!running_) return;
    const auto role = roleOf(manager);
    if (!role) return;
    const int state = manager.radioState();
    const int generation = generation_;
    writeEvent(QStringLiteral("radio_state"), {{QStringLiteral("role"), roleName(*role)},
                                          {QStringLiteral("state"), QString::number(state)},
                                          {QStringLiteral("authorization"), QString::number(backend_->authorization())}});
    if (!running_ || generation != generation_) return;

    if (state == radioUnknown) return;
    if (state == radioPoweredOn) {
        if (radioInterrupted_) {
            teardown();
            recovery_.failures = 0;
            createManagers();
        } else {
            publishIfReady();
        }
        return;
    }
    radioInterrupted_ = true;
    startupDeadline_.reset();
    std::vector<QUuid> ids;
    for (const auto& entry : pipes_) ids.push_back(entry.first);
    for (const auto& id : ids) closePipe(id, QStringLiteral("radio unavailable"));
    if (!running_ || generation != generation_) return;
    if (manager_) manager_->stopAdvertising();
    setStatus(state == radioUnauthorized  ? QStringLiteral("PERMISSION REQUIRED")
              : state == radioPoweredOff ? QStringLiteral("BLUETOOTH OFF")
                                         : QStringLiteral("UNAVAILABLE"));
}

void NorvBluetoothServer::publishIfReady() {
    if (!running_ || advertised()) return;
    if (!manager_ || manager_->radioState() != radioPoweredOn) return;
    if (!midiManager_ || midiManager_->radioState() != radioPoweredOn) return;
    if (recovery_.failures >= 4) return;
    if (publication_.requested.insert(Role::state).second) manager_->publishL2capChannel(true);
    if (publication_.requested.insert(Role::midi).second) midiManager_->publishL2capChannel(true);
    if (!startupDeadline_) {
        const int generation = generation_;
        startupDeadline_ = clock_->startTimer(publicationDeadline, [this, generation] {
            if (generation != generation_) return;
            scheduleRestart(QStringLiteral("Bluetooth publication timed out"));
        });
    }
}

void NorvBluetoothServer::peripheralManagerDidPublishChannel(BluetoothPeripheralManager& manager, std::uint16_t psm,
                                                             const std::optional<BluetoothPlatformError>& error) {
    if (!running_) return;
    const auto role = roleOf(manager);
    if (!role) return;
    if (error) {
        scheduleRestart(describe(*error));
        return;
    }
    if (!publication_.published(psm, *role)) {
        if (psm != publication_.statePSM && psm != publication_.midiPSM) manager.unpublishL2capChannel(psm);
        return;
    }
    const int generation = generation_;
    writeEvent(QStringLiteral("channel_published"),
          {{QStringLiteral("role"), roleName(*role)}, {QStringLiteral("psm"), QString::number(psm)}});
    if (!running_ || generation != generation_) return;
    if (publication_.statePSM && publication_.midiPSM && !publication_.serviceRequested) {
        publication_.serviceRequested = true;
        BluetoothGattService service{NorvBluetoothWire::service, true, {}};
        service.characteristics.push_back({NorvBluetoothWire::configuration, true, true});
        service.characteristics.push_back({NorvBluetoothWire::portableConfiguration, true, true});
        manager_->addService(service);
    }
}

void NorvBluetoothServer::peripheralManagerDidAddService(BluetoothPeripheralManager& manager,
                                                         const std::string& serviceUuid,
                                                         const std::optional<BluetoothPlatformError>& error) {
    if (!running_ || &manager != manager_.get() || serviceUuid != NorvBluetoothWire::service) return;
    if (error) {
        scheduleRestart(describe(*error));
        return;
    }
    advertise();
}

void NorvBluetoothServer::advertise() {
    manager_->startAdvertising({NorvBluetoothWire::service}, name_.toStdString());
    writeEvent(QStringLiteral("advertising"), {{QStringLiteral("state_psm"), QString::number(publication_.statePSM.value_or(0))},
                                          {QStringLiteral("midi_psm"), QString::number(publication_.midiPSM.value_or(0))}});
}

void NorvBluetoothServer::peripheralManagerDidStartAdvertising(BluetoothPeripheralManager& manager,
                                                               const std::optional<BluetoothPlatformError>& error) {
    if (!running_ || &manager != manager_.get()) return;
    if (error) {
        scheduleRestart(describe(*error));
    } else if (!manager_->isAdvertising()) {
        scheduleRestart(QStringLiteral("Bluetooth advertising unavailable"));
    } else {
        startupDeadline_.reset();
        recovery_.failures = 0;
        setStatus(advertisedStatus());
    }
}

void NorvBluetoothServer::peripheralManagerDidStopAdvertising(BluetoothPeripheralManager& manager) {
    if (!running_ || &manager != manager_.get() || !advertised()) return;
    // The channels and the service stay; only the advertisement is registered again, once the
    // radio is on (a radio that comes back rebuilds everything anyway).
    setStatus(QStringLiteral("STARTING"));
    if (!running_ || !manager_ || manager_->radioState() != radioPoweredOn) return;
    advertise();
}

void NorvBluetoothServer::peripheralManagerDidUpdatePairable(BluetoothPeripheralManager& manager) {
    if (!running_ || &manager != manager_.get()) return;
    const int generation = generation_;
    writeEvent(QStringLiteral("pairing"), {{QStringLiteral("pairable"), manager.pairable() ? QStringLiteral("true")
                                                                                         : QStringLiteral("false")}});
    if (!running_ || generation != generation_ || !advertised()) return;
    setStatus(advertisedStatus());
}

void NorvBluetoothServer::scheduleRestart(const QString& reason) {
    if (!running_ || retryTimer_) return;
    int generation = generation_;
    writeEvent(QStringLiteral("startup_failed"), {{QStringLiteral("reason"), reason}});
    if (!running_ || generation != generation_) return;
    const auto delay = recovery_.nextDelay();
    teardown();
    generation = generation_;
    if (delay) {
        setStatus(QStringLiteral("RETRYING"));
        if (!running_ || generation != generation_) return;
        retryTimer_ = clock_->startTimer(*delay, [this, generation] {
            if (!running_ || generation != generation_) return;
            retryTimer_.reset();
            createManagers();
        });
    } else {
        setStatus(QStringLiteral("RESTART BLUETOOTH"));
        if (!running_ || generation != generation_) return;
        // Fresh managers publish nothing while the failure count stands at 4; the radio going
        // off and on again, or stop and start, begins afresh.
        radioInterrupted_ = false;
        manager_ = backend_->createManager(this);
        midiManager_ = backend_->createManager(this);
    }
}

void NorvBluetoothServer::teardown() {
    ++generation_;
    startupDeadline_.reset();
    retryTimer_.reset();
    // Close handlers change the tables, so walk a copy of the ids.
    std::vector<QUuid> ids;
    for (const auto& entry : pipes_) ids.push_back(entry.first);
    for (const auto& id : ids) closePipe(id, QStringLiteral("bridge transport closed"));
    for (auto& entry : pipes_) retired_.push_back(std::move(entry.second));
    if (!pipes_.empty()) QTimer::singleShot(0, this, [this] { retired_.clear(); });
    pipes_.clear();
    statePipes_.clear();
    midiPipes_.clear();
    if (manager_) {
        manager_->stopAdvertising();
        manager_->removeAllServices();
        if (publication_.statePSM) manager_->unpublishL2capChannel(*publication_.statePSM);
    }
    if (midiManager_ && publication_.midiPSM) midiManager_->unpublishL2capChannel(*publication_.midiPSM);
    if (manager_) manager_->setDelegate(nullptr);
    if (midiManager_) midiManager_->setDelegate(nullptr);
    manager_.reset();
    midiManager_.reset();
    publication_ = {};
}

void NorvBluetoothServer::peripheralManagerDidReceiveRead(BluetoothPeripheralManager& manager,
                                                          BluetoothReadRequest& request) {
    if (!running_ || &manager != manager_.get()) {
        manager.respond(request, attUnlikelyError);
        return;
    }
    if (request.characteristic != NorvBluetoothWire::configuration &&
        request.characteristic != NorvBluetoothWire::portableConfiguration) {
        manager.respond(request, attRequestNotSupported);
        return;
    }
    if (!publication_.statePSM || !publication_.midiPSM) {
        manager.respond(request, attRequestNotSupported);
        return;
    }
    const auto value = NorvBluetoothWire::configurationValue(*publication_.statePSM, *publication_.midiPSM);
    if (request.offset < 0 || request.offset > static_cast<long>(value.size())) {
        manager.respond(request, attInvalidOffset);
        return;
    }
    request.value.assign(value.begin() + request.offset, value.end());
    manager.respond(request, attSuccess);
}

void NorvBluetoothServer::refuse(BluetoothL2capChannel& channel) {
    channel.inputStream().close();
    channel.outputStream().close();
}

void NorvBluetoothServer::peripheralManagerDidOpenChannel(BluetoothPeripheralManager& manager,
                                                          std::shared_ptr<BluetoothL2capChannel> channel,
                                                          const std::optional<BluetoothPlatformError>& error) {
    if (!running_ || !roleOf(manager)) {
        if (channel) refuse(*channel);
        return;
    }
    if (!channel || error) {
        // A channel we do not adopt is closed rather than left open with nobody reading it.
        if (channel) refuse(*channel);
        writeEvent(QStringLiteral("open_failed"), {{QStringLiteral("error"), error ? describe(*error) : QStringLiteral("nil")}});
        return;
    }

    const QUuid peer = channel->peerId();
    const QUuid pipeId = QUuid::createUuid();
    const std::uint16_t psm = channel->psm();
    const int generation = generation_;
    QPointer<NorvBluetoothServer> self(this);
    std::unique_ptr<BluetoothPipe> pipe;

    if (psm == publication_.statePSM) {
        if (const auto old = statePipes_.find(peer); old != statePipes_.end()) {
            closePipe(old->second, QStringLiteral("state replaced"));
            if (!running_ || generation != generation_) {
                refuse(*channel);
                return;
            }
        }
        statePipes_[peer] = pipeId;
        pipe = std::make_unique<BluetoothPipe>(channel, BluetoothPipe::localConnection(port_), BluetoothBytes{},
                                               nullptr, false, std::nullopt, false,
                                               BluetoothBlockCodec::Compression::lzfse, clock_);
        pipe->onClose = [self, peer, pipeId](const QString& reason) {
            if (self) self->stateClosed(peer, pipeId, reason);
        };
    } else if (psm == publication_.midiPSM) {
        const auto existing = midiPipes_.find(peer);
        if (!statePipes_.contains(peer) ||
            (existing != midiPipes_.end() && existing->second.size() >= maximumMidiPipes)) {
            refuse(*channel);
            return;
        }
        midiPipes_[peer].insert(pipeId);
        const auto validatePort = [self, peer](std::uint16_t port) {
            return self && self->statePipes_.contains(peer) && port == self->secureMidiPort_;
        };
        pipe = std::make_unique<BluetoothPipe>(channel, std::nullopt, BluetoothBytes{}, validatePort, false,
                                               std::nullopt, false, BluetoothBlockCodec::Compression::lzfse, clock_);
        pipe->onClose = [self, peer, pipeId](const QString& reason) {
            if (self) self->midiClosed(peer, pipeId, reason);
        };
    } else {
        refuse(*channel);
        return;
    }
    adoptPipe(pipeId, std::move(pipe), psm, peer);
}

void NorvBluetoothServer::adoptPipe(const QUuid& pipeId, std::unique_ptr<BluetoothPipe> pipe, std::uint16_t psm,
                                    const QUuid& peer) {
    QPointer<NorvBluetoothServer> self(this);
    pipe->onDiagnostic = [self, psm](const QString& message) {
        if (self) self->writeEvent(QStringLiteral("pipe"), {{QStringLiteral("psm"), QString::number(psm)},
                                                       {QStringLiteral("message"), message}});
    };
    BluetoothPipe* started = pipe.get();
    pipes_[pipeId] = std::move(pipe);
    const int generation = generation_;
    writeEvent(QStringLiteral("channel_open"),
          {{QStringLiteral("psm"), QString::number(psm)}, {QStringLiteral("peer"), peer.toString(QUuid::WithoutBraces)}});
    if (!running_ || generation != generation_ || started->closed()) return;
    started->start();
}

void NorvBluetoothServer::closePipe(const QUuid& pipeId, const QString& reason) {
    const auto it = pipes_.find(pipeId);
    if (it == pipes_.end() || !it->second || it->second->closed()) return;
    it->second->close(reason);  // its close handler retires it
}

void NorvBluetoothServer::retirePipe(const QUuid& pipeId) {
    const auto it = pipes_.find(pipeId);
    if (it == pipes_.end()) return;
    retired_.push_back(std::move(it->second));
    pipes_.erase(it);
    QTimer::singleShot(0, this, [this] { retired_.clear(); });
}

void NorvBluetoothServer::stateClosed(const QUuid& peer, const QUuid& pipeId, const QString& reason) {
    if (const auto it = statePipes_.find(peer); it != statePipes_.end() && it->second == pipeId) {
        statePipes_.erase(it);
        if (const auto midi = midiPipes_.find(peer); midi != midiPipes_.end()) {
            const auto ids = midi->second;  // their close handlers edit the set
            for (const auto& id : ids) closePipe(id, QStringLiteral("state disconnected"));
        }
    }
    retirePipe(pipeId);
    writeEvent(QStringLiteral("state_closed"), {{QStringLiteral("reason"), reason}});
}

void NorvBluetoothServer::midiClosed(const QUuid& peer, const QUuid& pipeId, const QString& reason) {
    retirePipe(pipeId);
    if (const auto midi = midiPipes_.find(peer); midi != midiPipes_.end()) midi->second.erase(pipeId);
    writeEvent(QStringLiteral("midi_closed"),
          {{QStringLiteral("reason"), reason}, {QStringLiteral("peer"), peer.toString(QUuid::WithoutBraces)}});
}

}  // namespace norv
