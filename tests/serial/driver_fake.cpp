#include "driver_fake.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace orv::test::driver {

std::atomic<int> OutputQueued{-1};
std::atomic<bool> TakeInParts{false};
std::atomic<bool> Stopping{false};
std::atomic<size_t> PartsWritten{0};

namespace {
std::mutex Lock;
std::condition_variable Changed;
bool StopSignalled = false;
} // namespace

void Drive(const std::string& port) {
    std::lock_guard<std::mutex> lock(Lock);
    StopSignalled = false;
    PartsWritten = 0;
    DriveDevice(port);
}

void Release() {
    ReleaseDevice();
    OutputQueued = -1;
    TakeInParts = false;
    Stopping = false;
}

bool WaitForParts(size_t n) {
    std::unique_lock<std::mutex> lock(Lock);
    return Changed.wait_for(lock, std::chrono::seconds(5), [&] { return PartsWritten >= n; });
}

size_t TakePart(size_t count) {
    std::unique_lock<std::mutex> lock(Lock);
    ++PartsWritten;
    Changed.notify_all();
    Changed.wait_for(lock, std::chrono::seconds(10), [] { return StopSignalled; });
    return std::min<size_t>(count, 16);
}

void Signalled() {
    if (!Stopping)
        return;
    std::lock_guard<std::mutex> lock(Lock);
    StopSignalled = true;
    Changed.notify_all();
}

} // namespace orv::test::driver
