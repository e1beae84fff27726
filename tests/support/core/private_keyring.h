#pragma once

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

namespace norv::test {

// A desktop's Secret Service on first use, of the test's own: a private D-Bus daemon, the real
// gnome-keyring on it with `dataHome` as its data home and no keyring in it (started without
// --unlock, so it makes no login keyring), and the stand-in system prompter of
// tests/fixtures/keyring_prompter answering gnome-keyring's prompts with `answers`
// ("password:TEXT@MS", "dismiss@MS"). Points this process's session bus at the private one: make it
// before the process first uses its session bus (each ctest case runs in a process of its own).
// Every wait is bounded; gnome-keyring and the prompter end with it, the bus with the process.
class PrivateKeyring {
public:
    PrivateKeyring(const QString& dataHome, const QStringList& answers);
    ~PrivateKeyring();
    PrivateKeyring(const PrivateKeyring&) = delete;
    PrivateKeyring& operator=(const PrivateKeyring&) = delete;

    bool ready() const { return ready_; }
    // What the prompter printed so far, one entry per prompt shown ("prompt password Choose
    // password for new keyring") and per answer ("answered password yes").
    QStringList prompterLines();
    // The keyring files gnome-keyring keeps in the data home.
    QStringList keyringFiles() const;

private:
    QTemporaryDir dir_;
    QString dataHome_;
    QString address_;
    QProcess* daemon_ = nullptr;  // outlives this object (see the constructor)
    QProcess keyring_;
    QProcess prompter_;
    QByteArray prompterOutput_;
    std::optional<QByteArray> savedAddress_;
    bool pointed_ = false;
    bool ready_ = false;
};

}  // namespace norv::test
