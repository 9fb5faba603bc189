// The kernel's termios2 carries the speed as a number, arbitrary rates included; its header
// clashes with <termios.h>, so this file speaks termios2 only.
#include "pty.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace orv::test {

struct TPty::TImpl {
    int Master = -1;

    termios2 Settings() const {
        termios2 t{};
        ioctl(Master, TCGETS2, &t);
        return t;
    }
};

TPty::TPty() : Impl(std::make_unique<TImpl>()) {
    int& master = Impl->Master;
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0)
        throw std::runtime_error("no pseudo-terminal name");
    SlavePath = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
}

TPty::~TPty() {
    CloseMaster();
}

void TPty::CloseMaster() {
    if (Impl->Master >= 0)
        close(Impl->Master);
    Impl->Master = -1;
}

void TPty::Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(Impl->Master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{Impl->Master, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

void TPty::Write(const std::string& text) {
    Write(std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> TPty::Read(size_t want, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + timeout;
    uint8_t buf[4096];
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
        pollfd p{Impl->Master, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = read(Impl->Master, buf, sizeof buf);
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
    }
    return got;
}

TPtyLine TPty::Line() const {
    const termios2 t = Impl->Settings();
    TPtyLine line;
    line.Speed = t.c_ospeed;
    line.OddParity = t.c_cflag & PARODD;
    line.TwoStopBits = t.c_cflag & CSTOPB;
    line.ParityCheck = t.c_iflag & INPCK;
    line.ParityMarks = t.c_iflag & PARMRK;
    line.SoftwareFlow = t.c_iflag & (IXON | IXOFF);
    line.Raw = !(t.c_lflag & (ICANON | ECHO));
    return line;
}

void TPty::SetLine(const TPtyLine& line) {
    termios2 t = Impl->Settings();
    t.c_cflag = line.OddParity ? t.c_cflag | PARODD : t.c_cflag & ~PARODD;
    t.c_iflag = line.ParityMarks ? t.c_iflag | PARMRK : t.c_iflag & ~PARMRK;
    ioctl(Impl->Master, TCSETS2, &t);
}

TVirtualPort::TVirtualPort(const std::string& name) : name_(name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr)
        throw std::runtime_error("no XDG_RUNTIME_DIR for the virtual-port folder");
    const std::filesystem::path folder = std::filesystem::path(runtime) / "orv-ports";
    std::filesystem::create_directories(folder);
    link_ = (folder / name).string();
    std::filesystem::remove(link_);
    std::filesystem::create_symlink(SlavePath, link_);
}

TVirtualPort::~TVirtualPort() {
    std::error_code ignored;
    std::filesystem::remove(link_, ignored);
}

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string MeasuredUnder() {
    return {};
}

} // namespace orv::test
