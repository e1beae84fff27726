#include "core/admin_tls.h"

#include "core/bridge_tls_identity.h"

#include <QCryptographicHash>
#include <QSslSocket>

#include <algorithm>

namespace norv {

AdminTLSParameters AdminTLS::parameters(const QString& certificatePEM) {
    if (certificatePEM.toUtf8().size() > kMaxPEMBytes)
        throw BridgeTLSIdentityError::invalidRecord();
    const QByteArray der = BridgeTLSIdentity::certificateDER(certificatePEM);
    AdminTLSParameters parameters;
    parameters.pinned = QSslCertificate(der, QSsl::Der);
    parameters.pin = QCryptographicHash::hash(der, QCryptographicHash::Sha256);

    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    // The pinned certificate is the only anchor; the system's roots are never consulted.
    configuration.setCaCertificates({parameters.pinned});
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    parameters.configuration = configuration;
    return parameters;
}

void AdminTLS::configure(QSslSocket& socket, const AdminTLSParameters& parameters) {
    socket.setSslConfiguration(parameters.configuration);
    // The option needs a descriptor, which exists only once the TCP connection stands.
    QObject::connect(&socket, &QSslSocket::connected, &socket, [socket = &socket] {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    });
}

bool AdminTLS::verify(const AdminTLSParameters& parameters, const QList<QSslCertificate>& chain,
                      const QList<QSslError>& handshakeErrors, const QDateTime& now) {
    if (chain.isEmpty()) return false;
    const QSslCertificate& leaf = chain.first();
    if (leaf.isNull()) return false;
    if (QCryptographicHash::hash(leaf.toDer(), QCryptographicHash::Sha256) != parameters.pin)
        return false;
    if (!validDates(leaf, now)) return false;
    // OpenSSL treats the not-after second itself as expired, and then also sets the anchor
    // aside and calls the leaf self-signed and untrusted. The inclusive check above has judged
    // the dates, and the pin has matched the leaf to the anchor byte for byte, so these two
    // errors about the pinned leaf are overruled; only together, and nothing else.
    const auto aboutLeaf = [&](const QSslError& error, QSslError::SslError kind) {
        return error.error() == kind && error.certificate() == leaf;
    };
    const bool leafDateError =
        std::any_of(handshakeErrors.begin(), handshakeErrors.end(), [&](const QSslError& e) {
            return aboutLeaf(e, QSslError::CertificateExpired) ||
                   aboutLeaf(e, QSslError::CertificateNotYetValid);
        });
    for (const QSslError& error : handshakeErrors) {
        // The certificate names no address, so the name check against 127.0.0.1 always
        // fails; the pin stands in for it.
        if (error.error() == QSslError::HostNameMismatch) continue;
        if (leafDateError && (aboutLeaf(error, QSslError::CertificateExpired) ||
                              aboutLeaf(error, QSslError::CertificateNotYetValid) ||
                              aboutLeaf(error, QSslError::SelfSignedCertificate)))
            continue;
        return false;  // any other error rejects the peer
    }
    return true;
}

bool AdminTLS::validDates(const QSslCertificate& certificate, const QDateTime& now) {
    const QDateTime notBefore = certificate.effectiveDate();
    const QDateTime notAfter = certificate.expiryDate();
    if (!notBefore.isValid() || !notAfter.isValid() || !now.isValid()) return false;
    return notBefore <= now && now <= notAfter;
}

}  // namespace norv
