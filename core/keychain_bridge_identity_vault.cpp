#include "core/keychain_bridge_identity_vault.h"

#include "core/bridge_tls_identity_error.h"

#include <qt6keychain/keychain.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace norv {
namespace {

struct JobOutcome {
    QKeychain::Error error = QKeychain::OtherError;
    QByteArray data;
};

// Result hand-over between the application thread, where the job runs, and the caller.
struct PendingJob {
    std::mutex lock;
    std::condition_variable done;
    std::optional<JobOutcome> outcome;
    QPointer<QEventLoop> loop;  // only when the caller is the application thread itself
};

// Starts the job made by `makeJob` on the application thread and waits at most `timeout`.
// A job that outlives the wait deletes itself when it finishes; its late result is dropped.
std::optional<JobOutcome> runJob(std::function<QKeychain::Job*()> makeJob,
                                 std::chrono::milliseconds timeout) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return std::nullopt;
    auto pending = std::make_shared<PendingJob>();
    auto launch = [pending, makeJob = std::move(makeJob)] {
        QKeychain::Job* job = makeJob();
        job->setAutoDelete(true);
        job->setInsecureFallback(false);
        QObject::connect(job, &QKeychain::Job::finished, job, [pending](QKeychain::Job* finished) {
            JobOutcome outcome{finished->error(), {}};
            if (auto* reader = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                outcome.data = reader->binaryData();
            {
                std::lock_guard guard(pending->lock);
                pending->outcome = std::move(outcome);
            }
            pending->done.notify_all();
            if (pending->loop) pending->loop->quit();
        });
        job->start();
    };

    if (QThread::currentThread() == app->thread()) {
        QEventLoop loop;
        pending->loop = &loop;
        QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
        launch();
        loop.exec();
        pending->loop = nullptr;
        std::lock_guard guard(pending->lock);
        return pending->outcome;
    }
    QMetaObject::invokeMethod(app, launch, Qt::QueuedConnection);
    std::unique_lock guard(pending->lock);
    pending->done.wait_for(guard, timeout, [&] { return pending->outcome.has_value(); });
    return pending->outcome;
}

int statusOf(QKeychain::Error error) { return static_cast<int>(error); }

}  // namespace

KeychainBridgeIdentityVault::KeychainBridgeIdentityVault(QString service,
                                                         std::chrono::milliseconds timeout)
    : service_(std::move(service)), timeout_(timeout) {}

KeychainBridgeIdentityVault::Presence KeychainBridgeIdentityVault::probe() const {
    // QtKeychain's Secret Service items carry the attributes "server" (service) and "user" (key).
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("SearchItems"));
    QMap<QString, QString> attributes{{QStringLiteral("server"), service_},
                                      {QStringLiteral("user"), QString::fromLatin1(kAccount)}};
    call << QVariant::fromValue(attributes);
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, static_cast<int>(timeout_.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return Presence::unknown;
    const auto unlocked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0));
    const auto locked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1));
    if (!unlocked.isEmpty()) return Presence::unlocked;
    if (!locked.isEmpty()) return Presence::locked;
    return Presence::absent;
}

std::optional<QByteArray> KeychainBridgeIdentityVault::read() {
    if (probe() == Presence::locked)
        throw BridgeTLSIdentityError::keychain(kStatusInteractionNotAllowed);
    const auto outcome = runJob(
        [service = service_] {
            auto* job = new QKeychain::ReadPasswordJob(service);
            job->setKey(QString::fromLatin1(kAccount));
            return job;
        },
        timeout_);
    if (!outcome) throw BridgeTLSIdentityError::keychain(kStatusInteractionNotAllowed);
    if (outcome->error == QKeychain::EntryNotFound) return std::nullopt;
    if (outcome->error != QKeychain::NoError)
        throw BridgeTLSIdentityError::keychain(statusOf(outcome->error));
    return outcome->data;
}

void KeychainBridgeIdentityVault::insert(const QByteArray& record) {
    // QtKeychain overwrites silently; look first so an existing record is never replaced.
    if (read()) throw BridgeTLSIdentityError::keychain(kStatusDuplicateItem);
    const auto outcome = runJob(
        [service = service_, record] {
            auto* job = new QKeychain::WritePasswordJob(service);
            job->setKey(QString::fromLatin1(kAccount));
            job->setBinaryData(record);
            return job;
        },
        timeout_);
    if (!outcome) throw BridgeTLSIdentityError::keychain(kStatusInteractionNotAllowed);
    if (outcome->error != QKeychain::NoError)
        throw BridgeTLSIdentityError::keychain(statusOf(outcome->error));
}

}  // namespace norv
