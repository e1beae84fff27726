#include "tests/support/live/live_layout.h"

#include <gtest/gtest.h>

#include <QFile>

namespace norv::test {
namespace {

class LibraryReadTest : public ::testing::Test {
protected:
    std::optional<QString> read(const QByteArray& xml) {
        const QString file = layout.path("Library.cfg");
        LiveLayout::write(file, xml);
        return LiveIntegration::readLibrary(file);
    }
    static QByteArray project(const QString& path, const QString& name) {
        return QStringLiteral(R"(<ProjectPath Value="%1"/><ProjectName Value="%2"/>)").arg(path, name).toUtf8();
    }

    LiveLayout layout;
};

TEST_F(LibraryReadTest, ReadsProjectPathAndNameInsideUserLibraryAndLibraryProject) {
    EXPECT_EQ(read("<Ableton><UserLibrary><LibraryProject>" + project("/Users/me/Music/Ableton", "User Library") +
                   "</LibraryProject></UserLibrary></Ableton>"),
              "/Users/me/Music/Ableton/User Library");
    // Both sections must be open, at any depth and in any order.
    EXPECT_EQ(read("<A><LibraryProject><X><UserLibrary>" + project("/", "Lib") + "</UserLibrary></X></LibraryProject></A>"),
              "/Lib");
    // Later values win, here the one inside the sections over those outside it.
    EXPECT_EQ(read("<A>" + project("/outside", "Out") + "<UserLibrary><LibraryProject>" + project("/a/", "One") +
                   project("/b", "Two") + "</LibraryProject></UserLibrary>" + project("/outside", "Out") + "</A>"),
              "/b/Two");
}

TEST_F(LibraryReadTest, RejectsValuesOutsideTheSectionsAndUnusableFolders) {
    EXPECT_EQ(read("<A>" + project("/m", "Lib") + "</A>"), std::nullopt);
    EXPECT_EQ(read("<A><UserLibrary>" + project("/m", "Lib") + "</UserLibrary></A>"), std::nullopt);
    EXPECT_EQ(read("<A><LibraryProject>" + project("/m", "Lib") + "</LibraryProject></A>"), std::nullopt);
    for (const char* name : {"..", ".", "", "a/b"}) {
        EXPECT_EQ(read("<UserLibrary><LibraryProject>" + project("/m", name) + "</LibraryProject></UserLibrary>"),
                  std::nullopt)
            << name;
    }
    EXPECT_EQ(read("<UserLibrary><LibraryProject>" + project("m/relative", "Lib") + "</LibraryProject></UserLibrary>"),
              std::nullopt);
    // A later element without a Value puts the value back to absent.
    EXPECT_EQ(read("<UserLibrary><LibraryProject>" + project("/m", "Lib") +
                   "<ProjectName/></LibraryProject></UserLibrary>"),
              std::nullopt);
    EXPECT_EQ(LiveIntegration::readLibrary(layout.path("missing.cfg")), std::nullopt);
}

TEST_F(LibraryReadTest, ADocumentThatIsNotWellFormedGivesNothing) {
    EXPECT_EQ(read("<A><UserLibrary><LibraryProject>" + project("/m", "Lib")), std::nullopt);
    EXPECT_EQ(read("<A><UserLibrary><LibraryProject>" + project("/m", "Lib") + "</Wrong></UserLibrary></A>"),
              std::nullopt);

    // An external entity is never fetched: the secret's text appears nowhere.
    LiveLayout::write(layout.path("secret.txt"), "/stolen");
    const QByteArray external = "<?xml version=\"1.0\"?>\n<!DOCTYPE A [<!ENTITY ext SYSTEM \"file://" +
                                layout.path("secret.txt").toUtf8() +
                                "\">]>\n<A><UserLibrary><LibraryProject><ProjectPath Value=\"&ext;\"/>"
                                "<ProjectName Value=\"Lib\"/></LibraryProject></UserLibrary></A>";
    EXPECT_EQ(read(external), std::nullopt);
}

// What may stand in place of Library.cfg: a FIFO would hold the open for good, a device or a huge
// file would be read without end. None names a library, for a macOS place or a Wine prefix.
TEST_F(LibraryReadTest, OnlyARegularFileOfAtMostOneMebibyteIsRead) {
    const QString cfg = layout.path("Library.cfg");
    {
        FifoGuard fifo(cfg);
        EXPECT_EQ(LiveIntegration::readLibrary(cfg), std::nullopt);
        EXPECT_FALSE(fifo.released()) << "the read waited for a writer";
    }
    QFile::remove(cfg);
    ASSERT_TRUE(QFile::link("/dev/zero", cfg));
    EXPECT_EQ(LiveIntegration::readLibrary(cfg), std::nullopt);

    const QByteArray named = LiveLayout::libraryCfg("/m", "Lib");
    const auto padded = [&](qint64 size) {  // `size` bytes in all
        return named + "<!--" + QByteArray(size - named.size() - 8, ' ') + "-->\n";
    };
    EXPECT_EQ(read(padded(1024 * 1024)), "/m/Lib");
    EXPECT_EQ(read(padded(1024 * 1024 + 1)), std::nullopt);

    const QString prefix = layout.winePrefix();
    const QString suite = LiveLayout::addWineLive(prefix, "Live 12 Suite", "Ableton Live 12 Suite.exe");
    const QString preferences = LiveLayout::addWinePreferences(prefix, "me", "12.1.5");
    FifoGuard fifo(preferences + "/Library.cfg");
    const auto installation = layout.integration()->describe(suite);
    ASSERT_TRUE(installation);
    EXPECT_EQ(installation->library, std::nullopt);
    EXPECT_FALSE(fifo.released()) << "the scan waited for a writer";
}

TEST(LiveLibraryChoiceTest, EachInstallationKeepsItsOwnChoiceUntilItIsCleared) {
    LiveLayout layout;
    const QString a = layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5");
    const QString b = layout.addBundle(layout.systemApps(), "Ableton Live 12 Lite.app", "12.0.2");
    layout.addLibraryCfg("12.1.5", "/m/a", "Detected A");
    layout.addLibraryCfg("12.0.2", "/m/b", "Detected B");

    auto live = layout.integration();
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    ASSERT_EQ(live->selectedID(), a);
    EXPECT_EQ(live->library(), "/m/a/Detected A");

    ASSERT_TRUE(await([&](auto done) { live->chooseLibrary(QString("/chosen/A/"), done); }));
    EXPECT_EQ(live->library(), "/chosen/A");

    live->setSelectedID(b);
    ASSERT_TRUE(await([&](auto done) { live->select(done); }));
    EXPECT_EQ(live->library(), "/m/b/Detected B");

    live->setSelectedID(a);
    ASSERT_TRUE(await([&](auto done) { live->select(done); }));
    EXPECT_EQ(live->library(), "/chosen/A");

    // The choice survives a restart of the application.
    auto later = layout.integration();
    ASSERT_TRUE(await([&](auto done) { later->scan(done); }));
    EXPECT_EQ(later->library(), "/chosen/A");

    ASSERT_TRUE(await([&](auto done) { later->chooseLibrary(std::nullopt, done); }));
    EXPECT_EQ(later->library(), "/m/a/Detected A");
    EXPECT_FALSE(layout.settings().contains(LiveSettings::libraryKey(a)));
}

TEST(LiveLibraryChoiceTest, WithoutASelectionTheChoiceIsKeptUnderTheEmptyId) {
    LiveLayout layout;
    auto live = layout.integration();
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    EXPECT_EQ(live->library(), std::nullopt);
    ASSERT_TRUE(await([&](auto done) { live->chooseLibrary(QString("/m/lib"), done); }));
    EXPECT_EQ(layout.settings().value("bridge.live.library.").toString(), "/m/lib");
    EXPECT_EQ(live->library(), "/m/lib");
}

}  // namespace
}  // namespace norv::test
