#include "core/admin_channel_client.h"

#include "core/admin_capability.h"
#include "core/admin_session_machine.h"
#include "core/app_log.h"
#include "model/admin_connection_state.h"

#include <QDeadlineTimer>
#include <QSslSocket>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace norv {
namespace {

using Machine = AdminSessionMachine;

const QString kNotRunning = QStringLiteral("Managed Bridge is not running");
const QString kIdentityUnavailable = QStringLiteral("Managed Bridge identity unavailable");
const QString kDisconnected = QStringLiteral("Bridge disconnected");
const QString kUntrustedPeer = QStringLiteral("The Bridge certificate could not be verified");

}  // namespace

// Hands calls to the owner's thread until the owner closes it on its way out, so a session that
// outlives its owner never reaches it.
class AdminChannelClient::Relay {
public:
    explicit Relay(QObject* owner) : owner_(owner) {}

    template <typename Call>
    void post(Call call) {
        std::lock_guard guard(lock_);
        if (owner_) QMetaObject::invokeMethod(owner_, std::move(call), Qt::QueuedConnection);
    }

    void close() {
        std::lock_guard guard(lock_);
        owner_ = nullptr;
    }

private:
    std::mutex lock_;
    QObject* owner_;
};

// The socket, the timers and the handlers of the session; its state and transitions are the
// AdminSessionMachine's. Lives on the client's thread and is touched only there.
class AdminChannelClient::Session : public QObject {
public:
    Session(Options options, std::shared_ptr<Relay> relay)
        : options_(std::move(options)),
          relay_(std::move(relay)),
          machine_(options_.timings.staleness),
          heartbeat_(new QTimer(this)) {
        heartbeat_->setTimerType(Qt::PreciseTimer);
        heartbeat_->setInterval(options_.timings.heartbeat);
        connect(heartbeat_, &QTimer::timeout, this, [this] { dispatch(Machine::HeartbeatTick{}); });
    }

    void start(SnapshotHandler onSnapshot, MidiBatchHandler onMidiBatch, StateHandler onState) {
        snapshotHandler_ = std::move(onSnapshot);
        midiBatchHandler_ = std::move(onMidiBatch);
        stateHandler_ = std::move(onState);
        dispatch(Machine::Start{});
    }

    void send(const QString& path, const nlohmann::json& args) {
        dispatch(Machine::Send{path, args});
    }

    void request(const QString& path, const nlohmann::json& args, Completion completion) {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        completions_.emplace(id, std::move(completion));
        dispatch(Machine::Request{id, path, args});
    }

private:
    // Events raised while actions run wait for the current event's actions to finish, so the
    // machine sees them in order and actions run in the order the machine gave them.
    void dispatch(Machine::Event event) {
        queue_.push_back(std::move(event));
        if (dispatching_) return;
        dispatching_ = true;
        while (!queue_.empty()) {
            Machine::Event next = std::move(queue_.front());
            queue_.pop_front();
            const Machine::Phase before = machine_.phase();
            Machine::Actions actions = machine_.handle(next, Machine::Clock::now());
            logTransition(before, next, actions);
            for (auto& action : actions) std::visit([this](auto& a) { perform(a); }, action);
        }
        dispatching_ = false;
    }

    // One debug line per event that changes the phase or asks for something; enable with
    // QT_LOGGING_RULES="org.norv.session.bridge.Connection.debug=true".
    void logTransition(Machine::Phase before, const Machine::Event& event,
                       const Machine::Actions& actions) const {
        if (!AppLog::connection().isDebugEnabled()) return;
        if (actions.empty() && machine_.phase() == before) return;
        QString done;
        for (const auto& action : actions) {
            if (!done.isEmpty()) done += QLatin1Char(',');
            done += QLatin1String(nameOf(action));
        }
        qCDebug(AppLog::connection, "admin session %s --%s--> %s [%s]",
                Machine::name(before).data(), nameOf(event).data(),
                Machine::name(machine_.phase()).data(), qUtf8Printable(done));
    }

    void perform(Machine::PublishState& action) {
        if (stateHandler_)
            relay_->post([handler = stateHandler_, state = std::move(action.state)] {
                handler(state);
            });
    }
    void perform(Machine::OpenConnection&) { openConnection(); }
    void perform(Machine::ArmAuthenticationDeadline& action) {
        QTimer::singleShot(options_.timings.authentication, Qt::PreciseTimer, this, [this, attempt = action.attempt] {
            dispatch(Machine::AuthenticationDeadline{attempt});
        });
    }
    void perform(Machine::CloseConnection&) {
        if (QSslSocket* socket = std::exchange(socket_, nullptr)) {
            // Late signals of the old socket are not this session's any more.
            QObject::disconnect(socket, nullptr, this, nullptr);
            socket->abort();
            socket->deleteLater();
        }
        handshakeErrors_.clear();
    }
    void perform(Machine::Write& action) {
        if (socket_) socket_->write(action.frame);  // a failed send surfaces as errorOccurred
    }
    void perform(Machine::StartHeartbeat&) { heartbeat_->start(); }
    void perform(Machine::StopHeartbeat&) { heartbeat_->stop(); }
    void perform(Machine::ScheduleReconnect&) {
        QTimer::singleShot(options_.timings.reconnect, Qt::PreciseTimer, this,
                           [this] { dispatch(Machine::ReconnectDue{}); });
    }
    void perform(Machine::ArmConfirmation& action) {
        QTimer::singleShot(options_.timings.confirmation, Qt::PreciseTimer, this,
                           [this, id = action.id] { dispatch(Machine::ConfirmationDeadline{id}); });
    }
    void perform(Machine::DeliverSnapshot& action) {
        if (snapshotHandler_)
            relay_->post([handler = snapshotHandler_, snapshot = std::move(action.snapshot)] {
                handler(snapshot);
            });
    }
    void perform(Machine::DeliverBatch& action) {
        if (midiBatchHandler_)
            relay_->post([handler = midiBatchHandler_, batch = std::move(action.batch)]() mutable {
                handler(std::move(batch));  // the batch is handed over once
            });
    }
    void perform(Machine::Complete& action) {
        const auto it = completions_.find(action.id);
        if (it == completions_.end()) return;
        Completion completion = std::move(it->second);
        completions_.erase(it);
        std::optional<BridgeError> result;
        if (action.error) result = BridgeError::error(*action.error);
        relay_->post([completion = std::move(completion), result = std::move(result)] {
            completion(result);
        });
    }

    QDateTime now() const {
        return options_.now ? options_.now() : QDateTime::currentDateTimeUtc();
    }

    // Resolves the token and the pinned parameters, then connects; a missing token or
    // certificate is a loss with its reason.
    void openConnection() {
        const auto identity = AdminCapability::current();
        std::optional<QString> token = options_.token;
        if (!token && identity) token = identity->token;
        if (!token) return dispatch(Machine::Lost{kNotRunning});

        if (options_.parametersForTests) {
            parameters_ = *options_.parametersForTests;
        } else {
            std::optional<QString> certificate = options_.certificatePEM;
            if (!certificate && identity) certificate = identity->certificatePEM;
            if (!certificate) return dispatch(Machine::Lost{kIdentityUnavailable});
            try {
                parameters_ = AdminTLS::parameters(*certificate);
            } catch (const std::exception&) {
                return dispatch(Machine::Lost{kIdentityUnavailable});
            }
        }

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
        connect(socket, &QSslSocket::encrypted, this, [this, socket, token = *token] {
            if (socket == socket_) encrypted(token);
        });
        connect(socket, &QSslSocket::readyRead, this, [this, socket] {
            if (socket == socket_) receive();
        });
        connect(socket, &QSslSocket::errorOccurred, this,
                [this, socket](QAbstractSocket::SocketError error) {
                    if (socket != socket_) return;
                    dispatch(Machine::Lost{error == QAbstractSocket::RemoteHostClosedError
                                               ? kDisconnected
                                               : socket->errorString()});
                });
        connect(socket, &QSslSocket::disconnected, this, [this, socket] {
            if (socket == socket_) dispatch(Machine::Lost{kDisconnected});
        });
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), options_.port);
    }

    // The handshake finished; the peer is trusted only when the pin check passes, and nothing
    // (the token least of all) is written before that.
    void encrypted(const QString& token) {
        if (!AdminTLS::verify(parameters_, socket_->peerCertificateChain(), handshakeErrors_,
                              now()))
            return dispatch(Machine::Lost{kUntrustedPeer});
        dispatch(Machine::Encrypted{token});
        receive();  // anything that arrived with the handshake
    }

    void receive() {
        QSslSocket* socket = socket_;
        // Read in pieces of at most 64 KiB, each no larger than what is there.
        while (socket && socket == socket_ && machine_.readsBytes() && socket->bytesAvailable() > 0)
            dispatch(Machine::Received{socket->read(std::min<qint64>(socket->bytesAvailable(), 65536))});
    }

    const Options options_;
    const std::shared_ptr<Relay> relay_;
    SnapshotHandler snapshotHandler_;
    MidiBatchHandler midiBatchHandler_;
    StateHandler stateHandler_;

    Machine machine_;
    std::deque<Machine::Event> queue_;
    bool dispatching_ = false;
    std::map<QString, Completion> completions_;  // by request id, until the machine completes it

    AdminTLSParameters parameters_;
    QSslSocket* socket_ = nullptr;
    QList<QSslError> handshakeErrors_;
    QTimer* const heartbeat_;
};

AdminChannelClient::AdminChannelClient(Options options, QObject* parent)
    : QObject(parent),
      shutdownWait_(options.timings.shutdown),
      relay_(std::make_shared<Relay>(this)),
      thread_(new QThread),
      session_(new Session(std::move(options), relay_)) {
    thread_->setObjectName(QStringLiteral("org.norv.desktop.bridge.admin"));
    session_->moveToThread(thread_);
    connect(thread_, &QThread::finished, session_, &QObject::deleteLater);
    thread_->start();
}

// Ends the session's thread, waiting a bounded time. A thread still busy after that is never
// destroyed running: it deletes itself (and its session) when it finishes, and the closed relay
// keeps the session from reaching this object meanwhile.
AdminChannelClient::~AdminChannelClient() {
    relay_->close();
    thread_->quit();
    if (thread_->wait(QDeadlineTimer(shutdownWait_))) {
        delete thread_;
        return;
    }
    qWarning("Admin channel thread still busy; it ends on its own");
    connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
    if (thread_->isFinished()) delete thread_;  // it finished before the connection above
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
