#include "model/bridge_device.h"

#include "model/admin_json_reader.h"
#include "model/text_rules.h"

namespace norv {

BridgeDevice BridgeDevice::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    using Text = std::optional<std::string>;
    using Integer = std::optional<std::int64_t>;
    using Flag = std::optional<bool>;
    using TextList = std::optional<std::vector<std::string>>;
    return BridgeDevice{
        .deviceId = r.get<std::string>("deviceId"),
        .label = r.get<std::string>("label"),
        .platform = r.get<std::string>("platform"),
        .model = r.get<std::string>("model"),
        .appVersion = r.get<std::string>("appVersion"),
        .protocolVersion = r.get<std::string>("protocolVersion"),
        .capabilities = r.get<std::vector<std::string>>("capabilities"),
        .connected = r.get<bool>("connected"),
        .sessionCount = r.get<std::int64_t>("sessionCount"),
        .connectionCount = r.get<std::int64_t>("connectionCount"),
        .legacyName = r.get<Text>("legacyName"),
        .nameStatus = r.get<Text>("nameStatus"),
        .deviceReference = r.get<Text>("deviceReference"),
        .midiNamePending = r.get<Flag>("midiNamePending"),
        .archived = r.get<Flag>("archived"),
        .autoArmPolicy = r.get<std::string>("autoArmPolicy"),
        .assignedTrackLiveId = r.get<Integer>("assignedTrackLiveId"),
        .assignedTrackIndex = r.get<Integer>("assignedTrackIndex"),
        .assignedTrackName = r.get<std::string>("assignedTrackName"),
        .activeTransport = r.get<Text>("activeTransport"),
        .activeTransports = r.get<TextList>("activeTransports"),
        .connectionMode = r.get<Text>("connectionMode"),
        .activeAddresses = r.get<TextList>("activeAddresses"),
        .lastTransport = r.get<Text>("lastTransport"),
        .lastConnectionMode = r.get<Text>("lastConnectionMode"),
        .lastAddress = r.get<Text>("lastAddress"),
        .endpoints = r.get<std::vector<MidiEndpoint>>("endpoints"),
        .accessState = r.get<Text>("accessState"),
        .linkQuality = r.get<std::optional<DeviceLinkQuality>>("linkQuality"),
    };
}

std::string BridgeDevice::platformSymbol() const { return text_rules::platformSymbol(platform); }

std::string BridgeDevice::transportLabel() const {
    const std::optional<std::string>& transport = connected ? activeTransport : lastTransport;
    const char* fallback = connected ? "CONNECTED" : "OFFLINE";
    if (!transport) return fallback;
    const std::string lower = text_rules::lowercased(*transport);
    const std::string prefix = connected ? "" : "LAST ";
    if (lower == "usb") return prefix + "USB";
    if (lower == "wifi") return prefix + "WI-FI";
    if (lower == "bluetooth") return prefix + "BLUETOOTH";
    return fallback;
}

void BridgeDevice::hashInto(HashBuilder& h) const {
    h.add(deviceId);
    h.add(label);
    h.add(platform);
    h.add(model);
    h.add(appVersion);
    h.add(protocolVersion);
    h.add(capabilities);
    h.add(connected);
    h.add(sessionCount);
    h.add(connectionCount);
    h.add(legacyName);
    h.add(nameStatus);
    h.add(deviceReference);
    h.add(midiNamePending);
    h.add(archived);
    h.add(autoArmPolicy);
    h.add(assignedTrackLiveId);
    h.add(assignedTrackIndex);
    h.add(assignedTrackName);
    h.add(activeTransport);
    h.add(activeTransports);
    h.add(connectionMode);
    h.add(activeAddresses);
    h.add(lastTransport);
    h.add(lastConnectionMode);
    h.add(lastAddress);
    h.add(endpoints);
    h.add(accessState);
    h.add(linkQuality);
}

}  // namespace norv
