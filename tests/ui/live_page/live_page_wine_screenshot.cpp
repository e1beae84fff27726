// The real window's Ableton Live page over the real Live integration, on a machine of the test's
// own where Live for Windows is installed in the home folder's Wine prefix. Saves
// build/screenshots/window/live-wine.png.
#include "tests/support/core/engine_test_support.h"
#include "tests/support/live/live_layout.h"
#include "tests/support/ui/window_test.h"
#include "ui/live_page/live_page.h"

#include <gtest/gtest.h>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace norv {
namespace {

using namespace std::chrono_literals;
using test::LiveLayout;

class WineLiveWindow : public test::ScreenshotWindowTest {
protected:
    PageServices pageServices() override {
        return PageServices{dialogs, [this] { return layout.environment(); }};
    }

    LiveLayout layout;
};

TEST_F(WineLiveWindow, ListsLiveForWindowsWithItsTranslatedUserLibraryAndOffersTheScript) {
    layout.addRuntime();
    const QString prefix = layout.winePrefix();
    const QString suite =
        LiveLayout::addWineLive(prefix, "Live 12 Suite", "Ableton Live 12 Suite.exe");
    LiveLayout::addWinePreferences(prefix, "me", "12.1.5", R"(C:\users\me\Documents\Ableton)");
    connectTo(true, AdminSnapshot::empty());
    store->setSelection(BridgeSection::live);
    auto* page = dynamic_cast<LivePage*>(window->currentPage());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(test::waitUntil(
        [&] { return page->integration().disk() && !page->integration().busy(); }, 20s));

    EXPECT_EQ(page->livePicker()->currentText(),
              QString::fromUtf8("Ableton Live 12 Suite · 12.1.5"));
    EXPECT_EQ(page->livePicker()->currentData().toString(), suite);
    const QString library = prefix + "/drive_c/users/me/Documents/Ableton/User Library";
    EXPECT_EQ(page->integration().library(), library);
    const auto shown = page->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](QLabel* label) {
        return label->text() == library && label->isVisible();
    }));
    EXPECT_EQ(page->installButton()->text(), "Install Remote Script");
    EXPECT_TRUE(page->installButton()->isEnabled());
    capture(QStringLiteral("window"), QStringLiteral("live-wine"));
}

}  // namespace
}  // namespace norv
