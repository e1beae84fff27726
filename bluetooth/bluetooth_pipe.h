#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "bluetooth/bluetooth_clock.h"
#include "bluetooth/bluetooth_l2cap_channel.h"
#include "bluetooth/bluetooth_pipe_machine.h"
#include "bluetooth/codec/bluetooth_block_codec.h"
#include "bluetooth/codec/bluetooth_byte_queue.h"
#include "bluetooth/codec/bluetooth_frame_codec.h"
#include "bluetooth/codec/bluetooth_state_queue.h"

class QTcpSocket;

namespace norv {

// Joins one opened L2CAP channel to one plain TCP connection on 127.0.0.1: bytes from the central
// go to TCP, bytes from TCP are queued and written to the central. A MIDI pipe starts without a
// connection: the central first sends a 2-byte big-endian port, which `validatePort` must accept.
// In coded mode state frames towards the central are coalesced, delta-coded and packed into
// blocks, and blocks from the central are unpacked and decoded. Writes may be paced.
//
// Its lifecycle and what is in flight are BluetoothPipeMachine's; the pipe moves the bytes.
// Everything runs on the Qt event loop of the pipe's thread. `onClose` may release the pipe.
class BluetoothPipe : public QObject {
    Q_OBJECT

public:
    struct TcpEndpoint {
        QString host;
        std::uint16_t port = 0;
    };

    static constexpr std::size_t outputLimit = 65536;

    // A plain TCP endpoint on 127.0.0.1 with no delay; connected only when the pipe starts.
    static TcpEndpoint localConnection(std::uint16_t port);

    BluetoothPipe(std::shared_ptr<BluetoothL2capChannel> channel, std::optional<TcpEndpoint> connection,
                  BluetoothBytes prefix, std::function<bool(std::uint16_t)> validatePort, bool compressedState,
                  std::optional<double> bytesPerSecond, bool coalesceState,
                  BluetoothBlockCodec::Compression compression, std::shared_ptr<BluetoothClock> clock);
    ~BluetoothPipe() override;

    void start();
    void close(const QString& reason);

    std::function<void(const QString& reason)> onClose;
    // Sees every chunk from TCP before it is queued; throwing closes the pipe.
    std::function<void(std::span<const std::uint8_t>)> observeNetworkBytes;
    std::function<void(const BluetoothBytes& frame, double sourceTime)> observeBluetoothFrame;
    std::function<void(const QString&)> onDiagnostic;

    long long sent() const { return sent_; }
    long long received() const { return received_; }
    std::size_t peakQueued() const { return peakQueued_; }
    bool closed() const { return machine_.closed(); }
    long long networkReceived() const { return networkReceived_; }
    std::size_t queuedBytes() const { return output_.count(); }
    std::size_t pendingStateBytes() const;
    int coalescedStates() const { return stateQueue_ ? stateQueue_->coalesced() : 0; }
    double oldestStateAge() const { return stateQueue_ ? stateQueue_->oldestAge() : 0; }
    int deltaFrames() const { return stateQueue_ ? stateQueue_->deltaFrames() : 0; }
    long long deltaWireBytes() const { return stateQueue_ ? stateQueue_->deltaWireBytes() : 0; }
    long long originalStateBytes() const { return stateQueue_ ? stateQueue_->originalBytes() : 0; }
    QString transferSummary() const;

private:
    using Machine = BluetoothPipeMachine;

    // Each step returns false once the pipe has closed; the caller then returns at once, since
    // `onClose` may have released the pipe.
    bool dispatch(const Machine::Event& event);
    void logTransition(Machine::Phase before, const Machine::Event& event, const Machine::Actions& actions) const;
    bool perform(const Machine::OpenStreams&);
    bool perform(const Machine::StartReports&);
    bool perform(const Machine::ConnectTcp&);
    bool perform(const Machine::AnnounceTcpReady&);
    bool perform(const Machine::ReadEngine&) { return readTcp(); }
    bool perform(const Machine::ReadCentral&) { return readBluetooth(); }
    bool perform(const Machine::ArmEndDeadline&);
    bool perform(const Machine::Flush&) { return flush(); }
    bool perform(const Machine::ArmFlush& action);
    bool perform(const Machine::TearDown& action);
    void startTcp();
    bool readBluetooth();
    bool readPortHandshake();
    void handleStreamEvent(BluetoothStream& stream, BluetoothStreamEvent event);
    bool readTcp();
    void queueNetworkBytes(std::span<const std::uint8_t> bytes);
    bool flush();
    bool pumpState();
    void report();
    void tcpConnected();
    void tcpFailed();
    void tcpEnded();
    void tcpBytesWritten();
    bool finishEnding();
    void diagnostic(const QString& text);

    std::shared_ptr<BluetoothL2capChannel> channel_;
    BluetoothInputStream& inputStream_;
    BluetoothOutputStream& outputStream_;
    std::optional<TcpEndpoint> connection_;
    QTcpSocket* socket_ = nullptr;
    std::shared_ptr<BluetoothClock> clock_;
    BluetoothByteQueue output_{outputLimit};
    std::function<bool(std::uint16_t)> validatePort_;
    bool compressedState_;
    BluetoothBlockCodec::Compression compression_;
    BluetoothBlockCodec decoder_;
    BluetoothFrameCodec frameDecoder_;
    std::optional<double> bytesPerSecond_;
    std::optional<BluetoothStateQueue> stateQueue_;
    BluetoothBytes portBytes_;

    long long sent_ = 0;
    long long received_ = 0;
    std::size_t peakQueued_ = 0;
    long long networkReceived_ = 0;
    double nextWriteTime_ = 0;
    Machine machine_;
    int reports_ = 0;
    std::unique_ptr<BluetoothTimer> reportTimer_;
    std::unique_ptr<BluetoothTimer> flushTimer_;
    std::unique_ptr<BluetoothTimer> endDeadline_;
    std::unique_ptr<BluetoothTimer> sendQueuePoll_;
    bool awaitingSendQueue_ = false;
};

}  // namespace norv
