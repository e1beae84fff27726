// What the user is doing on a page survives the engine's snapshots: typed text, focus, the
// widgets themselves, scroll position and open groups; what the user did not touch follows.
#include "tests/support/ui/page_harness.h"
#include "ui/components/page_disclosure.h"
#include "ui/connections/connections_page.h"
#include "ui/connections/device_connection_row.h"
#include "ui/devices/device_card.h"
#include "ui/devices/devices_page.h"
#include "ui/pages/page_factory.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace norv {
namespace {

using test::fullSnapshot;
using test::PageHarness;
using test::settle;

// Shows a page as the active window, small enough to scroll.
void showActive(QWidget& page) {
    page.resize(900, 500);
    page.show();
    QApplication::setActiveWindow(&page);
}

TEST(ConnectionsPageEdits, TheTypedPortSurvivesSnapshotsUntilTheEditEndsWhileDeviceLinksFollow) {
    PageHarness h(fullSnapshot());
    std::unique_ptr<ConnectionsPage> page(connectionsPage(*h.store, h.services([] {
        return std::vector<InterfaceAddressEntry>{};
    })));
    page->optionsDisclosure()->setExpanded(true);
    showActive(*page);
    QLineEdit* port = page->portField();
    port->setFocus();
    port->setText("94");  // typed, not yet committed
    DeviceConnectionRow* row = page->linkRow("ipad-studio-7f3a");
    ASSERT_TRUE(row);
    const QList<QObject*> before = page->findChildren<QObject*>();

    h.store->receiveSnapshot(fullSnapshot());
    settle();
    EXPECT_EQ(page->findChildren<QObject*>(), before);
    EXPECT_EQ(port->text(), "94");
    EXPECT_EQ(QApplication::focusWidget(), port);

    AdminSnapshot changed = fullSnapshot();
    changed.devices[0].linkQuality->state.avg = 7.5;
    h.store->receiveSnapshot(changed);
    settle();
    EXPECT_EQ(page->linkRow("ipad-studio-7f3a"), row);
    EXPECT_TRUE(row->findChild<QLabel*>("linkLine")->text().contains("7.5")) << row->findChild<QLabel*>("linkLine")->text().toStdString();
    EXPECT_EQ(port->text(), "94");
    EXPECT_EQ(QApplication::focusWidget(), port);

    // Unfocused but still differing from what the page wrote: kept as well.
    port->clearFocus();  // ends the edit: the draft takes 94 and the field shows the draft
    EXPECT_EQ(page->draft().publicPort, 94);
    port->setText("95");
    h.store->receiveSnapshot(fullSnapshot());
    EXPECT_EQ(port->text(), "95");
    page->resetButton()->click();  // reset wins over the typed text
    EXPECT_EQ(port->text(), "9311");
}

TEST(DevicesPageEdits, ATypedNameScrollAndOpenGroupsSurviveSnapshotsWhileOtherCardsFollow) {
    PageHarness h(fullSnapshot());
    std::unique_ptr<DevicesPage> page(devicesPage(*h.store, h.services()));
    showActive(*page);
    page->knownGroup()->setExpanded(true);
    DeviceCard* studio = page->card("ipad-studio-7f3a");
    DeviceCard* pocket = page->card("iphone-mini-22c1");
    studio->details()->setExpanded(true);
    QLineEdit* name = studio->nameField();
    name->setFocus();
    name->setText("Stage");
    QScrollBar* scroll = page->verticalScrollBar();
    scroll->setValue(scroll->maximum() / 2);
    const int scrolled = scroll->value();
    ASSERT_GT(scrolled, 0);
    const QList<QObject*> before = page->findChildren<QObject*>();

    h.store->receiveSnapshot(fullSnapshot());
    settle();
    EXPECT_EQ(page->findChildren<QObject*>(), before);

    AdminSnapshot renamed = fullSnapshot();
    renamed.devices[0].label = "Studio Pro";  // under the user's edit
    renamed.devices[1].label = "Pocket Pro";  // nobody is editing this one
    h.store->receiveSnapshot(renamed);
    settle();
    EXPECT_EQ(page->card("ipad-studio-7f3a"), studio);
    EXPECT_EQ(page->card("iphone-mini-22c1"), pocket);
    EXPECT_EQ(name->text(), "Stage");
    EXPECT_EQ(QApplication::focusWidget(), name);
    EXPECT_EQ(pocket->nameField()->text(), "Pocket Pro");
    EXPECT_TRUE(page->knownGroup()->isExpanded());
    EXPECT_TRUE(studio->details()->isExpanded());
    EXPECT_EQ(scroll->value(), scrolled);
}

// The endpoint rows of an open card are kept by endpoint id: a renamed endpoint changes its row
// in place and a removed one takes only its own row.
TEST(DevicesPageEdits, EndpointRowsFollowTheirEndpointsById) {
    PageHarness h(fullSnapshot());
    std::unique_ptr<DevicesPage> page(devicesPage(*h.store, h.services()));
    DeviceCard* studio = page->card("ipad-studio-7f3a");
    studio->details()->setExpanded(true);
    const auto row = [&](const QString& name) -> QWidget* {
        for (QLabel* label : studio->findChildren<QLabel*>())
            if (label->text() == name && !label->isHidden()) return label->parentWidget();
        return nullptr;
    };
    QWidget* instrument = row("Norv Studio iPad");
    QWidget* surface = row("Norv Studio iPad Surface");
    ASSERT_TRUE(instrument && surface);

    AdminSnapshot renamed = fullSnapshot();
    renamed.devices[0].endpoints[1].name = "Stage Surface";
    h.store->receiveSnapshot(renamed);
    settle();
    EXPECT_EQ(row("Norv Studio iPad"), instrument);
    EXPECT_EQ(row("Stage Surface"), surface);

    renamed.devices[0].endpoints.erase(renamed.devices[0].endpoints.begin());
    h.store->receiveSnapshot(renamed);
    settle();
    EXPECT_EQ(row("Norv Studio iPad"), nullptr);
    EXPECT_EQ(row("Stage Surface"), surface);
}

}  // namespace
}  // namespace norv
