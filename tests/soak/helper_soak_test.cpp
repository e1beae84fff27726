// The helper under a long mixed load, in this process: stream peers over TCP, fast MIDI datagrams,
// Wi-Fi senders behind a lossy channel and the engine and MIDI clocks, over loopback sockets into a real
// JACK port (dummy driver). Each round of playing ends in a quiet point where every sender lets
// go or leaves; there no note may be left sounding on the port and the helper's counters must
// agree with what was sent and what arrived. Memory is sampled at every quiet point.
//
// $NORV_SOAK_SECONDS sets the length (25 s by default), $NORV_SOAK_SEED replays a run's choices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>

#include "helper_soak_lab.h"
#include "helper_soak_observers.h"
#include "helper_soak_senders.h"
#include "midi_helper/helper_app.h"
#include "midi_helper/jack_midi_port.h"
#include "midi_helper/json_output.h"
#include "soak_support.h"
#include "support/midi_helper/jack_test_server.h"
#include "tests/support/midi_helper/jack_midi_recorder.h"

namespace norv::test {
namespace {

using namespace std::chrono_literals;

// A leaked stream or Wi-Fi peer costs over 32 KiB (its per-key time stamps alone), and every round
// opens several (reconnects and rejoins), so leaking peers grows the last third of a short run by
// several hundred KiB. What legitimately varies between quiet points (JSON and socket buffers,
// allocator caches, the sender logs of one round) stays well below this.
constexpr size_t kMemoryGrowthBound = 256 * 1024;

uint64_t soakSeed()
{
    if (const char* text = std::getenv("NORV_SOAK_SEED")) {
        try {
            return std::stoull(text);
        } catch (const std::exception&) {
        }
    }
    return std::random_device{}();
}

// Keys as channel/note, each with its last messages on the port.
std::string keyNames(const std::vector<int>& keys, const PortLedger& ledger)
{
    std::ostringstream text;
    for (int key : keys)
        text << "\n  ch" << key / 128 + 1 << "/" << key % 128 << ":" << ledger.history(key);
    return text.str();
}

std::string tallyDifference(const MessageTally& monitored, const MessageTally& arrived)
{
    std::ostringstream text;
    MessageTally all = monitored;
    all.insert(arrived.begin(), arrived.end());
    for (const auto& [bytes, unused] : all) {
        const auto count = [&](const MessageTally& t) { auto it = t.find(bytes); return it == t.end() ? 0 : it->second; };
        if (count(monitored) != count(arrived)) {
            text << " [";
            for (uint8_t b : bytes)
                text << int(b) << ' ';
            text << "] monitored " << count(monitored) << " arrived " << count(arrived) << ';';
        }
    }
    return text.str();
}

class HelperSoak : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(jack.running()) << jack.failure();
        ::setenv("JACK_DEFAULT_SERVER", jack.name().c_str(), 1);
        port = freePort();
        ASSERT_NE(port, 0);
        startHelper(false);
    }

    // A helper on `port` with its observers and a fresh set of senders; with `withLab` the Repeat
    // lab plays every repeat. Counters start again from 0 with each helper.
    void startHelper(bool withLab)
    {
        HelperConfig config;
        config.udpHost = "127.0.0.1";
        config.udpPort = port;
        if (withLab) {
            lab = std::make_unique<RepeatLab>();
            ASSERT_NE(lab->port(), 0);
            config.nativeRepeatPort = lab->port();
        }
        watch = std::make_unique<OutputWatch>();
        output = std::make_unique<JsonOutput>([this](const std::string& line, auto) { return watch->line(line); });
        jackPort = std::make_unique<JackMidiPort>();
        app = std::make_unique<HelperApp>(config, *jackPort, *output);
        ASSERT_TRUE(app->start());
        recorder = std::make_unique<JackMidiRecorder>(jack.name());
        ASSERT_TRUE(recorder->connectFrom("Norv Bridge MIDI:Norv"));
        ledger = std::make_unique<PortLedger>(*recorder);
        app->handleLine("monitor 1");

        channel = std::make_unique<LossyChannel>();
        for (int i = 0; i < 3; ++i) // the first switches stride, the second beats
            streams.push_back(std::make_unique<StreamSender>(port, i == 0, i == 1));
        reconnectAt.assign(streams.size(), std::nullopt);
        for (int i = 0; i < 2; ++i) {
            fasts.push_back(std::make_unique<FastSender>(port));
            wifis.push_back(std::make_unique<WifiSender>(port, *channel, i == 0, i == 0, 1 + uint32_t(i) * 1'000'000 + tokenBase));
        }
        tokenBase += 100'000;
        clock = std::make_unique<ClockSender>(port);
        monitored = droppedBefore = 0;
        roundMonitored.clear();
        wifiSoFar = {};
    }

    // Ends the helper (after `shutDownWhilePlaying`) and everything that spoke to it.
    void stopHelper()
    {
        output->flush(std::chrono::seconds(5));
        clock.reset();
        wifis.clear();
        fasts.clear();
        streams.clear();
        channel.reset();
        app.reset();
        ledger.reset();
        recorder.reset();
        jackPort.reset();
        output.reset();
        watch.reset();
        lab.reset();
    }

    bool chance(int perMille) { return int(rng() % 1000) < perMille; }

    // Wi-Fi senders' periodic packets every 10 ms, what the lossy channel lets through by now,
    // and the clocks.
    void carry(SoakClock::time_point now, SoakClock::time_point& nextWifi)
    {
        if (now >= nextWifi) {
            for (auto& wifi : wifis)
                wifi->tick(rng, now);
            nextWifi = now + 10ms;
        }
        channel->deliver(now);
        clock->tick();
        if (lab)
            lab->service(rng, now);
    }

    // Everyone plays for `length`: stream peers come and go, Wi-Fi senders leave and rejoin.
    void play(SoakClock::duration length)
    {
        const auto until = SoakClock::now() + length;
        auto nextWifi = SoakClock::now();
        for (auto now = SoakClock::now(); now < until; now = SoakClock::now()) {
            for (size_t i = 0; i < streams.size(); ++i) {
                StreamSender& stream = *streams[i];
                if (!stream.connected() && !reconnectAt[i])
                    reconnectAt[i] = now + std::chrono::milliseconds(50 + rng() % 450);
                if (!stream.connected() && now >= *reconnectAt[i]) {
                    stream.connect();
                    reconnectAt[i].reset();
                }
                stream.service(now);
                if (chance(80))
                    stream.act(rng);
            }
            for (auto& fast : fasts)
                if (chance(80))
                    fast->act(rng);
            for (auto& wifi : wifis)
                if (chance(80))
                    wifi->act(rng, now);
            carry(now, nextWifi);
            std::this_thread::sleep_for(2ms);
        }
    }

    std::optional<OutputWatch::Pong> ping()
    {
        app->handleLine("ping");
        auto pong = watch->nextPong(10s);
        if (pong) {
            for (const auto& [bytes, count] : pong->monitored)
                roundMonitored[bytes] += count;
            monitored += pong->monitoredCount;
        }
        return pong;
    }

    // Every sender lets go (or leaves); false when the port does not fall silent.
    bool quiet(int round)
    {
        for (auto& stream : streams) {
            if (chance(500))
                stream->releaseAll();
            else
                stream->dropConnection(rng);
        }
        for (auto& fast : fasts)
            fast->releaseAll();
        for (auto& wifi : wifis)
            wifi->releaseAll(SoakClock::now());
        const auto deadline = SoakClock::now() + 20s;
        auto nextWifi = SoakClock::now();
        PortLedger::State state;
        for (auto now = SoakClock::now(); now < deadline; now = SoakClock::now()) {
            for (auto& stream : streams)
                stream->service(now);
            carry(now, nextWifi);
            state = ledger->state();
            // Stride repeats a half beat at most (250 ms): 400 ms without MIDI means it has stopped.
            const bool settled = std::all_of(wifis.begin(), wifis.end(), [](const auto& w) { return w->settled(); });
            if (state.sounding.empty() && state.sustained.empty() && now - state.lastEvent >= 400ms && settled)
                return true;
            std::this_thread::sleep_for(5ms);
        }
        ADD_FAILURE() << "round " << round << ": the port is not quiet 20 s after every sender let go; sounding:"
                      << keyNames(state.sounding, *ledger) << "; sustain down on " << state.sustained.size() << " channel(s)";
        return false;
    }

    // With the port quiet, the helper's report must agree with the port, the monitor and the senders.
    bool counted(int round)
    {
        channel->deliver(SoakClock::now(), true);
        struct Check {
            const char* what;
            int64_t helper, least, most;
            bool holds() const { return helper >= least && helper <= most; }
        };
        std::vector<Check> checks;
        int64_t sent = 0, dropped = 0;
        auto nextKeepAlive = SoakClock::now() + 250ms;
        for (const auto deadline = SoakClock::now() + 10s; SoakClock::now() < deadline;) {
            const auto now = SoakClock::now();
            for (auto& stream : streams)
                stream->service(now);
            const auto pong = ping();
            if (!pong)
                continue;
            // Every packet handled before the report was acknowledged before it, too.
            for (auto& wifi : wifis)
                wifi->readAcks(now);
            const nlohmann::json& r = pong->report;
            WifiExpectation e = wifiSoFar;
            for (const auto& wifi : wifis)
                e += wifi->expectation();
            const int64_t arrived = ledger->state().count;
            const auto connected = std::count_if(streams.begin(), streams.end(), [](const auto& s) { return s->connected(); });
            sent = r["sent_count"].get<int64_t>();
            dropped = r["monitor_dropped_count"].get<int64_t>();
            const int64_t stale = r["wifi_stale_events"].get<int64_t>();
            checks = {
                {"sent_count against messages on the port", sent, arrived, arrived},
                {"sent_count against monitored + dropped", sent, monitored + dropped, monitored + dropped},
                {"tcp_client_count", r["tcp_client_count"].get<int64_t>(), connected, connected},
                {"wifi_peer_count", r["wifi_peer_count"].get<int64_t>(), int64_t(wifis.size()), int64_t(wifis.size())},
                {"wifi_gap_events", r["wifi_gap_events"].get<int64_t>(), e.gapEvents, e.gapEvents},
                {"wifi_duplicate_packets", r["wifi_duplicate_packets"].get<int64_t>(), e.duplicatesLeast, e.duplicatesMost},
                {"wifi_recovered_events", r["wifi_recovered_events"].get<int64_t>(), e.recoverable - stale, e.recoverable},
                {"wifi_stale_events", stale, 0, e.newEvents},
            };
            // While the Repeat lab plays the repeat, neither clock makes the helper strike.
            if (lab)
                checks.push_back({"stride_attacks with the Repeat lab", r["stride_attacks"].get<int64_t>(), 0, 0});
            if (std::all_of(checks.begin(), checks.end(), [](const Check& c) { return c.holds(); })) {
                lastReport = r;
                break;
            }
            if (now >= nextKeepAlive) {
                for (auto& wifi : wifis)
                    wifi->tick(rng, now, true); // keeps its peer from falling silent
                nextKeepAlive = now + 250ms;
            }
            std::this_thread::sleep_for(20ms);
        }
        bool agreed = !checks.empty();
        for (const Check& check : checks) {
            if (!check.holds()) {
                ADD_FAILURE() << "round " << round << ": " << check.what << " is " << check.helper << ", expected "
                              << check.least << (check.least == check.most ? "" : " to " + std::to_string(check.most));
                agreed = false;
            }
        }
        if (!agreed)
            return false;
        // The very messages the helper reports as sent reached the port.
        const auto arrived = ledger->takeTallyAt(sent);
        if (!arrived) {
            ADD_FAILURE() << "round " << round << ": MIDI reached the port after the quiet point";
            return false;
        }
        if (dropped == droppedBefore) {
            EXPECT_TRUE(roundMonitored == *arrived) << "round " << round << ":" << tallyDifference(roundMonitored, *arrived);
        }
        roundMonitored.clear();
        droppedBefore = dropped;
        for (auto& wifi : wifis) {
            wifiSoFar += wifi->expectation();
            wifi->commit();
        }
        return true;
    }

    // Rounds of playing, each ending in a quiet point with its checks, until `end` (at least one).
    int playRounds(SoakClock::time_point end, MemoryTrend& memory)
    {
        int rounds = 0;
        do {
            clock->setMidiClock(chance(500));
            play(std::max<SoakClock::duration>(std::min<SoakClock::duration>(std::chrono::milliseconds(1500 + rng() % 1500),
                                                                             end - SoakClock::now()),
                                               500ms));
            if (!quiet(rounds) || !counted(rounds))
                return rounds;
            memory.sample();
            ++rounds;
        } while (SoakClock::now() < end);
        return rounds;
    }

    // Shutting down while everyone holds notes releases them all before the port closes.
    void shutDownWhilePlaying()
    {
        play(700ms);
        app->shutdown();
        PortLedger::State state = ledger->state();
        for (const auto until = SoakClock::now() + 5s; SoakClock::now() < until; state = ledger->state()) {
            if (SoakClock::now() - state.lastEvent >= 300ms)
                break;
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_EQ(state.sounding, std::vector<int>{}) << "left sounding at shutdown:" << keyNames(state.sounding, *ledger);
        EXPECT_EQ(state.sustained, std::vector<int>{});
    }

    JackTestServer jack;
    std::unique_ptr<RepeatLab> lab;
    std::unique_ptr<OutputWatch> watch;
    std::unique_ptr<JackMidiPort> jackPort;
    std::unique_ptr<JsonOutput> output;
    std::unique_ptr<HelperApp> app;
    std::unique_ptr<JackMidiRecorder> recorder;
    std::unique_ptr<PortLedger> ledger;
    int port = 0;

    Rng rng;
    std::vector<std::unique_ptr<StreamSender>> streams;
    std::vector<std::optional<SoakClock::time_point>> reconnectAt;
    std::vector<std::unique_ptr<FastSender>> fasts;
    std::unique_ptr<LossyChannel> channel;
    std::vector<std::unique_ptr<WifiSender>> wifis;
    std::unique_ptr<ClockSender> clock;
    uint32_t tokenBase = 0; // Wi-Fi tokens of one helper are not reused with the next

    int64_t monitored = 0, droppedBefore = 0;
    MessageTally roundMonitored;
    WifiExpectation wifiSoFar;
    nlohmann::json lastReport;
};

TEST_F(HelperSoak, NoStuckNotesCountersAgreeAndMemoryHolds)
{
    const uint64_t seed = soakSeed();
    rng.seed(seed);
    std::cout << "helper soak seed " << seed << " (NORV_SOAK_SEED replays it)" << std::endl;
    SCOPED_TRACE("NORV_SOAK_SEED=" + std::to_string(seed));

    // Two thirds of the time with the helper's own stride, then a helper whose Repeat lab plays
    // every repeat; both with the engine clock and, in some rounds, the MIDI clock.
    const auto length = soakDuration(25s);
    const auto start = SoakClock::now();
    MemoryTrend memory, labMemory;
    int rounds = 0;
    rounds += playRounds(start + length * 2 / 3, memory);
    ASSERT_FALSE(HasFailure());
    shutDownWhilePlaying();
    stopHelper();
    startHelper(true);
    ASSERT_FALSE(HasFatalFailure());
    const int labRounds = playRounds(start + length, labMemory);
    rounds += labRounds;
    EXPECT_GT(lab->requests, 0);
    shutDownWhilePlaying();

    std::cout << "helper soak: " << rounds << " rounds (" << labRounds << " with the Repeat lab: " << lab->requests
              << " requests, " << lab->acknowledgements << " acknowledged, " << lab->silences << " silences) in "
              << length.count() << " s; Wi-Fi channel dropped " << channel->dropped << ", duplicated " << channel->duplicated
              << ", delayed " << channel->delayed << ", stalled " << channel->stalls << "; last report " << lastReport.dump()
              << "; memory growth " << memory.growth() << " bytes over " << memory.count() << " samples" << std::endl;
    for (MemoryTrend* trend : {&memory, &labMemory}) {
        if (trend->count() >= 6) {
            EXPECT_LE(trend->growth(), kMemoryGrowthBound);
        }
    }
}

} // namespace
} // namespace norv::test
