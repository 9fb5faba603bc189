#pragma once
// orv-flash's event loop: the one thread on which the engines, their timers and the serial
// port's notifications run, as they run on the windows' message loop. Standard library only,
// so the same loop serves every platform.

#include "protocol/link.h"
#include "serial/queue_sink.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace orv {

class TLoopTimer;

class TEventLoop {
public:
    using Clock = std::chrono::steady_clock;

    TEventLoop() = default;
    TEventLoop(const TEventLoop&) = delete;
    TEventLoop& operator=(const TEventLoop&) = delete;

    // From any thread: work runs on the loop's thread, after everything posted before it.
    void Post(std::function<void()> work);

    // Runs posted work and due timers until done() holds, checked after each piece of work.
    // A handler may run a nested loop (a question asked in the middle of a step): everything
    // goes on meanwhile, in the same order.
    void RunUntil(const std::function<bool()>& done);

private:
    friend class TLoopTimer;
    bool RunPosted(size_t count, const std::function<bool()>& done);
    bool FireDueTimers(const std::function<bool()>& done);
    bool Registered(const TLoopTimer* timer) const;

    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> posted_; // guarded by lock_
    std::vector<TLoopTimer*> timers_;          // the loop's thread only
};

// A window timer on the loop (the engines' ITimer): while enabled it fires every Interval ms.
// Enabling an enabled timer keeps its phase; a new interval restarts a running timer, as a
// window timer does. Used on the loop's thread only.
class TLoopTimer final : public ITimer {
public:
    TLoopTimer(TEventLoop& loop, std::function<void()> onTimer);
    ~TLoopTimer() override;
    TLoopTimer(const TLoopTimer&) = delete;
    TLoopTimer& operator=(const TLoopTimer&) = delete;

    void Enable() override;
    void Disable() override { enabled_ = false; }
    bool Enabled() const override { return enabled_; }
    void SetInterval(int ms) override;

private:
    friend class TEventLoop;
    TEventLoop& loop_;
    std::function<void()> onTimer_;
    std::chrono::milliseconds interval_{0};
    bool enabled_ = false;
    TEventLoop::Clock::time_point due_;
};

// The serial port's notifications, handed to their component on the loop's thread in posting
// order: the plain queue, pumped by a wake-up posted with each notification. Must outlive the
// components it serves (their destructors discard what is queued for them).
class TLoopCommSink final : public TQueueCommSink {
public:
    explicit TLoopCommSink(TEventLoop& loop) : loop_(loop) {}
    bool Post(CommNotification& note) override; // from the port's threads

private:
    TEventLoop& loop_;
};

} // namespace orv
