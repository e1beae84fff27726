#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bluetooth/codec/bluetooth_connection_failure.h"
#include "bluetooth/codec/bluetooth_publication_state.h"
#include "bluetooth/codec/bluetooth_startup_recovery.h"
#include "bluetooth/codec/norv_bluetooth_wire.h"
#include "tests/support/bluetooth/bluetooth_hex.h"
#include "model/byte_reader.h"

namespace norv {
namespace {

using Role = BluetoothPublicationState::Role;

TEST(BluetoothWire, ConfigurationValueIsCompactJsonWithFourIntegers) {
    const auto text = NorvBluetoothWire::configurationValue(0x0081, 0x0083);
    EXPECT_EQ(text.find(' '), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(text), (nlohmann::json{{"v", 4}, {"state", 129}, {"midi", 131}, {"codec", 0}}));
}

TEST(BluetoothWire, ByteReaderRefusesToReadPastTheEnd) {
    const auto bytes = test::hex("01 02 03");
    ByteReader reader(bytes);
    std::uint16_t a = 0;
    std::uint32_t b = 0;
    EXPECT_TRUE(reader.u16(a));
    EXPECT_EQ(a, 0x0102);
    EXPECT_FALSE(reader.u32(b));
    EXPECT_EQ(reader.remaining(), 1u);  // a failed read leaves the position alone
}

TEST(BluetoothPublication, RecordsEachRequestedRoleOnceWithDistinctNonZeroPSMs) {
    BluetoothPublicationState state;
    EXPECT_FALSE(state.published(0x81, Role::state));  // not requested yet
    state.requested = {Role::state, Role::midi};
    EXPECT_FALSE(state.published(0, Role::state));
    EXPECT_TRUE(state.published(0x81, Role::state));
    EXPECT_FALSE(state.published(0x81, Role::state));  // second report for the same role
    EXPECT_FALSE(state.published(0x85, Role::state));
    EXPECT_FALSE(state.published(0x81, Role::midi));  // the state PSM is taken
    EXPECT_FALSE(state.published(0, Role::midi));
    EXPECT_FALSE(state.midiPSM);
    EXPECT_TRUE(state.published(0x83, Role::midi));
    EXPECT_EQ(state.statePSM, 0x81);
    EXPECT_EQ(state.midiPSM, 0x83);
}

TEST(BluetoothPublication, RetryDelaysGrowThenStop) {
    BluetoothStartupRecovery recovery;
    EXPECT_EQ(recovery.nextDelay(), 1.0);
    EXPECT_EQ(recovery.nextDelay(), 3.0);
    EXPECT_EQ(recovery.nextDelay(), 10.0);
    EXPECT_EQ(recovery.nextDelay(), std::nullopt);
    EXPECT_EQ(recovery.nextDelay(), std::nullopt);
    EXPECT_EQ(recovery.failures, 5);
    recovery.failures = 0;
    EXPECT_EQ(recovery.nextDelay(), 1.0);
}

TEST(BluetoothPublication, FailureCodesByDomainAndCode) {
    using BluetoothConnectionFailure::code;
    const auto cb = BluetoothPlatformError::coreBluetoothDomain;
    const auto att = BluetoothPlatformError::attDomain;
    EXPECT_EQ(code(std::nullopt), "bluetooth");
    EXPECT_EQ(code(BluetoothPlatformError{cb, 14, ""}), "bluetooth_pairing_required");
    EXPECT_EQ(code(BluetoothPlatformError{cb, 15, ""}), "bluetooth_encryption_timeout");
    EXPECT_EQ(code(BluetoothPlatformError{cb, 5, ""}), "bluetooth");
    EXPECT_EQ(code(BluetoothPlatformError{att, 5, ""}), "bluetooth_pairing_required");
    EXPECT_EQ(code(BluetoothPlatformError{att, 15, ""}), "bluetooth_pairing_required");
    EXPECT_EQ(code(BluetoothPlatformError{att, 14, ""}), "bluetooth");
    EXPECT_EQ(code(BluetoothPlatformError{"NSPOSIXErrorDomain", 14, ""}), "bluetooth");
}

}  // namespace
}  // namespace norv
