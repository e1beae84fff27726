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

std::vector<std::string> pathsOf(const AdminFrameReader::Outcome& outcome) {
    std::vector<std::string> paths;
    for (const auto& frame : outcome.frames) paths.push_back(frame.path);
    return paths;
}

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
    const QByteArray first = frameOf(R"({"path":"/one","args":[]})");
    const QByteArray second = frameOf(R"({"args":[1],"path":"/two"})");
    const QByteArray stream = kAuthenticated + first + second;

    // Byte by byte: each frame is handed on exactly when its last byte arrives.
    std::vector<std::string> seen;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        reader.append(stream.mid(i, 1));
        const auto outcome = reader.consume();
        ASSERT_FALSE(outcome.failure.has_value());
        for (const auto& path : pathsOf(outcome)) seen.push_back(path);
        if (i == kAuthenticated.size() + first.size() - 2) {
            EXPECT_TRUE(seen.empty());
        }
        if (i == kAuthenticated.size() + first.size() - 1) {
            EXPECT_EQ(seen, std::vector<std::string>{"/one"});
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"/one", "/two"}));
    EXPECT_TRUE(reader.authenticated());

    // Several frames and the start of the next in one read.
    reader.append(first + second + first.left(3));
    auto outcome = reader.consume();
    EXPECT_EQ(pathsOf(outcome), (std::vector<std::string>{"/one", "/two"}));
    EXPECT_EQ(outcome.frames[1].body["args"], nlohmann::json::array({1}));
    reader.append(first.mid(3));
    EXPECT_EQ(pathsOf(reader.consume()), std::vector<std::string>{"/one"});
}

TEST(AdminFrameReader, LengthLimits) {
    auto outcomeOf = [](quint32 length, const QByteArray& tail) {
        AdminFrameReader reader;
        reader.append(kAuthenticated + AdminFrameCodec::lengthPrefix(length) + tail);
        return reader.consume();
    };
    EXPECT_EQ(outcomeOf(0, {}).failure, AdminFrameReader::kInvalidResponse);
    EXPECT_EQ(outcomeOf(AdminFrameCodec::kMaxBodyBytes + 1, {}).failure,
              AdminFrameReader::kInvalidResponse);

    // Exactly the limit is accepted: a JSON object padded with spaces to 1,048,576 bytes.
    std::string body = R"({"path":"/big","args":[]})";
    body.append(AdminFrameCodec::kMaxBodyBytes - body.size(), ' ');
    AdminFrameReader reader;
    reader.append(kAuthenticated + AdminFrameCodec::lengthPrefix(AdminFrameCodec::kMaxBodyBytes));
    EXPECT_FALSE(reader.consume().failure.has_value());  // waits for the body
    reader.append(QByteArray::fromStdString(body));
    const auto outcome = reader.consume();
    EXPECT_FALSE(outcome.failure.has_value());
    EXPECT_EQ(pathsOf(outcome), std::vector<std::string>{"/big"});
}

TEST(AdminFrameReader, AuthenticationGateAndUnreadableBodies) {
    {
        // A well-formed snapshot before authentication closes the channel.
        AdminFrameReader reader;
        reader.append(frameOf(R"({"path":"/admin/snapshot","args":[]})") + kAuthenticated);
        const auto outcome = reader.consume();
        EXPECT_EQ(outcome.failure, AdminFrameReader::kAuthenticationRequired);
        EXPECT_TRUE(outcome.frames.empty());
        EXPECT_FALSE(reader.authenticated());
    }
    for (const char* body :
         {R"({"args":[]})", R"({"path":7})", "[1]", "not json", "{\"path\":\"\xff\"}"}) {
        AdminFrameReader reader;
        reader.append(kAuthenticated + frameOf(body));
        EXPECT_EQ(reader.consume().failure, AdminFrameReader::kUnreadableResponse) << body;
    }
    {
        // A second "/admin/authenticated" is an ordinary frame once authenticated;
        // frames before a bad one are kept, in order.
        AdminFrameReader reader;
        reader.append(kAuthenticated + kAuthenticated + frameOf(R"({"path":"/x"})") +
                      frameOf("{}"));
        const auto outcome = reader.consume();
        EXPECT_EQ(pathsOf(outcome), (std::vector<std::string>{"/admin/authenticated", "/x"}));
        EXPECT_EQ(outcome.failure, AdminFrameReader::kUnreadableResponse);
        reader.reset();
        EXPECT_FALSE(reader.authenticated());
    }
}

}  // namespace
}  // namespace norv
