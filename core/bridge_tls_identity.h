#pragma once

#include "core/bridge_tls_identity_error.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>

namespace norv {

// The engine's long-lived self-signed TLS identity. Its serialised form (the vault record and
// the engine's identity line) is compact JSON {"certificate_pem": ..., "private_key_pem": ...}.
struct BridgeTLSIdentity {
    QString certificatePEM;
    QString privateKeyPEM;

    static constexpr qsizetype kMaxRecordBytes = 32768;
    static constexpr qsizetype kMaxPEMBytes = 16384;

    // Bounded, validated read of a stored record. Throws BridgeTLSIdentityError::invalidRecord
    // for a damaged record, and the JSON parser's own error for text that is not JSON.
    static BridgeTLSIdentity decode(const QByteArray& record);

    // Compact JSON with the certificate first, then the key.
    QByteArray encode() const;

    struct GenerateOptions {
        QString opensslPath = QStringLiteral("/usr/bin/openssl");
        std::chrono::milliseconds timeout{10000};  // for starting and finishing together
        std::function<std::chrono::steady_clock::time_point()> clock{};  // default: steady_clock
    };
    // Runs openssl in a private temporary folder (removed afterwards in every outcome) to make
    // an EC P-256 key and a self-signed certificate valid 3650 days. Blocks the calling thread
    // for at most the timeout; never call it on the GUI thread. Files that are not UTF-8 text
    // fail like unreadable ones.
    static BridgeTLSIdentity generate(const GenerateOptions& options);
    static BridgeTLSIdentity generate() { return generate(GenerateOptions{}); }

    // SHA-256 of the certificate's DER bytes as 64 lower-case hex characters.
    // Throws BridgeTLSIdentityError::invalidRecord when the PEM holds no certificate.
    QString fingerprint() const;

    // Text for logs; never shows the private key.
    QString description() const;

    // DER bytes of a PEM certificate: markers removed, whitespace dropped, strict Base64,
    // then parsed as X.509. Throws invalidRecord on any failure.
    static QByteArray certificateDER(const QString& certificatePEM);

    bool operator==(const BridgeTLSIdentity&) const = default;
};

}  // namespace norv
