// The Live page over a Live integration on a machine of the test's own (bundles, preferences,
// settings and the fake engine as the runtime's tool): what the page's controls and the
// integration's own selection changes lead to.
#include "core/dialog_service.h"
#include "tests/support/live/live_layout.h"
#include "ui/live_page/live_page.h"
#include "ui/pages/page_factory.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace norv {
namespace {

using test::LiveLayout;

struct OpenDialogs : DialogService {
    std::optional<QString> openPath;
    FilePanelRequest asked;  // the last open panel's request
    bool confirm(const ConfirmationRequest&) override { return false; }
    void alert(const QString&, const QString&) override {}
    std::optional<QString> choosePathToOpen(const FilePanelRequest& request) override {
        asked = request;
        return openPath;
    }
    std::optional<QString> choosePathToSave(const FilePanelRequest&) override { return std::nullopt; }
};

bool waitFor(const std::function<bool()>& done, int limitMs = 20000) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

QPushButton* button(QWidget* page, const QString& text) {
    for (QPushButton* candidate : page->findChildren<QPushButton*>())
        if (candidate->text() == text) return candidate;
    return nullptr;
}

// The User Library that the runtime's tool was last given, or none.
std::optional<QString> lastLibrary(const LiveLayout& layout) {
    const auto calls = layout.calls();
    if (calls.isEmpty()) return std::nullopt;
    const QJsonArray args = calls.last().value(QStringLiteral("args")).toArray();
    for (int i = 0; i + 1 < args.size(); ++i)
        if (args[i].toString() == QStringLiteral("--script-library")) return args[i + 1].toString();
    return std::nullopt;
}

class LivePageFlow : public ::testing::Test {
protected:
    void SetUp() override {
        layout.addRuntime();
        layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5");
        layout.addLibraryCfg("12.1.5", layout.path("music"), "Suite Library");
    }

    // The page, shown, once its first scan and check are over.
    void showPage() {
        LivePage::Actions actions;
        actions.openPath = [this](const QString& path) { opened.append(path); };
        actions.environment = [this] { return layout.environment(); };
        addLiveIntegrationActions(actions, dialogs);
        page = std::make_unique<LivePage>(std::move(actions));
        page->setStatusInterval(std::chrono::hours(1));
        page->start();
        settle(1);
    }

    // Waits until the tool has been run `calls` times in all and nothing runs any more.
    void settle(qsizetype calls) {
        ASSERT_TRUE(waitFor([&] { return layout.calls().size() >= calls && !page->integration().busy(); }));
        QCoreApplication::processEvents();  // a selection change the page follows on the next turn
        ASSERT_FALSE(page->integration().busy());
    }

    LiveLayout layout;
    OpenDialogs dialogs;
    QStringList opened;
    std::unique_ptr<LivePage> page;
};

// A FIFO in place of Library.cfg: the page scans and checks at once, with no User Library.
TEST_F(LivePageFlow, AFifoInPlaceOfLibraryCfgNeitherBlocksThePageNorNamesALibrary) {
    test::FifoGuard fifo(layout.home() + "/Library/Preferences/Ableton/Live 12.1.5/Library.cfg");
    showPage();
    EXPECT_FALSE(fifo.released()) << "the page waited for a writer";
    EXPECT_EQ(page->integration().library(), std::nullopt);
    EXPECT_EQ(lastLibrary(layout), std::nullopt);
}

TEST_F(LivePageFlow, LocatedLiveIsCheckedAndInstalledWithItsOwnUserLibrary) {
    const QString beta = layout.addBundle(layout.path("elsewhere"), "Ableton Live 12 Beta.app", "12.2.1");
    layout.addLibraryCfg("12.2.1", layout.path("music"), "Beta Library");
    showPage();
    EXPECT_EQ(lastLibrary(layout), layout.path("music/Suite Library"));

    dialogs.openPath = beta;
    button(page.get(), QString::fromUtf8("Locate Live…"))->click();
    settle(2);
    EXPECT_EQ(page->integration().selectedID(), beta);
    EXPECT_EQ(page->integration().library(), layout.path("music/Beta Library"));
    EXPECT_EQ(lastLibrary(layout), layout.path("music/Beta Library"));
    EXPECT_EQ(layout.calls().size(), 2);  // one check for the located Live, none without its library
    EXPECT_EQ(page->livePicker()->currentData().toString(), beta);

    ASSERT_EQ(page->installButton()->text(), "Install Remote Script");
    ASSERT_TRUE(page->installButton()->isEnabled());
    page->installButton()->click();
    settle(4);
    EXPECT_EQ(lastLibrary(layout), layout.path("music/Beta Library"));
    EXPECT_EQ(page->installedValue()->text(), "Files verified");
    EXPECT_EQ(page->installButton()->text(), "Up to date");
    EXPECT_FALSE(page->installButton()->isEnabled());
}

// The panel opens in the home folder's Wine prefix and picks Live for Windows' executable; one in
// another prefix is checked with the User Library its own preferences name.
TEST_F(LivePageFlow, LocatePanelPicksLiveForWindowsInAPrefix) {
    QDir().mkpath(layout.winePrefix() + "/drive_c/ProgramData/Ableton");
    const QString studio = layout.path("prefixes/studio");
    const QString standard =
        LiveLayout::addWineLive(studio, "Live 12 Standard", "Ableton Live 12 Standard.exe");
    LiveLayout::addWinePreferences(studio, "me", "12.1.5", R"(C:\users\me\Documents\Ableton)");
    showPage();

    dialogs.openPath = standard;
    button(page.get(), QString::fromUtf8("Locate Live…"))->click();
    settle(2);
    EXPECT_EQ(dialogs.asked.nameFilters, QStringList{"Ableton Live (Ableton Live*.exe)"});
    EXPECT_FALSE(dialogs.asked.chooseDirectory);
    EXPECT_EQ(dialogs.asked.directory, layout.winePrefix() + "/drive_c/ProgramData/Ableton");
    EXPECT_EQ(page->integration().selectedID(), standard);
    EXPECT_EQ(lastLibrary(layout), studio + "/drive_c/users/me/Documents/Ableton/User Library");
}

TEST_F(LivePageFlow, PickerAndScanChangesSelectWithTheChosenInstallationsLibrary) {
    layout.addBundle(layout.userApps(), "Ableton Live 12 Lite.app", "12.0");
    layout.addLibraryCfg("12.0", layout.path("music"), "Lite Library");
    showPage();  // the scan chose the newest and checked it
    EXPECT_EQ(page->integration().selected()->name, "Ableton Live 12 Suite");
    EXPECT_EQ(lastLibrary(layout), layout.path("music/Suite Library"));
    ASSERT_EQ(page->livePicker()->count(), 2);

    page->livePicker()->setCurrentIndex(1);
    Q_EMIT page->livePicker()->activated(1);
    settle(2);
    EXPECT_EQ(page->integration().selected()->name, "Ableton Live 12 Lite");
    EXPECT_EQ(lastLibrary(layout), layout.path("music/Lite Library"));
    EXPECT_EQ(layout.settings().value("bridge.live.selected").toString(), page->integration().selectedID());

    // The chosen bundle goes away: the rescan moves the selection and that selection is checked.
    QDir(layout.userApps() + "/Ableton Live 12 Lite.app").removeRecursively();
    button(page.get(), "Detect installations")->click();
    settle(3);
    EXPECT_EQ(page->integration().selected()->name, "Ableton Live 12 Suite");
    EXPECT_EQ(lastLibrary(layout), layout.path("music/Suite Library"));
    EXPECT_EQ(page->livePicker()->count(), 1);
}

TEST_F(LivePageFlow, UpdateIsOfferedAndBusyDisablesTheInstallationPanelButNotTheScriptFolder) {
    LiveLayout::write(layout.path("music/Suite Library/Remote Scripts/NorvSession/manifest.json"),
                      R"({"version": "1.0.0"})");
    showPage();
    EXPECT_EQ(page->installedValue()->text(), "Update or repair available");
    ASSERT_EQ(page->installButton()->text(), "Update Remote Script");
    ASSERT_TRUE(page->installButton()->isEnabled());
    ASSERT_TRUE(page->openFolderButton()->isEnabled());

    page->installButton()->click();
    ASSERT_TRUE(page->integration().busy());
    EXPECT_FALSE(page->installationPanel()->isEnabled());
    EXPECT_FALSE(page->livePicker()->isEnabled());
    EXPECT_FALSE(page->installButton()->isEnabled());
    EXPECT_FALSE(page->verifyButton()->isEnabled());
    EXPECT_TRUE(page->openFolderButton()->isEnabled());
    page->openFolderButton()->click();
    EXPECT_EQ(opened, QStringList{layout.path("music/Suite Library/Remote Scripts/NorvSession")});

    settle(3);
    EXPECT_TRUE(page->installationPanel()->isEnabled());
    EXPECT_EQ(page->installedValue()->text(), "Files verified");
}

TEST_F(LivePageFlow, PickerKeepsItsItemsCurrentEntryAndOpenListAcrossStoreUpdates) {
    layout.addBundle(layout.userApps(), "Ableton Live 12 Lite.app", "12.0");
    showPage();
    page->show();
    QComboBox* picker = page->livePicker();
    picker->showPopup();
    ASSERT_TRUE(picker->view()->isVisible());
    picker->view()->setCurrentIndex(picker->model()->index(1, 0));  // the highlighted row

    LivePage::State state;
    state.connected = true;
    state.canChange = true;
    page->setState(state);
    page->setState(state);  // identical
    state.health.instrumentMidiLiveRouteStatus = "ready";
    page->setState(state);  // changed
    page->updateState();    // the status timer's tick

    EXPECT_EQ(page->livePicker(), picker);
    EXPECT_TRUE(picker->view()->isVisible());
    EXPECT_EQ(picker->view()->currentIndex().row(), 1);
    EXPECT_EQ(picker->currentIndex(), 0);
    EXPECT_EQ(picker->count(), 2);
    EXPECT_EQ(page->routeStatus()->text(), "Ready");  // what the user did not touch follows
    picker->hidePopup();
}

}  // namespace
}  // namespace norv
