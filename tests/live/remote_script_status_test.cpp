#include "tests/support/live/live_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace norv::test {
namespace {

using Inputs = RemoteScriptStatus::Inputs;

const QString suite = "/Applications/Ableton Live 12 Suite.app";
const QString library = "/m/User Library";
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Everything in order: the selected Live runs once, its script talks to the engine and matches the files.
Inputs active() {
    Inputs in;
    in.connected = true;
    in.selected = LiveInstallation{suite, "Ableton Live 12 Suite", "12.1.5", library};
    in.library = library;
    in.disk = ScriptDiskState{"1.4.0", "b140", true, true};
    in.running = {{700, suite}};
    in.health.remoteScriptHeartbeatIdleSeconds = 1.0;
    in.health.remoteScriptIdleSeconds = 1.0;
    in.health.remoteScriptRuntime = RemoteScriptIdentity{"b140", 700, "/m/User Library/Remote Scripts/NorvSession", "1.4.0"};
    return in;
}

Inputs staleWithLive() {
    Inputs in = active();
    in.health.remoteScriptHeartbeatIdleSeconds.reset();
    in.health.remoteScriptIdleSeconds.reset();
    return in;
}

struct Rule {
    const char* what;
    std::function<void(Inputs&)> change;
    std::set<std::int32_t> pending;
    QString title;
    QString detail;
};

TEST(RemoteScriptStatusTest, TheFirstMatchingRuleGivesTheStatus) {
    const QString waiting = "Waiting for runtime identity";
    const QString select = "Select NorvSession in Live’s Control Surface settings";
    const QList<Rule> rules = {
        {"nothing selected", [](Inputs& in) { in.selected.reset(); }, {}, "No Live selected", "Choose an installation"},
        {"Live 11", [](Inputs& in) { in.selected->version = "11.3.21"; }, {}, "Unsupported Live version",
         "Ableton Live 12 required"},
        {"offline", [](Inputs& in) { in.connected = false; }, {}, "Bridge offline", ""},
        {"no heartbeat, no Live", [](Inputs& in) { in = staleWithLive(), in.running.clear(); }, {}, "Live not running", ""},
        {"heartbeat 5.0, other Live only",
         [](Inputs& in) { in.health.remoteScriptHeartbeatIdleSeconds = 5.0, in.running = {{9, "/o/Ableton Live 12 Lite.app"}}; }, {},
         "Live not running", ""},
        {"restart after install", [](Inputs& in) { in = staleWithLive(); }, {700}, "Restart required",
         "Save your Set, then restart Live"},
        {"restart, bundle spelled with dots",
         [](Inputs& in) { in = staleWithLive(), in.running = {{700, "/Applications/./x/../Ableton Live 12 Suite.app/"}}; },
         {700}, "Restart required", "Save your Set, then restart Live"},
        {"restart pending for another Live",
         [](Inputs& in) { in = staleWithLive(), in.running.push_back({701, "/o/Ableton Live 12 Lite.app"}); }, {701},
         "Inactive", select},
        {"inactive, current files", [](Inputs& in) { in = staleWithLive(), in.health.remoteScriptIdleSeconds = 5.0; }, {}, "Inactive",
         select},
        {"inactive, files not current",
         [](Inputs& in) { in = staleWithLive(), in.disk->current = false, in.health.remoteScriptIdleSeconds = nan; }, {}, "Inactive",
         "Install the bundled Remote Script"},
        {"inactive, no check", [](Inputs& in) { in = staleWithLive(), in.disk.reset(); }, {}, "Inactive",
         "Install the bundled Remote Script"},
        {"heartbeat negative, activity fresh", [](Inputs& in) { in.health.remoteScriptHeartbeatIdleSeconds = -1.0; }, {700},
         "Session unverified", waiting},
        {"heartbeat NaN, activity negative",
         [](Inputs& in) { in.health.remoteScriptHeartbeatIdleSeconds = nan, in.health.remoteScriptIdleSeconds = -3.0; }, {}, "Session unverified",
         waiting},
        {"no identity", [](Inputs& in) { in.health.remoteScriptRuntime.reset(); }, {}, "Session unverified",
         "Runtime identity unavailable"},
        {"no process id", [](Inputs& in) { in.health.remoteScriptRuntime->remoteScriptProcessId.reset(); }, {}, "Session unverified",
         "Runtime identity unavailable"},
        {"script in another Live",
         [](Inputs& in) { in.running.push_back({800, "/o/Ableton Live 12 Lite.app"}), in.health.remoteScriptRuntime->remoteScriptProcessId = 800; },
         {}, "Another Live instance", "The connected script belongs to another instance"},
        {"two Lives", [](Inputs& in) { in.running.push_back({800, "/o/Ableton Live 12 Lite.app"}); }, {},
         "Multiple Live instances", "Close other Live instances"},
        {"no library", [](Inputs& in) { in.library.reset(); }, {}, "Different script location",
         "Live loaded NorvSession from another folder"},
        {"no directory", [](Inputs& in) { in.health.remoteScriptRuntime->remoteScriptDirectory.reset(); }, {}, "Different script location",
         "Live loaded NorvSession from another folder"},
        {"other directory", [](Inputs& in) { in.health.remoteScriptRuntime->remoteScriptDirectory = "/other/Remote Scripts/NorvSession"; }, {},
         "Different script location", "Live loaded NorvSession from another folder"},
        {"no check", [](Inputs& in) { in.disk.reset(); }, {}, "Session unverified", "Bundled script unavailable"},
        {"older build loaded", [](Inputs& in) { in.health.remoteScriptRuntime->remoteScriptBundleId = "b139"; }, {}, "Restart required",
         "An earlier Remote Script is loaded"},
        {"older build, files not current",
         [](Inputs& in) { in.health.remoteScriptRuntime->remoteScriptBundleId = "b139", in.disk->current = false; }, {}, "Update required",
         "An earlier Remote Script is loaded"},
        {"no version", [](Inputs& in) { in.health.remoteScriptRuntime->remoteScriptVersion.reset(); }, {}, "Restart required",
         "An earlier Remote Script is loaded"},
        {"files differ", [](Inputs& in) { in.disk->current = false; }, {}, "Repair required", "Installed files differ"},
        {"directory spelled with dots",
         [](Inputs& in) { in.health.remoteScriptRuntime->remoteScriptDirectory = "/m/./User Library/x/../Remote Scripts/NorvSession/"; }, {},
         "Active", "NorvSession 1.4.0 · verified"},
        {"heartbeat just fresh", [](Inputs& in) { in.health.remoteScriptHeartbeatIdleSeconds = 4.999; }, {}, "Active",
         "NorvSession 1.4.0 · verified"},
    };
    for (const Rule& rule : rules) {
        Inputs in = active();
        rule.change(in);
        std::set<std::int32_t> pending = rule.pending;
        const ScriptRuntimeState state = RemoteScriptStatus::evaluate(in, pending);
        EXPECT_EQ(state, (ScriptRuntimeState{rule.title, rule.detail, rule.title == "Active"})) << rule.what;
    }
}

TEST(RemoteScriptStatusTest, RestartMarksOfEndedProcessesAreDropped) {
    Inputs in = active();
    in.running.push_back({701, "/o/Ableton Live 12 Lite.app"});
    std::set<std::int32_t> pending{700, 701, 702};
    RemoteScriptStatus::evaluate(in, pending);
    EXPECT_EQ(pending, (std::set<std::int32_t>{700, 701}));
    in.selected.reset();
    in.running = {{701, "/o/Ableton Live 12 Lite.app"}};
    RemoteScriptStatus::evaluate(in, pending);
    EXPECT_EQ(pending, (std::set<std::int32_t>{701}));
}

TEST(RemoteScriptStatusTest, RestartingLiveAfterAnInstallClearsRestartRequired) {
    LiveLayout layout;
    const QString bundle = layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5");
    layout.addLibraryCfg("12.1.5", layout.path("music"), "User Library");
    layout.addRuntime();
    layout.addProcess(700, bundle + "/Contents/MacOS/Live");
    auto live = layout.integration();
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    ASSERT_TRUE(await([&](auto done) { live->install(done); }));

    BridgeHealth stale;
    stale.remoteScriptIdleSeconds = 10.0;
    stale.remoteScriptHeartbeatIdleSeconds = 10.0;
    EXPECT_EQ(live->runtime(stale, true).title, "Restart required");

    layout.removeProcess(700);
    layout.addProcess(701, bundle + "/Contents/MacOS/Live");
    EXPECT_EQ(live->runtime(stale, true),
              (ScriptRuntimeState{"Inactive", "Select NorvSession in Live’s Control Surface settings", false}));
    EXPECT_TRUE(live->restartPending().empty());

    BridgeHealth loaded;
    loaded.remoteScriptIdleSeconds = 0.5;
    loaded.remoteScriptHeartbeatIdleSeconds = 0.5;
    loaded.remoteScriptRuntime = RemoteScriptIdentity{
        "b140", 701, (layout.path("music") + "/User Library/Remote Scripts/NorvSession").toStdString(), "1.4.0"};
    EXPECT_EQ(live->runtime(loaded, true), (ScriptRuntimeState{"Active", "NorvSession 1.4.0 · verified", true}));
}

}  // namespace
}  // namespace norv::test
