#include "bluetooth/bluetooth_pipe.h"

#include <QLoggingCategory>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

#include "bluetooth/codec/bluetooth_error.h"
#include "model/byte_reader.h"

namespace norv {

namespace {

constexpr std::size_t readChunk = 4096;
constexpr std::size_t tcpPauseThreshold = 32768;  // without coded mode, TCP reads pause here
constexpr std::size_t pumpThreshold = 1023;       // coded mode packs more blocks only below this
constexpr int flushPasses = 8;
constexpr std::size_t writeChunk = 1024;
constexpr std::size_t pacedWriteChunk = 512;
constexpr double stalledWriteRetry = 0.01;
constexpr double endFlushBound = 1.0;  // how long queued output may take once the engine has ended
// Then how long the channel may take to send what it holds, looked at this often: the channel
// drops at close what is still waiting for the central's credits.
constexpr double sendQueueBound = 2.0;
constexpr double sendQueuePoll = 0.01;
// How long the engine's connection may take to write what it was handed before it is cut.
constexpr int engineFlushBoundMs = 2000;
constexpr int initialReports = 5;

// Each event the pipe's machine handles, for tracing (off unless enabled by logging rules).
Q_LOGGING_CATEGORY(pipeLog, "org.norv.session.bridge.Connection.pipe", QtInfoMsg)

QString text(const std::optional<std::string>& error, const char* fallback) {
    return error ? QString::fromStdString(*error) : QString::fromLatin1(fallback);
}

// Lets go of the engine's connection without dropping what it was handed: it closes once every
// byte is written, or after a bound, and then deletes itself (later: we may be inside one of its
// signals).
void closeWhenWritten(QTcpSocket* socket, QObject* owner) {
    QObject::disconnect(socket, nullptr, owner, nullptr);
    socket->setParent(nullptr);
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QAbstractSocket::errorOccurred, socket, &QObject::deleteLater);
    QTimer::singleShot(engineFlushBoundMs, Qt::PreciseTimer, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->disconnectFromHost();
}

}  // namespace

BluetoothPipe::TcpEndpoint BluetoothPipe::localConnection(std::uint16_t port) {
    return {QStringLiteral("127.0.0.1"), port};
}

BluetoothPipe::BluetoothPipe(std::shared_ptr<BluetoothL2capChannel> channel, std::optional<TcpEndpoint> connection,
                             BluetoothBytes prefix, std::function<bool(std::uint16_t)> validatePort,
                             bool compressedState, std::optional<double> bytesPerSecond, bool coalesceState,
                             BluetoothBlockCodec::Compression compression, std::shared_ptr<BluetoothClock> clock)
    : channel_(std::move(channel)),
      inputStream_(channel_->inputStream()),
      outputStream_(channel_->outputStream()),
      connection_(std::move(connection)),
      clock_(std::move(clock)),
      validatePort_(std::move(validatePort)),
      compressedState_(compressedState),
      compression_(compression),
      bytesPerSecond_(bytesPerSecond) {
    if (compressedState_) {
        stateQueue_.emplace(true, coalesceState, [clock = clock_.get()] { return clock->wallClock(); });
    }
    output_.append(prefix);
}

BluetoothPipe::~BluetoothPipe() {
    if (socket_) closeWhenWritten(socket_, this);
    inputStream_.setEventHandler({});
    outputStream_.setEventHandler({});
    if (!machine_.closed()) {
        inputStream_.close();
        outputStream_.close();
    }
}

std::size_t BluetoothPipe::pendingStateBytes() const {
    if (!stateQueue_) return 0;
    return stateQueue_->unparsedBytes() + stateQueue_->pendingBytes() + stateQueue_->activeRemaining();
}

QString BluetoothPipe::transferSummary() const {
    return QStringLiteral("bytes tcp=%1 sent=%2 received=%3 queued=%4 statePending=%5")
        .arg(networkReceived_)
        .arg(sent_)
        .arg(received_)
        .arg(output_.count())
        .arg(stateQueue_ ? stateQueue_->queuedBytes() : 0);
}

void BluetoothPipe::diagnostic(const QString& message) {
    if (onDiagnostic) onDiagnostic(message);
}

void BluetoothPipe::start() { dispatch(Machine::Start{connection_.has_value()}); }

bool BluetoothPipe::dispatch(const Machine::Event& event) {
    const Machine::Phase before = machine_.phase();
    const Machine::Actions actions = machine_.handle(event);
    logTransition(before, event, actions);
    for (const auto& action : actions) {
        // A step that reports the pipe closed may have released it: nothing is touched then.
        if (!std::visit([this](const auto& a) { return perform(a); }, action)) return false;
    }
    return !machine_.closed();
}

// One debug line per event, also those that only change what is in flight; enable with
// QT_LOGGING_RULES="org.norv.session.bridge.Connection.pipe.debug=true".
void BluetoothPipe::logTransition(Machine::Phase before, const Machine::Event& event,
                                  const Machine::Actions& actions) const {
    if (!pipeLog().isDebugEnabled()) return;
    QString done;
    for (const auto& action : actions) {
        if (!done.isEmpty()) done += QLatin1Char(',');
        done += QLatin1String(nameOf(action));
    }
    qCDebug(pipeLog, "pipe %s --%s--> %s [%s]", Machine::name(before).data(), nameOf(event).data(),
            Machine::name(machine_.phase()).data(), qUtf8Printable(done));
}

bool BluetoothPipe::perform(const Machine::OpenStreams&) {
    inputStream_.setEventHandler([this](BluetoothStreamEvent e) { handleStreamEvent(inputStream_, e); });
    outputStream_.setEventHandler([this](BluetoothStreamEvent e) { handleStreamEvent(outputStream_, e); });
    inputStream_.open();
    outputStream_.open();
    return true;
}

bool BluetoothPipe::perform(const Machine::StartReports&) {
    reportTimer_ = clock_->startTimer(1.0, [this] { report(); });
    return true;
}

bool BluetoothPipe::perform(const Machine::ConnectTcp&) {
    startTcp();
    return true;
}

bool BluetoothPipe::perform(const Machine::AnnounceTcpReady&) {
    QPointer<BluetoothPipe> guard(this);
    diagnostic(QStringLiteral("tcp ready"));
    return guard && !machine_.closed();
}

bool BluetoothPipe::perform(const Machine::ArmEndDeadline& action) {
    // Output already queued for the central still goes out, within a bound.
    endDeadline_ = clock_->startTimer(endFlushBound, [this, reason = action.reason] { close(reason); });
    return true;
}

bool BluetoothPipe::perform(const Machine::ArmFlush& action) {
    const auto fire = [this] { dispatch(Machine::FlushDue{}); };
    if (action.delay <= 0) {
        QTimer::singleShot(0, this, fire);
    } else {
        flushTimer_ = clock_->startTimer(action.delay, fire);
    }
    return true;
}

void BluetoothPipe::report() {
    if (machine_.closed()) return;
    ++reports_;
    if (reports_ < initialReports) reportTimer_ = clock_->startTimer(1.0, [this] { report(); });
    diagnostic(transferSummary());
}

void BluetoothPipe::startTcp() {
    socket_ = new QTcpSocket(this);
    socket_->setReadBufferSize(readChunk);  // the engine is held back while we do not read
    connect(socket_, &QTcpSocket::connected, this, &BluetoothPipe::tcpConnected);
    connect(socket_, &QTcpSocket::errorOccurred, this, &BluetoothPipe::tcpFailed);
    connect(socket_, &QTcpSocket::readyRead, this, [this] { readTcp(); });
    connect(socket_, &QTcpSocket::bytesWritten, this, &BluetoothPipe::tcpBytesWritten);
    connect(socket_, &QTcpSocket::disconnected, this, &BluetoothPipe::tcpEnded);
    socket_->connectToHost(connection_->host, connection_->port);
}

void BluetoothPipe::tcpConnected() {
    if (machine_.closed()) return;
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    dispatch(Machine::TcpConnected{});
}

void BluetoothPipe::tcpFailed() {
    if (machine_.closed()) return;
    if (!machine_.tcpReady()) {
        close(QStringLiteral("tcp: ") + socket_->errorString());
    } else if (socket_->error() == QAbstractSocket::RemoteHostClosedError) {
        tcpEnded();
    } else {
        close((machine_.sendingToEngine() ? QStringLiteral("tcp send: ") : QStringLiteral("tcp receive: ")) +
              socket_->errorString());
    }
}

void BluetoothPipe::tcpEnded() { dispatch(Machine::TcpEnded{}); }

void BluetoothPipe::tcpBytesWritten() {
    if (machine_.closed() || socket_->bytesToWrite() > 0) return;
    dispatch(Machine::EngineTookAll{});
}

void BluetoothPipe::handleStreamEvent(BluetoothStream& stream, BluetoothStreamEvent event) {
    if (machine_.closed()) return;
    switch (event) {
        case BluetoothStreamEvent::errorOccurred:
        case BluetoothStreamEvent::endEncountered:
            dispatch(Machine::CentralEnded{text(stream.error(), "bluetooth closed")});
            return;
        case BluetoothStreamEvent::hasBytesAvailable:
            readBluetooth();
            return;
        case BluetoothStreamEvent::hasSpaceAvailable:
            flush();
            return;
        case BluetoothStreamEvent::openCompleted:
            return;
    }
}

bool BluetoothPipe::readBluetooth() {
    if (machine_.closed()) return false;
    if (machine_.sendingToEngine() || !inputStream_.hasBytesAvailable()) return true;
    if (!connection_) return readPortHandshake();
    // Before TCP is up there is nowhere to send; after the engine ended, nowhere either.
    if (!machine_.readsCentral()) return true;

    std::uint8_t buffer[readChunk];
    const long n = inputStream_.read(buffer, sizeof buffer);
    if (n < 0) {
        close(QStringLiteral("bluetooth read failed: ") + text(inputStream_.error(), "unknown"));
        return false;
    }
    if (n == 0) return true;
    received_ += n;
    const std::span<const std::uint8_t> bytes(buffer, static_cast<std::size_t>(n));

    BluetoothBytes toSend;
    if (compressedState_) {
        QPointer<BluetoothPipe> guard(this);
        try {
            const auto unpacked = decoder_.receive(bytes);
            toSend = frameDecoder_.receive(unpacked, [&](const BluetoothBytes& frame, double sourceTime) {
                if (guard && observeBluetoothFrame) observeBluetoothFrame(frame, sourceTime);
            });
        } catch (const BluetoothError& error) {
            if (guard) close(QStringLiteral("invalid bluetooth block: ") + QString::fromUtf8(error.what()));
            return false;
        }
        if (!guard || machine_.closed()) return false;
    } else {
        toSend.assign(bytes.begin(), bytes.end());
    }

    if (toSend.empty()) {
        QTimer::singleShot(0, this, [this] { readBluetooth(); });
        return true;
    }
    dispatch(Machine::SendToEngine{});
    if (socket_->write(reinterpret_cast<const char*>(toSend.data()), static_cast<qint64>(toSend.size())) < 0) {
        close(QStringLiteral("tcp send: ") + socket_->errorString());
        return false;
    }
    return true;
}

bool BluetoothPipe::readPortHandshake() {
    if (!validatePort_) return true;
    std::uint8_t buffer[2];
    const long n = inputStream_.read(buffer, 2 - portBytes_.size());
    if (n < 0) {
        close(QStringLiteral("midi handshake failed"));
        return false;
    }
    portBytes_.insert(portBytes_.end(), buffer, buffer + n);
    if (portBytes_.size() < 2) return true;

    std::uint16_t port = 0;
    ByteReader(portBytes_).u16(port);
    if (!validatePort_(port)) {
        close(QStringLiteral("midi endpoint not advertised"));
        return false;
    }
    QPointer<BluetoothPipe> guard(this);
    diagnostic(QStringLiteral("midi endpoint %1").arg(port));
    if (!guard || machine_.closed()) return false;
    connection_ = localConnection(port);
    return dispatch(Machine::PortAccepted{});
}

bool BluetoothPipe::readTcp() {
    if (machine_.closed()) return false;
    if (!machine_.readsEngine() || machine_.readingEngine()) return true;
    dispatch(Machine::EngineReadBegins{});
    while (machine_.readsEngine()) {
        if (!stateQueue_ && output_.count() >= tcpPauseThreshold) break;  // the flush resumes reading
        if (socket_->bytesAvailable() <= 0) {
            if (machine_.phase() == Machine::Phase::draining) return dispatch(Machine::EngineDrained{});
            break;
        }
        const QByteArray chunk = socket_->read(readChunk);
        if (chunk.isEmpty()) break;
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(chunk.constData()),
                                                  static_cast<std::size_t>(chunk.size()));
        QPointer<BluetoothPipe> guard(this);
        try {
            queueNetworkBytes(bytes);
        } catch (const std::exception& error) {
            if (guard && !machine_.closed()) close(QStringLiteral("state queue: ") + QString::fromUtf8(error.what()));
            return false;
        }
        if (!guard || machine_.closed()) return false;
        if (!flush()) return false;
    }
    dispatch(Machine::EngineReadEnds{});
    return true;
}

void BluetoothPipe::queueNetworkBytes(std::span<const std::uint8_t> bytes) {
    networkReceived_ += static_cast<long long>(bytes.size());
    if (observeNetworkBytes) {
        QPointer<BluetoothPipe> guard(this);
        observeNetworkBytes(bytes);
        if (!guard || machine_.closed()) return;
    }
    if (stateQueue_) {
        stateQueue_->receive(bytes);
    } else if (!output_.append(bytes)) {
        throw BluetoothError::outputOverflow();
    }
    if (!pumpState()) return;
    peakQueued_ = std::max(peakQueued_, output_.count());
}

bool BluetoothPipe::pumpState() {
    if (machine_.closed()) return false;
    if (!stateQueue_) return true;
    while (output_.count() <= pumpThreshold) {
        const auto piece = stateQueue_->nextBlock();
        if (!piece) break;
        const auto block = BluetoothBlockCodec::encode(*piece, compression_);
        if (!output_.append(block)) {
            close(QStringLiteral("bluetooth output overflow"));
            return false;
        }
        peakQueued_ = std::max(peakQueued_, output_.count());
    }
    return true;
}

bool BluetoothPipe::flush() {
    if (machine_.closed()) return false;
    if (machine_.phase() == Machine::Phase::writeFailed) return true;
    const auto pump = [this] {
        try {
            return pumpState();
        } catch (const BluetoothError& error) {
            close(QStringLiteral("state queue: ") + QString::fromUtf8(error.what()));
            return false;
        }
    };
    if (!pump()) return false;

    double retryDelay = 0;
    for (int pass = 0; pass < flushPasses; ++pass) {
        if (!pump()) return false;
        if (output_.count() == 0 || !outputStream_.hasSpaceAvailable()) break;
        std::size_t chunk = writeChunk;
        if (bytesPerSecond_) {
            const double now = clock_->uptime();
            if (now < nextWriteTime_) {
                return dispatch(Machine::FlushWanted{nextWriteTime_ - now});
            }
            chunk = pacedWriteChunk;
        }
        const auto waiting = output_.prefix(chunk);
        const long n = outputStream_.write(waiting.data(), waiting.size());
        if (n < 0) {
            // Nothing more goes to the central; what it sent before it went still goes on.
            const QString reason = QStringLiteral("bluetooth write failed: ") + text(outputStream_.error(), "unknown");
            return dispatch(Machine::WriteFailed{reason});
        }
        if (n == 0) {
            retryDelay = stalledWriteRetry;
            break;
        }
        output_.consume(static_cast<std::size_t>(n));
        sent_ += n;
        if (bytesPerSecond_) nextWriteTime_ = clock_->uptime() + static_cast<double>(n) / *bytesPerSecond_;
    }
    if (!pump()) return false;
    if (!readTcp()) return false;
    if (output_.count() > 0 && outputStream_.hasSpaceAvailable() && !dispatch(Machine::FlushWanted{retryDelay}))
        return false;
    return finishEnding();
}

bool BluetoothPipe::finishEnding() {
    if (machine_.phase() != Machine::Phase::ending || machine_.readingEngine() || output_.count() > 0 ||
        pendingStateBytes() > 0)
        return true;
    if (outputStream_.unsentBytes() > 0) {
        // The engine's last bytes are still in the channel, which would drop them at close.
        if (!awaitingSendQueue_) {
            awaitingSendQueue_ = true;
            endDeadline_ = clock_->startTimer(sendQueueBound, [this] { close(QStringLiteral("tcp end")); });
        }
        sendQueuePoll_ = clock_->startTimer(sendQueuePoll, [this] { finishEnding(); });
        return true;
    }
    close(QStringLiteral("tcp end"));
    return false;
}

void BluetoothPipe::close(const QString& reason) { dispatch(Machine::Close{reason}); }

bool BluetoothPipe::perform(const Machine::TearDown& action) {
    const QString reason = action.reason;  // the action goes with the pipe
    QPointer<BluetoothPipe> guard(this);
    diagnostic(QStringLiteral("closed ") + transferSummary());
    if (!guard) return false;

    if (socket_) {
        closeWhenWritten(socket_, this);
        socket_ = nullptr;
    }
    inputStream_.setEventHandler({});
    outputStream_.setEventHandler({});
    inputStream_.close();
    outputStream_.close();
    output_ = BluetoothByteQueue(outputLimit);
    reportTimer_.reset();
    flushTimer_.reset();
    endDeadline_.reset();
    sendQueuePoll_.reset();

    const auto handler = std::move(onClose);
    onClose = nullptr;
    if (handler) handler(reason);  // may release the pipe: nothing here touches it afterwards
    return false;
}

}  // namespace norv
