#pragma once
// A notification sink for tests and command-line tools: a thread-safe queue that the owning
// thread pumps, handing each notification to its component in posting order.

#include "serial/comm.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace orv {

class TQueueCommSink : public ICommSink {
public:
    ~TQueueCommSink() override = default;

    bool Post(CommNotification& note) override;
    void Discard(TComm* target) override;

    // Delivers what is queued, one at a time, on the calling thread; handlers may pump again.
    // Returns the number delivered.
    size_t Pump();
    // Waits up to timeout for a notification, then pumps. Returns the number delivered.
    size_t WaitAndPump(std::chrono::milliseconds timeout);
    // Pumps until done() holds or timeout passes; returns done().
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    size_t Pending() const;

private:
    bool DeliverOne();

    mutable std::mutex Lock;
    std::condition_variable Arrived;
    std::deque<CommNotification> Queue;
};

} // namespace orv
