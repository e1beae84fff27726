#include "core/admin_channel_client.h"

#include "core/admin_capability.h"
#include "core/admin_frame_codec.h"
#include "core/admin_frame_reader.h"
#include "model/admin_connection_state.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QSslSocket>
#include <QTimer>
#include <QUuid>

#include <chrono>
#include <map>

namespace norv {
namespace {

using Clock = std::chrono::steady_clock;

const QString kReconnecting = QStringLiteral("Bridge reconnecting");
const QString kNotRunning = QStringLiteral("Managed Bridge is not running");
const QString kIdentityUnavailable = QStringLiteral("Managed Bridge identity unavailable");
const QString kAuthenticationTimedOut = QStringLiteral("Bridge authentication timed out");
const QString kDisconnected = QStringLiteral("Bridge disconnected");
const QString kStoppedResponding = QStringLiteral("Bridge stopped responding");
const QString kUntrustedPeer = QStringLiteral("The Bridge certificate could not be verified");
const QString kUnavailable = QStringLiteral("Bridge unavailable");
const QString kNotConfirmed = QStringLiteral("Action not confirmed. Check the Bridge status.");
const QString kInvalidCommand = QStringLiteral("Invalid Bridge command");
const QString kActionFailed = QStringLiteral("Action failed");

}  // namespace

// Everything of one connection; lives on the client's thread and is touched only there.
class AdminChannelClient::Session : public QObject {
public:
    Session(Options options, AdminChannelClient* home)
        : options_(std::move(options)), home_(home) {}

    void start(SnapshotHandler onSnapshot, MidiBatchHandler onMidiBatch, StateHandler onState) {
        snapshotHandler_ = std::move(onSnapshot);
        midiBatchHandler_ = std::move(onMidiBatch);
        stateHandler_ = std::move(onState);
        stopped_ = false;
        connectToEngine();
    }

    void send(const QString& path, const nlohmann::json& args) { write(path, args, std::nullopt); }

    void request(const QString& path, const nlohmann::json& args, Completion completion) {
        if (!ready_ || !reader_.authenticated() || !fresh()) {
            post([completion = std::move(completion)] {
                completion(BridgeError::error(kUnavailable));
            });
            return;
        }
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        pending_.emplace(id, std::move(completion));
        write(path, args, id);
        QTimer::singleShot(options_.timings.confirmation, this,
                           [this, id] { complete(id, BridgeError::error(kNotConfirmed)); });
    }

private:
    // Runs `call` on the owner's thread; dropped if the owner is gone by then.
    template <typename Call>
    void post(Call call) {
        QMetaObject::invokeMethod(home_, std::move(call), Qt::QueuedConnection);
    }

    void publishState(AdminConnectionState state) {
        if (!stateHandler_) return;
        post([handler = stateHandler_, state = std::move(state)] { handler(state); });
    }

    QDateTime now() const {
        return options_.now ? options_.now() : QDateTime::currentDateTimeUtc();
    }

    bool fresh() const {
        return lastSnapshot_ && Clock::now() - *lastSnapshot_ < options_.timings.staleness;
    }

    void connectToEngine() {
        if (stopped_) return;
        reconnectScheduled_ = false;
        resetConnection(kReconnecting);
        publishState(AdminConnectionState::connecting());

        const auto identity = AdminCapability::current();
        std::optional<QString> token = options_.token;
        if (!token && identity) token = identity->token;
        if (!token) return disconnect(kNotRunning);

        if (options_.parametersForTests) {
            parameters_ = *options_.parametersForTests;
        } else {
            std::optional<QString> certificate = options_.certificatePEM;
            if (!certificate && identity) certificate = identity->certificatePEM;
            if (!certificate) return disconnect(kIdentityUnavailable);
            try {
                parameters_ = AdminTLS::parameters(*certificate);
            } catch (const std::exception&) {
                return disconnect(kIdentityUnavailable);
            }
        }
        token_ = *token;

        auto* socket = new QSslSocket(this);
        socket_ = socket;
        handshakeErrors_.clear();
        AdminTLS::configure(*socket, parameters_);
        // Each handler first checks that its socket is still the current one.
        connect(
            socket, &QSslSocket::sslErrors, this, [this, socket](const QList<QSslError>& errors) {
                if (socket != socket_) return;
                handshakeErrors_ = errors;
                if (AdminTLS::verify(parameters_, socket->peerCertificateChain(), errors, now()))
                    socket->ignoreSslErrors();
            });
        connect(socket, &QSslSocket::encrypted, this, [this, socket] {
            if (socket == socket_) becomeReady();
        });
        connect(socket, &QSslSocket::readyRead, this, [this, socket] {
            if (socket == socket_) receive();
        });
        connect(socket, &QSslSocket::errorOccurred, this,
                [this, socket](QAbstractSocket::SocketError error) {
                    if (socket != socket_) return;
                    disconnect(error == QAbstractSocket::RemoteHostClosedError
                                   ? kDisconnected
                                   : socket->errorString());
                });
        connect(socket, &QSslSocket::disconnected, this, [this, socket] {
            if (socket == socket_) disconnect(kDisconnected);
        });
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), options_.port);

        // Tied to the socket: gone with it when the connection is replaced.
        QTimer::singleShot(options_.timings.authentication, socket, [this, socket] {
            if (socket == socket_ && !reader_.authenticated()) disconnect(kAuthenticationTimedOut);
        });
    }

    // The handshake finished; the peer is trusted only when the pin check passes, and nothing
    // (the token least of all) is written before that.
    void becomeReady() {
        if (!AdminTLS::verify(parameters_, socket_->peerCertificateChain(), handshakeErrors_,
                              now()))
            return disconnect(kUntrustedPeer);
        ready_ = true;
        lastSnapshot_ = Clock::now();
        write(QStringLiteral("/admin/hello"), nlohmann::json::array({token_.toStdString()}),
              std::nullopt);
        auto* heartbeat = new QTimer(socket_);
        heartbeat->setTimerType(Qt::PreciseTimer);
        heartbeat->setInterval(options_.timings.heartbeat);
        connect(heartbeat, &QTimer::timeout, this, [this, socket = socket_] {
            if (socket == socket_) heartbeatTick();
        });
        heartbeat->start();
        receive();  // anything that arrived with the handshake
    }

    void heartbeatTick() {
        if (!fresh()) return disconnect(kStoppedResponding);
        write(QStringLiteral("/admin/snapshot/request"), nlohmann::json::array(), std::nullopt);
    }

    void write(const QString& path, const nlohmann::json& args,
               const std::optional<QString>& requestID) {
        if (!socket_ || !ready_) return;
        if (!reader_.authenticated() && path != QStringLiteral("/admin/hello")) return;
        const auto frame = AdminFrameCodec::encode(path.toStdString(), args, requestID);
        if (!frame) {
            if (requestID) complete(*requestID, BridgeError::error(kInvalidCommand));
            return;
        }
        socket_->write(*frame);  // a failed send surfaces as errorOccurred
    }

    void receive() {
        if (!ready_) return;
        QSslSocket* socket = socket_;
        while (socket == socket_ && socket->bytesAvailable() > 0) {
            reader_.append(socket->read(65536));
            AdminFrameReader::Outcome outcome = reader_.consume();
            for (auto& message : outcome.messages) {
                handle(std::move(message));
                if (socket != socket_) return;  // a handler closed the connection
            }
            if (outcome.failure) return disconnect(*outcome.failure);
        }
    }

    void handle(AdminFrameReader::Message message) {
        if (auto* snapshot = std::get_if<AdminSnapshot>(&message)) {
            lastSnapshot_ = Clock::now();
            if (snapshotHandler_)
                post([handler = snapshotHandler_, snapshot = std::move(*snapshot)] {
                    handler(snapshot);
                });
            publishState(AdminConnectionState::connected());
        } else if (auto* batch = std::get_if<MidiMonitorBatch>(&message)) {
            if (midiBatchHandler_)
                post([handler = midiBatchHandler_, batch = std::move(*batch)] { handler(batch); });
        } else if (auto* result = std::get_if<AdminFrameReader::ActionResult>(&message)) {
            const QString id = QString::fromStdString(result->requestId);
            if (result->ok)
                complete(id, std::nullopt);
            else
                complete(id,
                         BridgeError::error(result->error ? QString::fromStdString(*result->error)
                                                          : kActionFailed));
        }
    }

    void complete(const QString& id, std::optional<BridgeError> result) {
        const auto it = pending_.find(id);
        if (it == pending_.end()) return;
        Completion completion = std::move(it->second);
        pending_.erase(it);
        post([completion = std::move(completion), result = std::move(result)] {
            completion(result);
        });
    }

    void disconnect(const QString& reason) {
        resetConnection(reason);
        if (stopped_) return;
        publishState(AdminConnectionState::disconnected(reason.toStdString()));
        if (reconnectScheduled_) return;
        reconnectScheduled_ = true;
        QTimer::singleShot(options_.timings.reconnect, this, [this] { connectToEngine(); });
    }

    void resetConnection(const QString& reason) {
        if (QSslSocket* socket = std::exchange(socket_, nullptr)) {
            // Late signals of the old socket find it is no longer current; its timers die with it.
            QObject::disconnect(socket, nullptr, this, nullptr);
            socket->abort();
            socket->deleteLater();
        }
        ready_ = false;
        reader_.reset();
        lastSnapshot_.reset();
        handshakeErrors_.clear();
        auto failing = std::exchange(pending_, {});
        for (auto& [id, completion] : failing)
            post([completion = std::move(completion), reason] {
                completion(BridgeError::error(reason));
            });
    }

    const Options options_;
    AdminChannelClient* const home_;
    SnapshotHandler snapshotHandler_;
    MidiBatchHandler midiBatchHandler_;
    StateHandler stateHandler_;

    AdminTLSParameters parameters_;
    QString token_;
    QSslSocket* socket_ = nullptr;
    QList<QSslError> handshakeErrors_;
    bool ready_ = false;
    AdminFrameReader reader_;
    bool stopped_ = true;
    bool reconnectScheduled_ = false;
    std::optional<Clock::time_point> lastSnapshot_;  // none: the distant past
    std::map<QString, Completion> pending_;
};

AdminChannelClient::AdminChannelClient(Options options, QObject* parent)
    : QObject(parent), session_(new Session(std::move(options), this)) {
    thread_.setObjectName(QStringLiteral("org.norv.desktop.bridge.admin"));
    session_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, session_, &QObject::deleteLater);
    thread_.start();
}

AdminChannelClient::~AdminChannelClient() {
    thread_.quit();
    // The session's loop only runs short handlers; it ends promptly.
    if (!thread_.wait(QDeadlineTimer(10000))) qWarning("Admin channel thread did not stop in time");
}

void AdminChannelClient::start(SnapshotHandler onSnapshot, MidiBatchHandler onMidiBatch,
                               StateHandler onState) {
    QMetaObject::invokeMethod(
        session_,
        [session = session_, a = std::move(onSnapshot), b = std::move(onMidiBatch),
         c = std::move(onState)]() mutable {
            session->start(std::move(a), std::move(b), std::move(c));
        },
        Qt::QueuedConnection);
}

void AdminChannelClient::send(const QString& path, nlohmann::json args) {
    QMetaObject::invokeMethod(
        session_, [session = session_, path, args = std::move(args)] { session->send(path, args); },
        Qt::QueuedConnection);
}

void AdminChannelClient::request(const QString& path, nlohmann::json args, Completion completion) {
    QMetaObject::invokeMethod(
        session_,
        [session = session_, path, args = std::move(args),
         completion = std::move(completion)]() mutable {
            session->request(path, args, std::move(completion));
        },
        Qt::QueuedConnection);
}

}  // namespace norv
