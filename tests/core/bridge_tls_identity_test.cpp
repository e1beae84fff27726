#include "core/bridge_tls_identity.h"
#include "core/bridge_tls_identity_store.h"
#include "core/memory_bridge_identity_vault.h"
#include "tests/support/core/fake_engine_process.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
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

    // Strict Base64 keeps its '=' padding.
    const QString padded = test::certificateOf(test::fixtureIdentityLine("expired_identity.json"));
    ASSERT_TRUE(padded.contains(QStringLiteral("=\n")));
    EXPECT_NO_THROW((BridgeTLSIdentity{padded, {}}.fingerprint()));
    const BridgeTLSIdentity unpadded{QString(padded).remove(QLatin1Char('=')), {}};
    EXPECT_EQ(kindOf([&] { unpadded.fingerprint(); }), BridgeTLSIdentityError::Kind::invalidRecord);
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

    // An openssl that writes a usable certificate and the given key bytes; it leaves a marker
    // when it starts.
    const QString certificateFile = scratch.filePath(QStringLiteral("fixture.pem"));
    {
        QFile file(certificateFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            test::certificateOf(test::fixtureIdentityLine("expired_identity.json")).toUtf8());
    }
    const QString marker = scratch.filePath(QStringLiteral("started"));
    auto writer = [&](const char* name, const char* key, const char* delay) {
        const std::string body = "#!/bin/sh\ntouch '" + marker.toStdString() + "'\nsleep " + delay +
                                 "\nwhile [ $# -gt 0 ]; do case $1 in -keyout) k=$2;; -out) o=$2;; "
                                 "esac; shift; done\ncp '" +
                                 certificateFile.toStdString() + "' \"$o\"\nprintf '" + key +
                                 "' > \"$k\"\n";
        return script(name, body.c_str());
    };
    const QString good = writer("good-openssl", "key", "0");
    EXPECT_EQ(BridgeTLSIdentity::generate({good, milliseconds(5000)}).privateKeyPEM,
              QStringLiteral("key"));
    // Output that is not UTF-8 fails generation rather than turning into replacement characters.
    const QString notText = writer("latin1-openssl", "k\\377y", "0");
    EXPECT_THROW(BridgeTLSIdentity::generate({notText, milliseconds(5000)}), std::runtime_error);
    // Starting counts against the same budget as finishing: a clock that has spent nearly all
    // of it by the time openssl runs leaves no fresh allowance for the wait.
    QFile::remove(marker);
    BridgeTLSIdentity::GenerateOptions late{writer("late-openssl", "key", "5"),
                                            milliseconds(10000)};
    late.clock = [&] {
        return std::chrono::steady_clock::now() +
               (QFile::exists(marker) ? milliseconds(9950) : milliseconds(0));
    };
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(kindOf([&] { BridgeTLSIdentity::generate(late); }),
              BridgeTLSIdentityError::Kind::generationFailed);
    EXPECT_LT(elapsed.elapsed(), 4000);

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

}  // namespace
}  // namespace norv
