#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

#include "model/admin_connection_state.h"
#include "model/bridge_device.h"
#include "model/bridge_health.h"
#include "model/bridge_section.h"
#include "model/device_access_snapshot.h"
#include "model/shared_device_settings.h"
#include "model/text_rules.h"

#include <unicode/locid.h>

namespace norv {
namespace {

using nlohmann::json;

BridgeDevice device(bool connected, std::optional<std::string> active,
                    std::optional<std::string> last) {
    BridgeDevice d;
    d.deviceId = "d1";
    d.connected = connected;
    d.activeTransport = std::move(active);
    d.lastTransport = std::move(last);
    return d;
}

TEST(BridgeDeviceTest, TransportLabelUsesTheTransportOfItsState) {
    EXPECT_EQ(device(true, "USB", std::nullopt).transportLabel(), "USB");
    EXPECT_EQ(device(true, "wifi", "usb").transportLabel(), "WI-FI");
    EXPECT_EQ(device(true, "Bluetooth", std::nullopt).transportLabel(), "BLUETOOTH");
    EXPECT_EQ(device(true, std::nullopt, "usb").transportLabel(), "CONNECTED");
    EXPECT_EQ(device(false, "usb", "WiFi").transportLabel(), "LAST WI-FI");
    EXPECT_EQ(device(false, std::nullopt, "usb").transportLabel(), "LAST USB");
    EXPECT_EQ(device(false, std::nullopt, "BLUETOOTH").transportLabel(), "LAST BLUETOOTH");
    EXPECT_EQ(device(false, "usb", std::nullopt).transportLabel(), "OFFLINE");
    for (const char* odd : {"wi-fi", " usb", "ethernet", ""}) {
        EXPECT_EQ(device(true, odd, std::nullopt).transportLabel(), "CONNECTED") << odd;
        EXPECT_EQ(device(false, std::nullopt, odd).transportLabel(), "OFFLINE") << odd;
    }
}

TEST(BridgeDeviceTest, PlatformSymbols) {
    const auto symbol = [](const char* platform) {
        BridgeDevice d;
        d.platform = platform;
        return d.platformSymbol();
    };
    EXPECT_EQ(symbol("iOS"), "ipad");
    EXPECT_EQ(symbol("iOS 17.4"), "ipad");
    EXPECT_EQ(symbol("iPadOS"), "display");  // "ipados" holds no "ios"
    EXPECT_EQ(symbol("Android 14"), "rectangle.portrait");
    EXPECT_EQ(symbol("macOS"), "display");
    EXPECT_EQ(symbol(""), "display");
    EXPECT_EQ(symbol("android-ios bridge"), "ipad");
}

TEST(BridgeDeviceTest, HashFollowsEquality) {
    BridgeDevice a = device(true, "wifi", std::nullopt);
    a.linkQuality = DeviceLinkQuality{.window = 10, .fresh = true, .ageMs = 100.0};
    BridgeDevice b = a;
    EXPECT_EQ(std::hash<BridgeDevice>{}(a), std::hash<BridgeDevice>{}(b));
    b.linkQuality->ageMs = 101.0;
    EXPECT_NE(a, b);
    EXPECT_NE(std::hash<BridgeDevice>{}(a), std::hash<BridgeDevice>{}(b));
    // Absent and empty differ in the hash too.
    BridgeDevice c = a;
    c.activeAddresses.emplace();
    EXPECT_NE(std::hash<BridgeDevice>{}(a), std::hash<BridgeDevice>{}(c));

    const MidiEndpoint e1{
        .role = "instrument", .name = "A", .sourceUniqueId = 1234, .destinationUniqueId = 1};
    MidiEndpoint e2 = e1;
    e2.name = "B";
    EXPECT_EQ(e1.id(), e2.id());
    EXPECT_NE(e1, e2);
    const std::unordered_set<MidiEndpoint> endpoints{e1, e2, e1};
    EXPECT_EQ(endpoints.size(), 2u);
}

TEST(RevokedDeviceTest, DisplayValues) {
    RevokedDevice r{.deviceId = "dev-9"};
    EXPECT_EQ(r.displayName(), "Unknown device");
    EXPECT_EQ(r.details(), "dev-9");
    EXPECT_EQ(r.platformSymbol(), "display");

    r.deviceLabel = "  Studio iPad \n";
    EXPECT_EQ(r.displayName(), "Studio iPad");
    r.deviceLabel = " \u00a0\t\n";
    EXPECT_EQ(r.displayName(), "Unknown device");

    r.deviceModel = "Pad 7";
    r.platform = "ios";
    EXPECT_EQ(r.details(), "Pad 7 · IOS · dev-9");
    EXPECT_EQ(r.platformSymbol(), "ipad");
    r.platform = "Unknown";
    r.deviceReference = "";
    EXPECT_EQ(r.details(), "Pad 7");  // an empty reference hides the id as well
    r.deviceReference = "NB-9";
    r.deviceModel = "UNKNOWN";
    r.platform = " unknown";
    EXPECT_EQ(r.details(), " UNKNOWN · NB-9");  // no trimming before the comparison
    r.platform = "Android";
    EXPECT_EQ(r.platformSymbol(), "rectangle.portrait");
    r.platform = "élan os";
    EXPECT_EQ(r.details(), "ÉLAN OS · NB-9");
}

// Upper-casing follows the user's locale; lower-casing (for comparisons with fixed words) and
// canonical equivalence do not depend on it.
TEST(BridgeHealthTest, LiveLinkedOnlyWhileTheRemoteScriptWasHeardUnderFiveSeconds) {
    BridgeHealth health;
    EXPECT_FALSE(health.liveLinked());
    for (const double idle : {0.0, 4.999}) {
        health.remoteScriptIdleSeconds = idle;
        EXPECT_TRUE(health.liveLinked()) << idle;
    }
    for (const double idle : {5.0, 12.0, std::nan("")}) {
        health.remoteScriptIdleSeconds = idle;
        EXPECT_FALSE(health.liveLinked()) << idle;
    }
}

TEST(TextRulesTest, LocaleCaseAndCanonicalEquivalence) {
    const icu::Locale saved = icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("tr", "TR"), status);
    EXPECT_EQ(text_rules::uppercased("istanbul"), "İSTANBUL");
    EXPECT_EQ(text_rules::lowercased("UNKNOWN"), "unknown");
    EXPECT_EQ(text_rules::lowercased("ÜNKNOWN"), "ünknown");
    EXPECT_TRUE(text_rules::containsIgnoringCase("İstanbul Pad", "istanbul"));
    icu::Locale::setDefault(icu::Locale("en", "US"), status);
    EXPECT_EQ(text_rules::uppercased("istanbul"), "ISTANBUL");
    icu::Locale::setDefault(saved, status);

    EXPECT_TRUE(text_rules::canonicallyEqual("Caf\u00e9", "Cafe\u0301"));
    EXPECT_FALSE(text_rules::canonicallyEqual("Cafe", "Caf\u00e9"));
    EXPECT_FALSE(text_rules::canonicallyEqual("cafe", "Cafe"));
    EXPECT_EQ(text_rules::canonicalKey("Cafe\u0301"), text_rules::canonicalKey("Caf\u00e9"));
}

TEST(DeviceAccessSnapshotTest, RevokedDeviceLookup) {
    DeviceAccessSnapshot access;
    EXPECT_EQ(access.revokedDevice("x"), RevokedDevice{.deviceId = "x"});
    access.revokedDevices = std::vector<RevokedDevice>{{.deviceId = "a", .deviceLabel = "first"},
                                                       {.deviceId = "b"},
                                                       {.deviceId = "a", .deviceLabel = "second"}};
    EXPECT_EQ(access.revokedDevice("a").deviceLabel, "first");
    EXPECT_EQ(access.revokedDevice("A"), RevokedDevice{.deviceId = "A"});
}

TEST(SharedDeviceSettingsTest, ProfileTitles) {
    const auto title = [](const char* scope) {
        return SharedDeviceSettingsProfile{.scope = scope}.title();
    };
    EXPECT_EQ(title("all"), "ALL PAGES + APP");
    EXPECT_EQ(title("instrument"), "PLAY");
    EXPECT_EQ(title("tracks"), "SET");
    EXPECT_EQ(title("repeatPage"), "REPEAT");
    EXPECT_EQ(title("Instrument"), "INSTRUMENT");
    EXPECT_EQ(title("mixer"), "MIXER");
    EXPECT_EQ(title("überpage"), "ÜBERPAGE");
    EXPECT_EQ(title(""), "");
}

TEST(SharedDeviceSettingsTest, ResultLabels) {
    using R = SharedDeviceSettingsResult;
    EXPECT_EQ(R{}.label(), "");
    EXPECT_EQ((R{.total = 0, .applied = 2, .failed = 3, .timedOut = true}).label(),
              "No compatible devices connected");
    EXPECT_EQ((R{.total = 3, .applied = 2, .failed = 1, .timedOut = true}).label(),
              "2 / 3 devices applied · 1 failed · Response timed out");
    EXPECT_EQ((R{.total = 3}).label(), "0 / 3 devices applied");
    EXPECT_EQ((R{.total = 3, .applied = 3, .failed = 0, .timedOut = false}).label(),
              "3 / 3 devices applied");
    EXPECT_EQ(R::decode(json::object()), R{});
    EXPECT_THROW(R::decode({{"timed_out", "no"}}), AdminDecodeError);
}

TEST(BridgeSectionTest, RawValuesTitlesAndSymbols) {
    ASSERT_EQ(BridgeSection::allCases().size(), 8u);
    EXPECT_EQ(BridgeSection::allCases()[5], BridgeSection::midiMonitor);
    for (const BridgeSection section : BridgeSection::allCases()) {
        EXPECT_EQ(BridgeSection::fromRaw(section.rawValue()), section);
    }
    EXPECT_EQ(BridgeSection(BridgeSection::live).title(), "Ableton Live");
    EXPECT_EQ(BridgeSection(BridgeSection::logs).title(), "Diagnostics");
    EXPECT_EQ(BridgeSection(BridgeSection::logs).symbol(), "text.alignleft");
    EXPECT_EQ(BridgeSection(BridgeSection::deviceSettings).rawValue(), "deviceSettings");
    EXPECT_EQ(BridgeSection::fromRaw("midiMonitor"), BridgeSection::midiMonitor);
    EXPECT_FALSE(BridgeSection::fromRaw("Overview").has_value());
    EXPECT_FALSE(BridgeSection::fromRaw("").has_value());
}

TEST(AdminConnectionStateTest, EqualityComparesReasons) {
    EXPECT_NE(AdminConnectionState::disconnected("a"), AdminConnectionState::disconnected("b"));
    EXPECT_EQ(AdminConnectionState::disconnected("a"), AdminConnectionState::disconnected("a"));
    EXPECT_EQ(AdminConnectionState::stopped(), AdminConnectionState::stopped());
    EXPECT_NE(AdminConnectionState::disconnected(""), AdminConnectionState::stopped());
    EXPECT_TRUE(AdminConnectionState::connected().isConnected());
    EXPECT_FALSE(AdminConnectionState::connecting().isConnected());
}

}  // namespace
}  // namespace norv
