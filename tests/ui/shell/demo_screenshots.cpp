// Renders every section of the main window as the demo session shows it (the snapshot the demo
// runtime plays, with a few bars of its MIDI) into build/screenshots/demo/, a folder of its own.
// The test checks that each picture was written, not its pixels.
#include "core/bridge_store.h"
#include "live/live_integration.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/ui/window_test.h"
#include "ui/pages/page_factory.h"
#include "ui/shell/main_window.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

#include <fstream>

namespace norv {
namespace {

using namespace std::chrono_literals;

AdminSnapshot demoSnapshot() {
    std::ifstream file(NORV_SOURCE_DIR "/resources/demo/demo_session.json");
    return AdminSnapshot::decode(nlohmann::json::parse(file));
}

// Two beats of the demo's music: a chord on the tablet with its MPE expression, the phone's bass.
MidiMonitorBatch demoMidi() {
    struct Step {
        const char* device;
        const char* endpoint;
        const char* source;
        const char* kind;
        std::int64_t channel, number, value;
        std::vector<std::int64_t> bytes;
    };
    const char* tablet = "ipad-studio-7f3a";
    const char* phone = "iphone-pocket-22c1";
    const std::vector<Step> steps = {
        {phone, "Norv Pocket iPhone", "usb", "note", 1, 36, 110, {0x90, 36, 110}},
        {tablet, "Norv Studio iPad", "wifi", "note", 2, 60, 96, {0x91, 60, 96}},
        {tablet, "Norv Studio iPad", "wifi", "note", 3, 64, 88, {0x92, 64, 88}},
        {tablet, "Norv Studio iPad", "wifi", "note", 4, 67, 80, {0x93, 67, 80}},
        {tablet, "Norv Studio iPad", "wifi", "pitch_bend", 2, 0, 9092, {0xE1, 4, 71}},
        {phone, "Norv Pocket iPhone", "usb", "note", 1, 36, 0, {0x80, 36, 0}},
        {tablet, "Norv Studio iPad", "wifi", "cc", 2, 74, 70, {0xB1, 74, 70}},
        {tablet, "Norv Studio iPad", "wifi", "channel_pressure", 2, 0, 60, {0xD1, 60}},
        {tablet, "Norv Studio iPad", "wifi", "cc", 3, 74, 82, {0xB2, 74, 82}},
        {phone, "Norv Pocket iPhone", "usb", "note", 1, 36, 110, {0x90, 36, 110}},
        {tablet, "Norv Studio iPad", "wifi", "channel_pressure", 3, 0, 70, {0xD2, 70}},
        {phone, "Norv Pocket iPhone", "usb", "note", 1, 36, 0, {0x80, 36, 0}},
        {tablet, "Norv Studio iPad", "wifi", "note", 2, 60, 0, {0x81, 60, 0}},
        {phone, "Norv Pocket iPhone", "usb", "poly_aftertouch", 1, 43, 45, {0xA0, 43, 45}},
    };
    MidiMonitorBatch batch;
    const double start = 1765269000.0;
    for (const Step& step : steps) {
        MidiMonitorEvent event;
        event.sequence = static_cast<std::int64_t>(batch.events.size()) + 1;
        event.timestamp = start + 0.067 * static_cast<double>(event.sequence);
        event.deviceId = step.device;
        event.endpoint = step.endpoint;
        event.role = "instrument";
        event.kind = step.kind;
        event.channel = step.channel;
        event.number = step.number;
        event.value = step.value;
        event.bytes = step.bytes;
        event.source = step.source;
        batch.events.push_back(event);
    }
    batch.latestSequence = static_cast<std::int64_t>(batch.events.size());
    return batch;
}

class DemoScreenshots : public test::ScreenshotWindowTest {
protected:
    void capture(const QString& name) { ScreenshotWindowTest::capture(QStringLiteral("demo"), name); }

    // The Live page's verify action, run on the runtime and Remote Script the build ships
    // beside the test programs (<bin>/../share/norv-bridge): the Bundled line names its version.
    void verifyShippedScript() {
        QPushButton* verify = nullptr;
        for (QPushButton* button : window->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Verify files")) verify = button;
        ASSERT_NE(verify, nullptr);
        ASSERT_TRUE(test::waitUntil([&] { return verify->isEnabled(); }, 20s));
        verify->click();
        const auto bundled = [&] {
            for (QLabel* label : window->findChildren<QLabel*>())
                if (label->text() == QStringLiteral("NorvSession 1.4.0")) return true;
            return false;
        };
        EXPECT_TRUE(test::waitUntil(bundled, 20s));
    }

    // The Live page runs the shipped runtime but reads and writes only the test's own home folder
    // and settings.
    PageServices pageServices() override {
        return PageServices{dialogs, [this] {
                                auto environment = LiveIntegration::Environment::system();
                                environment.home = dir.filePath(QStringLiteral("home"));
                                environment.applicationFolders = {dir.filePath(QStringLiteral("Applications"))};
                                environment.winePrefixes = {environment.home + QStringLiteral("/.wine")};
                                environment.settings = settings.get();
                                return environment;
                            }};
    }
};

// Each section as the demo shows it, named after the section ("demo-midiMonitor.png", ...).
TEST_F(DemoScreenshots, EverySectionOfTheDemoSession) {
    connectTo(true, demoSnapshot());
    for (const BridgeSection section : BridgeSection::allCases()) {
        store->setSelection(section);
        ASSERT_EQ(window->currentPageSection(), section);
        if (section == BridgeSection::midiMonitor) admin->batchHandler(demoMidi());
        if (section == BridgeSection::live) verifyShippedScript();
        capture(QStringLiteral("demo-") +
                QString::fromUtf8(section.rawValue().data(), static_cast<qsizetype>(section.rawValue().size())));
    }
    EXPECT_EQ(store->midiMonitorEvents().size(), demoMidi().events.size());
}

}  // namespace
}  // namespace norv
