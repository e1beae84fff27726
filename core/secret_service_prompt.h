#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <functional>

namespace norv {

// One prompt of the Secret Service (org.freedesktop.Secret.Prompt): a dialog the service shows
// the user, such as the one that chooses the password of a new keyring. Prompt() returns at once;
// the service sends Completed when the user has answered, however long that takes.
//
// Lives on a thread with an event loop; `done` runs there at most once, and the object deletes
// itself after it. withdraw() (which also deletes it) or deleting it drops the outcome.
class SecretServicePrompt : public QObject {
    Q_OBJECT
public:
    enum class Outcome { completed, dismissed, failed };
    using Done = std::function<void(Outcome outcome, const QString& detail)>;

    SecretServicePrompt(QDBusConnection bus, QString path, Done done, QObject* parent = nullptr);
    ~SecretServicePrompt() override;

    // Listens for Completed, then asks the service to show the prompt; a refused or unanswered
    // call (bounded by `callTimeoutMs`) is `failed`.
    void show(int callTimeoutMs);
    // Asks the service to close a prompt still open; no outcome follows.
    void withdraw();

private Q_SLOTS:
    void onCompleted(bool dismissed, const QDBusVariant& result);

private:
    void finish(Outcome outcome, const QString& detail);
    void stopListening();

    QDBusConnection bus_;
    QString path_;
    Done done_;
    bool listening_ = false;
};

}  // namespace norv
