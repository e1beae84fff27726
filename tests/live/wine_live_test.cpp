// Live for Windows in Wine prefixes of the test's own: installations, versions from preferences
// folders, User Libraries named by Windows paths, running Live and locating one.
#include "live/wine_prefix.h"
#include "tests/support/live/live_layout.h"

#include <gtest/gtest.h>

#include <QDir>

#include <unistd.h>
#include <filesystem>

namespace norv::test {
namespace {

const QString suiteExe = QStringLiteral("Ableton Live 12 Suite.exe");

TEST(WineLiveTest, PrefixInstallationsAreListedBesideBundlesWithTheirUserLibrary) {
    LiveLayout layout;
    const QString prefix = layout.winePrefix();
    const QString suite = LiveLayout::addWineLive(prefix, "Live 12 Suite", suiteExe);
    const QString lite =
        LiveLayout::addWineLive(prefix, "Live 11 Lite", "Ableton Live 11 Lite.exe");
    LiveLayout::addWineLive(prefix, "Live 12 Suite", "Ableton Index.exe");
    LiveLayout::addWineLive(prefix, "Live 12 Suite", "Ableton Live 12 Suite.dll");
    LiveLayout::write(prefix + "/drive_c/ProgramData/Ableton/Live 12 Suite/" + suiteExe,
                      {});  // not in Program
    LiveLayout::addWinePreferences(prefix, "me", "12.1.5", R"(C:\users\me\Documents\Ableton)");
    const QString bundle =
        layout.addBundle(layout.systemApps(), "Ableton Live 12 Beta.app", "12.2.0");

    auto live = layout.integration();
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));

    const std::vector<LiveInstallation> expected{
        {bundle, "Ableton Live 12 Beta", "12.2.0", std::nullopt},
        {suite, "Ableton Live 12 Suite", "12.1.5",
         prefix + "/drive_c/users/me/Documents/Ableton/User Library"},
        {lite, "Ableton Live 11 Lite", "11",
         std::nullopt},  // no preferences: the major number alone
    };
    EXPECT_EQ(live->installations(), expected);
    EXPECT_TRUE(live->installations()[1].supported());
    EXPECT_FALSE(live->installations()[2].supported());
}

// The newest preferences folder of the installation's major number wins, whoever's it is; the
// shared Public folder and folders that are not a plain version do not count.
TEST(WineLiveTest, VersionAndLibraryComeFromTheNewestMatchingPreferences) {
    LiveLayout layout;
    const QString prefix = layout.winePrefix();
    const QString suite = LiveLayout::addWineLive(prefix, "Live 12 Suite", suiteExe);
    LiveLayout::addWinePreferences(prefix, "me", "12.0.5", R"(C:\users\me\Music)");
    LiveLayout::addWinePreferences(prefix, "me", "12.1.10", R"(C:\users\me\Documents\Ableton)",
                                   "Newest");
    LiveLayout::addWinePreferences(prefix, "me", "12.2b5", R"(C:\beta)");
    LiveLayout::addWinePreferences(prefix, "me", "13.0.1", R"(C:\next)");
    LiveLayout::addWinePreferences(prefix, "ann", "12.1.9", R"(C:\users\ann)");
    LiveLayout::addWinePreferences(prefix, "Public", "12.9.9", R"(C:\users\Public)");

    const auto installation = layout.integration()->describe(suite);
    ASSERT_TRUE(installation);
    EXPECT_EQ(installation->version, "12.1.10");
    EXPECT_EQ(installation->library, prefix + "/drive_c/users/me/Documents/Ableton/Newest");

    // Without a Library.cfg the user's default User Library counts, when it exists.
    QFile::remove(prefix +
                  "/drive_c/users/me/AppData/Roaming/Ableton/Live 12.1.10/Preferences/Library.cfg");
    EXPECT_EQ(layout.integration()->describe(suite)->library, std::nullopt);
    const QString defaultLibrary = prefix + "/drive_c/users/me/Documents/Ableton/User Library";
    QDir().mkpath(defaultLibrary);
    EXPECT_EQ(layout.integration()->describe(suite)->library, defaultLibrary);
}

TEST(WineLiveTest, WindowsPathsTranslateThroughTheDrivesOfThePrefix) {
    LiveLayout layout;
    const QString prefix = layout.winePrefix();
    QDir().mkpath(prefix + "/drive_c/users/me/Documents");
    QDir().mkpath(prefix + "/dosdevices");
    QDir().mkpath(layout.path("music"));
    std::filesystem::create_symlink(layout.path("music").toStdString(),
                                    (prefix + "/dosdevices/d:").toStdString());

    EXPECT_EQ(WinePrefix::unixPath(prefix, R"(C:\users\me\Documents\Ableton)"),
              prefix + "/drive_c/users/me/Documents/Ableton");
    // Windows names are found whatever their case; "." and ".." stay on the drive.
    EXPECT_EQ(WinePrefix::unixPath(prefix, R"(c:/USERS\Me\documents\Ableton)"),
              prefix + "/drive_c/users/me/Documents/Ableton");
    EXPECT_EQ(WinePrefix::unixPath(prefix, R"(C:\..\..\users\.\me)"), prefix + "/drive_c/users/me");
    EXPECT_EQ(WinePrefix::unixPath(prefix, R"(D:\Ableton)"), prefix + "/dosdevices/d:/Ableton");
    for (const char* rejected : {R"(users\me)", "/home/me", R"(\\server\share)", "C:", "CD:\\x"})
        EXPECT_EQ(WinePrefix::unixPath(prefix, rejected), std::nullopt) << rejected;

    // A User Library on another drive; one named by a path of this machine is no Windows library.
    const QString suite = LiveLayout::addWineLive(prefix, "Live 12 Suite", suiteExe);
    const QString preferences =
        LiveLayout::addWinePreferences(prefix, "me", "12.1.5", R"(D:\Ableton)", "Library");
    EXPECT_EQ(layout.integration()->describe(suite)->library,
              prefix + "/dosdevices/d:/Ableton/Library");
    // A drive the prefix does not have offers no library: writing there would make the drive.
    LiveLayout::write(preferences + "/Library.cfg",
                      LiveLayout::libraryCfg(R"(E:\Ableton)", "Library"));
    EXPECT_EQ(layout.integration()->describe(suite)->library, std::nullopt);
    LiveLayout::write(preferences + "/Library.cfg",
                      LiveLayout::libraryCfg(layout.path("music"), "Library"));
    EXPECT_EQ(layout.integration()->describe(suite)->library, std::nullopt);
}

// Wine shows the Windows path of the program as a process's first argument; it is read through
// the prefix the process's environment names, else the home folder's.
TEST(WineLiveTest, RunningLiveUnderWineIsMappedToItsInstallation) {
    LiveLayout layout;
    const QString suite = LiveLayout::addWineLive(layout.winePrefix(), "Live 12 Suite", suiteExe);
    const QString other = layout.path("prefixes/studio");
    const QString standard =
        LiveLayout::addWineLive(other, "Live 12 Standard", "Ableton Live 12 Standard.exe");
    const QString preloader = "/usr/lib/wine/wine64-preloader";
    layout.addProcess(
        300, preloader,
        {R"(C:\ProgramData\Ableton\Live 12 Suite\Program\Ableton Live 12 Suite.exe)"});
    layout.addProcess(
        301, preloader,
        {R"(C:\ProgramData\Ableton\Live 12 Standard\Program\Ableton Live 12 Standard.exe)"});
    QByteArray variables = "LANG=C";
    variables += '\0';
    variables += "WINEPREFIX=" + other.toUtf8() + "/";
    LiveLayout::write(layout.path("proc/301/environ"), variables + '\0');
    layout.addProcess(302, preloader, {suite, "--fast"});
    layout.addProcess(303, preloader, {R"(C:\windows\system32\services.exe)"});
    layout.addProcess(304, preloader,
                      {R"(C:\ProgramData\Ableton\Live 12 Lite\Program\Ableton Live 12 Lite.exe)"});

    auto live = layout.integration();
    EXPECT_EQ(live->running(),
              (std::vector<RunningLiveProcess>{{300, suite}, {301, standard}, {302, suite}}));

    // Live running in a prefix that is not searched is listed through its process.
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    ASSERT_EQ(live->installations().size(), 2u);
    EXPECT_EQ(live->installations()[0].id(), suite);
    EXPECT_EQ(live->installations()[1].id(), standard);
}

// Another user's processes are readable in /proc, but only the user's own are a running Live.
TEST(WineLiveTest, OnlyTheUsersOwnProcessesAreARunningLive) {
    LiveLayout layout;
    const QString bundle =
        layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5");
    const QString suite = LiveLayout::addWineLive(layout.winePrefix(), "Live 12 Suite", suiteExe);
    layout.addProcess(400, bundle + "/Contents/MacOS/Live");
    layout.addProcess(401, "/usr/lib/wine/wine64-preloader", {suite});

    LiveIntegration::Environment environment = layout.environment();
    EXPECT_EQ(LiveIntegration(environment).running().size(), 2u);
    environment.processOwner = ::getuid() + 1;  // the tree's processes now belong to someone else
    EXPECT_TRUE(LiveIntegration(environment).running().empty());
}

TEST(WineLiveTest, LocateAcceptsLiveExecutablesInsideAPrefixOnly) {
    LiveLayout layout;
    const QString prefix = layout.path("prefixes/studio");
    const QString suite = LiveLayout::addWineLive(prefix, "Live 12 Suite", suiteExe);
    const QString index = LiveLayout::addWineLive(prefix, "Live 12 Suite", "Ableton Index.exe");
    const QString outside = layout.path("downloads/" + suiteExe);
    LiveLayout::write(outside, {});

    auto live = layout.integration();
    for (const QString& bad :
         {index, outside, prefix + "/drive_c/ProgramData/Ableton/Ableton Live 12 Gone.exe"}) {
        ASSERT_TRUE(await([&](auto done) { live->locate(bad, done); }));
        EXPECT_EQ(live->message(), "Choose an Ableton Live application") << qPrintable(bad);
    }
    ASSERT_TRUE(await([&](auto done) { live->locate(suite, done); }));
    EXPECT_EQ(layout.settings().value("bridge.live.custom").toString(), suite);
    EXPECT_EQ(live->selected()->name, "Ableton Live 12 Suite");
    EXPECT_EQ(live->selected()->version, "12");
}

}  // namespace
}  // namespace norv::test
