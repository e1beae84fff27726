#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>

class QSslSocket;

namespace norv {

// The admin channel's TLS parameters: TLS 1.2 or later, trusting exactly one certificate
// (the engine's self-signed certificate that this application made and keeps).
struct AdminTLSParameters {
    QSslConfiguration configuration;
    QSslCertificate pinned;
    QByteArray pin;  // SHA-256 of the pinned certificate's DER bytes
};

// The admin channel's TLS policy. `verify` is the one place that decides whether a peer is
// trusted: the leaf must be the pinned certificate (by SHA-256), within its validity dates,
// and the handshake may report no error other than the host name mismatch that a pinned,
// address-less certificate always gives, and the leaf's date errors that the inclusive date
// check overrules. The client writes nothing before it passes.
class AdminTLS {
public:
    static constexpr qsizetype kMaxPEMBytes = 16384;

    // Throws BridgeTLSIdentityError::invalidRecord when the PEM holds no certificate.
    static AdminTLSParameters parameters(const QString& certificatePEM);

    // Sets the configuration on a socket before it connects, and TCP no-delay once connected.
    static void configure(QSslSocket& socket, const AdminTLSParameters& parameters);

    // True when the presented chain and the handshake's errors are acceptable.
    static bool verify(const AdminTLSParameters& parameters, const QList<QSslCertificate>& chain,
                       const QList<QSslError>& handshakeErrors, const QDateTime& now);

    // Whether `now` lies within the certificate's validity period, bounds included.
    static bool validDates(const QSslCertificate& certificate, const QDateTime& now);

    AdminTLS() = delete;
};

}  // namespace norv
