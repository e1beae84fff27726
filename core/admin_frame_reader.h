#pragma once

#include "model/admin_snapshot.h"
#include "model/midi_monitor_batch.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace norv {

// Cuts the admin channel's incoming byte stream into frames (layout in admin_frame_codec.h),
// applies the authentication gate and decodes each frame by its path. No I/O: bytes in,
// results out.
//
// The first frame of a connection must be "/admin/authenticated"; nothing is handed on before
// it. Afterwards "/admin/snapshot", "/admin/midi-monitor/events" and "/admin/action/result"
// are decoded (only their first argument is used; an empty argument list is no message);
// every other path is ignored.
class AdminFrameReader {
public:
    // The engine's answer to a confirmed request.
    struct ActionResult {
        std::string requestId;
        bool ok = false;
        std::optional<std::string> error;
        friend bool operator==(const ActionResult&, const ActionResult&) = default;
    };
    using Message = std::variant<AdminSnapshot, MidiMonitorBatch, ActionResult>;

    struct Outcome {
        std::vector<Message> messages;   // in arrival order
        std::optional<QString> failure;  // set when the connection must close; reading stops
    };

    static inline const QString kInvalidResponse = QStringLiteral("Invalid Bridge response");
    static inline const QString kUnreadableResponse =
        QStringLiteral("Could not read the Bridge response");
    static inline const QString kAuthenticationRequired =
        QStringLiteral("Bridge authentication required. Update the managed engine.");

    void append(const QByteArray& bytes) { buffer_.append(bytes); }

    // Handles every complete frame in the buffer; a partial frame stays for the next call.
    // Messages of the frames before a bad one are kept.
    Outcome consume();

    bool authenticated() const { return authenticated_; }

    // Forgets the buffer and the authentication, for a new connection.
    void reset();

private:
    QByteArray buffer_;
    bool authenticated_ = false;
};

}  // namespace norv
