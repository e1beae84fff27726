#include "core/admin_frame_reader.h"

#include "core/admin_frame_codec.h"
#include "model/admin_decode_error.h"
#include "model/admin_envelope.h"
#include "model/admin_json_reader.h"
#include "model/admin_path_envelope.h"
#include "model/byte_reader.h"
#include "model/midi_monitor_envelope.h"
#include "model/midi_monitor_plain_frame.h"

#include <nlohmann/json.hpp>

namespace norv {
namespace {

// {"request_id": text, "ok": bool, "error"?: text}; other members are ignored. Keys go through
// the same snake_case conversion as every other admin record.
AdminFrameReader::ActionResult decodeActionResult(const nlohmann::json& object) {
    const AdminJsonReader reader(object);
    return {reader.get<std::string>("requestId"), reader.get<bool>("ok"),
            reader.get<std::optional<std::string>>("error")};
}

// The message a frame carries, or none (empty args, or a path the application ignores).
// Throws AdminDecodeError when the body does not decode.
std::optional<AdminFrameReader::Message> decodeMessage(const std::string& path,
                                                       const nlohmann::json& body) {
    if (path == "/admin/snapshot") {
        AdminEnvelope envelope = AdminEnvelope::decode(body);
        if (envelope.args.empty()) return std::nullopt;
        return std::move(envelope.args.front());
    }
    if (path == "/admin/midi-monitor/events") {
        MidiMonitorEnvelope envelope = MidiMonitorEnvelope::decode(body);
        if (envelope.args.empty()) return std::nullopt;
        return std::move(envelope.args.front());
    }
    if (path == "/admin/action/result") {
        const auto args = body.find("args");
        if (args == body.end() || !args->is_array())
            throw AdminDecodeError("action envelope needs args");
        std::optional<AdminFrameReader::Message> first;
        for (const auto& element : *args) {
            AdminFrameReader::ActionResult result = decodeActionResult(element);
            if (!first) first = std::move(result);
        }
        return first;
    }
    return std::nullopt;
}

}  // namespace

void AdminFrameReader::reset() {
    buffer_.clear();
    authenticated_ = false;
}

AdminFrameReader::Outcome AdminFrameReader::consume() {
    Outcome outcome;
    qsizetype offset = 0;  // the end of the last complete frame
    auto fail = [&](const QString& reason) {
        outcome.failure = reason;
        buffer_.clear();
        return outcome;
    };
    const std::span<const std::uint8_t> bytes(
        reinterpret_cast<const std::uint8_t*>(buffer_.constData()),
        static_cast<std::size_t>(buffer_.size()));
    ByteReader frames(bytes);
    for (;;) {
        std::uint32_t length = 0;
        std::span<const std::uint8_t> body;
        if (!frames.u32(length)) break;
        if (length == 0 || length > AdminFrameCodec::kMaxBodyBytes) return fail(kInvalidResponse);
        if (!frames.bytes(length, body)) break;  // a partial frame waits for more bytes
        offset = static_cast<qsizetype>(frames.position());  // up to here is handled

        // Monitor batches, many a second, are read without a JSON tree when they can be.
        if (authenticated_) {
            if (std::optional<MidiMonitorBatch> batch = readPlainMidiMonitorFrame(body)) {
                outcome.messages.push_back(std::move(*batch));
                continue;
            }
        }
        const nlohmann::json object = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
        if (object.is_discarded()) return fail(kUnreadableResponse);
        try {
            const std::string path = AdminPathEnvelope::decode(object).path;
            if (!authenticated_) {
                if (path != "/admin/authenticated") return fail(kAuthenticationRequired);
                authenticated_ = true;
                continue;
            }
            if (auto message = decodeMessage(path, object))
                outcome.messages.push_back(std::move(*message));
        } catch (const AdminDecodeError&) {
            return fail(kUnreadableResponse);
        } catch (const nlohmann::json::exception&) {
            return fail(kUnreadableResponse);
        }
    }
    buffer_.remove(0, offset);
    return outcome;
}

}  // namespace norv
