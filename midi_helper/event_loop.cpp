#include "midi_helper/event_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <stdexcept>

namespace norv {
namespace {

constexpr uint64_t kTimerTag = 0;
constexpr uint64_t kWakeTag = UINT64_MAX;

void drain(int fd) {
    uint64_t value;
    while (::read(fd, &value, sizeof value) > 0) {
    }
}

}  // namespace

FdWatch& FdWatch::operator=(FdWatch&& other) noexcept {
    if (this != &other) {
        reset();
        loop_ = std::exchange(other.loop_, nullptr);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void FdWatch::reset() {
    if (loop_) loop_->unwatch(id_);
    loop_ = nullptr;
    id_ = 0;
}

EventLoop::EventLoop()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      timerFd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!epoll_ || !timerFd_ || !wakeFd_) throw std::runtime_error("event loop set-up failed");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kTimerTag;
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, timerFd_.get(), &ev);
    ev.data.u64 = kWakeTag;
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wakeFd_.get(), &ev);
}

EventLoop::~EventLoop() = default;

uint64_t EventLoop::monotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000'000ull + uint64_t(ts.tv_nsec);
}

uint64_t EventLoop::nowNs() const { return monotonicNs(); }

double EventLoop::wallSeconds() const {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

Scheduler::TimerId EventLoop::schedule(uint64_t delayNs, std::function<void()> callback) {
    TimerId id = nextTimerId_++;
    timers_.emplace(id, std::move(callback));
    heap_.emplace(monotonicNs() + delayNs, id);
    armTimerFd();
    return id;
}

void EventLoop::cancel(TimerId id) {
    // The heap entry stays until it surfaces; without its callback it does nothing.
    timers_.erase(id);
}

FdWatch EventLoop::watch(int fd, std::function<void()> onReadable) {
    uint64_t id = nextWatchId_++;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = id;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) return {};
    watches_.emplace(id,
                     Watched{fd, std::make_shared<std::function<void()>>(std::move(onReadable))});
    return FdWatch(this, id);
}

void EventLoop::unwatch(uint64_t id) {
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, it->second.fd, nullptr);
    watches_.erase(it);
}

void EventLoop::armTimerFd() {
    while (!heap_.empty() && !timers_.count(heap_.top().second)) heap_.pop();
    uint64_t due = heap_.empty() ? 0 : heap_.top().first;
    if (due == armedFor_) return;
    armedFor_ = due;
    itimerspec when{};
    if (due != 0) {
        when.it_value.tv_sec = time_t(due / 1'000'000'000ull);
        when.it_value.tv_nsec = long(due % 1'000'000'000ull);
    }
    ::timerfd_settime(timerFd_.get(), TFD_TIMER_ABSTIME, &when, nullptr);
}

void EventLoop::runDueTimers() {
    drain(timerFd_.get());
    armedFor_ = 0;
    uint64_t now = monotonicNs();
    while (!heap_.empty() && heap_.top().first <= now) {
        TimerId id = heap_.top().second;
        heap_.pop();
        auto it = timers_.find(id);
        if (it == timers_.end()) continue;
        auto callback = std::move(it->second);
        timers_.erase(it);
        callback();
    }
    armTimerFd();
}

void EventLoop::runPosted() {
    drain(wakeFd_.get());
    std::vector<std::function<void()>> work;
    {
        std::lock_guard guard(postLock_);
        work.swap(posted_);
    }
    for (auto& w : work) w();
}

void EventLoop::run() {
    loopThread_ = std::this_thread::get_id();
    epoll_event events[64];
    while (!stopping_.load()) {
        int n = -1;
        if (idleWanted_ && idleWanted_->load(std::memory_order_relaxed)) {
            n = ::epoll_wait(epoll_.get(), events, 64, 0);
            if (n == 0) {
                idleHook_();
                n = ::epoll_wait(epoll_.get(), events, 64, -1);
            }
        } else {
            n = ::epoll_wait(epoll_.get(), events, 64, -1);
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < n && !stopping_.load(); ++i) {
            uint64_t tag = events[i].data.u64;
            if (tag == kTimerTag) {
                runDueTimers();
            } else if (tag == kWakeTag) {
                runPosted();
            } else {
                auto it = watches_.find(tag);
                if (it == watches_.end())
                    continue;  // unregistered by an earlier handler of this round
                auto callback = it->second.callback;
                (*callback)();
            }
        }
    }
    runPosted();  // lets waiting runSync callers return
    loopThread_ = std::thread::id{};
}

void EventLoop::stop() {
    stopping_ = true;
    uint64_t one = 1;
    [[maybe_unused]] auto ignored = ::write(wakeFd_.get(), &one, sizeof one);
}

void EventLoop::post(std::function<void()> work) {
    {
        std::lock_guard guard(postLock_);
        posted_.push_back(std::move(work));
    }
    uint64_t one = 1;
    [[maybe_unused]] auto ignored = ::write(wakeFd_.get(), &one, sizeof one);
}

bool EventLoop::runSync(std::function<void()> work, std::chrono::milliseconds bound) {
    struct State {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        bool ran = false;
    };
    auto state = std::make_shared<State>();
    post([state, work = std::move(work), this] {
        bool ran = false;
        if (!stopping_.load()) {
            work();
            ran = true;
        }
        std::lock_guard guard(state->lock);
        state->finished = true;
        state->ran = ran;
        state->done.notify_all();
    });
    std::unique_lock guard(state->lock);
    return state->done.wait_for(guard, bound, [&] { return state->finished; }) && state->ran;
}

}  // namespace norv
