#pragma once

#include <QString>
#include <optional>

namespace norv {

// In-memory credentials of the engine launched last: a fresh admin token and the PEM text
// of the engine's certificate. Process-wide; every access holds one lock for one read or
// one replacement. The token is never written to disk or logged here.
class AdminCapability {
public:
    struct Identity {
        QString token;                          // 64 lower-case hexadecimal characters
        std::optional<QString> certificatePEM;  // the engine's certificate, if known
    };

    // Makes a new token from the system's secure random source, makes it the current
    // identity together with the certificate (replacing any previous one) and returns it.
    static QString begin(std::optional<QString> certificatePEM);

    // Withdraws the current identity only when its token equals `token`, so a late exit of
    // an older engine cannot withdraw the identity of the engine launched after it. The
    // withdrawn token's characters are overwritten with zeros where they lie, in the copy that
    // begin() returned too (it shares them).
    static void end(const QString& token);

    // A consistent copy of the current identity, or none; its token's characters are the
    // reader's own.
    static std::optional<Identity> current();

    AdminCapability() = delete;
};

}  // namespace norv
