#include "model/revoked_device.h"

#include "model/admin_json_reader.h"
#include "model/text_rules.h"

namespace norv {

RevokedDevice RevokedDevice::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return RevokedDevice{
        .deviceId = r.get<std::string>("deviceId"),
        .deviceLabel = r.get<std::optional<std::string>>("deviceLabel"),
        .platform = r.get<std::optional<std::string>>("platform"),
        .deviceModel = r.get<std::optional<std::string>>("deviceModel"),
        .deviceReference = r.get<std::optional<std::string>>("deviceReference"),
    };
}

std::string RevokedDevice::displayName() const {
    if (deviceLabel) {
        const std::string_view name = text_rules::trimmed(*deviceLabel);
        if (!name.empty()) return std::string(name);
    }
    return "Unknown device";
}

std::string RevokedDevice::details() const {
    const std::optional<std::string> candidates[] = {
        deviceModel,
        platform ? std::optional(text_rules::uppercased(*platform)) : std::nullopt,
        deviceReference ? deviceReference : std::optional(deviceId),
    };
    std::string result;
    for (const auto& candidate : candidates) {
        if (!candidate || candidate->empty() || text_rules::lowercased(*candidate) == "unknown") {
            continue;
        }
        if (!result.empty()) result += " · ";
        result += *candidate;
    }
    return result;
}

std::string RevokedDevice::platformSymbol() const {
    return platform ? text_rules::platformSymbol(*platform) : "display";
}

}  // namespace norv
