#pragma once
// Every name under which the application keeps the user's settings. Settings files written by
// earlier versions are read with these exact strings: never change one.

namespace norv::settings_keys {

// Where the settings file lives: the organisation and application names.
inline constexpr char organization[] = "Norv";
inline constexpr char application[] = "Norv Bridge";

// The engine's connection settings (BridgeLaunchConfiguration).
inline constexpr char wirelessEnabled[] = "bridge.connections.wirelessEnabled";
inline constexpr char bonjourEnabled[] = "bridge.connections.bonjourEnabled";
inline constexpr char iosUSBEnabled[] = "bridge.connections.iosUSBEnabled";
inline constexpr char androidUSBEnabled[] = "bridge.connections.androidUSBEnabled";
inline constexpr char publicPort[] = "bridge.connections.publicPort";
inline constexpr char bluetoothEnabled[] = "bridge.connections.bluetoothEnabled";
inline constexpr char requireDeviceApproval[] = "bridge.connections.requireDeviceApproval";

// The MIDI monitor's refresh rate in hertz (BridgeStore).
inline constexpr char midiMonitorRefreshRate[] = "midiMonitorRefreshRate";

// The Live integration's choices (LiveSettings). A chosen User Library is stored under the
// prefix followed by the escaped installation id.
inline constexpr char liveSelected[] = "bridge.live.selected";
inline constexpr char liveCustom[] = "bridge.live.custom";
inline constexpr char liveLibraryPrefix[] = "bridge.live.library.";

}  // namespace norv::settings_keys
