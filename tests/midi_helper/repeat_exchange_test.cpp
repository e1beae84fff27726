#include <gtest/gtest.h>

#include <algorithm>

#include "midi_helper/json_output.h"
#include "midi_helper/manual_scheduler.h"
#include "midi_helper/memory_midi_port.h"
#include "midi_helper/native_midi_bridge.h"
#include "support/midi_helper/helper_wire.h"

namespace norv {
namespace {

using Bytes = std::vector<uint8_t>;

class NativeRepeatTest : public ::testing::Test {
protected:
    NativeRepeatTest()
        : output([](const std::string&, auto) { return true; })
        , bridge(config(), clock, port, output, [this](std::span<const uint8_t> d, uint32_t address, uint16_t to) {
            EXPECT_EQ(address, 0x7F000001u);
            EXPECT_EQ(to, 5000);
            ASSERT_EQ(std::string(d.begin(), d.begin() + 4), "NNRQ");
            requests.push_back(nlohmann::json::parse(d.begin() + 4, d.end()));
        })
    {
        bridge.openEndpoints();
        bridge.startRepeatExchange();
        clock.advance(0);
        owner = bridge.addPeer();
    }

    static HelperConfig config()
    {
        HelperConfig c;
        c.nativeRepeatPort = 5000;
        return c;
    }

    void frame(const std::shared_ptr<MidiPeer>& peer, const char* magic, std::initializer_list<uint8_t> rest)
    {
        Bytes p(magic, magic + 4);
        p.insert(p.end(), rest);
        p.resize(8, 0);
        bridge.handleStreamPayload(peer, p);
    }

    void ack(int64_t generation, uint16_t from = 5000, bool ready = true)
    {
        std::string body = nlohmann::json{{"token", bridge.nativeRepeatToken()}, {"generation", generation}, {"ready", ready}}.dump();
        // Sized up front: growing a four-byte vector makes GCC 12 warn of a copy out of bounds.
        Bytes d(4 + body.size());
        std::copy_n("NNRA", 4, d.begin());
        std::copy(body.begin(), body.end(), d.begin() + 4);
        bridge.handleDatagram(d, DatagramOrigin{false, 0x7F000001, from});
    }

    ManualScheduler clock;
    MemoryMidiPort port;
    JsonOutput output;
    NativeMidiBridge bridge;
    std::shared_ptr<MidiPeer> owner;
    std::vector<nlohmann::json> requests;
};

TEST_F(NativeRepeatTest, RequestsCarryTheOwnersRateEveryHundredMilliseconds)
{
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["rate"], 0);
    EXPECT_TRUE(requests[0]["rate"].is_number_integer());
    EXPECT_EQ(requests[0]["generation"], 0);
    EXPECT_EQ(requests[0]["source"], "Norv");
    EXPECT_EQ(requests[0]["token"].get<std::string>().size(), 36u);

    frame(owner, "NPM9", {0, 240, 0, 0});
    ASSERT_EQ(requests.size(), 2u); // sent at once on the change of owner
    EXPECT_EQ(requests[1]["rate"], 0.25);
    EXPECT_EQ(requests[1]["generation"], 1);
    EXPECT_EQ(bridge.nativeRepeatOwner(), owner);
    EXPECT_FALSE(bridge.strideTimerActive()); // the helper's own repeat stays out of the way
    clock.advance(250'000'000);
    EXPECT_EQ(requests.size(), 4u);
}

TEST_F(NativeRepeatTest, RequestsKeepTheirRateOnABusyLoop)
{
    // Every run of the timer is 30 ms late: the requests still go out ten times a second.
    clock.setTimerLateness(30'000'000);
    const size_t before = requests.size();
    clock.advance(1'030'000'000);
    EXPECT_EQ(requests.size() - before, 10u); // 7 if each period began after the late run
}

TEST_F(NativeRepeatTest, NeitherClockStrikesTheOwnersNotesWhileTheLabIsConfigured)
{
    frame(owner, "NPM9", {0, 240, 0, 0});
    frame(owner, "NPM2", {1, 60, 77, 1});
    // No acknowledgement: pending. Clock runs starting and an engine clock jump strike nothing.
    for (uint32_t generation = 1; generation <= 3; ++generation) {
        bridge.handleDatagram(test::midiClock(clock.nowNs(), 0, generation), DatagramOrigin{false, 0x7F000001, 6000});
        clock.advance(10'000'000);
    }
    bridge.handleDatagram(test::engineClock(120, 3, double(clock.nowNs()) / 1e9), DatagramOrigin{false, 0x7F000001, 6000});
    clock.advance(10'000'000);
    EXPECT_TRUE(port.sent.empty());
    EXPECT_EQ(bridge.strideAttacks(), 0);
}

TEST_F(NativeRepeatTest, NotesSoundOnlyWhileTheCurrentGenerationIsAcknowledged)
{
    frame(owner, "NPM9", {0, 240, 0, 0});
    frame(owner, "NPM2", {1, 60, 77, 1});
    EXPECT_TRUE(port.sent.empty()); // pending: stored, silent

    ack(0);             // an older generation changes nothing
    ack(1, 5001);       // not from the exchange's port: not an acknowledgement
    ack(1, 5000, false);
    EXPECT_TRUE(port.sent.empty());

    ack(1); // the first acknowledgement plays what is held
    ASSERT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(port.sent[0].bytes, (Bytes{0x90, 60, 77}));
    ack(1); // a second one only refreshes
    EXPECT_EQ(port.sent.size(), 1u);
    frame(owner, "NPM2", {1, 62, 70, 1});
    EXPECT_EQ(port.sent.back().bytes, (Bytes{0x90, 62, 70}));

    // The exchange falls silent: 0.5 s after the last acknowledgement everything is released.
    clock.advance(400'000'000);
    EXPECT_EQ(port.sent.size(), 2u);
    clock.advance(200'000'000);
    ASSERT_EQ(port.sent.size(), 4u);
    EXPECT_EQ(port.sent[2].bytes, (Bytes{0x90, 60, 0}));
    EXPECT_EQ(port.sent[3].bytes, (Bytes{0x90, 62, 0}));
    EXPECT_TRUE(owner->held.empty());
}

TEST_F(NativeRepeatTest, OwnershipMovesBetweenStreamsButAWifiSenderNeverTakesIt)
{
    frame(owner, "NPM9", {0, 240, 0, 0});
    ack(1);
    frame(owner, "NPM2", {1, 60, 77, 1});
    auto other = bridge.addPeer();
    frame(other, "NPM9", {0, 120, 0, 0});
    EXPECT_EQ(bridge.nativeRepeatOwner(), other);
    EXPECT_EQ(owner->strideStep, 0.0);
    EXPECT_EQ(port.sent.back().bytes, (Bytes{0x90, 60, 0})); // the old owner's note is released

    auto wifi = bridge.addPeer();
    wifi->wifi = true;
    frame(wifi, "NPM9", {0, 240, 0, 0});
    EXPECT_EQ(bridge.nativeRepeatOwner(), other);
    EXPECT_EQ(wifi->strideStep, 0.0);

    // The owner leaves: the exchange hears rate 0 under a new generation at once.
    const size_t before = requests.size();
    bridge.closePeer(other);
    EXPECT_EQ(bridge.nativeRepeatOwner(), nullptr);
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back()["rate"], 0);
    EXPECT_EQ(requests.back()["generation"], bridge.nativeRepeatGeneration());
}

} // namespace
} // namespace norv
