#include "tests/support/core/fake_engine_process.h"

#include "core/bridge_tls_identity.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <csignal>

namespace norv::test {

FakeEngineProcess::FakeEngineProcess(const QByteArray& identityLine, const QString& token,
                       const nlohmann::json& scenario) {
    const QString scenarioPath = folder_.filePath(QStringLiteral("scenario.json"));
    QFile file(scenarioPath);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(QByteArray::fromStdString(scenario.dump()));
    file.close();

    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    environment.insert(QStringLiteral("HOME"), folder_.path());
    environment.insert(QStringLiteral("NORV_ADMIN_TOKEN"), token);
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The system interpreter in isolated mode, as the demo runtime runs it.
    process_.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-I"), QStringLiteral("-B"), QStringLiteral("-u"),
                    QStringLiteral("-X"), QStringLiteral("faulthandler"),
                    QStringLiteral(NORV_FAKE_RESOURCES_DIR "/BridgeRuntime/tools/run_bridge.py"),
                    QStringLiteral("--managed-stdin"), QStringLiteral("--tls-identity-stdin"),
                    QStringLiteral("--admin-port"), QStringLiteral("0"),
                    QStringLiteral("--scenario"), scenarioPath});
    if (!process_.waitForStarted(5000)) return;
    process_.write(identityLine + '\n');

    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QDeadlineTimer deadline(10000);
    QByteArray output;
    while (!deadline.hasExpired()) {
        if (!process_.canReadLine() &&
            !process_.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
        while (process_.canReadLine()) {
            const QByteArray line = process_.readLine();
            output += line;
            const auto match = listening.match(QString::fromUtf8(line));
            if (match.hasMatch()) {
                port_ = static_cast<quint16>(match.captured(1).toUInt());
                return;
            }
        }
    }
    qWarning("fake engine did not start (state %d, error %s): %s", int(process_.state()),
             qPrintable(process_.errorString()), output.constData());
    // faulthandler prints where the interpreter was stuck. An engine that has already ended has
    // no id (0), and kill(0) would reach this whole process group.
    if (const qint64 pid = process_.processId(); pid > 0) ::kill(static_cast<pid_t>(pid), SIGABRT);
    process_.waitForFinished(3000);
}

FakeEngineProcess::~FakeEngineProcess() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.closeWriteChannel();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

std::vector<nlohmann::json> FakeEngineProcess::records() const {
    std::vector<nlohmann::json> entries;
    QFile file(folder_.filePath(QStringLiteral("received.jsonl")));
    if (!file.open(QIODevice::ReadOnly)) return entries;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.isEmpty()) entries.push_back(nlohmann::json::parse(line.toStdString()));
    }
    return entries;
}

std::vector<nlohmann::json> FakeEngineProcess::frames() const {
    std::vector<nlohmann::json> bodies;
    for (const auto& entry : records())
        if (entry.value("event", "") == "frame") bodies.push_back(entry["body"]);
    return bodies;
}

std::vector<std::string> FakeEngineProcess::paths() const {
    std::vector<std::string> result;
    for (const auto& body : frames()) result.push_back(body.value("path", ""));
    return result;
}

std::optional<qint64> FakeEngineProcess::recordAt(int number, const std::string& event) const {
    for (const auto& entry : records())
        if (entry.value("connection", 0) == number && entry.value("event", "") == event)
            return qint64(entry.value("at", 0.0) * 1000.0);
    return std::nullopt;
}

const QByteArray& sharedIdentityLine() {
    static const QByteArray line = BridgeTLSIdentity::generate().encode();
    return line;
}

QByteArray fixtureIdentityLine(const char* name) {
    QFile file(QStringLiteral(NORV_FIXTURES_DIR "/certs/") + QString::fromLatin1(name));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll().trimmed();
}

QString certificateOf(const QByteArray& identityLine) {
    return QString::fromStdString(
        nlohmann::json::parse(identityLine.toStdString()).at("certificate_pem"));
}

}  // namespace norv::test
