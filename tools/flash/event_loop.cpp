#include "event_loop.h"

#include <algorithm>

namespace orv {

void TEventLoop::Post(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        posted_.push_back(std::move(work));
    }
    arrived_.notify_one();
}

bool TEventLoop::RunPosted(size_t count, const std::function<bool()>& done) {
    // One at a time from the shared queue, so that a nested loop started by one piece of work
    // takes the next ones in their order.
    for (; count > 0; --count) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (posted_.empty())
                break;
            work = std::move(posted_.front());
            posted_.pop_front();
        }
        work();
        if (done())
            return true;
    }
    return false;
}

bool TEventLoop::Registered(const TLoopTimer* timer) const {
    return std::find(timers_.begin(), timers_.end(), timer) != timers_.end();
}

bool TEventLoop::FireDueTimers(const std::function<bool()>& done) {
    const Clock::time_point now = Clock::now();
    std::vector<TLoopTimer*> due;
    for (TLoopTimer* t : timers_)
        if (t->enabled_ && t->due_ <= now)
            due.push_back(t);
    std::sort(due.begin(), due.end(),
              [](const TLoopTimer* a, const TLoopTimer* b) { return a->due_ < b->due_; });
    for (TLoopTimer* t : due) {
        // An earlier handler may have stopped, restarted or destroyed this one.
        if (!Registered(t) || !t->enabled_ || t->due_ > now)
            continue;
        // The next tick keeps the phase; ticks missed while a handler blocked are not made up.
        t->due_ += t->interval_;
        if (t->due_ <= now)
            t->due_ = now + t->interval_;
        t->onTimer_();
        if (done())
            return true;
    }
    return false;
}

void TEventLoop::RunUntil(const std::function<bool()>& done) {
    while (!done()) {
        // A round: the work posted so far, then the timers that are due, as a window system
        // delivers posted messages before timer ticks and never starves either.
        size_t count = 0;
        {
            std::lock_guard<std::mutex> hold(lock_);
            count = posted_.size();
        }
        if (RunPosted(count, done) || FireDueTimers(done))
            return;

        std::optional<Clock::time_point> next;
        for (const TLoopTimer* t : timers_)
            if (t->enabled_ && (!next || t->due_ < *next))
                next = t->due_;
        std::unique_lock<std::mutex> hold(lock_);
        const auto ready = [this] { return !posted_.empty(); };
        if (next)
            arrived_.wait_until(hold, *next, ready);
        else
            arrived_.wait(hold, ready);
    }
}

TLoopTimer::TLoopTimer(TEventLoop& loop, std::function<void()> onTimer)
    : loop_(loop), onTimer_(std::move(onTimer)) {
    loop_.timers_.push_back(this);
}

TLoopTimer::~TLoopTimer() {
    auto& timers = loop_.timers_;
    timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
}

void TLoopTimer::Enable() {
    if (enabled_)
        return;
    enabled_ = true;
    due_ = TEventLoop::Clock::now() + interval_;
}

void TLoopTimer::SetInterval(int ms) {
    interval_ = std::chrono::milliseconds(std::max(ms, 0));
    if (enabled_)
        due_ = TEventLoop::Clock::now() + interval_;
}

bool TLoopCommSink::Post(CommNotification& note) {
    TQueueCommSink::Post(note);
    // The wake-up delivers what is queued by then; a later one may find nothing left.
    loop_.Post([this] { Pump(); });
    return true;
}

} // namespace orv
