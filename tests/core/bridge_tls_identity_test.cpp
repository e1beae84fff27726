#include "core/bridge_tls_identity.h"
#include "core/bridge_tls_identity_store.h"
#include "core/memory_bridge_identity_vault.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

namespace norv {
namespace {

// One real identity for the whole file; openssl runs once here.
const BridgeTLSIdentity& sharedIdentity() {
    static const BridgeTLSIdentity identity = BridgeTLSIdentity::generate();
    return identity;
}

BridgeTLSIdentityError::Kind kindOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const BridgeTLSIdentityError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no BridgeTLSIdentityError thrown";
    return BridgeTLSIdentityError::Kind::keychain;
}

QByteArray recordWith(const std::string& certificate, const std::string& key) {
    nlohmann::json object{{"certificate_pem", certificate}, {"private_key_pem", key}};
    return QByteArray::fromStdString(object.dump());
}

TEST(BridgeTLSIdentity, GeneratedIdentityIsAnEcP256SelfSignedServerCertificate) {
    const auto& identity = sharedIdentity();
    const QSslCertificate certificate(identity.certificatePEM.toUtf8(), QSsl::Pem);
    ASSERT_FALSE(certificate.isNull());
    EXPECT_EQ(certificate.issuerDisplayName(), certificate.subjectDisplayName());
    EXPECT_EQ(certificate.subjectInfo(QSslCertificate::CommonName),
              QStringList{QStringLiteral("Norv Bridge")});
    const qint64 days = certificate.effectiveDate().daysTo(certificate.expiryDate());
    EXPECT_EQ(days, 3650);
    const QSslKey key(identity.privateKeyPEM.toUtf8(), QSsl::Ec);
    EXPECT_FALSE(key.isNull());
    EXPECT_EQ(key.length(), 256);

    EXPECT_EQ(identity.fingerprint().size(), 64);
    EXPECT_EQ(identity.description(),
              QStringLiteral("BridgeTLSIdentity(") + identity.fingerprint() + ")");
    EXPECT_FALSE(identity.description().contains(QStringLiteral("PRIVATE")));

    // The record round-trips, certificate key first.
    const QByteArray record = identity.encode();
    EXPECT_TRUE(record.startsWith("{\"certificate_pem\":"));
    EXPECT_EQ(BridgeTLSIdentity::decode(record), identity);
}

TEST(BridgeTLSIdentity, FingerprintIgnoresLineEndsAndSpacing) {
    const auto& identity = sharedIdentity();
    BridgeTLSIdentity messy = identity;
    messy.certificatePEM.replace(QStringLiteral("\n"), QStringLiteral("\r\n\r\n  "));
    messy.certificatePEM.prepend(QStringLiteral("   \n"));
    EXPECT_EQ(messy.fingerprint(), identity.fingerprint());

    BridgeTLSIdentity broken = identity;
    broken.certificatePEM.insert(broken.certificatePEM.indexOf(QLatin1Char('\n')) + 10,
                                 QLatin1Char('*'));
    EXPECT_EQ(kindOf([&] { broken.fingerprint(); }), BridgeTLSIdentityError::Kind::invalidRecord);
    EXPECT_EQ(broken.description(), QStringLiteral("BridgeTLSIdentity(invalid)"));

    // Valid Base64 that is no certificate.
    BridgeTLSIdentity notCertificate{
        QStringLiteral("-----BEGIN CERTIFICATE-----\naGVsbG8gd29ybGQ=\n"
                       "-----END CERTIFICATE-----\n"),
        QStringLiteral("key")};
    EXPECT_EQ(kindOf([&] { notCertificate.fingerprint(); }),
              BridgeTLSIdentityError::Kind::invalidRecord);
}

TEST(BridgeTLSIdentity, DecodeBoundsAndValidatesTheRecord) {
    const auto& identity = sharedIdentity();
    const std::string certificate = identity.certificatePEM.toStdString();
    const std::string key = identity.privateKeyPEM.toStdString();

    // Size limit of the whole record: padding with spaces keeps it valid JSON.
    QByteArray atLimit = recordWith(certificate, key);
    atLimit.append(QByteArray(BridgeTLSIdentity::kMaxRecordBytes - atLimit.size(), ' '));
    EXPECT_EQ(BridgeTLSIdentity::decode(atLimit), identity);
    EXPECT_EQ(kindOf([&] { BridgeTLSIdentity::decode(atLimit + ' '); }),
              BridgeTLSIdentityError::Kind::invalidRecord);

    EXPECT_EQ(kindOf([&] { BridgeTLSIdentity::decode(recordWith(certificate, "")); }),
              BridgeTLSIdentityError::Kind::invalidRecord);
    EXPECT_EQ(kindOf([&] {
                  BridgeTLSIdentity::decode(recordWith(certificate, std::string(16385, 'k')));
              }),
              BridgeTLSIdentityError::Kind::invalidRecord);
    const std::string longCertificate = certificate + std::string(16385 - certificate.size(), '\n');
    EXPECT_EQ(kindOf([&] { BridgeTLSIdentity::decode(recordWith(longCertificate, key)); }),
              BridgeTLSIdentityError::Kind::invalidRecord);

    // Not JSON, or JSON without the fields: the parser's own error, not a damaged-identity error.
    EXPECT_THROW(BridgeTLSIdentity::decode("not json"), nlohmann::json::exception);
    EXPECT_THROW(BridgeTLSIdentity::decode(R"({"certificate_pem": "x"})"),
                 nlohmann::json::exception);
}

TEST(BridgeTLSIdentity, OpenSSLFailuresAreReportedAndLeaveNoWorkingFolder) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QByteArray savedTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", scratch.path().toUtf8());

    auto script = [&](const char* name, const char* body) {
        const QString path = scratch.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(body);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    };
    const QString slow = script("slow-openssl", "#!/bin/sh\nexec sleep 5\n");
    const QString failing = script("failing-openssl", "#!/bin/sh\nexit 1\n");

    using std::chrono::milliseconds;
    EXPECT_EQ(kindOf([&] {
                  BridgeTLSIdentity::generate({slow, milliseconds(200)});
              }),
              BridgeTLSIdentityError::Kind::generationFailed);
    EXPECT_EQ(kindOf([&] {
                  BridgeTLSIdentity::generate({failing, milliseconds(5000)});
              }),
              BridgeTLSIdentityError::Kind::generationFailed);
    EXPECT_THROW(BridgeTLSIdentity::generate({scratch.filePath("missing"), milliseconds(5000)}),
                 std::runtime_error);

    const auto leftovers =
        QDir(scratch.path()).entryList({QStringLiteral("norv-identity-*")}, QDir::AllEntries);
    EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(' ').toStdString();
    qputenv("TMPDIR", savedTmp);
}

TEST(BridgeTLSIdentityStore, CreatesTheIdentityOnceAndReusesIt) {
    auto vault = std::make_shared<MemoryBridgeIdentityVault>();
    int generated = 0;
    BridgeTLSIdentityStore store(vault, [&] {
        ++generated;
        return sharedIdentity();
    });
    const BridgeTLSIdentity first = store.loadOrCreate();
    const BridgeTLSIdentity second = store.loadOrCreate();
    EXPECT_EQ(generated, 1);
    EXPECT_EQ(first, second);
    EXPECT_EQ(vault->read(), first.encode());

    // A second store on the same vault (a later start) reads, never generates.
    BridgeTLSIdentityStore later(vault, [&]() -> BridgeTLSIdentity {
        ADD_FAILURE() << "generated again";
        return {};
    });
    EXPECT_EQ(later.loadOrCreate(), first);
}

TEST(BridgeTLSIdentityStore, DamagedRecordIsReportedOnEveryLoadAndKept) {
    const QByteArray damaged =
        recordWith("-----BEGIN CERTIFICATE-----\n!!\n-----END CERTIFICATE-----", "key");
    auto vault = std::make_shared<MemoryBridgeIdentityVault>(damaged);
    BridgeTLSIdentityStore store(vault, [&]() -> BridgeTLSIdentity {
        ADD_FAILURE() << "a damaged record must not be replaced";
        return sharedIdentity();
    });
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_EQ(kindOf([&] { store.loadOrCreate(); }),
                  BridgeTLSIdentityError::Kind::invalidRecord);
    EXPECT_EQ(vault->read(), damaged);
}

TEST(BridgeTLSIdentityStore, VaultAndGeneratorFailuresStoreNothing) {
    auto vault = std::make_shared<MemoryBridgeIdentityVault>();
    vault->setReadFailure(-25293);
    BridgeTLSIdentityStore refused(vault, [] { return sharedIdentity(); });
    try {
        refused.loadOrCreate();
        ADD_FAILURE() << "no error";
    } catch (const BridgeTLSIdentityError& error) {
        EXPECT_EQ(error.description(),
                  QStringLiteral("Bridge identity is unavailable in Keychain (-25293)."));
    }

    auto empty = std::make_shared<MemoryBridgeIdentityVault>();
    BridgeTLSIdentityStore failing(
        empty, []() -> BridgeTLSIdentity { throw BridgeTLSIdentityError::generationFailed(); });
    EXPECT_EQ(kindOf([&] { failing.loadOrCreate(); }),
              BridgeTLSIdentityError::Kind::generationFailed);
    EXPECT_FALSE(empty->read().has_value());
}

}  // namespace
}  // namespace norv
