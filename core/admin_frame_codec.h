#pragma once

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace norv {

// Writes admin channel frames. Both directions use the same frame:
//
//   offset  size  field
//   0       4     body length, unsigned 32-bit big-endian, 1 to 1,048,576
//   4       n     body: one JSON object, UTF-8
//
// Outgoing bodies are {"path": ..., "args": [...]} plus "request_id" for a confirmed request.
class AdminFrameCodec {
public:
    static constexpr quint32 kMaxBodyBytes = 1048576;

    // The whole frame, or none when the body cannot be sent: args holding a non-finite number
    // (JSON has no such value and would silently turn it into null), text that is not valid
    // UTF-8, or a body longer than kMaxBodyBytes.
    static std::optional<QByteArray> encode(const std::string& path, const nlohmann::json& args,
                                            const std::optional<QString>& requestID = std::nullopt);

    // The length prefix of a body of `size` bytes.
    static QByteArray lengthPrefix(quint32 size);

    AdminFrameCodec() = delete;
};

}  // namespace norv
