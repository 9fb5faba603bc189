// The Windows side of the port, under Wine: open failures in Windows words, COM numbers from 10
// on, and the port list of the device setup interface.

#include "comm_test.h"
#include "ports_class_win32.h"
#include "serial/port_list.h"
#include "serial/port_name_win32.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <windows.h>

// The driver's part is played through the program's link, which redirects the library's calls
// of WriteFile, ReadFile, GetOverlappedResult, ClearCommError, SetEvent (--wrap) to here.
extern "C" {
extern decltype(&WriteFile) __real___imp_WriteFile;
extern decltype(&ReadFile) __real___imp_ReadFile;
extern decltype(&GetOverlappedResult) __real___imp_GetOverlappedResult;
extern decltype(&ClearCommError) __real___imp_ClearCommError;
extern decltype(&SetEvent) __real___imp_SetEvent;
}

namespace orv::test::driver {

// Windows' own failures, as a buffering driver gives them.
std::atomic<DWORD> FailNextRead{0};      // the next read that brings bytes ends with this error,
                                         // its count reported and its buffer as it was
std::atomic<bool> EmptyReads{false};     // reads end at once with nothing
std::atomic<bool> QueueLookFails{false}; // ClearCommError with a status record fails

namespace {

std::atomic<bool> Driven{false};
std::mutex ReadLock;
LPOVERLAPPED ReadRecord = nullptr; // the reader's last read, with its buffer as it was before
uint8_t* ReadBuffer = nullptr;
Bytes ReadBefore;

// The component's port is the one handle of the test that is a serial port.
bool IsPort(HANDLE handle) {
    DWORD mask = 0;
    return Driven && GetCommMask(handle, &mask);
}

BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID data, DWORD count, LPDWORD written,
                          LPOVERLAPPED record) {
    if (!TakeInParts || !IsPort(handle))
        return __real___imp_WriteFile(handle, data, count, written, record);
    *written = static_cast<DWORD>(TakePart(count));
    return TRUE;
}

// A read that brought bytes fails instead, if due: its count stays, its buffer is put back.
BOOL SpoilRead(LPOVERLAPPED record) {
    std::lock_guard<std::mutex> hold(ReadLock);
    const DWORD error = FailNextRead;
    if (error == 0 || record != ReadRecord)
        return TRUE;
    std::copy(ReadBefore.begin(), ReadBefore.end(), ReadBuffer);
    FailNextRead = 0;
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI FakeReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD count,
                         LPOVERLAPPED record) {
    if (!IsPort(handle))
        return __real___imp_ReadFile(handle, buffer, size, count, record);
    if (EmptyReads) {
        *count = 0;
        return TRUE;
    }
    {
        std::lock_guard<std::mutex> hold(ReadLock);
        ReadRecord = record;
        ReadBuffer = static_cast<uint8_t*>(buffer);
        ReadBefore.assign(ReadBuffer, ReadBuffer + size);
    }
    const BOOL done = __real___imp_ReadFile(handle, buffer, size, count, record);
    return done && *count > 0 ? SpoilRead(record) : done;
}

BOOL WINAPI FakeGetOverlappedResult(HANDLE handle, LPOVERLAPPED record, LPDWORD count, BOOL wait) {
    const BOOL done = __real___imp_GetOverlappedResult(handle, record, count, wait);
    return done && *count > 0 && IsPort(handle) ? SpoilRead(record) : done;
}

BOOL WINAPI FakeClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
    if (QueueLookFails && status && IsPort(handle)) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    const BOOL answered = __real___imp_ClearCommError(handle, errors, status);
    const int queued = OutputQueued;
    if (answered && status && queued >= 0 && IsPort(handle))
        status->cbOutQue = static_cast<DWORD>(queued);
    return answered;
}

BOOL WINAPI FakeSetEvent(HANDLE event) {
    // The thread library may signal events of its own while this one reports.
    static thread_local bool inside = false;
    const BOOL done = __real___imp_SetEvent(event);
    if (done && !inside) {
        inside = true;
        Signalled();
        inside = false;
    }
    return done;
}

} // namespace

void DriveDevice(const std::string&) {
    Driven = true;
}

void ReleaseDevice() {
    Driven = false;
    FailNextRead = 0;
    EmptyReads = false;
    QueueLookFails = false;
}

} // namespace orv::test::driver

extern "C" {
decltype(&WriteFile) __wrap___imp_WriteFile = &orv::test::driver::FakeWriteFile;
decltype(&ReadFile) __wrap___imp_ReadFile = &orv::test::driver::FakeReadFile;
decltype(&GetOverlappedResult) __wrap___imp_GetOverlappedResult =
    &orv::test::driver::FakeGetOverlappedResult;
decltype(&ClearCommError) __wrap___imp_ClearCommError = &orv::test::driver::FakeClearCommError;
decltype(&SetEvent) __wrap___imp_SetEvent = &orv::test::driver::FakeSetEvent;
}

namespace orv::test {
namespace {

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(CommTest, OpenFailuresSayWhatAndWhy) {
    std::string detail;
    Comm.CommName = "";
    EXPECT_EQ(MessageOf(Comm), "Error opening serial port");
    EXPECT_FALSE(Comm.IsOpen());

    Comm.CommName = "COM99";
    EXPECT_EQ(MessageOf(Comm, &detail), "Error opening serial port");
    EXPECT_TRUE(Has(detail, "\\\\.\\COM99: ")) << detail;
    EXPECT_TRUE(Has(detail, "no such port")) << detail;

    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "orv-not-a-port.txt";
    std::ofstream(file) << "text";
    Comm.CommName = file.string();
    EXPECT_EQ(MessageOf(Comm, &detail), "File handle is not a comm handle ");
    EXPECT_TRUE(Has(detail, file.string())) << detail;
    EXPECT_FALSE(Comm.IsOpen());
    std::filesystem::remove(file);

    // A character device that is no serial port has no driver queues to set up.
    Comm.CommName = "NUL";
    EXPECT_EQ(MessageOf(Comm, &detail), "Cannot setup comm buffer");
    EXPECT_FALSE(Comm.IsOpen());

    // What Windows says of a port held by another program, or of a missing driver.
    detail = OpenFailureDetail("\\\\.\\COM3", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Has(detail, "\\\\.\\COM3: ")) << detail;
    EXPECT_TRUE(Has(detail, "Another program holds the port")) << detail;
    detail = OpenFailureDetail("\\\\.\\COM3", ERROR_GEN_FAILURE);
    EXPECT_TRUE(Has(detail, "driver")) << detail;
    EXPECT_TRUE(Has(detail, "Device Manager")) << detail;
}

// A read that did not succeed reports a count, but a buffering driver never copied its bytes:
// nothing of the buffer is delivered, stale or not. A failing look at the output queue counts
// as drained; reads that keep ending with nothing are a hang-up, not a loop.
TEST_F(CommTest, FailedReadsAndQueueLooksDeliverNothingFalse) {
    driver::Drive(Pty.SlavePath);
    StartAndSettle();
    Pty.Write("old");
    ASSERT_TRUE(WaitReceived(3));
    Sink.WaitAndPump(150ms);
    driver::FailNextRead = ERROR_OPERATION_ABORTED; // another program's purge
    Pty.Write("new");
    ASSERT_TRUE(Sink.PumpUntil([] { return driver::FailNextRead == 0; }, 2000ms));
    Sink.WaitAndPump(150ms);
    Pty.Write("more");
    ASSERT_TRUE(WaitReceived(7));
    Sink.WaitAndPump(150ms);
    // What the cancelled read took is lost, as on a real port; what the driver held is not.
    const Bytes all = Received();
    const std::string got(all.begin(), all.end()), rest = got.substr(3, got.size() - 7);
    EXPECT_TRUE(got.starts_with("old") && got.ends_with("more") &&
                std::string("new").ends_with(rest))
        << got;
    EXPECT_EQ(Hangups, 0);

    driver::QueueLookFails = true;
    const uint8_t b = 'w';
    ASSERT_TRUE(Comm.WriteCommData(&b, 1));
    EXPECT_TRUE(Sink.PumpUntil([&] { return Empties == 2; }, 2000ms));
    driver::QueueLookFails = false;
    EXPECT_EQ(Hangups, 0);

    const Bytes before = Received();
    driver::FailNextRead = ERROR_GEN_FAILURE;
    Pty.Write("gone");
    ASSERT_TRUE(Sink.PumpUntil([&] { return Hangups == 1; }, 2000ms));
    EXPECT_EQ(Received(), before);

    Comm.StopComm();
    driver::EmptyReads = true;
    Comm.StartComm();
    EXPECT_TRUE(Sink.PumpUntil([&] { return Hangups == 2; }, 2000ms));
}

// These tests' ports are COM10 and above, which Windows opens only as devices: \\.\COM12.
TEST_F(CommTest, PortsFromComTenOnOpenAsDevices) {
    ASSERT_GE(std::stoi(Pty.SlavePath.substr(3)), 10);
    StartAndSettle();
    EXPECT_EQ(Comm.PortPath(), "\\\\.\\" + Pty.SlavePath);
    Pty.Write("10+");
    EXPECT_TRUE(WaitReceived(3));
}

// The device setup interface of this Wine prefix, with devices of the test's own in the Ports
// class, then the ports only HARDWARE\DEVICEMAP\SERIALCOMM names: each port once, in any case.
TEST(PortList, PortsClassThenTheSerialDeviceMap) {
    TTestPorts ports;
    ASSERT_TRUE(AddTestPort("COM12", "USB-SERIAL CH340"));
    ASSERT_TRUE(AddTestPort("com31", ""));
    ASSERT_TRUE(AddTestPort("LPT1", "Printer Port"));
    ASSERT_TRUE(AddTestPort("COM", "Not a port"));
    for (const char* mapped : {"COM33", "COM12", "COM31"})
        ASSERT_TRUE(MapTestPort(mapped));

    std::vector<std::string> entries = ListPortEntries();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "COM12: (USB-SERIAL CH340)"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "com31"), 1);
    const auto mapOnly = std::find(entries.begin(), entries.end(), "COM33");
    ASSERT_NE(mapOnly, entries.end());
    EXPECT_EQ(std::find(mapOnly, entries.end(), "com31"), entries.end()) << "class ports first";
    for (const std::string& entry : entries) {
        EXPECT_FALSE(entry.rfind("LPT1", 0) == 0) << entry;
        EXPECT_FALSE(entry.rfind("COM:", 0) == 0) << entry;
        EXPECT_TRUE(entry != "COM12" && entry != "COM31") << entry << " listed twice";
    }

    RemoveTestPortDevices();
    entries = ListPortEntries();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "COM33"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "COM12"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "COM12: (USB-SERIAL CH340)"), 0);
}

} // namespace
} // namespace orv::test
