#pragma once

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace norv {

// Cuts the admin channel's incoming byte stream into frames (layout in admin_frame_codec.h)
// and applies the authentication gate: the first frame of a connection must be
// "/admin/authenticated"; nothing is handed on before it. No I/O: bytes in, frames out.
class AdminFrameReader {
public:
    struct Frame {
        std::string path;
        nlohmann::json body;
    };
    struct Outcome {
        std::vector<Frame> frames;       // authenticated frames, in arrival order
        std::optional<QString> failure;  // set when the connection must close; reading stops
    };

    static inline const QString kInvalidResponse = QStringLiteral("Invalid Bridge response");
    static inline const QString kUnreadableResponse =
        QStringLiteral("Could not read the Bridge response");
    static inline const QString kAuthenticationRequired =
        QStringLiteral("Bridge authentication required. Update the managed engine.");

    void append(const QByteArray& bytes) { buffer_.append(bytes); }

    // Handles every complete frame in the buffer. A partial frame stays for the next call.
    Outcome consume();

    bool authenticated() const { return authenticated_; }

    // Forgets the buffer and the authentication, for a new connection.
    void reset();

private:
    QByteArray buffer_;
    bool authenticated_ = false;
};

}  // namespace norv
