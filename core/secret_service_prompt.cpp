#include "core/secret_service_prompt.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>

#include <utility>

namespace norv {
namespace {

const QString kService = QStringLiteral("org.freedesktop.secrets");
const QString kPromptInterface = QStringLiteral("org.freedesktop.Secret.Prompt");

}  // namespace

SecretServicePrompt::SecretServicePrompt(QDBusConnection bus, QString path, Done done, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), path_(std::move(path)), done_(std::move(done)) {}

SecretServicePrompt::~SecretServicePrompt() { stopListening(); }

void SecretServicePrompt::show(int callTimeoutMs) {
    // Listening first: the answer can follow the call's reply at once.
    listening_ = bus_.connect(kService, path_, kPromptInterface, QStringLiteral("Completed"), this,
                              SLOT(onCompleted(bool, QDBusVariant)));
    if (!listening_) return finish(Outcome::failed, QStringLiteral("cannot listen for the prompt's answer"));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path_, kPromptInterface, QStringLiteral("Prompt"));
    call.setArguments({QString()});  // no parent window to place the dialog over
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        if (finished->isError()) finish(Outcome::failed, finished->error().message());
    });
}

void SecretServicePrompt::withdraw() {
    if (!done_) return;
    done_ = nullptr;
    stopListening();
    bus_.asyncCall(QDBusMessage::createMethodCall(kService, path_, kPromptInterface, QStringLiteral("Dismiss")));
    deleteLater();
}

void SecretServicePrompt::onCompleted(bool dismissed, const QDBusVariant&) {
    finish(dismissed ? Outcome::dismissed : Outcome::completed, {});
}

void SecretServicePrompt::finish(Outcome outcome, const QString& detail) {
    stopListening();
    Done done = std::exchange(done_, nullptr);
    if (!done) return;
    done(outcome, detail);
    deleteLater();
}

void SecretServicePrompt::stopListening() {
    if (!std::exchange(listening_, false)) return;
    bus_.disconnect(kService, path_, kPromptInterface, QStringLiteral("Completed"), this,
                    SLOT(onCompleted(bool, QDBusVariant)));
}

}  // namespace norv
