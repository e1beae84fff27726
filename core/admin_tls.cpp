#include "core/admin_tls.h"

#include "core/bridge_tls_identity.h"

#include <QCryptographicHash>
#include <QSslSocket>

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
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

bool AdminTLS::verify(const AdminTLSParameters& parameters, const QList<QSslCertificate>& chain,
                      const QList<QSslError>& handshakeErrors, const QDateTime& now) {
    if (chain.isEmpty()) return false;
    const QSslCertificate& leaf = chain.first();
    if (leaf.isNull()) return false;
    if (QCryptographicHash::hash(leaf.toDer(), QCryptographicHash::Sha256) != parameters.pin)
        return false;
    if (!validDates(leaf, now)) return false;
    for (const QSslError& error : handshakeErrors) {
        // The certificate names no address, so the name check against 127.0.0.1 always
        // fails; the pin stands in for it. Any other error rejects the peer.
        if (error.error() != QSslError::HostNameMismatch) return false;
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
