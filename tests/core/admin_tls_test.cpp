#include "core/admin_tls.h"
#include "core/bridge_tls_identity.h"
#include "core/fake_engine.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QSslSocket>
#include <QTimer>

namespace norv {
namespace {

using test::certificateOf;
using test::FakeEngine;
using test::fixtureIdentityLine;
using test::sharedIdentityLine;

TEST(AdminTLS, ParametersPinTheCertificateWhateverItsLayout) {
    const QString pem = certificateOf(sharedIdentityLine());
    const AdminTLSParameters clean = AdminTLS::parameters(pem);
    QString messy = pem;
    messy.replace(QStringLiteral("\n"), QStringLiteral("\r\n\r\n "));
    EXPECT_EQ(AdminTLS::parameters(messy).pin, clean.pin);
    EXPECT_EQ(clean.pin.toHex(), (BridgeTLSIdentity{pem, {}}.fingerprint().toLatin1()));
    EXPECT_EQ(clean.configuration.caCertificates(), QList<QSslCertificate>{clean.pinned});

    auto refused = [](const QString& text) {
        try {
            AdminTLS::parameters(text);
        } catch (const BridgeTLSIdentityError& error) {
            return error.kind() == BridgeTLSIdentityError::Kind::invalidRecord;
        }
        return false;
    };
    QString oversized = pem;
    oversized.append(QString(AdminTLS::kMaxPEMBytes + 1 - pem.toUtf8().size(), QLatin1Char('\n')));
    EXPECT_TRUE(refused(oversized));
    oversized.chop(1);
    EXPECT_FALSE(refused(oversized));
    EXPECT_TRUE(refused(QString(pem).replace(70, 1, QStringLiteral("%"))));
    EXPECT_TRUE(
        refused(QStringLiteral("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----")));
}

TEST(AdminTLS, ValidDatesIncludeBothBounds) {
    const auto parameters =
        AdminTLS::parameters(certificateOf(fixtureIdentityLine("expired_identity.json")));
    const QSslCertificate& certificate = parameters.pinned;
    const QDateTime notBefore(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime notAfter(QDate(2021, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_TRUE(AdminTLS::validDates(certificate, notBefore));
    EXPECT_TRUE(AdminTLS::validDates(certificate, notAfter));
    EXPECT_FALSE(AdminTLS::validDates(certificate, notBefore.addSecs(-1)));
    EXPECT_FALSE(AdminTLS::validDates(certificate, notAfter.addSecs(1)));
}

// Connects to the engine with the admin TLS policy; true when the peer was accepted.
bool pinnedHandshake(quint16 port, const AdminTLSParameters& parameters) {
    QSslSocket socket;
    AdminTLS::configure(socket, parameters);
    QList<QSslError> errors;
    bool accepted = false;
    QEventLoop loop;
    QObject::connect(&socket, &QSslSocket::sslErrors, &loop, [&](const QList<QSslError>& reported) {
        errors = reported;
        if (AdminTLS::verify(parameters, socket.peerCertificateChain(), errors,
                             QDateTime::currentDateTimeUtc()))
            socket.ignoreSslErrors();
    });
    QObject::connect(&socket, &QSslSocket::encrypted, &loop, [&] {
        accepted = AdminTLS::verify(parameters, socket.peerCertificateChain(), errors,
                                    QDateTime::currentDateTimeUtc());
        loop.quit();
    });
    QObject::connect(&socket, &QSslSocket::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    loop.exec();
    return accepted;
}

TEST(AdminTLS, HandshakeAcceptsOnlyThePinnedCertificateWithinItsDates) {
    const auto pinned = AdminTLS::parameters(certificateOf(sharedIdentityLine()));
    {
        FakeEngine engine(sharedIdentityLine(), QStringLiteral("t"), nlohmann::json::object());
        ASSERT_TRUE(engine.started());
        EXPECT_TRUE(pinnedHandshake(engine.port(), pinned));
    }
    {
        // Same subject, other key: a second identity made the same way.
        const QByteArray other = BridgeTLSIdentity::generate().encode();
        FakeEngine engine(other, QStringLiteral("t"), nlohmann::json::object());
        ASSERT_TRUE(engine.started());
        EXPECT_FALSE(pinnedHandshake(engine.port(), pinned));
    }
    for (const char* fixture : {"expired_identity.json", "not_yet_valid_identity.json"}) {
        const QByteArray identity = fixtureIdentityLine(fixture);
        FakeEngine engine(identity, QStringLiteral("t"), nlohmann::json::object());
        ASSERT_TRUE(engine.started()) << fixture;
        EXPECT_FALSE(pinnedHandshake(engine.port(), AdminTLS::parameters(certificateOf(identity))))
            << fixture;
    }
}

}  // namespace
}  // namespace norv
