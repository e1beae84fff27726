#include "tests/support/core/private_keyring.h"

#include "tests/support/core/engine_test_support.h"
#include "tests/support/private_bus_config.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>

#include <csignal>
#include <sys/prctl.h>
#include <vector>

namespace norv::test {
namespace {

void endProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

// The bus daemons of this process, kept (never destroyed) until it ends.
std::vector<QProcess*>& buses() {
    static auto* daemons = new std::vector<QProcess*>;
    return *daemons;
}

}  // namespace

PrivateKeyring::PrivateKeyring(const QString& dataHome, const QStringList& answers) : dataHome_(dataHome) {
    if (!dir_.isValid()) return;
    const QString socket = dir_.filePath(QStringLiteral("bus"));
    address_ = QStringLiteral("unix:path=") + socket;
    QFile config(dir_.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly)) return;
    config.write(privateBusConfig(address_));
    config.close();
    // A GLib client of this process (libsecret, under QtKeychain) ends the process when its session
    // bus closes; so the bus outlives this object and ends with the process (parent-death signal).
    daemon_ = new QProcess;
    daemon_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    daemon_->start(QStringLiteral("dbus-daemon"), {QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                                                  QStringLiteral("--config-file=") + config.fileName()});
    if (!waitUntil([&] { return QFile::exists(socket); }, std::chrono::seconds(5))) return;

    // Nothing of the machine's own keyring leaks in: no control folder, a runtime folder of its own.
    const QString runtime = dir_.filePath(QStringLiteral("run"));
    if (!QDir().mkpath(runtime) || !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("GNOME_KEYRING_CONTROL"));
    // The prompts' texts the stand-in answers by are gnome-keyring's English ones.
    env.remove(QStringLiteral("LANGUAGE"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome_);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);

    prompter_.setProcessEnvironment(env);
    prompter_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Debian's own interpreter, which python3-dbus, python3-gi and python3-cryptography serve.
    prompter_.start(QStringLiteral("/usr/bin/python3"),
                    QStringList{QStringLiteral(NORV_FIXTURES_DIR "/keyring_prompter/stand_in_prompter.py"), address_} +
                        answers);
    if (!waitUntil([&] { return prompterLines().contains(QStringLiteral("ready")) || prompter_.state() == QProcess::NotRunning; },
                   std::chrono::seconds(10)) ||
        prompter_.state() == QProcess::NotRunning)
        return;

    keyring_.setProcessEnvironment(env);
    keyring_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    keyring_.start(QStringLiteral("gnome-keyring-daemon"), {QStringLiteral("--foreground"), QStringLiteral("--components=secrets")});
    const QString probe = QStringLiteral("norv-private-keyring-%1").arg(reinterpret_cast<quintptr>(this));
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address_, probe);
        ready_ = waitUntil([&] {
            return bus.isConnected() && bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")).value();
        }, std::chrono::seconds(10));
    }
    QDBusConnection::disconnectFromBus(probe);
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")) savedAddress_ = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    pointed_ = true;
}

PrivateKeyring::~PrivateKeyring() {
    if (pointed_ && savedAddress_) qputenv("DBUS_SESSION_BUS_ADDRESS", *savedAddress_);
    else if (pointed_) qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    for (QProcess* process : {&keyring_, &prompter_}) endProcess(*process);
    if (daemon_) buses().push_back(daemon_);
}

QStringList PrivateKeyring::prompterLines() {
    prompterOutput_ += prompter_.readAllStandardOutput();
    return QString::fromUtf8(prompterOutput_).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList PrivateKeyring::keyringFiles() const {
    return QDir(dataHome_ + QStringLiteral("/keyrings")).entryList(QDir::Files, QDir::Name);
}

}  // namespace norv::test
