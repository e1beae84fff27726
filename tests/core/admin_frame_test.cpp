#include "core/admin_frame_codec.h"
#include "core/admin_frame_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace norv {
namespace {

QByteArray frameOf(const std::string& body) {
    return AdminFrameCodec::lengthPrefix(static_cast<quint32>(body.size())) +
           QByteArray::fromStdString(body);
}

const QByteArray kAuthenticated = frameOf(R"({"path":"/admin/authenticated","args":[]})");

QByteArray resultFrame(const std::string& id) {
    return frameOf(R"({"path":"/admin/action/result","args":[{"request_id":")" + id +
                   R"(","ok":true}]})");
}

// The request ids of the action results handed on.
std::vector<std::string> idsOf(const AdminFrameReader::Outcome& outcome) {
    std::vector<std::string> ids;
    for (const auto& message : outcome.messages)
        if (const auto* result = std::get_if<AdminFrameReader::ActionResult>(&message))
            ids.push_back(result->requestId);
    return ids;
}

const std::string kEmptySnapshot =
    R"({"bridge":{},"devices":[],"live_tracks":[],"midi_events":[]})";

TEST(AdminFrameCodec, WritesLengthPrefixedCompactJson) {
    const auto frame =
        AdminFrameCodec::encode("/admin/device/access", {"dev-1", "allow", 1.5, nullptr},
                                QStringLiteral("0F1E2D3C-0000-4000-8000-000000000000"));
    ASSERT_TRUE(frame.has_value());
    const QByteArray body = frame->mid(4);
    EXPECT_EQ(frame->left(4), QByteArray::fromHex("000000") + char(body.size()));
    const auto parsed = nlohmann::json::parse(body.toStdString());
    EXPECT_EQ(parsed, (nlohmann::json{{"path", "/admin/device/access"},
                                      {"args", {"dev-1", "allow", 1.5, nullptr}},
                                      {"request_id", "0F1E2D3C-0000-4000-8000-000000000000"}}));
    EXPECT_FALSE(body.contains(' '));

    const auto plain = AdminFrameCodec::encode("/admin/snapshot/request", nlohmann::json::array());
    ASSERT_TRUE(plain.has_value());
    EXPECT_FALSE(nlohmann::json::parse(plain->mid(4).toStdString()).contains("request_id"));
}

TEST(AdminFrameCodec, RefusesBodiesThatCannotBeSentFaithfully) {
    const double inf = std::numeric_limits<double>::infinity();
    // A non-finite number anywhere, however deeply nested, would otherwise go out as null.
    EXPECT_FALSE(AdminFrameCodec::encode("/p", {std::nan("")}).has_value());
    EXPECT_FALSE(AdminFrameCodec::encode("/p", {{{"policy", {{"grace", inf}}}}}).has_value());
    EXPECT_FALSE(AdminFrameCodec::encode("/p", {nlohmann::json::array({1, -inf})}).has_value());
    EXPECT_FALSE(AdminFrameCodec::encode("/p", {std::string("\xff\xfe")}).has_value());

    // The body limit is on the serialised body: {"args":["xxx…"],"path":"/p"}.
    const std::size_t overhead = std::string(R"({"args":[""],"path":"/p"})").size();
    const std::string fits(AdminFrameCodec::kMaxBodyBytes - overhead, 'x');
    const auto atLimit = AdminFrameCodec::encode("/p", {fits});
    ASSERT_TRUE(atLimit.has_value());
    EXPECT_EQ(atLimit->size(), qsizetype(4 + AdminFrameCodec::kMaxBodyBytes));
    EXPECT_FALSE(AdminFrameCodec::encode("/p", {fits + "x"}).has_value());
}

TEST(AdminFrameReader, CutsFramesAcrossAndWithinReads) {
    AdminFrameReader reader;
    const QByteArray first = resultFrame("one");
    const QByteArray second = resultFrame("two");
    const QByteArray stream = kAuthenticated + first + second;

    // Byte by byte: each frame is handed on exactly when its last byte arrives.
    std::vector<std::string> seen;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        reader.append(stream.mid(i, 1));
        const auto outcome = reader.consume();
        ASSERT_FALSE(outcome.failure.has_value());
        for (const auto& id : idsOf(outcome)) seen.push_back(id);
        if (i == kAuthenticated.size() + first.size() - 2) {
            EXPECT_TRUE(seen.empty());
        }
        if (i == kAuthenticated.size() + first.size() - 1) {
            EXPECT_EQ(seen, std::vector<std::string>{"one"});
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(reader.authenticated());

    // Several frames and the start of the next in one read.
    reader.append(first + second + first.left(3));
    EXPECT_EQ(idsOf(reader.consume()), (std::vector<std::string>{"one", "two"}));
    reader.append(first.mid(3));
    EXPECT_EQ(idsOf(reader.consume()), std::vector<std::string>{"one"});
}

TEST(AdminFrameReader, LengthLimits) {
    auto outcomeOf = [](quint32 length) {
        AdminFrameReader reader;
        reader.append(kAuthenticated + AdminFrameCodec::lengthPrefix(length) + "{}");
        return reader.consume();
    };
    EXPECT_EQ(outcomeOf(0).failure, AdminFrameReader::kInvalidResponse);
    EXPECT_EQ(outcomeOf(AdminFrameCodec::kMaxBodyBytes + 1).failure,
              AdminFrameReader::kInvalidResponse);

    // Exactly the limit is accepted: an action result padded with spaces to 1,048,576 bytes.
    std::string body = R"({"path":"/admin/action/result","args":[{"request_id":"big","ok":true}]})";
    body.append(AdminFrameCodec::kMaxBodyBytes - body.size(), ' ');
    AdminFrameReader reader;
    reader.append(kAuthenticated + AdminFrameCodec::lengthPrefix(AdminFrameCodec::kMaxBodyBytes));
    EXPECT_FALSE(reader.consume().failure.has_value());  // waits for the body
    reader.append(QByteArray::fromStdString(body));
    const auto outcome = reader.consume();
    EXPECT_FALSE(outcome.failure.has_value());
    EXPECT_EQ(idsOf(outcome), std::vector<std::string>{"big"});
}

TEST(AdminFrameReader, AuthenticationGate) {
    // A well-formed snapshot before authentication closes the channel.
    AdminFrameReader reader;
    reader.append(frameOf(R"({"path":"/admin/snapshot","args":[)" + kEmptySnapshot + "]}") +
                  kAuthenticated);
    const auto outcome = reader.consume();
    EXPECT_EQ(outcome.failure, AdminFrameReader::kAuthenticationRequired);
    EXPECT_TRUE(outcome.messages.empty());
    EXPECT_FALSE(reader.authenticated());

    // A second "/admin/authenticated" is ignored; reset starts a new connection.
    reader.reset();
    reader.append(kAuthenticated + kAuthenticated + resultFrame("x"));
    EXPECT_EQ(idsOf(reader.consume()), std::vector<std::string>{"x"});
    reader.reset();
    reader.append(resultFrame("y"));
    EXPECT_EQ(reader.consume().failure, AdminFrameReader::kAuthenticationRequired);
}

TEST(AdminFrameReader, DecodesMessagesByPath) {
    AdminFrameReader reader;
    reader.append(kAuthenticated);
    reader.append(frameOf(R"({"path":"/admin/snapshot","args":[]})"));
    reader.append(frameOf(R"({"path":"/admin/snapshot","args":[)" + kEmptySnapshot + "]}"));
    reader.append(frameOf(R"({"path":"/admin/midi-monitor/events","args":[
        {"events":[],"dropped":2,"latest_sequence":9,"reset":false}]})"));
    reader.append(frameOf(R"({"path":"/admin/unknown","args":[1]})"));
    reader.append(frameOf(R"({"path":"/admin/action/result","args":[
        {"request_id":"a","ok":false},
        {"request_id":"b","ok":true}]})"));
    reader.append(frameOf(R"({"path":"/admin/action/result","args":[
        {"REQUEST_ID":"c","ok":true,"error":"ignored","extra":1}]})"));
    reader.append(frameOf(R"({"path":"/admin/action/result","args":[
        {"Request_Id":"d","ok":false,"error":"Name taken"}]})"));
    const auto outcome = reader.consume();
    ASSERT_FALSE(outcome.failure.has_value());
    ASSERT_EQ(outcome.messages.size(), 5u);
    EXPECT_TRUE(std::holds_alternative<AdminSnapshot>(outcome.messages[0]));
    ASSERT_TRUE(std::holds_alternative<MidiMonitorBatch>(outcome.messages[1]));
    EXPECT_EQ(std::get<MidiMonitorBatch>(outcome.messages[1]).latestSequence, 9);
    using Result = AdminFrameReader::ActionResult;
    EXPECT_EQ(std::get<Result>(outcome.messages[2]), (Result{"a", false, std::nullopt}));
    EXPECT_EQ(std::get<Result>(outcome.messages[3]), (Result{"c", true, "ignored"}));
    EXPECT_EQ(std::get<Result>(outcome.messages[4]), (Result{"d", false, "Name taken"}));
}

TEST(AdminFrameReader, UnreadableBodiesCloseTheChannel) {
    for (const std::string body : {
             R"({"args":[]})",
             R"({"path":7})",
             "[1]",
             "not json",
             "{\"path\":\"\xff\"}",
             R"({"path":"/admin/snapshot","args":[{"bridge":{}}]})",
             R"({"path":"/admin/snapshot"})",
             R"({"path":"/admin/midi-monitor/events","args":[{"events":[]}]})",
             R"({"path":"/admin/action/result","args":[{"ok":true}]})",
             R"({"path":"/admin/action/result","args":[{"request_id":"a","ok":1}]})",
             // A bad second element fails the frame even though only the first is used.
             R"({"path":"/admin/action/result","args":[{"request_id":"a","ok":true},{}]})",
         }) {
        AdminFrameReader reader;
        reader.append(kAuthenticated + resultFrame("before") + frameOf(body) +
                      resultFrame("after"));
        const auto outcome = reader.consume();
        EXPECT_EQ(outcome.failure, AdminFrameReader::kUnreadableResponse) << body;
        EXPECT_EQ(idsOf(outcome), std::vector<std::string>{"before"}) << body;
    }
}

}  // namespace
}  // namespace norv
