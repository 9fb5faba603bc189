// The POSIX side of the port: open failures in Linux words, the terminal's exclusive use, parity
// marking, arbitrary rates, the virtual-port folder and the port list.

#include "comm_test.h"
#include "serial/port_list.h"
#include "serial/port_name_posix.h"

#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// The driver's part is played through the program's link, --wrap=write,--wrap=ioctl: calls
// from its own code pass through here.
namespace orv::test::driver {

namespace {

std::atomic<dev_t> Port{0}; // the device driven; 0: nothing is

} // namespace

void DriveDevice(const std::string& port) {
    struct stat st {};
    ASSERT_EQ(stat(port.c_str(), &st), 0);
    Port = st.st_rdev;
}

void ReleaseDevice() {
    Port = 0;
}

static bool IsPort(int fd) {
    const dev_t port = Port.load();
    struct stat st {};
    return port != 0 && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == port;
}

} // namespace orv::test::driver

extern "C" ssize_t __real_write(int fd, const void* buf, size_t n);
extern "C" int __real_ioctl(int fd, unsigned long request, ...);

extern "C" ssize_t __wrap_write(int fd, const void* buf, size_t n) {
    using namespace orv::test;
    if (!driver::TakeInParts || !driver::IsPort(fd)) {
        const ssize_t r = __real_write(fd, buf, n);
        if (r > 0)
            driver::Signalled();
        return r;
    }
    return static_cast<ssize_t>(driver::TakePart(n));
}

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
    using namespace orv::test;
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    const int queued = driver::OutputQueued;
    if (request == TIOCOUTQ && queued >= 0 && driver::IsPort(fd)) {
        *static_cast<int*>(arg) = queued;
        return 0;
    }
    return __real_ioctl(fd, request, arg);
}

namespace orv::test {
namespace {

TEST_F(CommTest, OpenFailuresSayWhatAndWhy) {
    std::string detail;
    Comm.CommName = "";
    EXPECT_EQ(MessageOf(Comm), "Error opening serial port");
    EXPECT_FALSE(Comm.IsOpen());

    Comm.CommName = "orv-no-such-port";
    EXPECT_EQ(MessageOf(Comm, &detail), "Error opening serial port");
    EXPECT_NE(detail.find("/dev/orv-no-such-port"), std::string::npos) << detail;
    EXPECT_NE(detail.find(VirtualPortFolder() + "orv-no-such-port"), std::string::npos) << detail;
    EXPECT_NE(detail.find("plugged in"), std::string::npos) << detail;

    const std::string file =
        std::string(std::getenv("HOME") ? std::getenv("HOME") : "/tmp") + "/orv-not-a-port.txt";
    std::ofstream(file) << "text";
    Comm.CommName = file;
    EXPECT_EQ(MessageOf(Comm, &detail), "File handle is not a comm handle ");
    EXPECT_NE(detail.find(file), std::string::npos);
    EXPECT_FALSE(Comm.IsOpen());
    std::filesystem::remove(file);

    // Permission: the hint names the group that owns the device.
    const std::string hint = OpenFailureDetail(Pty.SlavePath, EACCES);
    EXPECT_NE(hint.find(Pty.SlavePath + ": Permission denied"), std::string::npos) << hint;
    EXPECT_NE(hint.find("log out and in again"), std::string::npos) << hint;
    if (geteuid() != 0) {
        chmod(Pty.SlavePath.c_str(), 0);
        Comm.CommName = Pty.SlavePath;
        EXPECT_EQ(MessageOf(Comm, &detail), "Error opening serial port");
        EXPECT_NE(detail.find("Permission denied"), std::string::npos) << detail;
        chmod(Pty.SlavePath.c_str(), 0620);
    }
}

TEST_F(CommTest, PortHeldElsewhereIsRefused) {
    StartAndSettle();
    TComm second(&Sink);
    second.CommName = Pty.SlavePath;
    std::string detail;
    EXPECT_EQ(MessageOf(second, &detail), "Error opening serial port");
    EXPECT_NE(detail.find("Another program holds the port"), std::string::npos) << detail;
    EXPECT_FALSE(second.IsOpen());
    Comm.StopComm();

    // Another program's lock, without any component involved.
    const int other = open(Pty.SlavePath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(MessageOf(Comm), "Error opening serial port");
    close(other);
    EXPECT_EQ(MessageOf(Comm), "(opened)");
}

// Bytes in hand when the first rule comes are a tail: they came before its request.
TEST_F(CommTest, BytesInHandWhenARuleComesAreATail) {
    Comm.SetReadIntervalTimeout(1000);
    StartAndSettle();
    Pty.Write(std::string("w"));
    Sleep(100);
    const uint8_t request[] = {'r', 'q'};
    Comm.SetReplyRule(TReplyRule{2});
    ASSERT_TRUE(Comm.WriteCommData(request, 2));
    ASSERT_TRUE(Sink.PumpUntil([&] { return !Tails.empty(); }, 3000ms));
    EXPECT_EQ(Tails, std::vector<Bytes>{Bytes({'w'})});
    EXPECT_TRUE(Blocks.empty());
}

// Parity checking is the terminal's input check with marking of bad bytes (INPCK, PARMRK).
TEST_F(CommTest, ParityCheckingDeliversBytesAsSentAndReportsMarkedBytes) {
    Comm.SetParity(TParity::Even);
    Comm.SetParityCheck(true);
    StartAndSettle();
    TPtyLine line = Pty.Line();
    EXPECT_TRUE(line.ParityCheck);
    EXPECT_TRUE(line.ParityMarks);
    const Bytes sent = {0xFF, 1, 0xFF, 0xFF, 0, 0xFF};
    Pty.Write(sent);
    ASSERT_TRUE(WaitReceived(sent.size()));
    Sink.WaitAndPump(200ms);
    EXPECT_EQ(Received(), sent);
    EXPECT_TRUE(Errors.empty());

    // A pseudo-terminal never flags parity errors; with the driver's marking switched off
    // behind the component's back, the marked form reaches the reader as is.
    line.ParityMarks = false;
    Pty.SetLine(line);
    Blocks.clear();
    Pty.Write(Bytes{'a', 0xFF, 0x00, 'x', 'b'});
    ASSERT_TRUE(WaitReceived(3));
    EXPECT_EQ(Received(), Bytes({'a', 'x', 'b'}));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], CE_RXPARITY);
}

// A rate without a B-constant goes through the kernel's arbitrary-rate interface.
TEST_F(CommTest, RateWithoutAConstantReachesTheLine) {
    StartAndSettle();
    Comm.SetBaudRate(250000);
    EXPECT_EQ(Pty.Line().Speed, 250000u);
}

TEST_F(CommTest, BareNameFoundInVirtualPortFolder) {
    const std::string folder = VirtualPortFolder();
    std::filesystem::create_directories(folder);
    const std::string link = folder + "orvtest-comm0";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(Pty.SlavePath, link);
    Comm.CommName = "orvtest-comm0";
    StartAndSettle();
    EXPECT_EQ(Comm.PortPath(), link);
    Pty.Write("v");
    EXPECT_TRUE(WaitReceived(1));
    Comm.StopComm();
    std::filesystem::remove(link);
}

TEST(PortList, ListsLiveVirtualPortsAfterTheRealOnes) {
    TPty pty;
    namespace fs = std::filesystem;
    const fs::path folder = VirtualPortFolder();
    fs::create_directories(folder);
    const auto names = {"orvtest-live", "orvtest-gone", "orvtest-file", "orvtest:colon",
                        "orvtest-null"};
    for (const char* name : names)
        fs::remove(folder / name);
    fs::create_symlink(pty.SlavePath, folder / "orvtest-live");
    fs::create_symlink("/dev/pts/999999", folder / "orvtest-gone");
    std::ofstream(folder / "plain.txt") << "x";
    fs::create_symlink(folder / "plain.txt", folder / "orvtest-file");
    fs::create_symlink(pty.SlavePath, folder / "orvtest:colon");
    fs::create_symlink("/dev/null", folder / "orvtest-null"); // a device, not a terminal

    const std::vector<std::string> entries = ListPortEntries();
    std::vector<std::string> ours;
    for (const std::string& e : entries)
        if (e.rfind("orvtest", 0) == 0)
            ours.push_back(e);
    EXPECT_EQ(ours, std::vector<std::string>{"orvtest-live: (Virtual port)"});
    EXPECT_EQ(entries.back(), "orvtest-live: (Virtual port)");
    // The machine's own ports before them are serial devices in /dev, never a console, a
    // virtual terminal or a pseudo-terminal.
    for (const std::string& e : entries) {
        if (e.find(": (Virtual port)") != std::string::npos)
            continue;
        const std::string name = e.substr(0, e.find(':'));
        struct stat st {};
        EXPECT_TRUE(stat(("/dev/" + name).c_str(), &st) == 0 && S_ISCHR(st.st_mode)) << e;
        const bool terminal = name == "tty" || name == "console" || name == "ptmx" ||
                              (name.size() > 3 && name.rfind("tty", 0) == 0 && isdigit(name[3]));
        EXPECT_FALSE(terminal) << e;
    }

    for (const char* name : names)
        fs::remove(folder / name);
    fs::remove(folder / "plain.txt");
}

} // namespace
} // namespace orv::test
