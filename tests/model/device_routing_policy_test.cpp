#include "model/device_routing_policy.h"

#include <gtest/gtest.h>

namespace norv {
namespace {

using nlohmann::json;

struct Automation {
    bool automatic, arm, input;
};

Automation automationOf(const json& body) {
    const auto p = DeviceRoutingPolicy::decode(body);
    return {p.automaticDeviceRoutingEnabled, p.autoArmEnabled, p.autoInputRoutingEnabled};
}

TEST(DeviceRoutingPolicyTest, MissingKeysTakeDefaults) {
    EXPECT_EQ(DeviceRoutingPolicy::decode(json::object()), DeviceRoutingPolicy::defaultPolicy());
    const json allNull = {{"automatic_device_routing_enabled", nullptr},
                          {"auto_arm_enabled", nullptr},
                          {"restore_input_on_release", nullptr},
                          {"disconnect_grace_seconds", nullptr},
                          {"shared_input_strategy", nullptr}};
    EXPECT_EQ(DeviceRoutingPolicy::decode(allNull), DeviceRoutingPolicy::defaultPolicy());

    EXPECT_EQ(DeviceRoutingPolicy::decode({{"disconnect_grace_seconds", 0}}).disconnectGraceSeconds,
              0.0);
    const auto kept = DeviceRoutingPolicy::decode(
        {{"shared_input_strategy", "round_robin"}, {"respect_manual_overrides", false}});
    EXPECT_EQ(kept.sharedInputStrategy, "round_robin");
    EXPECT_FALSE(kept.respectManualOverrides);
    EXPECT_TRUE(kept.restoreInputOnRelease);
}

TEST(DeviceRoutingPolicyTest, AutomationFieldsCollapseIntoOneValue) {
    const auto all = [](Automation a, bool v) {
        return a.automatic == v && a.arm == v && a.input == v;
    };
    EXPECT_TRUE(all(
        automationOf({{"auto_arm_enabled", false}, {"auto_input_routing_enabled", false}}), false));
    EXPECT_TRUE(all(automationOf({{"auto_arm_enabled", false}}), true));
    EXPECT_TRUE(
        all(automationOf({{"automatic_device_routing_enabled", false}, {"auto_arm_enabled", true}}),
            false));
    EXPECT_TRUE(all(automationOf({{"automatic_device_routing_enabled", true},
                                  {"auto_input_routing_enabled", false}}),
                    true));
}

TEST(DeviceRoutingPolicyTest, WrongTypesFail) {
    EXPECT_THROW(DeviceRoutingPolicy::decode({{"shared_input_strategy", 7}}), AdminDecodeError);
    EXPECT_THROW(DeviceRoutingPolicy::decode({{"auto_arm_enabled", 0}}), AdminDecodeError);
    EXPECT_THROW(DeviceRoutingPolicy::decode({{"disconnect_grace_seconds", "3"}}),
                 AdminDecodeError);
    EXPECT_THROW(DeviceRoutingPolicy::decode(json::array()), AdminDecodeError);
}

TEST(DeviceRoutingPolicyTest, PayloadCarriesAllSevenFieldsAndRoundTrips) {
    const json expected = {
        {"automatic_device_routing_enabled", true}, {"auto_arm_enabled", true},
        {"auto_input_routing_enabled", true},       {"restore_input_on_release", true},
        {"respect_manual_overrides", true},         {"disconnect_grace_seconds", 3.0},
        {"shared_input_strategy", "all_ins"}};
    EXPECT_EQ(DeviceRoutingPolicy::defaultPolicy().adminPayload(), expected);

    DeviceRoutingPolicy edited = DeviceRoutingPolicy::defaultPolicy();
    edited.automaticDeviceRoutingEnabled = false;
    edited.autoArmEnabled = false;
    edited.autoInputRoutingEnabled = false;
    edited.disconnectGraceSeconds = 1.25;
    edited.sharedInputStrategy = "first_assigned";
    const json payload = edited.adminPayload();
    EXPECT_EQ(payload.size(), 7u);
    EXPECT_TRUE(payload["disconnect_grace_seconds"].is_number());
    EXPECT_EQ(DeviceRoutingPolicy::decode(payload), edited);
    EXPECT_NE(edited, DeviceRoutingPolicy::defaultPolicy());
}

}  // namespace
}  // namespace norv
