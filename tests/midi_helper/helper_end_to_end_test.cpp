// The built helper against a real JACK server (dummy driver), driven over its sockets and stdin.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "midi_helper/unique_fd.h"
#include "support/midi_helper/helper_wire.h"
#include "support/midi_helper/jack_test_server.h"
#include "tests/support/midi_helper/helper_process.h"
#include "tests/support/midi_helper/jack_midi_recorder.h"

namespace norv::test {
namespace {

using namespace std::chrono_literals;

const std::string kSourcePort = "Norv Bridge MIDI:Norv";

void sendDatagram(int port, const Bytes& bytes)
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

UniqueFd connectUnix(const std::string& path, int type)
{
    UniqueFd fd(::socket(AF_UNIX, type, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return UniqueFd();
    return fd;
}

void writeAll(int fd, const Bytes& bytes)
{
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

// Bytes read within the bound; an empty result with `closed` set means the other side closed.
Bytes readSome(int fd, bool* closed = nullptr, std::chrono::milliseconds bound = 3s)
{
    pollfd pfd{fd, POLLIN, 0};
    if (closed)
        *closed = false;
    if (::poll(&pfd, 1, int(bound.count())) <= 0)
        return {};
    uint8_t buffer[256];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        if (closed)
            *closed = true;
        return {};
    }
    return Bytes(buffer, buffer + n);
}

nlohmann::json midiBytes(std::initializer_list<int> bytes)
{
    return nlohmann::json(std::vector<int>(bytes));
}

// Every "midi" event's bytes up to the next "pong" (answers the ping sent first), which goes to
// `pong` when given: its counts describe exactly the events before it.
std::vector<nlohmann::json> midiUntilPong(HelperProcess& helper, nlohmann::json* pong = nullptr)
{
    helper.writeLine("ping");
    std::vector<nlohmann::json> midi;
    while (auto event = helper.nextEvent()) {
        if ((*event)["type"] == "pong") {
            if (pong)
                *pong = *event;
            return midi;
        }
        if ((*event)["type"] == "midi")
            midi.push_back((*event)["bytes"]);
    }
    ADD_FAILURE() << "no pong";
    return midi;
}

class HelperEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!jack.running())
            FAIL() << "JACK server did not start: " << jack.failure();
    }

    JackTestServer jack;
};

TEST_F(HelperEndToEnd, NetworkFastMidiReachesMonitorAndJackPort)
{
    const int port = freePort();
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(port), "--midi-channel", "2"}, jack.name());
    auto ready = helper.waitFor("ready");
    ASSERT_TRUE(ready);
    EXPECT_EQ((*ready)["udp_port"], port);
    EXPECT_EQ((*ready)["tcp_port"], port);
    EXPECT_EQ((*ready)["private_transport"], 0);
    EXPECT_EQ((*ready)["destination_available"], true);
    EXPECT_EQ((*ready)["warnings"], nlohmann::json::array());

    // Both endpoints keep the configured name visible although JACK short names must differ.
    JackMidiRecorder recorder(jack.name());
    ASSERT_TRUE(recorder.ok());
    EXPECT_EQ(recorder.ports("^Norv Bridge MIDI:"), (std::vector<std::string>{"Norv Bridge MIDI:Norv", "Norv Bridge MIDI:Norv in"}));
    EXPECT_EQ(recorder.property("Norv Bridge MIDI:Norv in", "http://jackaudio.org/metadata/pretty-name"), "Norv");
    EXPECT_EQ(recorder.property(kSourcePort, "urn:norv-bridge:midi:unique-id"), "1313427027");
    EXPECT_EQ(recorder.property("Norv Bridge MIDI:Norv in", "urn:norv-bridge:midi:unique-id"), "1313427023");
    ASSERT_TRUE(recorder.connectFrom(kSourcePort));

    helper.writeLine("monitor 1");
    ASSERT_TRUE(helper.waitFor("monitor"));
    sendDatagram(port, packet("NPM1", {1, 60, 100}, 16));
    sendDatagram(port, packet("NPM2", {2, 60, 0, 0}));
    sendDatagram(port, packet("NPM3", {3, 0xB4, 7, 99}));

    // A heartbeat is echoed. It also arms the 2 s watchdog of its stream, so it goes on a stream
    // of its own: the one below must outlive any pause of a loaded machine.
    {
        UniqueFd beating = connectTcp("127.0.0.1", port);
        ASSERT_TRUE(beating);
        Bytes heartbeat = frame(packet("NPM8", {9, 8, 7, 6}));
        writeAll(beating.get(), heartbeat);
        EXPECT_EQ(readSome(beating.get()), heartbeat);
    }

    // A stream: two frames in one write, one frame split over two writes.
    UniqueFd stream = connectTcp("127.0.0.1", port);
    ASSERT_TRUE(stream);
    Bytes both = frame(packet("NPM2", {1, 64, 90, 5}));
    Bytes second = frame(packet("NPM2", {2, 64, 0, 5}));
    both.insert(both.end(), second.begin(), second.end());
    writeAll(stream.get(), both);
    Bytes split = frame(packet("NPM3", {2, 0xC0, 12, 0}));
    writeAll(stream.get(), Bytes(split.begin(), split.begin() + 5));
    std::this_thread::sleep_for(20ms);
    writeAll(stream.get(), Bytes(split.begin() + 5, split.end()));

    const std::vector<nlohmann::json> expected = {midiBytes({0x91, 60, 100}), midiBytes({0x91, 60, 0}), midiBytes({0xB4, 7, 99}),
                                                  midiBytes({0x94, 64, 90}), midiBytes({0x94, 64, 0}), midiBytes({0xC0, 12})};
    for (const auto& bytes : expected) {
        auto event = helper.waitFor("midi");
        ASSERT_TRUE(event);
        EXPECT_EQ((*event)["bytes"], bytes);
        EXPECT_TRUE((*event)["timestamp"].is_number_unsigned());
    }
    uint64_t lastFrame = 0;
    for (const auto& bytes : expected) {
        auto event = recorder.next();
        ASSERT_TRUE(event) << "JACK did not deliver " << bytes;
        EXPECT_EQ(nlohmann::json(std::vector<int>(event->bytes.begin(), event->bytes.end())), bytes);
        EXPECT_GE(event->frame, lastFrame);
        lastFrame = event->frame;
    }

    // The heartbeat stream is gone once the helper has seen it close.
    std::optional<nlohmann::json> pong;
    for (int attempt = 0; attempt < 250; ++attempt) {
        helper.writeLine("ping");
        pong = helper.waitFor("pong");
        ASSERT_TRUE(pong);
        if ((*pong)["tcp_client_count"] == 1)
            break;
        std::this_thread::sleep_for(20ms);
    }

    // A Wi-Fi sender's opening packet is acknowledged from the helper's port.
    {
        UniqueFd wifi(::socket(AF_INET, SOCK_DGRAM, 0));
        Bytes opening = {'N', 'P', 'J', '1', 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 42};
        opening.resize(280, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(wifi.get(), opening.data(), opening.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
        Bytes ack = readSome(wifi.get());
        ASSERT_EQ(ack.size(), 28u);
        EXPECT_EQ(Bytes(ack.begin(), ack.begin() + 4), (Bytes{'N', 'P', 'A', '1'}));
        EXPECT_EQ(Bytes(ack.begin() + 4, ack.begin() + 20), Bytes(opening.begin() + 4, opening.begin() + 20));
    }

    helper.writeLine("ping");
    pong = helper.waitFor("pong");
    ASSERT_TRUE(pong);
    EXPECT_EQ((*pong)["wifi_peer_count"], 1);
    EXPECT_EQ((*pong)["sent_count"], 6);
    EXPECT_EQ((*pong)["fast_note_on_count"], 2);
    EXPECT_EQ((*pong)["fast_note_off_count"], 2);
    EXPECT_EQ((*pong)["tcp_client_count"], 1);
    helper.writeLine("quit");
    EXPECT_EQ(helper.waitExit(), 0);
}

TEST_F(HelperEndToEnd, StreamPeersAreLimitedWatchedAndReleasedInOrder)
{
    const int port = freePort();
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(port)}, jack.name());
    ASSERT_TRUE(helper.waitFor("ready"));
    helper.writeLine("monitor 1");
    ASSERT_TRUE(helper.waitFor("monitor"));

    std::vector<UniqueFd> peers;
    for (int i = 0; i < 8; ++i) {
        peers.push_back(connectTcp("127.0.0.1", port));
        ASSERT_TRUE(peers.back());
    }
    // Wait until all eight are accepted, then a ninth is closed at once.
    for (int i = 0; i < 8; ++i) {
        writeAll(peers[size_t(i)].get(), frame(packet("NPM8", {})));
        ASSERT_EQ(readSome(peers[size_t(i)].get()).size(), 12u);
    }
    UniqueFd ninth = connectTcp("127.0.0.1", port);
    bool closed = false;
    readSome(ninth.get(), &closed);
    EXPECT_TRUE(closed);

    // Two peers hold the same note: only the last one to leave releases it.
    writeAll(peers[0].get(), frame(packet("NPM2", {1, 60, 100, 1})));
    writeAll(peers[1].get(), frame(packet("NPM2", {1, 60, 100, 1})));
    EXPECT_EQ(midiUntilPong(helper).size(), 2u);
    // A bad frame length closes the first peer at once.
    writeAll(peers[0].get(), frame(packet("NPM2", {1, 61, 100, 1}), 9));
    readSome(peers[0].get(), &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(midiUntilPong(helper), std::vector<nlohmann::json>{});
    peers[1].reset();
    // The note-off, then the resets of the channel nobody uses any more, and nothing else.
    const std::vector<nlohmann::json> releases = {midiBytes({0x90, 60, 0}), midiBytes({0xE0, 0, 64}), midiBytes({0xD0, 0}),
                                                  midiBytes({0xB0, 74, 64}), midiBytes({0xB0, 1, 0})};
    std::vector<nlohmann::json> lastLeft;
    while (lastLeft.size() < releases.size()) {
        auto event = helper.waitFor("midi");
        ASSERT_TRUE(event) << "released so far: " << nlohmann::json(lastLeft);
        lastLeft.push_back((*event)["bytes"]);
    }
    EXPECT_EQ(lastLeft, releases);
    EXPECT_EQ(midiUntilPong(helper), std::vector<nlohmann::json>{});

    // A peer whose heartbeats stop is closed after 2 s and its note released; the others keep beating.
    writeAll(peers[2].get(), frame(packet("NPM2", {1, 62, 100, 1})));
    const auto silentSince = std::chrono::steady_clock::now();  // at or before the last heartbeat
    writeAll(peers[2].get(), frame(packet("NPM8", {})));
    ASSERT_EQ(readSome(peers[2].get()).size(), 12u);
    bool released = false;
    while (!released && std::chrono::steady_clock::now() - silentSince < 4s) {
        for (size_t i = 3; i < 8; ++i) {
            writeAll(peers[i].get(), frame(packet("NPM8", {})));
            readSome(peers[i].get());
        }
        if (auto event = helper.waitFor("midi", 200ms))
            released = (*event)["bytes"] == midiBytes({0x90, 62, 0});
    }
    ASSERT_TRUE(released);
    EXPECT_GE(std::chrono::steady_clock::now() - silentSince, 2s);
    readSome(peers[2].get(), &closed);
    EXPECT_TRUE(closed);

    helper.writeLine("ping");
    auto pong = helper.waitFor("pong");
    ASSERT_TRUE(pong);
    EXPECT_EQ((*pong)["tcp_client_count"], 5);
}

TEST_F(HelperEndToEnd, SocketsThatNeverSentAFrameGiveTheirSlotsToNewcomersOldestFirst)
{
    const int port = freePort();
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(port)}, jack.name());
    ASSERT_TRUE(helper.waitFor("ready"));
    helper.writeLine("monitor 1");
    ASSERT_TRUE(helper.waitFor("monitor"));

    // The oldest silent socket, then a playing peer, then six more silent sockets: every slot taken.
    std::vector<UniqueFd> silent;
    silent.push_back(connectTcp("127.0.0.1", port));
    UniqueFd playing = connectTcp("127.0.0.1", port);
    ASSERT_TRUE(playing);
    writeAll(playing.get(), frame(packet("NPM2", {1, 60, 100, 1})));
    ASSERT_TRUE(helper.waitFor("midi"));
    for (int i = 0; i < 6; ++i)
        silent.push_back(connectTcp("127.0.0.1", port));
    nlohmann::json pong;
    for (const auto until = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < until;) {
        midiUntilPong(helper, &pong);
        if (pong["tcp_client_count"] == 8)
            break;
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_EQ(pong["tcp_client_count"], 8);

    // A ninth client is served; the oldest silent socket made room for it.
    UniqueFd ninth = connectTcp("127.0.0.1", port);
    ASSERT_TRUE(ninth);
    const Bytes heartbeat = frame(packet("NPM8", {1, 2, 3, 4}));
    writeAll(ninth.get(), heartbeat);
    EXPECT_EQ(readSome(ninth.get()), heartbeat);
    bool closed = false;
    readSome(silent[0].get(), &closed);
    EXPECT_TRUE(closed);

    // The playing peer kept its slot: its note-off still arrives, and no note was released for it.
    writeAll(playing.get(), frame(packet("NPM2", {2, 60, 0, 1})));
    EXPECT_EQ(midiUntilPong(helper, &pong), std::vector<nlohmann::json>{midiBytes({0x90, 60, 0})});
    EXPECT_EQ(pong["tcp_client_count"], 8);
    readSome(silent[1].get(), &closed, 100ms);
    EXPECT_FALSE(closed);
}

TEST_F(HelperEndToEnd, AForgedWifiOpeningLeavesThePlayingDeviceAloneAndARestartIsServedAfterItsTimeOut)
{
    const int port = freePort();
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(port)}, jack.name());
    ASSERT_TRUE(helper.waitFor("ready"));
    helper.writeLine("monitor 1");
    ASSERT_TRUE(helper.waitFor("monitor"));

    // The device's socket. A forger on the LAN writes the same source address and port.
    UniqueFd device(::socket(AF_INET, SOCK_DGRAM, 0));
    const sockaddr_in helperAddress = ipv4("127.0.0.1", port);
    ASSERT_EQ(::connect(device.get(), reinterpret_cast<const sockaddr*>(&helperAddress), sizeof helperAddress), 0);
    // Sends `packet` stamped now; true when its acknowledgement comes within `bound`.
    auto exchange = [&](WifiPacket packet, std::chrono::milliseconds bound) {
        packet.sendTime = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
        for (auto& record : packet.records)
            record.time = packet.sendTime;
        const Bytes bytes = packet.bytes();
        EXPECT_EQ(::send(device.get(), bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
        for (const auto until = std::chrono::steady_clock::now() + bound; std::chrono::steady_clock::now() < until;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            const Bytes ack = readSome(device.get(), nullptr, std::max(left, 1ms));
            if (ack.size() == 28 && std::equal(ack.begin() + 4, ack.begin() + 20, bytes.begin() + 4))
                return true;
        }
        return false;
    };
    WifiPacket playing; // token 7
    ASSERT_TRUE(exchange(playing, 3s));
    playing.sequence = 2;
    playing.heldKeys = {60};
    playing.records = {{1, 0, packet("NPM2", {1, 60, 100, 1})}};
    ASSERT_TRUE(exchange(playing, 3s));
    auto on = helper.waitFor("midi");
    ASSERT_TRUE(on);
    EXPECT_EQ((*on)["bytes"], midiBytes({0x90, 60, 100}));

    // An opening packet under another token: refused while the device plays, its note sounding.
    WifiPacket forged;
    forged.token = 8;
    EXPECT_FALSE(exchange(forged, 300ms));
    playing.sequence = 3;
    playing.records = {};
    const auto lastPlayed = std::chrono::steady_clock::now();
    EXPECT_TRUE(exchange(playing, 3s));
    nlohmann::json pong;
    EXPECT_EQ(midiUntilPong(helper, &pong), std::vector<nlohmann::json>{});
    EXPECT_EQ(pong["wifi_peer_count"], 1);

    // The device restarts under a new token and repeats its opening until answered: served once
    // the old session has been silent past its 2 s, whose note is released.
    WifiPacket restarted;
    restarted.token = 9;
    bool served = false;
    for (; !served && std::chrono::steady_clock::now() - lastPlayed < 6s; ++restarted.sequence)
        served = exchange(restarted, 100ms);
    ASSERT_TRUE(served);
    EXPECT_GE(std::chrono::steady_clock::now() - lastPlayed, 2s);
    const std::vector<nlohmann::json> released = midiUntilPong(helper);
    ASSERT_FALSE(released.empty());
    EXPECT_EQ(released.front(), midiBytes({0x90, 60, 0}));
    restarted.heldKeys = {62};
    restarted.records = {{1, 0, packet("NPM2", {1, 62, 100, 1})}};
    EXPECT_TRUE(exchange(restarted, 3s));
    EXPECT_EQ(midiUntilPong(helper), std::vector<nlohmann::json>{midiBytes({0x90, 62, 100})});
}

TEST_F(HelperEndToEnd, StreamStrideRepeatsAndTheDestinationCounts)
{
    const int port = freePort();
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(port)}, jack.name());
    ASSERT_TRUE(helper.waitFor("ready"));

    // MIDI sent to the destination is counted, not played.
    JackMidiRecorder client(jack.name());
    ASSERT_TRUE(client.connectTo("Norv Bridge MIDI:Norv in"));
    client.emit({0x90, 40, 100});
    client.emit({0x80, 40, 0});
    std::optional<nlohmann::json> pong;
    for (const auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
        helper.writeLine("ping");
        pong = helper.waitFor("pong");
        ASSERT_TRUE(pong);
        if ((*pong)["received_count"] == 2)
            break;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ((*pong)["received_count"], 2);
    EXPECT_EQ((*pong)["sent_count"], 0);

    // A stream peer switches stride on: a held key repeats every quarter beat (125 ms at 120 bpm).
    helper.writeLine("monitor 1");
    ASSERT_TRUE(helper.waitFor("monitor"));
    UniqueFd stream = connectTcp("127.0.0.1", port);
    ASSERT_TRUE(stream);
    writeAll(stream.get(), frame(packet("NPM9", {0, 240, 0, 0})));
    writeAll(stream.get(), frame(packet("NPM2", {1, 60, 100, 1})));
    std::this_thread::sleep_for(450ms);
    writeAll(stream.get(), frame(packet("NPM2", {2, 60, 0, 1})));
    int strikes = 0;
    nlohmann::json counts;
    for (const auto& bytes : midiUntilPong(helper, &counts))
        strikes += bytes == midiBytes({0x90, 60, 100}) ? 1 : 0;
    EXPECT_GE(strikes, 2); // about four; a loaded machine may skip a late grid point
    EXPECT_LE(strikes, 5);
    EXPECT_EQ(counts["stride_attacks"], strikes);
}

TEST_F(HelperEndToEnd, ListenersBindOnlyTheGivenAddress)
{
    const int port = freePort();
    {
        HelperProcess helper({"--udp-host", " 127.0.0.1 ", "--udp-port", std::to_string(port)}, jack.name());
        ASSERT_TRUE(helper.waitFor("ready"));
        EXPECT_TRUE(connectTcp("127.0.0.1", port));
        EXPECT_FALSE(connectTcp("127.0.0.2", port)); // another loopback address: not listened on
        helper.writeLine("quit");
        EXPECT_EQ(helper.waitExit(), 0);
    }
    HelperProcess invalid({"--udp-host", "300.1.1.1", "--udp-port", std::to_string(port)}, jack.name());
    auto error = invalid.waitFor("error");
    ASSERT_TRUE(error);
    EXPECT_EQ((*error)["message"], "invalid UDP host 300.1.1.1");
    EXPECT_EQ(invalid.waitExit(), 1);

    // No JACK server under that name: the helper never starts one and says why.
    HelperProcess serverless({}, jack.name() + "-absent");
    error = serverless.nextEvent();
    ASSERT_TRUE(error);
    EXPECT_EQ((*error)["type"], "error");
    EXPECT_EQ((*error)["message"].get<std::string>().rfind("MIDIClientCreate failed with OSStatus ", 0), 0u);
    EXPECT_EQ(serverless.waitExit(), 1);
}

TEST_F(HelperEndToEnd, PrivateSocketsCarryMidiAndAreRemovedAtExit)
{
    char pattern[] = "/tmp/norv-private-XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    const std::string folder = pattern;
    for (int run = 0; run < 2; ++run) {
        HelperProcess helper({"--private-socket-dir", folder, "--udp-port", "9"}, jack.name());
        auto ready = helper.waitFor("ready");
        ASSERT_TRUE(ready) << "run " << run;
        EXPECT_EQ((*ready)["private_transport"], 1);
        EXPECT_EQ((*ready)["udp_port"], 0);
        EXPECT_EQ((*ready)["wifi_version"], 0);
        struct stat info{};
        ASSERT_EQ(::stat((folder + "/midi.sock").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);

        helper.writeLine("monitor 1");
        ASSERT_TRUE(helper.waitFor("monitor"));
        UniqueFd stream = connectUnix(folder + "/midi.sock", SOCK_STREAM);
        ASSERT_TRUE(stream);
        writeAll(stream.get(), frame(packet("NPM2", {1, 48, 70, 10})));
        auto midi = helper.waitFor("midi");
        ASSERT_TRUE(midi);
        EXPECT_EQ((*midi)["bytes"], midiBytes({0x99, 48, 70}));
        // Leaving releases the note.
        stream.reset();
        midi = helper.waitFor("midi");
        ASSERT_TRUE(midi);
        EXPECT_EQ((*midi)["bytes"], midiBytes({0x99, 48, 0}));
        helper.closeInput(); // end of input shuts down like "quit"
        EXPECT_EQ(helper.waitExit(), 0);
        EXPECT_FALSE(std::filesystem::exists(folder + "/midi.sock"));
        EXPECT_FALSE(std::filesystem::exists(folder + "/clock.sock"));
    }

    // A file that is not ours is never removed: the start fails and the file stays.
    { UniqueFd file(::open((folder + "/clock.sock").c_str(), O_CREAT | O_WRONLY, 0600)); }
    HelperProcess blocked({"--private-socket-dir", folder}, jack.name());
    auto error = blocked.waitFor("error");
    ASSERT_TRUE(error);
    EXPECT_NE((*error)["message"].get<std::string>().find("Private MIDI socket bind"), std::string::npos);
    EXPECT_EQ(blocked.waitExit(), 1);
    EXPECT_TRUE(std::filesystem::exists(folder + "/clock.sock"));
    std::filesystem::remove_all(folder);
}

TEST_F(HelperEndToEnd, ShutdownDeliversNoteOffsToJackAndSurvivesAClosedOutput)
{
    const int port = freePort();
    {
        HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(port)}, jack.name());
        ASSERT_TRUE(helper.waitFor("ready"));
        JackMidiRecorder recorder(jack.name());
        ASSERT_TRUE(recorder.connectFrom(kSourcePort));
        UniqueFd stream = connectTcp("127.0.0.1", port);
        writeAll(stream.get(), frame(packet("NPM2", {1, 60, 100, 3})));
        auto on = recorder.next();
        ASSERT_TRUE(on);
        EXPECT_EQ(on->bytes, (Bytes{0x92, 60, 100}));
        helper.closeInput();
        auto off = recorder.next();
        ASSERT_TRUE(off) << "the held note was not released before the client closed";
        EXPECT_EQ(off->bytes, (Bytes{0x92, 60, 0}));
        EXPECT_EQ(helper.waitExit(), 0);
    }
    // Nobody reads standard output any more: the helper neither dies of it nor hangs.
    HelperProcess helper({"--source-name", "N\xff", "--udp-host", "127.0.0.1", "--udp-port", std::to_string(port)}, jack.name());
    auto ready = helper.waitFor("ready");
    ASSERT_TRUE(ready); // invalid UTF-8 in an option is replaced, not fatal
    EXPECT_EQ((*ready)["source"], "N\xEF\xBF\xBD");
    helper.writeLine(std::string(10000, 'x'));
    auto error = helper.waitFor("error");
    ASSERT_TRUE(error);
    EXPECT_EQ((*error)["message"], "unsupported command");
    helper.closeOutput();
    UniqueFd stream = connectTcp("127.0.0.1", port);
    writeAll(stream.get(), frame(packet("NPM8", {})));
    stream.reset(); // the echo goes to a closed peer
    for (int i = 0; i < 50; ++i)
        helper.writeLine("ping");
    helper.writeLine("quit");
    EXPECT_EQ(helper.waitExit(5s), 0);
}

} // namespace
} // namespace norv::test
