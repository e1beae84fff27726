#include "core/admin_tls.h"
#include "core/bridge_tls_identity.h"
#include "tests/support/core/fake_engine_process.h"

#include <gtest/gtest.h>

namespace norv {
namespace {

using test::certificateOf;
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

// OpenSSL's own date errors about the pinned leaf (and the untrusted self-signed error that
// comes with them) give way to the inclusive date rule; nothing else does.
TEST(AdminTLS, VerifyOverrulesOnlyTheLeafsDateErrors) {
    const auto parameters =
        AdminTLS::parameters(certificateOf(fixtureIdentityLine("expired_identity.json")));
    const QSslCertificate& leaf = parameters.pinned;
    const QDateTime notAfter(QDate(2021, 1, 1), QTime(0, 0), Qt::UTC);
    const QSslError expired(QSslError::CertificateExpired, leaf);
    const QSslError untrusted(QSslError::SelfSignedCertificate, leaf);
    const QSslError name(QSslError::HostNameMismatch, leaf);
    auto verify = [&](const QList<QSslError>& errors, const QDateTime& now) {
        return AdminTLS::verify(parameters, {leaf}, errors, now);
    };
    EXPECT_TRUE(verify({name, untrusted, expired}, notAfter));
    EXPECT_FALSE(verify({name, untrusted, expired}, notAfter.addSecs(1)));
    EXPECT_FALSE(verify({name, untrusted}, notAfter));
    EXPECT_FALSE(
        verify({expired, QSslError(QSslError::CertificateSignatureFailed, leaf)}, notAfter));
    const QSslCertificate other = AdminTLS::parameters(certificateOf(sharedIdentityLine())).pinned;
    EXPECT_FALSE(verify({expired, QSslError(QSslError::CertificateExpired, other)}, notAfter));
}

}  // namespace
}  // namespace norv
