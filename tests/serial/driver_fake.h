#pragma once
// The test plays the port's driver for what a pseudo-terminal cannot show: a line whose output
// does not drain (a pseudo-terminal's output queue is always empty) and a driver that takes a
// block in small parts without ever making the writer wait. The test program's link redirects
// the system calls the serial library makes (comm_test_posix.cpp, comm_test_win32.cpp); they
// go on unchanged unless a test drives the port.

#include <atomic>
#include <cstddef>
#include <string>

namespace orv::test::driver {

extern std::atomic<int> OutputQueued; // >= 0: the output-queue count the port reports
extern std::atomic<bool> TakeInParts; // writes take 16 bytes each and never make one wait
extern std::atomic<bool> Stopping;    // the test is about to stop the component
extern std::atomic<size_t> PartsWritten;

// The port StartComm opened, by its path.
void Drive(const std::string& port);
void Release();
bool WaitForParts(size_t n);

// For the redirected calls. A write on the driven port while TakeInParts: counts the part and
// holds the first until the component has signalled its stop, so that the rest of the block
// is left to the writer's own look at the signal. Returns the count the write takes.
size_t TakePart(size_t count);
// A signal call (on POSIX a write, on Windows SetEvent) has succeeded: while Stopping, the first
// is StopComm's stop signal.
void Signalled();

// The platform's side: which device is driven.
void DriveDevice(const std::string& port);
void ReleaseDevice();

} // namespace orv::test::driver
