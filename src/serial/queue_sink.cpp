#include "serial/queue_sink.h"

namespace orv {

bool TQueueCommSink::Post(CommNotification& note) {
    {
        std::lock_guard<std::mutex> lock(Lock);
        Queue.push_back(std::move(note));
    }
    Arrived.notify_all();
    return true;
}

void TQueueCommSink::Discard(TComm* target) {
    std::deque<CommNotification> kept, dropped; // released after the lock
    std::lock_guard<std::mutex> lock(Lock);
    for (auto& note : Queue)
        (note.Target == target ? dropped : kept).push_back(std::move(note));
    Queue.swap(kept);
}

bool TQueueCommSink::DeliverOne() {
    CommNotification note;
    {
        std::lock_guard<std::mutex> lock(Lock);
        if (Queue.empty())
            return false;
        note = std::move(Queue.front());
        Queue.pop_front();
    }
    if (note.Target)
        note.Target->Deliver(note);
    return true;
}

size_t TQueueCommSink::Pump() {
    size_t n = 0;
    while (DeliverOne())
        ++n;
    return n;
}

size_t TQueueCommSink::WaitAndPump(std::chrono::milliseconds timeout) {
    {
        std::unique_lock<std::mutex> lock(Lock);
        Arrived.wait_for(lock, timeout, [this] { return !Queue.empty(); });
    }
    return Pump();
}

bool TQueueCommSink::PumpUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        Pump();
        if (done())
            return true;
        std::unique_lock<std::mutex> lock(Lock);
        if (!Arrived.wait_until(lock, end, [this] { return !Queue.empty(); }))
            break;
    }
    Pump();
    return done();
}

size_t TQueueCommSink::Pending() const {
    std::lock_guard<std::mutex> lock(Lock);
    return Queue.size();
}

} // namespace orv
