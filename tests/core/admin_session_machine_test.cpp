#include "core/admin_frame_codec.h"
#include "core/admin_session_machine.h"

#include <gtest/gtest.h>

namespace norv {
namespace {

using namespace std::chrono_literals;
using M = AdminSessionMachine;
using Lines = std::vector<std::string>;

QByteArray frameOf(const std::string& body) {
    return AdminFrameCodec::lengthPrefix(static_cast<quint32>(body.size())) +
           QByteArray::fromStdString(body);
}

const QByteArray kAuthenticated = frameOf(R"({"path":"/admin/authenticated","args":[]})");
const QByteArray kSnapshot = frameOf(
    R"({"path":"/admin/snapshot","args":[{"bridge":{},"devices":[],"live_tracks":[],"midi_events":[]}]})");

QByteArray resultFrame(const std::string& id, const std::string& rest) {
    return frameOf(R"({"path":"/admin/action/result","args":[{"request_id":")" + id + "\"" +
                   rest + "}]}");
}

// One line per action, so a transition's effects read as a list.
std::string describe(const M::Action& action) {
    struct {
        std::string operator()(const M::PublishState& a) const {
            const auto& s = a.state;
            if (s == AdminConnectionState::connecting()) return "publish connecting";
            if (s == AdminConnectionState::connected()) return "publish connected";
            return "publish disconnected: " + s.reason();
        }
        std::string operator()(const M::OpenConnection&) const { return "open"; }
        std::string operator()(const M::ArmAuthenticationDeadline& a) const {
            return "arm authentication " + std::to_string(a.attempt);
        }
        std::string operator()(const M::CloseConnection&) const { return "close"; }
        std::string operator()(const M::Write& a) const {
            const auto body = nlohmann::json::parse(a.frame.mid(4).toStdString());
            std::string line = "write " + body["path"].get<std::string>();
            if (body.contains("request_id")) {
                line += ' ';
                line += body["request_id"].get<std::string>();
            }
            return line;
        }
        std::string operator()(const M::StartHeartbeat&) const { return "start heartbeat"; }
        std::string operator()(const M::StopHeartbeat&) const { return "stop heartbeat"; }
        std::string operator()(const M::ScheduleReconnect&) const { return "schedule reconnect"; }
        std::string operator()(const M::ArmConfirmation& a) const {
            return "arm confirmation " + a.id.toStdString();
        }
        std::string operator()(const M::DeliverSnapshot&) const { return "deliver snapshot"; }
        std::string operator()(const M::DeliverBatch&) const { return "deliver batch"; }
        std::string operator()(const M::Complete& a) const {
            return "complete " + a.id.toStdString() + ": " + a.error.value_or("ok").toStdString();
        }
    } visitor;
    return std::visit(visitor, action);
}

// One machine on a virtual clock.
class AdminSessionMachineTest : public ::testing::Test {
protected:
    Lines on(const M::Event& event, std::chrono::milliseconds after = 0ms) {
        now_ += after;
        Lines lines;
        for (const auto& action : machine_.handle(event, now_)) lines.push_back(describe(action));
        return lines;
    }
    // Started, handshaken, authenticated and holding a first snapshot.
    void connect() {
        on(M::Start{});
        on(M::Encrypted{QStringLiteral("token")});
        on(M::Received{kAuthenticated + kSnapshot});
        ASSERT_EQ(machine_.phase(), M::Phase::authenticated);
    }
    M::Request request(const char* id, const char* path = "/admin/device/access") {
        return M::Request{QString::fromLatin1(id), QString::fromLatin1(path), {"dev", "allow"}};
    }

    M machine_{5000ms};
    M::Clock::time_point now_{};
};

TEST_F(AdminSessionMachineTest, ConnectsGreetsAuthenticatesAndRequestsSnapshots) {
    EXPECT_EQ(on(M::Send{QStringLiteral("/admin/x"), nlohmann::json::array()}), Lines{});
    EXPECT_EQ(on(M::Start{}),
              (Lines{"publish connecting", "open", "arm authentication 1"}));
    EXPECT_EQ(machine_.phase(), M::Phase::connecting);
    EXPECT_FALSE(machine_.readsBytes());
    EXPECT_EQ(on(M::Start{}), Lines{});  // once only

    EXPECT_EQ(on(M::Encrypted{QStringLiteral("token")}),
              (Lines{"write /admin/hello", "start heartbeat"}));
    EXPECT_TRUE(machine_.readsBytes());
    // Before the engine confirms the token nothing else is written or handed on.
    EXPECT_EQ(on(M::HeartbeatTick{}, 1000ms), Lines{});
    EXPECT_EQ(on(M::Send{QStringLiteral("/admin/x"), nlohmann::json::array()}), Lines{});
    EXPECT_EQ(on(M::Request{QStringLiteral("r"), QStringLiteral("/p"), nlohmann::json::array()}),
              Lines{"complete r: Bridge unavailable"});

    // Authentication alone publishes nothing; the first snapshot does, after handing it on.
    EXPECT_EQ(on(M::Received{kAuthenticated.left(5)}), Lines{});
    EXPECT_EQ(on(M::Received{kAuthenticated.mid(5)}), Lines{});
    EXPECT_EQ(machine_.phase(), M::Phase::authenticated);
    EXPECT_EQ(on(M::HeartbeatTick{}, 1000ms), Lines{"write /admin/snapshot/request"});
    EXPECT_EQ(on(M::Received{kSnapshot}), (Lines{"deliver snapshot", "publish connected"}));
    EXPECT_EQ(on(M::Send{QStringLiteral("/admin/x"), nlohmann::json::array()}),
              Lines{"write /admin/x"});
    EXPECT_EQ(on(M::AuthenticationDeadline{1}, 1000ms), Lines{});  // authenticated in time
}

TEST_F(AdminSessionMachineTest, AuthenticationDeadlineDropsOnlyItsOwnUnauthenticatedAttempt) {
    const Lines timedOut = {"close", "stop heartbeat",
                            "publish disconnected: Bridge authentication timed out",
                            "schedule reconnect"};
    on(M::Start{});
    EXPECT_EQ(on(M::AuthenticationDeadline{1}, 3000ms), timedOut);  // handshake never finished
    EXPECT_EQ(machine_.phase(), M::Phase::waiting);
    EXPECT_EQ(on(M::Lost{QStringLiteral("late")}), Lines{});  // already waiting

    EXPECT_EQ(on(M::ReconnectDue{}, 1500ms),
              (Lines{"publish connecting", "open", "arm authentication 2"}));
    on(M::Encrypted{QStringLiteral("token")});
    EXPECT_EQ(on(M::AuthenticationDeadline{1}), Lines{});  // the earlier attempt's deadline
    EXPECT_EQ(on(M::AuthenticationDeadline{2}, 3000ms), timedOut);  // greeted, never confirmed
}

TEST_F(AdminSessionMachineTest, AnEngineThatStopsAnsweringIsDroppedAndGreetedAnew) {
    connect();
    EXPECT_EQ(on(M::HeartbeatTick{}, 4999ms), Lines{"write /admin/snapshot/request"});
    EXPECT_EQ(on(M::HeartbeatTick{}, 1ms),
              (Lines{"close", "stop heartbeat", "publish disconnected: Bridge stopped responding",
                     "schedule reconnect"}));
    EXPECT_EQ(on(M::ReconnectDue{}, 1500ms).front(), "publish connecting");
    on(M::Encrypted{QStringLiteral("token")});
    // The new connection starts unauthenticated: a snapshot before "/admin/authenticated" is a
    // protocol failure.
    EXPECT_EQ(on(M::Received{kSnapshot}),
              (Lines{"close", "stop heartbeat",
                     "publish disconnected: Bridge authentication required. Update the managed "
                     "engine.",
                     "schedule reconnect"}));
}

TEST_F(AdminSessionMachineTest, RequestsCompleteExactlyOnceWhicheverOutcomeComesFirst) {
    connect();
    EXPECT_EQ(on(request("a")), (Lines{"write /admin/device/access a", "arm confirmation a"}));
    on(request("b"));
    on(request("c"));
    on(request("d"));
    EXPECT_EQ(on(M::Received{resultFrame("a", R"(,"ok":true)") +
                             resultFrame("b", R"(,"ok":false,"error":"Name taken")") +
                             resultFrame("c", R"(,"ok":false)")}),
              (Lines{"complete a: ok", "complete b: Name taken", "complete c: Action failed"}));
    EXPECT_EQ(on(M::ConfirmationDeadline{QStringLiteral("a")}, 5000ms), Lines{});
    EXPECT_EQ(on(M::ConfirmationDeadline{QStringLiteral("d")}),
              Lines{"complete d: Action not confirmed. Check the Bridge status."});
    EXPECT_EQ(on(M::Received{resultFrame("d", R"(,"ok":true)")}), Lines{});  // too late

    // A body that cannot be encoded fails its own request only.
    on(M::Received{kSnapshot});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(on(M::Request{QStringLiteral("e"), QStringLiteral("/p"), {nan}}),
              Lines{"complete e: Invalid Bridge command"});
    EXPECT_EQ(machine_.phase(), M::Phase::authenticated);

    // A snapshot older than the staleness limit makes the channel unavailable for requests.
    EXPECT_EQ(on(request("f"), 5000ms), Lines{"complete f: Bridge unavailable"});
}

TEST_F(AdminSessionMachineTest, ALossFailsEveryPendingRequestWithItsReasonAndReconnects) {
    connect();
    on(request("a"));
    on(request("b"));
    EXPECT_EQ(on(M::Lost{QStringLiteral("Bridge disconnected")}),
              (Lines{"close", "stop heartbeat", "complete a: Bridge disconnected",
                     "complete b: Bridge disconnected",
                     "publish disconnected: Bridge disconnected", "schedule reconnect"}));
    EXPECT_EQ(on(M::ConfirmationDeadline{QStringLiteral("a")}, 5000ms), Lines{});
    EXPECT_EQ(on(request("c")), Lines{"complete c: Bridge unavailable"});
    EXPECT_EQ(on(M::HeartbeatTick{}), Lines{});
    EXPECT_EQ(on(M::Received{kSnapshot}), Lines{});
    EXPECT_EQ(on(M::ReconnectDue{}, 1500ms).front(), "publish connecting");
    // Credentials missing: the attempt is lost at once, with its reason.
    EXPECT_EQ(on(M::Lost{QStringLiteral("Managed Bridge is not running")}),
              (Lines{"close", "stop heartbeat",
                     "publish disconnected: Managed Bridge is not running",
                     "schedule reconnect"}));
}

TEST_F(AdminSessionMachineTest, MessagesBeforeABadFrameAreHandedOnThenTheChannelCloses) {
    connect();
    const nlohmann::json batch = {{"events", nlohmann::json::array()},
                                  {"dropped", 0},
                                  {"latest_sequence", 7},
                                  {"reset", false}};
    const QByteArray batchFrame = frameOf(
        nlohmann::json{{"path", "/admin/midi-monitor/events"}, {"args", {batch}}}.dump());
    EXPECT_EQ(on(M::Received{batchFrame + kSnapshot + frameOf("{not json")}),
              (Lines{"deliver batch", "deliver snapshot", "publish connected", "close",
                     "stop heartbeat", "publish disconnected: Could not read the Bridge response",
                     "schedule reconnect"}));
}

}  // namespace
}  // namespace norv
