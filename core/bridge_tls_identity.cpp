#include "core/bridge_tls_identity.h"

#include "core/process_hardening.h"
#include "model/text_rules.h"

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QSslCertificate>
#include <QStringDecoder>
#include <QUuid>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace norv {
namespace {

constexpr auto kBeginMarker = "-----BEGIN CERTIFICATE-----";
constexpr auto kEndMarker = "-----END CERTIFICATE-----";

// The openssl request configuration: no prompts for a subject, and the extensions of a
// server-only leaf certificate.
constexpr auto kOpenSSLConfig =
    "[req]\n"
    "distinguished_name = dn\n"
    "x509_extensions = identity\n"
    "[dn]\n"
    "[identity]\n"
    "basicConstraints = critical,CA:FALSE\n"
    "keyUsage = critical,digitalSignature\n"
    "extendedKeyUsage = serverAuth\n"
    "subjectAltName = DNS:localhost";

// Removes the working folder when generation ends, whatever the outcome.
class FolderRemover {
public:
    explicit FolderRemover(QString path) : path_(std::move(path)) {}
    ~FolderRemover() { QDir(path_).removeRecursively(); }
    FolderRemover(const FolderRemover&) = delete;
    FolderRemover& operator=(const FolderRemover&) = delete;

private:
    QString path_;
};

QString readText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("Could not read " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(file.readAll());
    if (decoder.hasError())
        throw std::runtime_error("Could not read " + path.toStdString() + ": not UTF-8 text");
    return text;
}

// Starts openssl and waits for it, starting and finishing within one budget; at the deadline
// it is terminated and generation fails.
void runOpenSSL(QProcess& openssl, const QStringList& arguments,
                const BridgeTLSIdentity::GenerateOptions& options) {
    using namespace std::chrono;
    const auto now = [&] { return options.clock ? options.clock() : steady_clock::now(); };
    const auto deadline = now() + options.timeout;
    const auto remaining = [&] {
        return static_cast<int>(
            std::max<milliseconds::rep>(0, duration_cast<milliseconds>(deadline - now()).count()));
    };
    openssl.start(options.opensslPath, arguments);
    const bool started = openssl.waitForStarted(remaining());
    if (!started && openssl.state() == QProcess::NotRunning)
        throw std::runtime_error("Could not run openssl: " + openssl.errorString().toStdString());
    while (openssl.state() != QProcess::NotRunning && remaining() > 0)
        openssl.waitForFinished(std::min(remaining(), 10));
    if (openssl.state() != QProcess::NotRunning) {
        openssl.terminate();
        if (!openssl.waitForFinished(2000)) {
            openssl.kill();
            openssl.waitForFinished(2000);
        }
        throw BridgeTLSIdentityError::generationFailed();
    }
    if (openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        throw BridgeTLSIdentityError::generationFailed();
}

}  // namespace

QByteArray BridgeTLSIdentity::certificateDER(const QString& certificatePEM) {
    QString text = certificatePEM;
    text.remove(QLatin1String(kBeginMarker));
    text.remove(QLatin1String(kEndMarker));
    QString joined;
    joined.reserve(text.size());
    for (QChar c : text)
        if (!c.isSpace()) joined.append(c);
    const auto decoded =
        QByteArray::fromBase64Encoding(joined.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    // toLatin1 turns non-Latin characters into '?', which Base64 then refuses. Qt also takes
    // text without its '=' padding; strict Base64 comes in whole groups of four.
    if (!decoded || decoded.decoded.isEmpty() || joined.size() % 4 != 0)
        throw BridgeTLSIdentityError::invalidRecord();
    if (QSslCertificate(decoded.decoded, QSsl::Der).isNull())
        throw BridgeTLSIdentityError::invalidRecord();
    return decoded.decoded;
}

QString BridgeTLSIdentity::fingerprint() const {
    const QByteArray der = certificateDER(certificatePEM);
    return QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex());
}

QString BridgeTLSIdentity::description() const {
    QString print;
    try {
        print = fingerprint();
    } catch (const BridgeTLSIdentityError&) {
        print = QStringLiteral("invalid");
    }
    return QStringLiteral("BridgeTLSIdentity(") + print + QLatin1Char(')');
}

// The copies of the key made on the way are overwritten before they are let go.
QByteArray BridgeTLSIdentity::encode() const {
    nlohmann::ordered_json object;
    object["certificate_pem"] = certificatePEM.toStdString();
    QByteArray keyBytes = privateKeyPEM.toUtf8();
    object["private_key_pem"] = std::string(keyBytes.constData(), std::size_t(keyBytes.size()));
    ProcessHardening::wipe(keyBytes);
    std::string text = object.dump();
    ProcessHardening::wipe(object["private_key_pem"].get_ref<std::string&>());
    QByteArray encoded = QByteArray::fromStdString(text);
    ProcessHardening::wipe(text);
    return encoded;
}

BridgeTLSIdentity BridgeTLSIdentity::decode(const QByteArray& record) {
    if (record.size() > kMaxRecordBytes) throw BridgeTLSIdentityError::invalidRecord();
    // Parse and type errors of the JSON library propagate as they are.
    auto object = nlohmann::json::parse(record.constBegin(), record.constEnd());
    const auto certificate = object.at("certificate_pem").get<std::string>();
    std::string& key = object.at("private_key_pem").get_ref<std::string&>();
    if (key.empty() || key.size() > static_cast<std::size_t>(kMaxPEMBytes) ||
        certificate.size() > static_cast<std::size_t>(kMaxPEMBytes)) {
        ProcessHardening::wipe(key);
        throw BridgeTLSIdentityError::invalidRecord();
    }
    BridgeTLSIdentity identity{QString::fromStdString(certificate), QString::fromStdString(key)};
    ProcessHardening::wipe(key);
    identity.fingerprint();
    return identity;
}

BridgeTLSIdentity BridgeTLSIdentity::generate(const GenerateOptions& options) {
    const QString folder = QDir::tempPath() + QStringLiteral("/norv-identity-") +
                           QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0)
        throw std::runtime_error("Could not create " + folder.toStdString() + ": " +
                                 text_rules::errorText(errno));
    FolderRemover remover(folder);

    const QString keyPath = folder + QStringLiteral("/key.pem");
    const QString certificatePath = folder + QStringLiteral("/certificate.pem");
    const QString configPath = folder + QStringLiteral("/openssl.cnf");
    {
        QSaveFile config(configPath);
        if (!config.open(QIODevice::WriteOnly) || config.write(kOpenSSLConfig) < 0 ||
            !config.commit())
            throw std::runtime_error("Could not write " + configPath.toStdString() + ": " +
                                     config.errorString().toStdString());
    }

    QProcess openssl;
    openssl.setStandardInputFile(QProcess::nullDevice());
    openssl.setStandardOutputFile(QProcess::nullDevice());
    openssl.setStandardErrorFile(QProcess::nullDevice());
    runOpenSSL(openssl, {QStringLiteral("req"),      QStringLiteral("-x509"),
                         QStringLiteral("-newkey"),  QStringLiteral("ec"),
                         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                         QStringLiteral("-pkeyopt"), QStringLiteral("ec_param_enc:named_curve"),
                         QStringLiteral("-nodes"),   QStringLiteral("-sha256"),
                         QStringLiteral("-days"),    QStringLiteral("3650"),
                         QStringLiteral("-subj"),    QStringLiteral("/CN=Norv Bridge"),
                         QStringLiteral("-config"),  configPath,
                         QStringLiteral("-keyout"),  keyPath,
                         QStringLiteral("-out"),     certificatePath},
               options);

    BridgeTLSIdentity identity;
    identity.certificatePEM = readText(certificatePath);
    identity.privateKeyPEM = readText(keyPath);
    identity.fingerprint();
    return identity;
}

}  // namespace norv
