#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "midi_helper/json_output.h"

namespace norv {
namespace {

struct Captured {
    std::mutex lock;
    std::vector<std::string> lines;
};

JsonOutput::LineSink capture(Captured& captured)
{
    return [&captured](const std::string& line, auto) {
        std::lock_guard guard(captured.lock);
        captured.lines.push_back(line);
        return true;
    };
}

nlohmann::json event(const std::string& type, int n)
{
    return {{"type", type}, {"n", n}};
}

TEST(JsonOutput, FullQueueDropsMidiFirstThenTheOldest)
{
    Captured captured;
    JsonOutput output(capture(captured));
    output.holdWriterForTesting(true);

    // 128 midi events waiting: another midi event is dropped, the list stays as it is.
    for (int i = 0; i < 128; ++i)
        output.enqueue(event("midi", i));
    output.enqueue(event("midi", 999));
    EXPECT_EQ(output.dropped(), 1);
    auto pending = output.pendingForTesting();
    ASSERT_EQ(pending.size(), 128u);
    EXPECT_EQ(pending.back()["n"], 127);

    // A pong evicts the oldest midi event and is appended.
    output.enqueue(event("pong", 0));
    pending = output.pendingForTesting();
    EXPECT_EQ(output.dropped(), 2);
    EXPECT_EQ(pending.front()["n"], 1);
    EXPECT_EQ(pending.back()["type"], "pong");
}

TEST(JsonOutput, OnlyMidiEventIsEvictedBeforeOthersAndOldestGoesWithoutMidi)
{
    Captured captured;
    JsonOutput output(capture(captured));
    output.holdWriterForTesting(true);
    for (int i = 0; i < 128; ++i)
        output.enqueue(event(i == 4 ? "midi" : "error", i));
    output.enqueue(event("pong", 128));
    auto pending = output.pendingForTesting();
    EXPECT_EQ(output.dropped(), 1);
    for (const auto& e : pending)
        EXPECT_NE(e["type"], "midi");
    EXPECT_EQ(pending.front()["n"], 0);

    output.enqueue(event("error", 129)); // no midi left: the oldest goes
    pending = output.pendingForTesting();
    EXPECT_EQ(pending.front()["n"], 1);
    EXPECT_EQ(output.dropped(), 2);

    output.holdWriterForTesting(false);
    ASSERT_TRUE(output.flush(std::chrono::seconds(5)));
    std::lock_guard guard(captured.lock);
    ASSERT_EQ(captured.lines.size(), 128u);
    EXPECT_EQ(captured.lines.back(), R"({"n":129,"type":"error"})");
}

TEST(JsonOutput, WritesSortedCompactLinesAndReplacesInvalidUtf8)
{
    Captured captured;
    JsonOutput output(capture(captured));
    output.enqueue({{"type", "ready"}, {"source", std::string("N\xff\xfeorv")}, {"a", 1}, {"b", 0.5}, {"warnings", nlohmann::json::array()}});
    output.enqueue({{"type", "monitor"}, {"enabled", true}});
    ASSERT_TRUE(output.flush(std::chrono::seconds(5)));
    std::lock_guard guard(captured.lock);
    ASSERT_EQ(captured.lines.size(), 2u);
    EXPECT_EQ(captured.lines[0], "{\"a\":1,\"b\":0.5,\"source\":\"N\xEF\xBF\xBD\xEF\xBF\xBDorv\",\"type\":\"ready\",\"warnings\":[]}");
    EXPECT_EQ(captured.lines[1], R"({"enabled":true,"type":"monitor"})");
}

TEST(JsonOutput, FlushIsBoundedWhenTheReaderStalls)
{
    std::atomic<bool> release{false};
    JsonOutput output([&](const std::string&, std::chrono::steady_clock::time_point deadline) {
        while (!release.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return release.load();
    });
    output.enqueue(event("pong", 1));
    output.enqueue(event("pong", 2));
    auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(output.flush(std::chrono::milliseconds(100))); // gives up on the stalled lines
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    output.enqueue(event("pong", 3));
    release = true;
    EXPECT_TRUE(output.flush(std::chrono::seconds(12)));
}

} // namespace
} // namespace norv
