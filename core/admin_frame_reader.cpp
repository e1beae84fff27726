#include "core/admin_frame_reader.h"

#include "core/admin_frame_codec.h"

namespace norv {

void AdminFrameReader::reset() {
    buffer_.clear();
    authenticated_ = false;
}

AdminFrameReader::Outcome AdminFrameReader::consume() {
    Outcome outcome;
    qsizetype offset = 0;
    auto fail = [&](const QString& reason) {
        outcome.failure = reason;
        buffer_.clear();
        return outcome;
    };
    while (buffer_.size() - offset >= 4) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer_.constData() + offset);
        const quint32 length = (quint32(bytes[0]) << 24) | (quint32(bytes[1]) << 16) |
                               (quint32(bytes[2]) << 8) | quint32(bytes[3]);
        if (length == 0 || length > AdminFrameCodec::kMaxBodyBytes) return fail(kInvalidResponse);
        if (buffer_.size() - offset - 4 < static_cast<qsizetype>(length)) break;
        const char* body = buffer_.constData() + offset + 4;
        offset += 4 + static_cast<qsizetype>(length);

        nlohmann::json object = nlohmann::json::parse(body, body + length, nullptr, false);
        if (!object.is_object() || !object.contains("path") || !object["path"].is_string())
            return fail(kUnreadableResponse);
        std::string path = object["path"].get<std::string>();

        if (!authenticated_) {
            if (path != "/admin/authenticated") return fail(kAuthenticationRequired);
            authenticated_ = true;
            continue;
        }
        outcome.frames.push_back({std::move(path), std::move(object)});
    }
    buffer_.remove(0, offset);
    return outcome;
}

}  // namespace norv
