#include "core/keychain_bridge_identity_vault.h"

#include "core/bridge_tls_identity_error.h"

#include <qt6keychain/keychain.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace norv {
namespace {

struct JobOutcome {
    QKeychain::Error error = QKeychain::OtherError;
    QString errorText;
    QByteArray data;
};

// Result hand-over between the keychain thread, where the job runs, and the caller.
struct PendingJob {
    std::mutex lock;
    std::condition_variable done;
    std::optional<JobOutcome> outcome;
};

// The thread every QtKeychain job of this process runs on, started on first use. QtKeychain keeps
// its job queue on the thread that first used it; giving it a thread of its own means no caller's
// event loop is needed or entered, the GUI thread's least of all. When the application object
// goes, the thread is asked to end and waited for a bounded time; one still busy is left to the
// end of the process rather than destroyed running.
std::mutex keychainLock;
QObject* keychainObject = nullptr;  // lives on the keychain thread

void endKeychainThread() {
    QThread* thread = nullptr;
    {
        std::lock_guard guard(keychainLock);
        if (!keychainObject) return;
        thread = keychainObject->thread();
        keychainObject = nullptr;  // deleted as the thread finishes
    }
    thread->quit();
    if (thread->wait(QDeadlineTimer(1000))) delete thread;
}

QObject* keychainContext() {
    std::lock_guard guard(keychainLock);
    if (!keychainObject) {
        auto* thread = new QThread;
        thread->setObjectName(QStringLiteral("org.norv.desktop.bridge.keychain"));
        keychainObject = new QObject;
        keychainObject->moveToThread(thread);
        QObject::connect(thread, &QThread::finished, keychainObject, &QObject::deleteLater);
        thread->start();
        qAddPostRoutine(endKeychainThread);
    }
    return keychainObject;
}

// Starts the job made by `makeJob` on the keychain thread and waits at most `timeout`.
// A job that outlives the wait deletes itself when it finishes; its late result is dropped.
std::optional<JobOutcome> runJob(std::function<QKeychain::Job*()> makeJob,
                                 std::chrono::milliseconds timeout) {
    if (!QCoreApplication::instance()) return std::nullopt;
    auto pending = std::make_shared<PendingJob>();
    auto launch = [pending, makeJob = std::move(makeJob)] {
        QKeychain::Job* job = makeJob();
        job->setAutoDelete(true);
        job->setInsecureFallback(false);
        QObject::connect(job, &QKeychain::Job::finished, job, [pending](QKeychain::Job* finished) {
            JobOutcome outcome{finished->error(), finished->errorString(), {}};
            if (auto* reader = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                outcome.data = reader->binaryData();
            {
                std::lock_guard guard(pending->lock);
                pending->outcome = std::move(outcome);
            }
            pending->done.notify_all();
        });
        job->start();
    };
    QMetaObject::invokeMethod(keychainContext(), launch, Qt::QueuedConnection);
    std::unique_lock guard(pending->lock);
    pending->done.wait_for(guard, timeout, [&] { return pending->outcome.has_value(); });
    return pending->outcome;
}

int statusOf(QKeychain::Error error) { return static_cast<int>(error); }

const QString kLockedReason = QStringLiteral("the Secret Service holds the identity locked");

QString noAnswerReason(std::chrono::milliseconds timeout) {
    return QStringLiteral("the Secret Service did not answer within %1 ms").arg(timeout.count());
}

BridgeTLSIdentityError jobFailure(const JobOutcome& outcome) {
    return BridgeTLSIdentityError::keychain(statusOf(outcome.error),
                                            QStringLiteral("Secret Service: ") + outcome.errorText);
}

}  // namespace

KeychainBridgeIdentityVault::KeychainBridgeIdentityVault(QString service,
                                                         std::chrono::milliseconds timeout)
    : service_(std::move(service)), timeout_(timeout) {}

KeychainBridgeIdentityVault::Presence KeychainBridgeIdentityVault::probe() const {
    static const QMetaType registered = qDBusRegisterMetaType<QMap<QString, QString>>();
    Q_UNUSED(registered);
    const int timeout = static_cast<int>(timeout_.count());
    auto bus = QDBusConnection::sessionBus();
    auto call = [&](const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.secrets"), path, interface, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, timeout);
    };
    const QString root = QStringLiteral("/org/freedesktop/secrets");
    const QString serviceInterface = QStringLiteral("org.freedesktop.Secret.Service");

    // QtKeychain's Secret Service items carry the attributes "server" (service) and "user" (key).
    const QMap<QString, QString> attributes{
        {QStringLiteral("server"), service_},
        {QStringLiteral("user"), QString::fromLatin1(kAccount)}};
    const QDBusMessage found = call(root, serviceInterface, QStringLiteral("SearchItems"),
                                    {QVariant::fromValue(attributes)});
    if (found.type() != QDBusMessage::ReplyMessage || found.arguments().size() != 2)
        return Presence::unknown;
    if (!qdbus_cast<QList<QDBusObjectPath>>(found.arguments().at(0)).isEmpty())
        return Presence::unlocked;
    if (!qdbus_cast<QList<QDBusObjectPath>>(found.arguments().at(1)).isEmpty())
        return Presence::locked;

    // A locked collection may hide its items; only an unlocked default collection can say
    // that there is no record.
    const QDBusMessage alias =
        call(root, serviceInterface, QStringLiteral("ReadAlias"), {QStringLiteral("default")});
    if (alias.type() != QDBusMessage::ReplyMessage || alias.arguments().size() != 1)
        return Presence::unknown;
    const QString collection = qdbus_cast<QDBusObjectPath>(alias.arguments().at(0)).path();
    if (collection.isEmpty() || collection == QStringLiteral("/")) return Presence::absent;
    const QDBusMessage locked =
        call(collection, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
             {QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked")});
    if (locked.type() != QDBusMessage::ReplyMessage || locked.arguments().size() != 1)
        return Presence::unknown;
    return qdbus_cast<QDBusVariant>(locked.arguments().at(0)).variant().toBool() ? Presence::locked
                                                                                 : Presence::absent;
}

std::optional<QByteArray> KeychainBridgeIdentityVault::read() {
    if (probe() == Presence::locked)
        throw BridgeTLSIdentityError::keychain(kStatusInteractionNotAllowed, kLockedReason);
    const auto outcome = runJob(
        [service = service_] {
            auto* job = new QKeychain::ReadPasswordJob(service);
            job->setKey(QString::fromLatin1(kAccount));
            return job;
        },
        timeout_);
    if (!outcome) throw BridgeTLSIdentityError::keychain(kStatusInteractionNotAllowed, noAnswerReason(timeout_));
    if (outcome->error == QKeychain::EntryNotFound) return std::nullopt;
    if (outcome->error != QKeychain::NoError) throw jobFailure(*outcome);
    return outcome->data;
}

void KeychainBridgeIdentityVault::insert(const QByteArray& record) {
    // QtKeychain overwrites silently; look first so an existing record is never replaced.
    if (read())
        throw BridgeTLSIdentityError::keychain(kStatusDuplicateItem,
                                               QStringLiteral("an identity record is already stored"));
    const auto outcome = runJob(
        [service = service_, record] {
            auto* job = new QKeychain::WritePasswordJob(service);
            job->setKey(QString::fromLatin1(kAccount));
            job->setBinaryData(record);
            return job;
        },
        timeout_);
    if (!outcome) throw BridgeTLSIdentityError::keychain(kStatusInteractionNotAllowed, noAnswerReason(timeout_));
    if (outcome->error != QKeychain::NoError) throw jobFailure(*outcome);
}

}  // namespace norv
