// The Connections page's editor and manual targets, the Device settings push and the Overview
// shortcuts, clicked through against the store with fake seams.
#include "tests/support/ui/page_harness.h"
#include "tests/support/user_locale.h"
#include "ui/components/page_disclosure.h"
#include "ui/connections/connections_page.h"
#include "ui/pages/page_factory.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <algorithm>

namespace norv {
namespace {

using nlohmann::json;
using test::findButton;
using test::fullSnapshot;
using test::PageHarness;
using test::settle;

void enterPort(ConnectionsPage& page, const QString& text) {
    page.portField()->setText(text);
    Q_EMIT page.portField()->editingFinished();
}

TEST(ConnectionsPage, ValidationMessagesComeFromTheStoreAndKeepTheDraft) {
    PageHarness h(fullSnapshot());
    std::unique_ptr<ConnectionsPage> owner(connectionsPage(*h.store, h.services()));
    ConnectionsPage& page = *owner;
    page.show();
    EXPECT_EQ(page.statusText()->text(), "Configuration applied");
    EXPECT_FALSE(page.applyButton()->isEnabled());

    enterPort(page, "1023");
    EXPECT_EQ(page.statusText()->text(), "Restart required");
    page.applyButton()->click();
    EXPECT_EQ(h.store->actionMessage(), "Wi-Fi port must be between 1024 and 65534");
    EXPECT_TRUE(h.store->actionFailed());
    EXPECT_EQ(page.draft().publicPort, 1023);
    EXPECT_EQ(h.store->launchConfiguration().publicPort, 9311);

    enterPort(page, "9312");
    page.applyButton()->click();
    EXPECT_EQ(h.store->actionMessage(), QString::fromUtf8("Wi-Fi port and the next port must not use 9313\u20139315"));
    EXPECT_TRUE(h.engine->restarts.empty());

    enterPort(page, "not a port");  // the field falls back to the draft's value
    EXPECT_EQ(page.portField()->text(), "9312");
}

TEST(ConnectionsPage, BluetoothAloneAppliesWithoutQuestionOtherChangesRestartAfterConfirmation) {
    PageHarness h(fullSnapshot());  // own engine running, devices connected
    std::unique_ptr<ConnectionsPage> owner(connectionsPage(*h.store, h.services()));
    ConnectionsPage& page = *owner;
    page.show();

    page.bluetoothSwitch()->click();
    EXPECT_EQ(page.statusText()->text(), "Changes pending");
    page.applyButton()->click();
    EXPECT_TRUE(h.dialogs.asked.empty());
    EXPECT_TRUE(h.store->launchConfiguration().bluetoothEnabled);
    EXPECT_TRUE(h.engine->restarts.empty());
    EXPECT_EQ(page.statusText()->text(), "Configuration applied");

    page.androidUsbSwitch()->click();
    EXPECT_EQ(page.statusText()->text(), "Restart required");
    h.dialogs.answers = {false};
    page.applyButton()->click();
    ASSERT_EQ(h.dialogs.asked.size(), 1u);
    EXPECT_EQ(h.dialogs.asked[0].message, "Apply and restart?");
    EXPECT_TRUE(h.store->launchConfiguration().androidUSBEnabled);  // declined: nothing changed
    EXPECT_EQ(page.statusText()->text(), "Restart required");

    page.applyButton()->click();
    ASSERT_EQ(h.engine->restarts.size(), 1u);
    EXPECT_FALSE(h.engine->restarts[0].androidUSBEnabled);
    EXPECT_EQ(page.draft(), h.store->launchConfiguration());
    EXPECT_EQ(page.statusText()->text(), "Configuration applied");
}

TEST(ConnectionsPage, WifiSwitchTakesBonjourAlongAndResetNeverSaves) {
    PageHarness h(fullSnapshot());
    std::unique_ptr<ConnectionsPage> owner(connectionsPage(*h.store, h.services()));
    ConnectionsPage& page = *owner;
    page.show();
    page.wirelessSwitch()->click();
    EXPECT_FALSE(page.bonjourSwitch()->isChecked());
    EXPECT_FALSE(page.bonjourSwitch()->isEnabled());
    page.wirelessSwitch()->click();
    EXPECT_FALSE(page.bonjourSwitch()->isChecked());  // stays off until switched on
    EXPECT_TRUE(page.bonjourSwitch()->isEnabled());

    enterPort(page, "9400");
    page.resetButton()->click();
    EXPECT_EQ(page.draft(), BridgeLaunchConfiguration{});
    EXPECT_EQ(page.statusText()->text(), "Configuration applied");
    EXPECT_TRUE(h.dialogs.asked.empty());
    EXPECT_TRUE(h.engine->restarts.empty());
}

TEST(ConnectionsPage, ApplyIsDisabledWhileAnOutsideEngineAnswers) {
    PageHarness h(fullSnapshot(), /*ownEngineRunning=*/false);
    std::unique_ptr<ConnectionsPage> owner(connectionsPage(*h.store, h.services()));
    ConnectionsPage& page = *owner;
    page.bluetoothSwitch()->click();
    EXPECT_TRUE(page.bluetoothSwitch()->isEnabled());
    EXPECT_FALSE(page.applyButton()->isEnabled());
    EXPECT_EQ(page.statusText()->text(), "Changes pending");
}

// The round-trip times have a fixed format: "5.2 ms" in a German desktop too.
TEST(ConnectionsPage, RoundTripTimesReadTheSameInTheCAndAGermanLocale) {
    AdminSnapshot snapshot = fullSnapshot();
    const auto measured =
        std::find_if(snapshot.devices.begin(), snapshot.devices.end(),
                     [](const BridgeDevice& d) { return d.connected && d.linkQuality; });
    ASSERT_NE(measured, snapshot.devices.end());
    measured->linkQuality->state.avg = 5.2;
    measured->linkQuality->midi.avg = 3.9;
    for (const char* name : {"C.UTF-8", "de_DE.UTF-8"}) {
        test::UserLocale locale(name);
        if (!locale.available()) GTEST_SKIP() << test::localeMissing(name);
        PageHarness h(snapshot);
        std::unique_ptr<ConnectionsPage> page(connectionsPage(*h.store, h.services()));
        page->show();
        settle();
        QStringList lines;
        for (const QLabel* label : page->findChildren<QLabel*>())
            if (label->text().startsWith("STATE RTT")) lines << label->text();
        EXPECT_EQ(lines.filter("STATE RTT 5.2 ms · MIDI RTT 3.9 ms").size(), 1)
            << name << ": " << lines.join(" | ").toStdString();
    }
}

TEST(ConnectionsPage, ManualTargetsFromTheInterfaceListAndCopy) {
    AdminSnapshot snapshot = fullSnapshot();
    snapshot.bridge.localAddresses.reset();
    snapshot.bridge.publicPort.reset();
    PageHarness h(snapshot);
    const InterfaceLister interfaces = [] {
        return std::vector<InterfaceAddressEntry>{{QHostAddress("192.168.1.20"), true, false},
                                                  {QHostAddress("127.0.0.1"), true, true},
                                                  {QHostAddress("10.0.0.5"), true, false}};
    };
    std::unique_ptr<ConnectionsPage> owner(connectionsPage(*h.store, h.services(interfaces)));
    ConnectionsPage& page = *owner;
    page.show();
    QWidget* row = page.manualPanel()->findChild<QWidget*>("192.168.1.20:9311");
    ASSERT_TRUE(row);
    EXPECT_TRUE(page.manualPanel()->findChild<QWidget*>("10.0.0.5:9311"));
    findButton(row, "Copy")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "192.168.1.20:9311");
    EXPECT_FALSE(h.store->actionMessage());

    // An edited port shows at once while the engine reports none.
    enterPort(page, "9400");
    settle();
    EXPECT_TRUE(page.manualPanel()->findChild<QWidget*>("10.0.0.5:9400"));
    EXPECT_FALSE(page.manualPanel()->findChild<QWidget*>("10.0.0.5:9311"));
}

}  // namespace
}  // namespace norv
