#include "model/midi_monitor_event.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "model/midi_monitor_refresh_rate.h"

namespace norv {
namespace {

MidiMonitorEvent event(std::string kind, std::int64_t number, std::int64_t value,
                       std::string role = "instrument") {
    MidiMonitorEvent e;
    e.sequence = 1;
    e.deviceId = "ipad-1";
    e.endpoint = "Norv iPad";
    e.role = std::move(role);
    e.kind = std::move(kind);
    e.channel = 1;
    e.number = number;
    e.value = value;
    e.source = "wifi";
    return e;
}

TEST(MidiMonitorEventTest, NotesAndPressureShowNoteNames) {
    EXPECT_EQ(event("note", 60, 0).messageLabel(), "Note Off");
    EXPECT_EQ(event("note", 60, 1).messageLabel(), "Note On");
    EXPECT_EQ(event("note", 60, 1).dataLabel(), "C4  ·  60");
    EXPECT_EQ(event("note", 0, 1).dataLabel(), "C-1  ·  0");
    EXPECT_EQ(event("note", 127, 1).dataLabel(), "G9  ·  127");
    EXPECT_EQ(event("note", -5, 1).dataLabel(), "C-1  ·  -5");  // name clamps, number does not
    EXPECT_EQ(event("note", 200, 1).dataLabel(), "G9  ·  200");
    EXPECT_EQ(event("note", 70, 1).dataLabel(), "A♯4  ·  70");
    EXPECT_EQ(event("note", 60, 99).valueLabel(), "99");
    EXPECT_FALSE(event("note", 60, 99).isMPEExpression());
    EXPECT_EQ(event("note", 60, 99).family(), MidiMessageFamily::notes);

    const auto poly = event("poly_aftertouch", 61, 40);
    EXPECT_EQ(poly.messageLabel(), "Poly Pressure");
    EXPECT_EQ(poly.dataLabel(), "C♯4  ·  61");
    EXPECT_EQ(poly.family(), MidiMessageFamily::pressure);
    EXPECT_TRUE(poly.isMPEExpression());

    const auto channel = event("channel_pressure", 0, 64);
    EXPECT_EQ(channel.dataLabel(), "—");
    EXPECT_TRUE(channel.isMPEExpression());
    EXPECT_FALSE(event("channel_pressure", 0, 64, "surface").isMPEExpression());
}

TEST(MidiMonitorEventTest, ControlChangeAndTimbre) {
    const auto timbre = event("cc", 74, 88);
    EXPECT_EQ(timbre.messageLabel(), "MPE Timbre");
    EXPECT_EQ(timbre.dataLabel(), "Timbre  ·  CC 74");
    EXPECT_TRUE(timbre.isMPEExpression());
    EXPECT_FALSE(event("cc", 74, 88, "surface").isMPEExpression());
    const auto volume = event("cc", 7, 127);
    EXPECT_EQ(volume.messageLabel(), "Control Change");
    EXPECT_EQ(volume.dataLabel(), "CC 7");
    EXPECT_FALSE(volume.isMPEExpression());
    EXPECT_EQ(volume.family(), MidiMessageFamily::controlChange);
}

TEST(MidiMonitorEventTest, PitchBendPercentages) {
    const auto bend = [](std::int64_t value) { return event("pitch_bend", 0, value).valueLabel(); };
    EXPECT_EQ(bend(16383), "+100.0%  ·  16383");
    EXPECT_EQ(bend(8192), "+0.0%  ·  8192");
    EXPECT_EQ(bend(8191), "-0.0%  ·  8191");
    EXPECT_EQ(bend(4096), "-50.0%  ·  4096");
    EXPECT_EQ(bend(1), "-100.0%  ·  1");
    EXPECT_EQ(bend(0), "-100.0%  ·  0");
    EXPECT_EQ(bend(20000), "+100.0%  ·  20000");
    EXPECT_EQ(bend(INT64_MIN), "-100.0%  ·  -9223372036854775808");
    EXPECT_EQ(bend(INT64_MAX), "+100.0%  ·  9223372036854775807");
    EXPECT_EQ(event("pitch_bend", 0, 8192).dataLabel(), "—");
    EXPECT_EQ(event("pitch_bend", 0, 8192).messageLabel(), "Pitch Bend");
    EXPECT_TRUE(event("pitch_bend", 0, 8192).isMPEExpression());
}

TEST(MidiMonitorEventTest, OtherKindsAreSpelledOut) {
    const auto program = event("program_change", 0, 0);
    EXPECT_EQ(program.messageLabel(), "Program Change");
    EXPECT_EQ(program.family(), MidiMessageFamily::other);
    EXPECT_EQ(program.dataLabel(), "—");
    EXPECT_EQ(event("program_change", 5, 0).dataLabel(), "5");
    EXPECT_EQ(event("Note", 60, 1).messageLabel(), "Note");  // kinds are case-sensitive
    EXPECT_EQ(event("Note", 60, 1).family(), MidiMessageFamily::other);
    EXPECT_EQ(event("SYSTEM_reset", 0, 0).messageLabel(), "System Reset");
    EXPECT_FALSE(event("program_change", 0, 0).isMPEExpression());
}

TEST(MidiMonitorEventTest, ByteLabels) {
    auto e = event("note", 60, 100);
    EXPECT_EQ(e.byteLabel(), "");
    e.bytes = {144, 60, 100};
    EXPECT_EQ(e.byteLabel(), "90 3C 64");
    e.bytes = {10};
    EXPECT_EQ(e.byteLabel(), "0A");
    e.bytes = {0, 255, 256, -1};  // values no MIDI byte has are written out whole
    EXPECT_EQ(e.byteLabel(), "00 FF 100 FFFFFFFF");
}

TEST(MidiMonitorEventTest, SearchMatchesAcrossFields) {
    auto note = event("note", 60, 100);
    note.bytes = {144, 60, 100};
    note.channel = 1;
    EXPECT_TRUE(note.matches(""));
    EXPECT_TRUE(note.matches("  \n"));
    EXPECT_TRUE(note.matches("c4"));
    EXPECT_TRUE(note.matches("on c4"));     // "Note On" then "C4"
    EXPECT_FALSE(note.matches("note c4"));  // the message label stands between
    EXPECT_TRUE(note.matches("INSTRUMENT"));
    EXPECT_TRUE(note.matches(" 90 3c "));
    EXPECT_TRUE(note.matches("ch 1"));
    EXPECT_FALSE(note.matches("bluetooth"));
    note.channel = 12;
    EXPECT_TRUE(note.matches("ch 1"));
    note.channel = 2;
    EXPECT_FALSE(note.matches("ch 1"));
    EXPECT_TRUE(event("poly_aftertouch", 61, 5).matches("c♯4"));

    // Letter case of all of Unicode; composed and decomposed accents are one letter.
    auto pad = event("note", 60, 100);
    pad.endpoint = "Café Pad";
    EXPECT_TRUE(pad.matches("CAFÉ"));
    EXPECT_TRUE(pad.matches("CAFE\u0301 p"));
    EXPECT_FALSE(pad.matches("cafe"));  // accents still count
    pad.endpoint = "Cafe\u0301 Pad";
    EXPECT_TRUE(pad.matches("café"));
    EXPECT_FALSE(pad.matches("cafe pad"));
    pad.endpoint = "Straße";
    EXPECT_TRUE(pad.matches("STRASSE"));
}

TEST(MidiMonitorEventTest, TimestampsReadAsTimeOfDay) {
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(MidiMonitorEvent::formatTimestamp(0), "00:00:00.000");
    EXPECT_EQ(MidiMonitorEvent::formatTimestamp(1.001), "00:00:01.001");
    EXPECT_EQ(MidiMonitorEvent::formatTimestamp(1765269000.125), "08:30:00.125");
    EXPECT_EQ(MidiMonitorEvent::formatTimestamp(-0.5), "23:59:59.500");
    EXPECT_EQ(MidiMonitorEvent::formatTimestamp(1e300), "");
    setenv("TZ", "IST-5:30", 1);  // POSIX rule: no zone database needed
    tzset();
    EXPECT_EQ(MidiMonitorEvent::formatTimestamp(0), "05:30:00.000");
    if (previous)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(MidiMonitorEventTest, FamiliesAndRefreshRatesFromRawValues) {
    EXPECT_EQ(MidiMessageFamily::fromRaw("pitchBend"), MidiMessageFamily::pitchBend);
    EXPECT_FALSE(MidiMessageFamily::fromRaw("Notes").has_value());
    for (const MidiMessageFamily family : MidiMessageFamily::allCases()) {
        EXPECT_EQ(MidiMessageFamily::fromRaw(family.rawValue()), family);
    }
    EXPECT_EQ(MidiMonitorRefreshRate::fromRaw(20), MidiMonitorRefreshRate::twenty);
    EXPECT_FALSE(MidiMonitorRefreshRate::fromRaw(15).has_value());
    EXPECT_EQ(MidiMonitorRefreshRate(MidiMonitorRefreshRate::thirty).rawValue(), 30);
}

}  // namespace
}  // namespace norv
