#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "midi_helper/helper_app.h"
#include "midi_helper/json_output.h"
#include "midi_helper/memory_midi_port.h"

namespace norv {
namespace {

// A MIDI server that hangs when the client opens, until the test lets it go on.
class HangingPort : public MemoryMidiPort {
public:
    int openClient(const std::string& name) override
    {
        std::unique_lock guard(lock);
        resumed.wait_for(guard, std::chrono::seconds(10), [this] { return resume; });
        return MemoryMidiPort::openClient(name);
    }
    void letGo()
    {
        std::lock_guard guard(lock);
        resume = true;
        resumed.notify_all();
    }

    std::mutex lock;
    std::condition_variable resumed;
    bool resume = false;
};

TEST(HelperApp, AStartThatTimesOutReportsOneErrorAndNothingOfTheAbandonedWork)
{
    std::mutex lock;
    std::vector<nlohmann::json> lines;
    JsonOutput output([&](const std::string& line, auto) {
        std::lock_guard guard(lock);
        lines.push_back(nlohmann::json::parse(line));
        return true;
    });
    HangingPort port;
    HelperApp app(HelperConfig{}, port, output, std::chrono::milliseconds(1000));
    EXPECT_FALSE(app.start());

    // The server resumes: the abandoned start finishes, then a ping shows the loop is free again.
    port.letGo();
    app.handleLine("ping");
    app.shutdown();
    EXPECT_FALSE(app.leftWorkRunning());
    ASSERT_TRUE(output.flush(std::chrono::seconds(5)));
    std::lock_guard guard(lock);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (nlohmann::json{{"type", "error"}, {"message", "start-up did not finish in time"}}));
    EXPECT_EQ(lines[1]["type"], "pong");
}

} // namespace
} // namespace norv
