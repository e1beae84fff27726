#include "tests/support/live/live_layout.h"

#include "live/live_version.h"

#include <gtest/gtest.h>

#include <QDir>

namespace norv::test {
namespace {

QStringList versions(const LiveIntegration& live) {
    QStringList list;
    for (const LiveInstallation& installation : live.installations())
        list << installation.version;
    return list;
}

TEST(LiveVersionTest, NumericVersionsAndTheirOrder) {
    EXPECT_EQ(LiveIntegration::numericVersion("12.1.5 (2024-05-01)"), "12.1.5");
    EXPECT_EQ(LiveIntegration::numericVersion("12.0"), "12.0");
    for (const char* rejected : {"12", "12b1", "12.1.5b3", "12.1b7", " 12.1", "12.1.5.3"})
        EXPECT_EQ(LiveIntegration::numericVersion(rejected), std::nullopt) << rejected;

    EXPECT_GT(LiveVersion::compare("12.1.10", "12.1.9"), 0);
    EXPECT_GT(LiveVersion::compare("12.1.0", "12.1"), 0);
    EXPECT_GT(LiveVersion::compare("123456789012345678901234.0", "99999999999999999999.0"), 0);
    EXPECT_FALSE(LiveVersion::supported("99999999999999999999.1"));  // does not fit 64 bits
}

TEST(LiveInstallationsTest, ScanListsLiveBundlesOfBothFoldersNewestFirst) {
    LiveLayout layout;
    layout.addBundle(layout.systemApps(), "Ableton Live 11 Suite.app", "11.3.21");
    const QString suite = layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5 (2024-05-01)");
    layout.addBundle(layout.userApps(), "Ableton Live 12 Beta.app", "12.1.10");
    layout.addBundle(layout.systemApps(), "Live 12.app", "12.2");
    layout.addBundle(layout.systemApps(), "Ableton Live 12 Lite", "12.2");
    layout.addBundle(layout.systemApps(), "Ableton Live 12 Trial.APP", "12.2");
    layout.addBundle(layout.systemApps(), "Ableton Live 12 Intro.app", "12.1b7");
    layout.addBundle(layout.systemApps(), "Ableton Live 9.app", "12");
    QDir().mkpath(layout.systemApps() + "/Ableton Live 10.app");  // no information dictionary
    layout.write(layout.systemApps() + "/Ableton Live 8.app/Contents/Info.plist", "<plist><dict><key>");
    layout.addLibraryCfg("12.1.5", "/Users/me/Music/Ableton", "User Library");

    auto live = layout.integration();
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));

    EXPECT_EQ(versions(*live), QStringList({"12.1.10", "12.1.5", "11.3.21"}));
    const auto& found = live->installations();
    EXPECT_EQ(found[1].url, suite);
    EXPECT_EQ(found[1].name, "Ableton Live 12 Suite");
    EXPECT_EQ(found[1].library, "/Users/me/Music/Ableton/User Library");
    EXPECT_EQ(found[0].library, std::nullopt);
    EXPECT_TRUE(found[1].supported());
    EXPECT_FALSE(found[2].supported());
    EXPECT_EQ(live->selectedID(), found[0].id());
    EXPECT_EQ(layout.settings().value("bridge.live.selected").toString(), found[0].id());
}

TEST(LiveInstallationsTest, RunningLiveIsListedOnceWhereverItWasStartedFrom) {
    LiveLayout layout;
    const QString suite = layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5");
    const QString elsewhere = layout.addBundle(layout.path("opt"), "Ableton Live 12 Beta.app", "12.2.0");
    layout.addProcess(4100, suite + "/Contents/MacOS/Live");
    layout.addProcess(4200, elsewhere + "/Contents/MacOS/Live (deleted)");
    layout.addProcess(4300, "", {suite + "/Contents/MacOS/Live", "--fast"});
    layout.addProcess(4400, "/usr/bin/bash", {"bash", "-c"});
    layout.addProcess(4500, layout.path("opt") + "/Max.app/Contents/MacOS/Max");
    QDir().mkpath(layout.path("proc/self"));

    auto live = layout.integration();
    const std::vector<RunningLiveProcess> running = live->running();
    EXPECT_EQ(running, (std::vector<RunningLiveProcess>{{4100, suite}, {4200, elsewhere}, {4300, suite}}));

    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    ASSERT_EQ(live->installations().size(), 2u);
    EXPECT_EQ(live->installations()[0].url, elsewhere);
    EXPECT_EQ(live->installations()[1].url, suite);
}

// Only the bundle's main executable is a running Live: its helpers and the programs it starts
// from inside the bundle are not further instances.
TEST(LiveInstallationsTest, OnlyTheMainExecutableOfABundleIsARunningLive) {
    LiveLayout layout;
    const QString suite = layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5");
    const QString bare = layout.addBundle(layout.path("opt"), "Ableton Live 11 Lite.app", "11.3.0");
    LiveLayout::write(bare + "/Contents/Info.plist", "<plist version=\"1.0\"><dict/></plist>");
    layout.addProcess(100, suite + "/Contents/MacOS/Live");
    layout.addProcess(101, suite + "/Contents/MacOS/Live Helper");
    layout.addProcess(102, suite + "/Contents/Frameworks/crashpad_handler");
    layout.addProcess(103, suite + "/Contents/MacOS/sub/Live");
    // No executable link: the first argument, a relative one from the working directory.
    layout.addProcess(104, "", {"MacOS/Live", "--fast"}, suite + "/Contents");
    layout.addProcess(105, "", {"./Contents/MacOS/../Frameworks/Live"}, suite);
    layout.addProcess(106, "", {"Contents/MacOS/Live"});  // no working directory to read
    // A bundle that names no executable runs the program named as the bundle.
    layout.addProcess(107, bare + "/Contents/MacOS/Ableton Live 11 Lite");
    layout.addProcess(108, bare + "/Contents/MacOS/Live");

    EXPECT_EQ(layout.integration()->running(),
              (std::vector<RunningLiveProcess>{{100, suite}, {104, suite}, {107, bare}}));
}

TEST(LiveInstallationsTest, SelectionIsRestoredAndAStaleOneFallsBackToTheNewest) {
    LiveLayout layout;
    const QString older = layout.addBundle(layout.systemApps(), "Ableton Live 12 Lite.app", "12.0.1");
    const QString newer = layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5");

    layout.settings().setValue("bridge.live.selected", older);
    auto live = layout.integration();
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    EXPECT_EQ(live->selectedID(), older);
    EXPECT_EQ(live->selected()->version, "12.0.1");

    // A selection made in the page wins over the stored one and is stored by select().
    live->setSelectedID(newer);
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    EXPECT_EQ(live->selectedID(), newer);
    EXPECT_EQ(layout.settings().value("bridge.live.selected").toString(), newer);

    layout.settings().setValue("bridge.live.selected", layout.systemApps() + "/Ableton Live 12 Gone.app");
    auto fresh = layout.integration();
    ASSERT_TRUE(await([&](auto done) { fresh->scan(done); }));
    EXPECT_EQ(fresh->selectedID(), newer);
    EXPECT_EQ(layout.settings().value("bridge.live.selected").toString(), newer);
}

TEST(LiveInstallationsTest, NoInstallationStoresAnEmptySelectionAndStillChecks) {
    LiveLayout layout;
    layout.settings().setValue("bridge.live.selected", "/Applications/Ableton Live 12.app");
    auto live = layout.integration();
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    EXPECT_TRUE(live->installations().empty());
    EXPECT_EQ(live->selectedID(), "");
    EXPECT_EQ(live->selected(), std::nullopt);
    EXPECT_EQ(layout.settings().value("bridge.live.selected").toString(), "");
    EXPECT_EQ(live->message(), "Bundled Remote Script runtime unavailable");
}

TEST(LiveInstallationsTest, LocatedBundleIsStoredSelectedAndKeptAcrossScans) {
    LiveLayout layout;
    layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5");
    const QString located = layout.addBundle(layout.path("Volumes/Music"), "Ableton Live 11 Standard.app", "11.3.2");

    auto live = layout.integration();
    ASSERT_TRUE(await([&](auto done) { live->locate(located + "/", done); }));
    EXPECT_EQ(layout.settings().value("bridge.live.custom").toString(), located);
    EXPECT_EQ(live->selectedID(), located);
    EXPECT_EQ(live->installations().size(), 2u);

    auto later = layout.integration();
    ASSERT_TRUE(await([&](auto done) { later->scan(done); }));
    EXPECT_EQ(later->selectedID(), located);

    // Once the located bundle is gone it no longer describes and the newest one is selected.
    QDir(located).removeRecursively();
    auto afterRemoval = layout.integration();
    ASSERT_TRUE(await([&](auto done) { afterRemoval->scan(done); }));
    EXPECT_EQ(afterRemoval->installations().size(), 1u);
    EXPECT_EQ(afterRemoval->selected()->version, "12.1.5");
}

TEST(LiveInstallationsTest, LocatingSomethingElseLeavesEverythingAsItWas) {
    LiveLayout layout;
    const QString suite = layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5");
    auto live = layout.integration();
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    layout.settings().setValue("bridge.live.custom", suite);

    for (const QString& bad : {layout.addBundle(layout.path("x"), "Live 12.app", "12.1.5"),
                               layout.addBundle(layout.path("x"), "Ableton Live 12 Suite", "12.1.5"),
                               layout.addBundle(layout.path("x"), "Ableton Live 12 Beta.app", "12b1"),
                               layout.path("x/Ableton Live 12 Missing.app")}) {
        ASSERT_TRUE(await([&](auto done) { live->locate(bad, done); }));
        EXPECT_EQ(live->message(), "Choose an Ableton Live application") << qPrintable(bad);
        EXPECT_EQ(live->selectedID(), suite);
        EXPECT_EQ(layout.settings().value("bridge.live.custom").toString(), suite);
    }
}

TEST(LiveInstallationsTest, PathKeysAreStoredEscapedAndReadBack) {
    LiveLayout layout;
    LiveSettings settings(&layout.settings());
    const QString a = "/Applications/Ableton Live 12 Suite.app";
    const QString b = "\\Applications\\Ableton Live 12 Suite.app";
    const QString c = "%2FApplications%2FAbleton Live 12 Suite.app";
    const QString d = "/Volumes/Müsik [1]/Ableton Live 12 = #1;.app";
    settings.setLibrary(a, "/music/a");
    settings.setLibrary(b, "/music/b");
    settings.setLibrary(c, "/music/c");
    settings.setLibrary(d, "/music/d");
    settings.setLibrary("", "/music/none");
    layout.settings().sync();

    EXPECT_TRUE(layout.settings().childGroups().isEmpty());
    EXPECT_TRUE(layout.settings().contains("bridge.live.library.%2FApplications%2FAbleton Live 12 Suite.app"));
    EXPECT_TRUE(layout.settings().contains("bridge.live.library."));
    QSettings reread(layout.settings().fileName(), QSettings::IniFormat);
    LiveSettings again(&reread);
    EXPECT_EQ(again.library(a), "/music/a");
    EXPECT_EQ(again.library(b), "/music/b");
    EXPECT_EQ(again.library(c), "/music/c");
    EXPECT_EQ(again.library(d), "/music/d");
    EXPECT_EQ(again.library(""), "/music/none");

    settings.setLibrary(a, std::nullopt);
    EXPECT_EQ(settings.library(a), std::nullopt);
    EXPECT_EQ(settings.library(b), "/music/b");
}

}  // namespace
}  // namespace norv::test
