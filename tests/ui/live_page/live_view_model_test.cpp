#include "ui/live_page/live_view_model.h"

#include <gtest/gtest.h>

namespace norv {
namespace {

using Live = LiveViewModel;

LiveInstallation installation(const QString& version) {
    return LiveInstallation{QStringLiteral("/opt/Ableton Live 12 Suite.app"), QStringLiteral("Ableton Live 12 Suite"),
                            version, std::nullopt};
}

ScriptDiskState disk(bool exists, bool current) { return ScriptDiskState{"2.4.1", "b512", exists, current}; }

TEST(LiveViewModel, StatusPanelStartsCheckingUntilTheChannelIsUp) {
    EXPECT_EQ(Live::initialState(), (ScriptRuntimeState{QString::fromUtf8("Checking…"), QString(), false}));
    EXPECT_FALSE(Live::connected(AdminConnectionState::connecting()));
}

TEST(LiveViewModel, InstallationAndLibraryRows) {
    EXPECT_EQ(Live::pickerEntries({}), (std::vector<Live::PickerEntry>{{QStringLiteral("No Live detected"), {}}}));
    const auto entries = Live::pickerEntries({installation(QStringLiteral("12.1.5"))});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].label, QString::fromUtf8("Ableton Live 12 Suite · 12.1.5"));
    EXPECT_EQ(entries[0].tag, "/opt/Ableton Live 12 Suite.app");

    EXPECT_FALSE(Live::openLiveEnabled(std::nullopt));
    EXPECT_FALSE(Live::libraryRowEnabled(std::nullopt));
    EXPECT_EQ(Live::libraryText(std::nullopt), "User Library not selected");
    EXPECT_EQ(Live::scriptFolder(QStringLiteral("/home/m/User Library")),
              QStringLiteral("/home/m/User Library/Remote Scripts/NorvSession"));
    EXPECT_FALSE(Live::scriptFolder(std::nullopt).has_value());
}

TEST(LiveViewModel, RemoteScriptPanelTextsAndInstallRule) {
    const std::optional<QString> library = QStringLiteral("/lib");
    const std::optional<LiveInstallation> live12 = installation(QStringLiteral("12.1.5"));
    const std::optional<LiveInstallation> live11 = installation(QStringLiteral("11.3.2"));

    // No check result yet.
    EXPECT_EQ(Live::bundledText(std::nullopt), "Unavailable");
    EXPECT_EQ(Live::installedText(std::nullopt), "Not installed");
    EXPECT_EQ(Live::installButtonTitle(std::nullopt), "Install Remote Script");
    EXPECT_FALSE(Live::installEnabled(false, std::nullopt, library, live12));
    EXPECT_FALSE(Live::openScriptFolderEnabled(std::nullopt));

    // Files present but not current.
    EXPECT_EQ(Live::bundledText(disk(true, false)), "NorvSession 2.4.1");
    EXPECT_EQ(Live::installedText(disk(true, false)), "Update or repair available");
    EXPECT_EQ(Live::installButtonTitle(disk(true, false)), "Update Remote Script");
    EXPECT_TRUE(Live::installEnabled(false, disk(true, false), library, live12));
    EXPECT_FALSE(Live::installEnabled(true, disk(true, false), library, live12));
    EXPECT_FALSE(Live::installEnabled(false, disk(true, false), std::nullopt, live12));
    EXPECT_FALSE(Live::installEnabled(false, disk(true, false), library, std::nullopt));
    EXPECT_TRUE(Live::openScriptFolderEnabled(disk(true, false)));

    // Current files: always disabled.
    EXPECT_EQ(Live::installedText(disk(true, true)), "Files verified");
    EXPECT_EQ(Live::installButtonTitle(disk(true, true)), "Up to date");
    EXPECT_FALSE(Live::installEnabled(false, disk(true, true), library, live12));

    // Live 11 is not supported.
    EXPECT_EQ(Live::installButtonTitle(disk(false, false)), "Install Remote Script");
    EXPECT_FALSE(Live::installEnabled(false, disk(false, false), library, live11));
    EXPECT_TRUE(Live::installEnabled(false, disk(false, false), library, live12));
    EXPECT_FALSE(Live::verifyEnabled(true));
}

TEST(LiveViewModel, MidiPanel) {
    EXPECT_EQ(Live::routeStatusText(std::nullopt), "Unavailable");
    EXPECT_EQ(Live::routeStatusText(std::string("waiting_for_LIVE_port")), "Waiting For Live Port");
    EXPECT_EQ(Live::routeStatusText(std::string("ready")), "Ready");
    EXPECT_TRUE(Live::reconnectEnabled(true, true));
    EXPECT_FALSE(Live::reconnectEnabled(true, false));
    EXPECT_FALSE(Live::reconnectEnabled(false, true));
}

}  // namespace
}  // namespace norv
