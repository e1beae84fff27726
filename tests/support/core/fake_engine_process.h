#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include <optional>
#include <vector>

namespace norv::test {

// The fake engine of tests/fixtures/fake_engine, from the tests' engine runtime, as a child
// process on a free loopback port.
// It gets the identity line on standard input and the token in its environment, as the
// launcher hands them; closing its standard input stops it.
class FakeEngineProcess {
public:
    FakeEngineProcess(const QByteArray& identityLine, const QString& token,
               const nlohmann::json& scenario);
    ~FakeEngineProcess();
    FakeEngineProcess(const FakeEngineProcess&) = delete;
    FakeEngineProcess& operator=(const FakeEngineProcess&) = delete;

    bool started() const { return port_ != 0; }
    quint16 port() const { return port_; }

    // Every entry the engine recorded so far (one JSON object per line).
    std::vector<nlohmann::json> records() const;
    // The bodies of the frames received, in order.
    std::vector<nlohmann::json> frames() const;
    std::vector<std::string> paths() const;
    // When the engine first recorded `event` on connection `number`: milliseconds of the
    // machine's monotonic clock, or absent.
    std::optional<qint64> recordAt(int number, const std::string& event) const;

private:
    QTemporaryDir folder_;
    QProcess process_;
    quint16 port_ = 0;
};

// A real identity made by openssl once per test binary.
const QByteArray& sharedIdentityLine();
QByteArray fixtureIdentityLine(const char* name);
QString certificateOf(const QByteArray& identityLine);

}  // namespace norv::test
