#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>
#include <unordered_map>
#include <vector>

#include "midi_helper/scheduler.h"
#include "midi_helper/unique_fd.h"

namespace norv {

class EventLoop;

// A readable-event registration; unregisters when destroyed. Does not own the descriptor.
class FdWatch {
public:
    FdWatch() = default;
    FdWatch(EventLoop* loop, uint64_t id) : loop_(loop), id_(id) {}
    ~FdWatch() { reset(); }
    FdWatch(FdWatch&& other) noexcept
        : loop_(std::exchange(other.loop_, nullptr)), id_(std::exchange(other.id_, 0)) {}
    FdWatch& operator=(FdWatch&& other) noexcept;
    FdWatch(const FdWatch&) = delete;
    FdWatch& operator=(const FdWatch&) = delete;

    void reset();
    explicit operator bool() const { return loop_ != nullptr; }

private:
    EventLoop* loop_ = nullptr;
    uint64_t id_ = 0;
};

// One thread's event loop: epoll for descriptors, a timer heap on CLOCK_MONOTONIC behind one
// timerfd, and an eventfd for work posted from other threads. Everything but `post`, `runSync`
// and `stop` must be called on the loop's own thread (or before `run`).
class EventLoop : public Scheduler {
public:
    EventLoop();
    ~EventLoop() override;

    uint64_t nowNs() const override;
    double wallSeconds() const override;
    TimerId schedule(uint64_t delayNs, std::function<void()> callback) override;
    void cancel(TimerId id) override;

    // Level-triggered: `onReadable` runs while the descriptor has data.
    FdWatch watch(int fd, std::function<void()> onReadable);

    // Runs `hook` when `wanted` is set and the loop is about to sleep with nothing ready, once
    // before each such sleep; the hook clears `wanted` when it is done. `wanted` may be set from
    // a signal handler.
    void setIdleHook(const std::atomic<bool>* wanted, std::function<void()> hook) {
        idleWanted_ = wanted;
        idleHook_ = std::move(hook);
    }

    // Runs until `stop`.
    void run();
    void stop();
    void post(std::function<void()> work);
    // Runs `work` on the loop and waits for it at most `bound`. False when the loop did not run it
    // in time (the work may still run later) or has stopped.
    bool runSync(std::function<void()> work, std::chrono::milliseconds bound);

    bool onLoopThread() const { return std::this_thread::get_id() == loopThread_.load(); }

    static uint64_t monotonicNs();

private:
    friend class FdWatch;
    void unwatch(uint64_t id);
    void armTimerFd();
    void runDueTimers();
    void runPosted();

    UniqueFd epoll_;
    UniqueFd timerFd_;
    UniqueFd wakeFd_;
    std::atomic<std::thread::id> loopThread_{};
    std::atomic<bool> stopping_{false};

    struct Watched {
        int fd;
        std::shared_ptr<std::function<void()>> callback;
    };
    uint64_t nextWatchId_ = 1;
    std::unordered_map<uint64_t, Watched> watches_;

    using Due = std::pair<uint64_t, TimerId>;
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> heap_;
    std::unordered_map<TimerId, std::function<void()>> timers_;
    TimerId nextTimerId_ = 1;
    uint64_t armedFor_ = 0;

    const std::atomic<bool>* idleWanted_ = nullptr;
    std::function<void()> idleHook_;

    std::mutex postLock_;
    std::vector<std::function<void()>> posted_;
};

}  // namespace norv
