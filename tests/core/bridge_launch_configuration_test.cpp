#include "core/bridge_launch_configuration.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace norv {
namespace {

TEST(LaunchConfigurationTest, DefaultsStoredValuesAndInvariants) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    EXPECT_EQ(BridgeLaunchConfiguration::load(settings), BridgeLaunchConfiguration{});
    EXPECT_EQ(BridgeLaunchConfiguration{}.publicPort, 9311);
    EXPECT_FALSE(BridgeLaunchConfiguration{}.bluetoothEnabled);

    // A stored false or 0 reads back as stored, across a reopen; the port is not checked here.
    BridgeLaunchConfiguration value{true, false, false, false, 0, true, true};
    value.save(settings);
    settings.sync();
    QSettings reopened(settings.fileName(), QSettings::IniFormat);
    EXPECT_EQ(BridgeLaunchConfiguration::load(reopened), value);

    // Bonjour only with Wi-Fi, approval always on: on save and on load.
    BridgeLaunchConfiguration loose{false, true, true, true, 70000, false, false};
    loose.save(reopened);
    EXPECT_FALSE(reopened.value(QStringLiteral("bridge.connections.bonjourEnabled")).toBool());
    EXPECT_TRUE(reopened.value(QStringLiteral("bridge.connections.requireDeviceApproval")).toBool());
    EXPECT_EQ(reopened.allKeys().size(), 7);
    reopened.setValue(QStringLiteral("bridge.connections.bonjourEnabled"), true);
    reopened.setValue(QStringLiteral("bridge.connections.requireDeviceApproval"), false);
    const auto loaded = BridgeLaunchConfiguration::load(reopened);
    EXPECT_FALSE(loaded.bonjourEnabled);
    EXPECT_TRUE(loaded.requireDeviceApproval);
    EXPECT_EQ(loaded.publicPort, 70000);
}

}  // namespace
}  // namespace norv
