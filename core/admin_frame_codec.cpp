#include "core/admin_frame_codec.h"

#include <cmath>

namespace norv {
namespace {

bool allNumbersFinite(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::number_float:
            return std::isfinite(value.get<double>());
        case nlohmann::json::value_t::array:
        case nlohmann::json::value_t::object:
            for (const auto& element : value)
                if (!allNumbersFinite(element)) return false;
            return true;
        default:
            return true;
    }
}

}  // namespace

QByteArray AdminFrameCodec::lengthPrefix(quint32 size) {
    QByteArray prefix(4, '\0');
    prefix[0] = static_cast<char>((size >> 24) & 0xff);
    prefix[1] = static_cast<char>((size >> 16) & 0xff);
    prefix[2] = static_cast<char>((size >> 8) & 0xff);
    prefix[3] = static_cast<char>(size & 0xff);
    return prefix;
}

std::optional<QByteArray> AdminFrameCodec::encode(const std::string& path,
                                                  const nlohmann::json& args,
                                                  const std::optional<QString>& requestID) {
    if (!args.is_array() || !allNumbersFinite(args)) return std::nullopt;
    nlohmann::json body{{"path", path}, {"args", args}};
    if (requestID) body["request_id"] = requestID->toStdString();
    std::string text;
    try {
        text = body.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // text that is not valid UTF-8
    }
    if (text.size() > kMaxBodyBytes) return std::nullopt;
    QByteArray frame = lengthPrefix(static_cast<quint32>(text.size()));
    frame.append(text.data(), static_cast<qsizetype>(text.size()));
    return frame;
}

}  // namespace norv
