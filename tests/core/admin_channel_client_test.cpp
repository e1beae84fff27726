#include "core/admin_channel_client.h"
#include "core/admin_capability.h"
#include "core/bridge_tls_identity.h"
#include "model/admin_connection_state.h"
#include "model/admin_snapshot.h"
#include "model/midi_monitor_batch.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/core/fake_engine_process.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <limits>
#include <map>

namespace norv {
namespace {

using namespace std::chrono_literals;
using test::certificateOf;
using test::FakeEngineProcess;
using test::fixtureIdentityLine;
using test::sharedIdentityLine;

const QString kToken =
    QStringLiteral("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");

using test::waitUntil;

// TCP_NODELAY of each of this process's sockets connected to `port` on loopback.
std::vector<int> noDelayOfSocketsTo(quint16 port) {
    std::vector<int> values;
    const QStringList fds =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString& name : fds) {
        const int fd = name.toInt();
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
        if (peer.sin_family != AF_INET || ntohs(peer.sin_port) != port) continue;
        int value = -1;
        socklen_t size = sizeof value;
        if (getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, &size) == 0) values.push_back(value);
    }
    return values;
}

// Whether a thread named after the admin channel runs in this process (names are cut to 15).
bool adminThreadRunning() {
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("org.norv.deskto"))
            return true;
    }
    return false;
}

// One client against one fake engine, recording what reaches the owner's thread.
class ChannelTest : public ::testing::Test {
protected:
    struct StateEntry {
        std::string text;
        qint64 at;  // ms since the test began
    };

    void startEngine(const nlohmann::json& scenario,
                     const QByteArray& identity = sharedIdentityLine()) {
        engine_ = std::make_unique<FakeEngineProcess>(identity, kToken, scenario);
        ASSERT_TRUE(engine_->started());
    }

    void startClient(AdminChannelTimings timings = AdminChannelTimings{}.scaledDown(5),
                     std::optional<QString> token = kToken,
                     std::optional<QString> certificate = certificateOf(sharedIdentityLine())) {
        AdminChannelClient::Options options;
        options.port = engine_ ? engine_->port() : 1;
        options.token = std::move(token);
        options.certificatePEM = std::move(certificate);
        options.timings = timings;
        options.now = now_;
        client_ = std::make_unique<AdminChannelClient>(options);
        clock_.start();
        client_->start([this](const AdminSnapshot& snapshot) { snapshots_.push_back(snapshot); },
                       [this](const MidiMonitorBatch& batch) { batches_.push_back(batch); },
                       [this](const AdminConnectionState& state) {
                           states_.push_back({describe(state), clock_.elapsed()});
                       });
    }

    static std::string describe(const AdminConnectionState& state) {
        if (state == AdminConnectionState::connecting()) return "connecting";
        if (state == AdminConnectionState::connected()) return "connected";
        if (state == AdminConnectionState::stopped()) return "stopped";
        return "disconnected: " + state.reason();
    }

    bool sawState(const std::string& text) const {
        for (const auto& entry : states_)
            if (entry.text == text) return true;
        return false;
    }
    std::optional<qint64> firstTime(const std::string& text, qint64 after = -1) const {
        for (const auto& entry : states_)
            if (entry.text == text && entry.at > after) return entry.at;
        return std::nullopt;
    }
    bool waitForState(const std::string& text, std::chrono::milliseconds limit = 8s) {
        return waitUntil([&] { return sawState(text); }, limit);
    }

    // Sends a request and waits for its completion; the text is "ok" or the error message.
    std::string requestAndWait(const QString& path, nlohmann::json args) {
        std::optional<std::string> outcome;
        client_->request(path, std::move(args), [&](const std::optional<BridgeError>& error) {
            EXPECT_FALSE(outcome.has_value()) << "completion called twice";
            outcome = error ? error->message().toStdString() : "ok";
        });
        EXPECT_TRUE(waitUntil([&] { return outcome.has_value(); }));
        return outcome.value_or("no completion");
    }

    std::unique_ptr<FakeEngineProcess> engine_;
    std::unique_ptr<AdminChannelClient> client_;
    std::function<QDateTime()> now_;  // the time certificates are judged at; none: the real one
    QElapsedTimer clock_;
    std::vector<StateEntry> states_;
    std::vector<AdminSnapshot> snapshots_;
    std::vector<MidiMonitorBatch> batches_;
};

TEST_F(ChannelTest, AuthenticatesThenKeepsSnapshotsComingWithTheHeartbeat) {
    startEngine({{"snapshots",
                  {{{"bridge", {{"bridge_version", "9.9"}}},
                    {"devices", nlohmann::json::array()},
                    {"live_tracks", nlohmann::json::array()},
                    {"midi_events", nlohmann::json::array()}}}}});
    startClient();
    ASSERT_TRUE(waitUntil([&] { return snapshots_.size() >= 3; }));
    EXPECT_EQ(states_.front().text, "connecting");
    EXPECT_EQ(states_.at(1).text, "connected");
    EXPECT_EQ(snapshots_.front().bridge.bridgeVersion, std::optional<std::string>("9.9"));
    EXPECT_EQ(noDelayOfSocketsTo(engine_->port()), std::vector<int>{1});

    // The token goes out once, first; snapshot requests follow it.
    const auto frames = engine_->frames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0],
              (nlohmann::json{{"path", "/admin/hello"}, {"args", {kToken.toStdString()}}}));
    for (std::size_t i = 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i], (nlohmann::json{{"path", "/admin/snapshot/request"},
                                             {"args", nlohmann::json::array()}}));
}

TEST_F(ChannelTest, SilentOrUnauthenticatedEnginesAreDroppedAndRetried) {
    const auto timings = AdminChannelTimings{}.scaledDown(10);
    for (const char* mode : {"never", "silent"}) {
        states_.clear();
        startEngine({{"authenticate", mode}});
        startClient(timings);
        ASSERT_TRUE(waitForState("disconnected: Bridge authentication timed out")) << mode;
        const qint64 droppedAt = *firstTime("disconnected: Bridge authentication timed out");
        EXPECT_GE(droppedAt, timings.authentication.count()) << mode;
        // The next attempt comes one reconnect interval later. The clock started before the first
        // attempt armed its deadline, so the states' delivery delays can only add to the figure.
        ASSERT_TRUE(waitUntil([&] { return firstTime("connecting", droppedAt).has_value(); }))
            << mode;
        EXPECT_GE(*firstTime("connecting", droppedAt),
                  timings.authentication.count() + timings.reconnect.count())
            << mode;
        client_.reset();
    }
}

TEST_F(ChannelTest, StopsTrustingAnEngineThatStopsAnswering) {
    const auto timings = AdminChannelTimings{}.scaledDown(10);
    startEngine({{"answer_snapshots", 2}});
    startClient(timings);
    ASSERT_TRUE(waitForState("disconnected: Bridge stopped responding"));
    EXPECT_EQ(snapshots_.size(), 2u);
    const qint64 lastConnected = states_.at(2).at;  // connecting, connected, connected
    const qint64 dropped = *firstTime("disconnected: Bridge stopped responding");
    EXPECT_GE(dropped - lastConnected, timings.staleness.count() - timings.heartbeat.count());

    // Every connection authenticates anew after the reconnect.
    ASSERT_TRUE(waitUntil([&] { return snapshots_.size() >= 3; }));
    std::map<int, std::vector<std::string>> pathsByConnection;
    for (const auto& entry : engine_->records())
        if (entry["event"] == "frame")
            pathsByConnection[entry["connection"]].push_back(entry["body"]["path"]);
    ASSERT_GE(pathsByConnection.size(), 2u);
    for (const auto& [connection, paths] : pathsByConnection) {
        EXPECT_EQ(paths.front(), "/admin/hello") << connection;
        EXPECT_EQ(std::count(paths.begin(), paths.end(), "/admin/hello"), 1) << connection;
    }
}

TEST_F(ChannelTest, ReconnectsAfterALossAtTheRealInterval) {
    startEngine({{"close_after_authenticated", true}});
    startClient(AdminChannelTimings{});
    ASSERT_TRUE(waitForState("disconnected: Bridge disconnected"));
    const qint64 lost = *firstTime("disconnected: Bridge disconnected");
    ASSERT_TRUE(waitUntil([&] { return firstTime("connecting", lost).has_value(); }, 4s));
    EXPECT_LT(*firstTime("connecting", lost) - lost, 2500);
    // The lower bound as the engine saw it: it recorded its close before the client could see it,
    // and the next hello after the client's reconnect was due.
    ASSERT_TRUE(waitUntil([&] { return engine_->recordAt(2, "frame").has_value(); }));
    EXPECT_GE(*engine_->recordAt(2, "frame") - *engine_->recordAt(1, "closed"), 1500);
}

TEST_F(ChannelTest, ConfirmedFailedAndUnansweredRequests) {
    startEngine({{"actions",
                  {{"/admin/device/rename", {{"ok", false}, {"error", "Name taken"}}},
                   {"/admin/pairing/reset", {{"ok", false}}},
                   {"/admin/devices/clean", "ignore"}}}});
    startClient();
    // Before the first snapshot the channel is not available for requests.
    EXPECT_EQ(requestAndWait(QStringLiteral("/admin/device/access"), {"dev", "allow"}),
              "Bridge unavailable");
    ASSERT_TRUE(waitForState("connected"));

    EXPECT_EQ(requestAndWait(QStringLiteral("/admin/device/access"), {"dev", "allow"}), "ok");
    EXPECT_EQ(requestAndWait(QStringLiteral("/admin/device/rename"), {"dev", "x"}), "Name taken");
    EXPECT_EQ(requestAndWait(QStringLiteral("/admin/pairing/reset"), nlohmann::json::array()),
              "Action failed");
    EXPECT_EQ(requestAndWait(QStringLiteral("/admin/devices/clean"), {{"a"}}),
              "Action not confirmed. Check the Bridge status.");

    // A non-finite number fails only its own request; nothing is written and the channel stays.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(requestAndWait(QStringLiteral("/admin/device/routing/policy"),
                             {{{"disconnect_grace_seconds", nan}}}),
              "Invalid Bridge command");
    client_->send(QStringLiteral("/admin/midi-monitor/configure"),
                  {{{"enabled", true}, {"refresh_hz", INFINITY}}});
    EXPECT_EQ(requestAndWait(QStringLiteral("/admin/device/access"), {"dev", "deny"}), "ok");
    for (const auto& body : engine_->frames()) {
        EXPECT_NE(body["path"], "/admin/device/routing/policy");
        EXPECT_NE(body["path"], "/admin/midi-monitor/configure");
        if (body["path"] == "/admin/device/access") {
            EXPECT_EQ(body["request_id"].get<std::string>().size(), 36u);
        }
    }
    EXPECT_FALSE(sawState("disconnected: Bridge disconnected"));
}

TEST_F(ChannelTest, ADisconnectionFailsEveryPendingRequestOnce) {
    startEngine({{"actions", {{"*", "ignore"}}}});
    startClient(AdminChannelTimings{}.scaledDown(2));
    ASSERT_TRUE(waitForState("connected"));
    std::vector<std::string> outcomes;
    for (int i = 0; i < 2; ++i)
        client_->request(QStringLiteral("/admin/midi/reconnect"), nlohmann::json::array(),
                         [&](const std::optional<BridgeError>& error) {
                             outcomes.push_back(error ? error->message().toStdString() : "ok");
                         });
    ASSERT_TRUE(waitUntil([&] {
        const auto paths = engine_->paths();
        return std::count(paths.begin(), paths.end(), "/admin/midi/reconnect") == 2;
    }));
    engine_.reset();  // the engine goes away with both requests pending
    ASSERT_TRUE(waitUntil([&] { return outcomes.size() == 2; }));
    EXPECT_EQ(outcomes, (std::vector<std::string>{"Bridge disconnected", "Bridge disconnected"}));
    QCoreApplication::processEvents();
    waitUntil([] { return false; },
              1200ms);  // past the confirmation time-out: no second completion
    EXPECT_EQ(outcomes.size(), 2u);
}

TEST_F(ChannelTest, MisbehavingEnginesCloseTheChannelWithTheirReason) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {R"({"before_authenticated": {"path": "/admin/snapshot", "args": [{"bridge": {}, "devices": [],
            "live_tracks": [], "midi_events": []}]}})",
         "Bridge authentication required. Update the managed engine."},
        {R"({"after_authenticated": [{"length": 1048577}]})", "Invalid Bridge response"},
        {R"({"after_authenticated": [{"body": {"args": []}}]})",
         "Could not read the Bridge response"},
        {R"({"snapshots": [{"bridge": {}}]})", "Could not read the Bridge response"},
    };
    for (const auto& [scenario, reason] : cases) {
        states_.clear();
        snapshots_.clear();
        startEngine(nlohmann::json::parse(scenario));
        startClient();
        EXPECT_TRUE(waitForState("disconnected: " + reason)) << scenario;
        EXPECT_TRUE(snapshots_.empty()) << scenario;
        client_.reset();
    }
}

TEST_F(ChannelTest, FramesWrittenByteByByteAndMidiBatches) {
    nlohmann::json batch = {{"events",
                             {{{"sequence", 7},
                               {"timestamp", 1.5},
                               {"device_id", "dev"},
                               {"endpoint", "Keys"},
                               {"role", "instrument"},
                               {"kind", "note"},
                               {"channel", 1},
                               {"number", 60},
                               {"value", 100},
                               {"bytes", {144, 60, 100}},
                               {"source", "wifi"}}}},
                            {"dropped", 0},
                            {"latest_sequence", 7},
                            {"reset", false}};
    startEngine({{"byte_by_byte", true}, {"midi_batches", {batch}}});
    startClient();
    ASSERT_TRUE(waitUntil([&] { return snapshots_.size() >= 2 && !batches_.empty(); }));
    EXPECT_EQ(batches_.front().latestSequence, 7);
}

// Pinning: only the identity's own certificate, within its dates, is trusted, and the token is
// never written to any other peer. (Every other test here is the accepted case.)
TEST_F(ChannelTest, TheTokenIsNeverWrittenToAnUnpinnedPeer) {
    const std::vector<std::pair<QByteArray, QString>> peers = {
        // Same subject, other key, while the client pins the shared identity.
        {BridgeTLSIdentity::generate().encode(), certificateOf(sharedIdentityLine())},
        // The pinned certificate itself, outside its dates.
        {fixtureIdentityLine("expired_identity.json"),
         certificateOf(fixtureIdentityLine("expired_identity.json"))},
        {fixtureIdentityLine("not_yet_valid_identity.json"),
         certificateOf(fixtureIdentityLine("not_yet_valid_identity.json"))},
    };
    for (const auto& [identity, pinned] : peers) {
        states_.clear();
        startEngine(nlohmann::json::object(), identity);
        startClient(AdminChannelTimings{}.scaledDown(10), kToken, pinned);
        ASSERT_TRUE(waitUntil([&] { return states_.size() >= 2; }));
        EXPECT_EQ(states_[1].text.rfind("disconnected: ", 0), 0u) << states_[1].text;
        EXPECT_NE(states_[1].text, "disconnected: Bridge authentication timed out");
        client_.reset();
        EXPECT_TRUE(engine_->frames().empty());
    }
}

// The pinned certificate's dates are judged by the inclusive rule at the client's clock, over a
// real handshake whose TLS library calls the certificate expired.
TEST_F(ChannelTest, ThePinnedCertificateHoldsThroughBothOfItsBoundarySeconds) {
    const QByteArray identity = fixtureIdentityLine("expired_identity.json");
    const QDateTime notBefore(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime notAfter(QDate(2021, 1, 1), QTime(0, 0), Qt::UTC);
    for (const auto& [at, accepted] : std::vector<std::pair<QDateTime, bool>>{
             {notAfter, true}, {notBefore, true}, {notAfter.addSecs(1), false}}) {
        states_.clear();
        now_ = [at] { return at; };
        startEngine(nlohmann::json::object(), identity);
        startClient(AdminChannelTimings{}.scaledDown(10), kToken, certificateOf(identity));
        if (accepted) {
            EXPECT_TRUE(waitUntil([&] { return !engine_->frames().empty(); }, 3s))
                << at.toString().toStdString();
        } else {
            ASSERT_TRUE(waitUntil([&] { return states_.size() >= 2; }));
            EXPECT_EQ(states_[1].text.rfind("disconnected: ", 0), 0u) << states_[1].text;
            EXPECT_NE(states_[1].text, "disconnected: Bridge authentication timed out");
            client_.reset();
            EXPECT_TRUE(engine_->frames().empty());
        }
        client_.reset();
    }
}

TEST_F(ChannelTest, UsesTheCurrentCapabilityAndWaitsForOne) {
    AdminCapability::end(AdminCapability::current() ? AdminCapability::current()->token
                                                    : QString());
    startClient(AdminChannelTimings{}.scaledDown(10), std::nullopt, std::nullopt);
    ASSERT_TRUE(waitForState("disconnected: Managed Bridge is not running"));

    const QString withoutCertificate = AdminCapability::begin(std::nullopt);
    ASSERT_TRUE(waitForState("disconnected: Managed Bridge identity unavailable"));
    AdminCapability::end(withoutCertificate);

    const QString token = AdminCapability::begin(certificateOf(sharedIdentityLine()));
    engine_ = std::make_unique<FakeEngineProcess>(sharedIdentityLine(), token, nlohmann::json::object());
    ASSERT_TRUE(engine_->started());
    AdminChannelClient::Options options;
    options.port = engine_->port();
    options.timings = AdminChannelTimings{}.scaledDown(10);
    client_ = std::make_unique<AdminChannelClient>(options);
    client_->start([this](const AdminSnapshot& snapshot) { snapshots_.push_back(snapshot); }, {},
                   {});
    EXPECT_TRUE(waitUntil([&] { return !snapshots_.empty(); }));
    AdminCapability::end(token);
}

// The owner going away waits only a bounded time for a busy session thread and never destroys it
// running: the thread ends on its own later, and nothing reaches the owner's handlers any more.
TEST_F(ChannelTest, DestroyingTheClientWhileItsThreadIsBusyNeitherBlocksNorAborts) {
    struct Gate {
        std::atomic<bool> entered{false};
        std::atomic<bool> released{false};
    };
    auto gate = std::make_shared<Gate>();
    // The certificate check asks for the time on the session's thread: hold it there.
    now_ = [gate] {
        gate->entered = true;
        for (int i = 0; i < 1000 && !gate->released; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return QDateTime::currentDateTimeUtc();
    };
    startEngine(nlohmann::json::object());
    startClient();
    ASSERT_TRUE(waitUntil([&] { return gate->entered.load(); }));
    const std::size_t statesBefore = states_.size();
    QElapsedTimer clock;
    clock.start();
    client_.reset();
    EXPECT_LT(clock.elapsed(), 2000);  // the scaled shutdown wait is 400 ms
    EXPECT_TRUE(adminThreadRunning());
    gate->released = true;
    EXPECT_TRUE(waitUntil([] { return !adminThreadRunning(); }, 5s));
    EXPECT_EQ(states_.size(), statesBefore);
}

// The authentication deadline runs on a precise timer: the default kind, for intervals of 2 s
// and more, may fire up to 5 % early.
TEST_F(ChannelTest, TheAuthenticationDeadlineNeverFiresBeforeItsFigure) {
    startEngine({{"authenticate", "never"}});
    startClient(AdminChannelTimings{});
    ASSERT_TRUE(waitForState("disconnected: Bridge authentication timed out"));
    EXPECT_GE(*firstTime("disconnected: Bridge authentication timed out"), 3000);
}

}  // namespace
}  // namespace norv
