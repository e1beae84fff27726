#include "core/keychain_bridge_identity_vault.h"

#include "core/bridge_tls_identity_error.h"
#include "core/secret_service_prompt.h"

#include <qt6keychain/keychain.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace norv {
namespace {

struct JobOutcome {
    QKeychain::Error error = QKeychain::OtherError;
    QString errorText;
    QByteArray data;
};

// Hand-over between the keychain thread, where the work runs, and the caller waiting for it.
struct Handover {
    std::mutex lock;
    std::condition_variable changed;
    bool finished = false;
    bool abandoned = false;  // the application is ending: nobody will answer any more
};

template <typename T>
struct Pending : Handover {
    std::optional<T> value;
};

// The thread every QtKeychain job and Secret Service prompt of this process runs on, started on
// first use. QtKeychain keeps its job queue on the thread that first used it; giving it a thread
// of its own means no caller's event loop is needed or entered, the GUI thread's least of all.
// When the application object goes, every caller still waiting is released, the thread is asked
// to end and waited for a bounded time; one still busy is left to the end of the process rather
// than destroyed running.
std::mutex keychainLock;
QObject* keychainObject = nullptr;         // lives on the keychain thread
std::vector<std::weak_ptr<Handover>> waiting;  // callers waiting now
bool keychainEnding = false;

void endKeychainThread() {
    QThread* thread = nullptr;
    {
        std::lock_guard guard(keychainLock);
        keychainEnding = true;
        for (const auto& entry : std::exchange(waiting, {})) {
            if (const auto handover = entry.lock()) {
                std::lock_guard handoverGuard(handover->lock);
                handover->abandoned = true;
                handover->changed.notify_all();
            }
        }
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

// Runs `work` on the keychain thread unless it is ending.
void postToKeychainThread(std::function<void()> work) {
    std::lock_guard guard(keychainLock);
    if (keychainObject) QMetaObject::invokeMethod(keychainObject, std::move(work), Qt::QueuedConnection);
}

enum class Wait { answered, timedOut, abandoned };

// Runs `begin` on the keychain thread, handing it the keychain thread's context object and the
// function that delivers the answer, and waits at most `bound` for that answer. An answer after
// the wait is dropped.
template <typename T>
std::pair<Wait, std::optional<T>> awaitAnswer(std::function<void(QObject*, std::function<void(T)>)> begin,
                                              std::chrono::milliseconds bound) {
    if (!QCoreApplication::instance()) return {Wait::abandoned, std::nullopt};
    auto pending = std::make_shared<Pending<T>>();
    {
        std::lock_guard guard(keychainLock);
        if (keychainEnding) return {Wait::abandoned, std::nullopt};
        std::erase_if(waiting, [](const std::weak_ptr<Handover>& entry) { return entry.expired(); });
        waiting.push_back(pending);
    }
    QObject* context = keychainContext();
    QMetaObject::invokeMethod(
        context,
        [context, pending, begin = std::move(begin)] {
            begin(context, [pending](T value) {
                std::lock_guard guard(pending->lock);
                if (pending->finished) return;
                pending->value = std::move(value);
                pending->finished = true;
                pending->changed.notify_all();
            });
        },
        Qt::QueuedConnection);
    std::unique_lock guard(pending->lock);
    pending->changed.wait_for(guard, bound, [&] { return pending->finished || pending->abandoned; });
    if (pending->finished) return {Wait::answered, std::move(pending->value)};
    pending->finished = true;  // a late answer changes nothing
    return {pending->abandoned ? Wait::abandoned : Wait::timedOut, std::nullopt};
}

// Starts the job made by `makeJob` on the keychain thread and waits at most `timeout`.
// A job that outlives the wait deletes itself when it finishes; its late result is dropped.
std::optional<JobOutcome> runJob(std::function<QKeychain::Job*()> makeJob, std::chrono::milliseconds timeout) {
    return awaitAnswer<JobOutcome>(
               [makeJob = std::move(makeJob)](QObject*, std::function<void(JobOutcome)> answer) {
                   QKeychain::Job* job = makeJob();
                   job->setAutoDelete(true);
                   job->setInsecureFallback(false);
                   QObject::connect(job, &QKeychain::Job::finished, job, [answer](QKeychain::Job* finished) {
                       JobOutcome outcome{finished->error(), finished->errorString(), {}};
                       if (auto* reader = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                           outcome.data = reader->binaryData();
                       answer(std::move(outcome));
                   });
                   job->start();
               },
               timeout)
        .second;
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

const QString kSecretsRoot = QStringLiteral("/org/freedesktop/secrets");
const QString kServiceInterface = QStringLiteral("org.freedesktop.Secret.Service");

QDBusMessage callSecretService(const QString& path, const QString& interface, const QString& method,
                               const QVariantList& arguments, std::chrono::milliseconds timeout) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"), path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, static_cast<int>(timeout.count()));
}

struct PromptAnswer {
    SecretServicePrompt::Outcome outcome;
    QString detail;
};

}  // namespace

KeychainBridgeIdentityVault::KeychainBridgeIdentityVault(QString service, std::chrono::milliseconds timeout,
                                                         std::chrono::milliseconds promptTimeout)
    : service_(std::move(service)), timeout_(timeout), promptTimeout_(promptTimeout) {}

KeychainBridgeIdentityVault::Presence KeychainBridgeIdentityVault::probe() const {
    static const QMetaType registered = qDBusRegisterMetaType<QMap<QString, QString>>();
    Q_UNUSED(registered);
    auto call = [&](const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments) {
        return callSecretService(path, interface, method, arguments, timeout_);
    };
    const QString& root = kSecretsRoot;
    const QString& serviceInterface = kServiceInterface;

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
    if (collection.isEmpty() || collection == QStringLiteral("/")) return Presence::noKeyring;
    const QDBusMessage locked =
        call(collection, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
             {QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked")});
    if (locked.type() != QDBusMessage::ReplyMessage || locked.arguments().size() != 1)
        return Presence::unknown;
    return qdbus_cast<QDBusVariant>(locked.arguments().at(0)).variant().toBool() ? Presence::locked
                                                                                 : Presence::absent;
}

// The first start on a desktop whose Secret Service has no keyring yet: creating the default
// keyring makes the service show its "Choose password for new keyring" prompt, its normal answer
// rather than a failure. The user's answer is awaited for up to promptTimeout_ (then the prompt is
// closed); every call to the service itself keeps the short bound.
void KeychainBridgeIdentityVault::createKeyring() const {
    static const QMetaType registered = qDBusRegisterMetaType<QMap<QString, QVariant>>();
    Q_UNUSED(registered);
    // Named "login", the keyring the desktop unlocks at login when it has the login password.
    const QVariantMap properties{
        {QStringLiteral("org.freedesktop.Secret.Collection.Label"), QStringLiteral("login")}};
    const QDBusMessage created =
        callSecretService(kSecretsRoot, kServiceInterface, QStringLiteral("CreateCollection"),
                          {QVariant::fromValue(properties), QStringLiteral("default")}, timeout_);
    if (created.type() != QDBusMessage::ReplyMessage || created.arguments().size() != 2) {
        const QString reason = created.type() == QDBusMessage::ErrorMessage
                                   ? QStringLiteral("Secret Service: ") + created.errorMessage()
                                   : noAnswerReason(timeout_);
        throw BridgeTLSIdentityError::keychain(kStatusInteractionNotAllowed, reason);
    }
    const QString prompt = qdbus_cast<QDBusObjectPath>(created.arguments().at(1)).path();
    if (prompt.isEmpty() || prompt == QStringLiteral("/")) return;  // made without asking

    // The prompt object is used on the keychain thread only, where it is also closed if the
    // answer does not come in time. It deletes itself once answered or closed.
    auto shown = std::make_shared<QPointer<SecretServicePrompt>>();
    const int callTimeout = static_cast<int>(timeout_.count());
    const auto [wait, answer] = awaitAnswer<PromptAnswer>(
        [shown, prompt, callTimeout](QObject* context, std::function<void(PromptAnswer)> deliver) {
            auto* dialog = new SecretServicePrompt(
                QDBusConnection::sessionBus(), prompt,
                [deliver](SecretServicePrompt::Outcome outcome, const QString& detail) {
                    deliver({outcome, detail});
                },
                context);
            *shown = dialog;
            dialog->show(callTimeout);
        },
        promptTimeout_);
    if (wait != Wait::answered) {
        postToKeychainThread([shown] {
            if (SecretServicePrompt* dialog = *shown) dialog->withdraw();
        });
        throw BridgeTLSIdentityError::keyringNotCreated(
            wait == Wait::timedOut
                ? QStringLiteral("the keyring prompt had no answer within %1 ms").arg(promptTimeout_.count())
                : QStringLiteral("the application ended while the keyring prompt was open"));
    }
    switch (answer->outcome) {
        case SecretServicePrompt::Outcome::completed:
            return;
        case SecretServicePrompt::Outcome::dismissed:
            throw BridgeTLSIdentityError::keyringNotCreated(QStringLiteral("the keyring prompt was dismissed"));
        case SecretServicePrompt::Outcome::failed:
            break;
    }
    throw BridgeTLSIdentityError::keychain(kStatusInteractionNotAllowed,
                                           QStringLiteral("Secret Service prompt: ") + answer->detail);
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
    if (probe() == Presence::noKeyring) createKeyring();
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
