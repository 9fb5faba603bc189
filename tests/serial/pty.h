#pragma once
// A real pseudo-terminal for the serial tests: the component opens the slave, the test plays
// the other end on the master.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orv::test {

class TPty {
public:
    TPty() {
        Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        char name[128];
        if (ptsname_r(Master, name, sizeof name) != 0)
            throw std::runtime_error("no pseudo-terminal name");
        SlavePath = name;
        fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
    }
    ~TPty() { CloseMaster(); }
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    void CloseMaster() {
        if (Master >= 0)
            close(Master);
        Master = -1;
    }

    void Write(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(Master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else {
                pollfd p{Master, POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
    }
    void Write(const std::string& text) { Write(std::vector<uint8_t>(text.begin(), text.end())); }

    // Reads until want bytes have come or timeout has passed.
    std::vector<uint8_t> Read(size_t want, std::chrono::milliseconds timeout) {
        std::vector<uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + timeout;
        uint8_t buf[4096];
        while (got.size() < want && std::chrono::steady_clock::now() < end) {
            pollfd p{Master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = read(Master, buf, sizeof buf);
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    // The slave's line settings, as seen through the master.
    termios SlaveSettings() const {
        termios t{};
        tcgetattr(Master, &t);
        return t;
    }
    void SetSlaveSettings(const termios& t) const { tcsetattr(Master, TCSANOW, &t); }

    int Master = -1;
    std::string SlavePath;
};

inline void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace orv::test
