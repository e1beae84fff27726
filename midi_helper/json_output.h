#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

namespace norv {

// The helper's standard output: one compact JSON object per line, keys sorted, written in order by
// a writer thread of its own. At most 128 events wait; when full, monitored MIDI gives way first.
class JsonOutput {
public:
    static constexpr size_t kCapacity = 128;

    // Receives each finished line (without its line feed). Returns false when the line could not be
    // written within `deadline`; the writer then goes on with the next one.
    using LineSink = std::function<bool(const std::string& line,
                                        std::chrono::steady_clock::time_point deadline)>;

    // Writes to the file descriptor (standard output by default).
    explicit JsonOutput(int fd = 1);
    explicit JsonOutput(LineSink sink);
    ~JsonOutput();

    JsonOutput(const JsonOutput&) = delete;
    JsonOutput& operator=(const JsonOutput&) = delete;

    // Callable from any thread; never blocks on output. `event` must be an object with a text
    // "type".
    void enqueue(nlohmann::json event);

    // Events dropped or evicted so far.
    int64_t dropped() const;

    // Waits until every waiting event is written or `bound` has passed; true only when all were
    // written, false when one was still waiting or given up on a stalled reader.
    bool flush(std::chrono::milliseconds bound);

    // Serialises one event; invalid UTF-8 in texts is replaced, never thrown. Empty on failure.
    static std::string serialise(const nlohmann::json& event);

    // For tests: the waiting events, oldest first, while the writer is held back.
    std::deque<nlohmann::json> pendingForTesting() const;
    void holdWriterForTesting(bool hold);

private:
    struct Pending {
        nlohmann::json event;
        bool midi;
    };

    void writerLoop();

    LineSink sink_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Pending> pending_;
    int64_t dropped_ = 0;
    bool writing_ = false;
    bool stopping_ = false;
    bool held_ = false;
    std::chrono::steady_clock::time_point flushDeadline_ =
        std::chrono::steady_clock::time_point::max();
    uint64_t flushSerial_ = 0;  // the flush waiting now, 0 when none
    uint64_t flushCount_ = 0;
    bool lostDuringFlush_ = false;  // a line the current flush waits for was given up
    std::thread writer_;
};

}  // namespace norv
