// Renders the Overview, Connections, Devices and Device settings pages for the fixture snapshot
// with several devices in different states, as PNGs under build/screenshots/pages/ (a folder this
// binary owns: the window screenshots write pictures of the same names).
#include "tests/support/ui/page_harness.h"
#include "tests/support/ui/screenshot.h"
#include "ui/components/page_disclosure.h"
#include "ui/connections/connections_page.h"
#include "ui/device_settings/device_settings_page.h"
#include "ui/devices/devices_page.h"
#include "ui/overview/overview_page.h"
#include "ui/pages/page_factory.h"
#include "ui/theme/norv_theme.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace norv {
namespace {

using test::fullSnapshot;
using test::PageHarness;

QString shoot(PageFrame& page, const QString& name) {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) NorvTheme::applyTo(*app);
    for (PageDisclosure* group : page.findChildren<PageDisclosure*>())
        if (!group->isHidden() && group->parentWidget() == page.content()) group->setExpanded(true);
    page.resize(1100, 900);
    page.show();
    QCoreApplication::processEvents();
    // Let the grids settle on their column count before the content takes its full height.
    QWidget* content = page.content();
    for (int pass = 0; pass < 2; ++pass) {
        content->resize(content->width(), content->minimumSizeHint().height());
        QCoreApplication::processEvents();
    }
    return test::saveScreenshot(*content, QStringLiteral("pages"), name);
}

void expectWritten(const QString& path) {
    const QFileInfo file(path);
    EXPECT_TRUE(file.exists()) << path.toStdString();
    EXPECT_GT(file.size(), 10000) << path.toStdString();
}

TEST(PageScreenshots, EachPageForTheFullSnapshot) {
    PageHarness h(fullSnapshot());
    h.store->receiveConnectionState(AdminConnectionState::connected());
    {
        std::unique_ptr<PageFrame> page(overviewPage(*h.store, h.services()));
        expectWritten(shoot(*page, QStringLiteral("overview")));
    }
    {
        std::unique_ptr<PageFrame> page(
            connectionsPage(*h.store, h.services([] { return std::vector<InterfaceAddressEntry>{}; })));
        expectWritten(shoot(*page, QStringLiteral("connections")));
    }
    {
        std::unique_ptr<PageFrame> page(devicesPage(*h.store, h.services()));
        expectWritten(shoot(*page, QStringLiteral("devices")));
    }
    {
        std::unique_ptr<PageFrame> page(deviceSettingsPage(*h.store, h.services()));
        expectWritten(shoot(*page, QStringLiteral("device_settings")));
    }
}

}  // namespace
}  // namespace norv
