#include "bench/model/large_snapshot_json.h"

#include <string>

namespace norv::bench {

namespace {

using nlohmann::json;

json probe(int i) {
    return {{"avg", 3.5 + i % 7}, {"max", 9.25 + i % 5}, {"n", 10}, {"miss", i % 3 == 0 ? 1 : 0}};
}

json device(int i, int variant) {
    const std::string id = "device-" + std::to_string(1000 + i);
    const char* transports[] = {"wifi", "usb", "bluetooth"};
    const bool connected = i % 4 != 3;
    const int shift = i == 0 ? variant : 0;
    return {
        {"device_id", id},
        {"label", "Tablet " + std::to_string(i)},
        {"platform", i % 2 ? "Android 14" : "iOS 17.4"},
        {"model", "Model " + std::to_string(i % 9)},
        {"app_version", "3.2.0"},
        {"protocol_version", "7"},
        {"capabilities", {"mpe", "surface", "repeat"}},
        {"connected", connected},
        {"session_count", 1 + i % 3},
        {"connection_count", 10 + i},
        {"legacy_name", "Norv " + std::to_string(i)},
        {"name_status", "confirmed"},
        {"device_reference", "NB-" + std::to_string(4000 + i)},
        {"midi_name_pending", false},
        {"archived", !connected && i % 8 == 7},
        {"auto_arm_policy", "follow_bridge"},
        {"assigned_track_live_id", 5000 + i},
        {"assigned_track_index", i},
        {"assigned_track_name", "Track " + std::to_string(i)},
        {"active_transport", transports[i % 3]},
        {"active_transports", {transports[i % 3]}},
        {"connection_mode", "auto_lan"},
        {"active_addresses", {"192.168.1." + std::to_string(10 + i)}},
        {"last_transport", transports[i % 3]},
        {"last_connection_mode", "auto_lan"},
        {"last_address", "192.168.1." + std::to_string(10 + i)},
        {"endpoints",
         {{{"role", "instrument"},
           {"name", "Norv " + id},
           {"source_unique_id", 10000 + 2 * i},
           {"destination_unique_id", 20000 + 2 * i}},
          {{"role", "surface"},
           {"name", "Norv " + id + " Surface"},
           {"source_unique_id", 10001 + 2 * i},
           {"destination_unique_id", 20001 + 2 * i}}}},
        {"access_state", "allowed"},
        {"link_quality",
         {{"window", 10},
          {"state", probe(i + shift)},
          {"midi", probe(i + 1 + shift)},
          {"rssi", -50 - (i + shift) % 30},
          {"fresh", true},
          {"sync_pending_ms", 0},
          {"age_ms", 250.5 + i + shift}}},
    };
}

json plan(int i, bool withStatus) {
    const std::string owner = "device-" + std::to_string(1000 + i);
    json p = {
        {"track_live_id", 5000 + i},
        {"track_index", i},
        {"track_name", "Track " + std::to_string(i)},
        {"owner_device_ids", {owner}},
        {"owner_labels", {"Tablet " + std::to_string(i)}},
        {"routed_device_ids", {owner}},
        {"routed_owner_labels", {"Tablet " + std::to_string(i)}},
        {"desired_input", "Norv " + owner},
        {"routing_mode", "dedicated"},
    };
    if (withStatus) {
        p["status"] = "ready";
        p["actual_input"] = "Norv " + owner;
        p["port_visible"] = true;
        p["armed"] = i % 2 == 0;
        p["manual_override"] = false;
    }
    return p;
}

json midiEvent(int i) {
    return {{"sequence", 90000 + i},
            {"timestamp", 1765269000.0 + i * 0.01},
            {"device_id", "device-1000"},
            {"endpoint", "Norv device-1000"},
            {"role", "instrument"},
            {"kind", i % 2 ? "note" : "pitch_bend"},
            {"channel", 1 + i % 16},
            {"number", 60 + i % 12},
            {"value", 8192 + i},
            {"bytes", {224, i % 128, 64}},
            {"source", "wifi"}};
}

}  // namespace

json largeSnapshotJson(int deviceCount, int variant, int midiEventCount) {
    json devices = json::array(), tracks = json::array(), plans = json::array(), statuses = json::array(),
         events = json::array();
    for (int i = 0; i < deviceCount; ++i) {
        devices.push_back(device(i, variant));
        plans.push_back(plan(i, false));
        statuses.push_back(plan(i, true));
    }
    for (int i = 0; i < 128; ++i)
        tracks.push_back({{"live_id", 5000 + i},
                          {"index", i},
                          {"name", "Track " + std::to_string(i)},
                          {"color", "#3DA5FF"},
                          {"can_be_armed", true},
                          {"has_midi_input", true},
                          {"is_armed", i % 2 == 0}});
    for (int i = 0; i < midiEventCount; ++i) events.push_back(midiEvent(i));
    const json bridge = {
        {"bridge_running", true},
        {"bridge_version", "2.4.1"},
        {"client_count", 48},
        {"remote_script_idle_seconds", 0.5},
        {"remote_script_runtime", {{"remote_script_bundle_id", "b512"}, {"remote_script_process_id", 4821}}},
        {"instrument_midi_sent_count", 90211},
        {"public_port", 9310},
        {"local_addresses", {"192.168.1.20"}},
        {"device_routing_policy", json::object()},
        {"device_routing_plan", plans},
        {"device_routing_statuses", statuses},
    };
    return {
        {"bridge", bridge},
        {"devices", devices},
        {"live_tracks", tracks},
        {"midi_events", events},
        {"device_access",
         {{"require_approval", true},
          {"require_certificate", true},
          {"requests", json::array()},
          {"forgotten", {"device-1003", "device-1007"}}}},
        {"pairing", {{"status", "idle"}}},
    };
}

}  // namespace norv::bench
