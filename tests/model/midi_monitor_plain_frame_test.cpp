#include "model/midi_monitor_plain_frame.h"

#include "model/midi_monitor_envelope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace norv {
namespace {

// A body as text, so keys can come in any order, twice or in other spellings.
using Members = std::vector<std::pair<std::string, std::string>>;

std::string object(const Members& members) {
    std::string text = "{";
    for (const auto& [key, value] : members) text += (text.size() > 1 ? ", \"" : "\"") + key + "\": " + value;
    return text + "}";
}

// Random bodies around the engine's plain one: other spellings and orders of keys, keys sent
// twice, unknown keys holding nested values, numbers of other kinds, nulls, missing fields,
// another path, and no batch or two.
class Bodies {
public:
    explicit Bodies(unsigned seed) : random_(seed) {}

    std::string body(bool plain) {
        plain_ = plain;
        Members members{{"path", odd(8) ? "\"/admin/snapshot\"" : "\"/admin/midi-monitor/events\""}};
        const int batches = odd(10) ? static_cast<int>(pick(3)) : 1;
        std::string args = "[";
        for (int i = 0; i < batches; ++i) args += (i > 0 ? ", " : "") + batch();
        members.emplace_back("args", args + "]");
        if (odd(6)) members.emplace_back("request_id", unknown());
        if (odd(10)) std::shuffle(members.begin(), members.end(), random_);
        return object(members);
    }

private:
    bool odd(unsigned in) { return !plain_ && pick(in) == 0; }  // one time in `in`, never in a plain body
    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

    std::string integer() {
        const std::string n = std::to_string(pick(200));
        const std::string others[] = {n + ".0", "-" + n, "18446744073709551615", "\"" + n + "\"", "null", "1.5e3"};
        return odd(4) ? others[pick(6)] : n;
    }
    std::string text(const std::string& value) { return odd(30) ? integer() : "\"" + value + "\""; }
    std::string unknown() {
        const std::string values[] = {"null", "{\"a\": [1, {\"b\": null}], \"events\": 3}", "[[], {}]", "true", "\"x\""};
        return values[pick(5)];
    }

    // The field under its wire key, sometimes under one that converts alike or one that does not,
    // sent twice, or left out.
    template <typename Value>
    void field(Members& members, const std::string& key, Value value) {
        if (odd(40)) return;
        std::string upper = key;
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
        const std::size_t cut = std::min(key.find('_'), key.size());
        const std::string spellings[] = {upper, key.substr(0, cut) + "_" + key.substr(cut), "_" + key, key + "_", "X" + key};
        members.emplace_back(odd(5) ? spellings[pick(5)] : key, value());
        if (odd(30)) members.emplace_back(key == "device_id" && odd(2) ? "deviceId" : key, value());
    }

    std::string event() {
        Members members;
        field(members, "sequence", [&] { return integer(); });
        field(members, "timestamp", [&] { return odd(3) ? integer() : "1765269100." + std::to_string(pick(1000)); });
        field(members, "device_id", [&] { return text(odd(20) ? "ipad \\u00e9\\n" : "ipad-studio-7f3a"); });
        field(members, "endpoint", [&] { return text("Norv Studio iPad"); });
        field(members, "role", [&] { return text("instrument"); });
        field(members, "kind", [&] { return text(odd(2) ? "pitch_bend" : "note"); });
        field(members, "channel", [&] { return integer(); });
        field(members, "number", [&] { return integer(); });
        field(members, "value", [&] { return integer(); });
        std::string bytes = "[" + integer();
        for (unsigned i = pick(3); i > 0; --i) bytes += ", " + integer();
        field(members, "bytes", [&] { return odd(20) ? "[]" : bytes + "]"; });
        field(members, "source", [&] { return text("wifi"); });
        if (odd(8)) members.emplace_back("extra", unknown());
        if (odd(8)) std::shuffle(members.begin(), members.end(), random_);
        return odd(40) ? "[]" : object(members);
    }

    std::string batch() {
        std::string events = "[";
        for (unsigned i = pick(4); i > 0; --i) events += (events.size() > 1 ? ", " : "") + event();
        Members members;
        field(members, "events", [&] { return events + "]"; });
        field(members, "dropped", [&] { return integer(); });
        field(members, "latest_sequence", [&] { return integer(); });
        field(members, "reset", [&] { return odd(6) ? integer() : (pick(2) ? "true" : "false"); });
        if (odd(8)) std::shuffle(members.begin(), members.end(), random_);
        return object(members);
    }

    std::mt19937 random_;
    bool plain_ = true;
};

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Whatever the plain reading gives, the envelope's decoding gives too; the engine's plain bodies
// are all read the plain way, and the others now and then.
TEST(MidiMonitorPlainFrame, ReadsOnlyWhatTheEnvelopeDecodesAlike) {
    constexpr int kSeeds = 20;
    constexpr int kBodies = 400;
    int read = 0;
    for (unsigned seed = 1; seed <= kSeeds; ++seed) {
        Bodies bodies(seed);
        for (int i = 0; i < kBodies; ++i) {
            const bool plain = i % 4 == 0;
            const std::string body = bodies.body(plain);
            SCOPED_TRACE(body);
            const std::optional<MidiMonitorBatch> fast = readPlainMidiMonitorFrame(bytesOf(body));
            if (plain) {
                ASSERT_TRUE(fast.has_value());
            }
            if (!fast) continue;
            ++read;
            const MidiMonitorEnvelope envelope = MidiMonitorEnvelope::decode(nlohmann::json::parse(body));
            EXPECT_EQ(envelope.path, "/admin/midi-monitor/events");
            ASSERT_EQ(envelope.args.size(), 1u);
            EXPECT_EQ(envelope.args.front(), *fast);
        }
    }
    EXPECT_GT(read, kSeeds * kBodies / 4);  // some bodies of other spellings are read too
    EXPECT_FALSE(readPlainMidiMonitorFrame(bytesOf("{\"path\": \"/admin/midi-monitor/events\", \"args\": []} x")));
}

}  // namespace
}  // namespace norv
