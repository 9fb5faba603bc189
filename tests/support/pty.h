#pragma once
// A real pseudo-terminal for the tests: the program opens the slave, the test plays the other
// end on the master. On Windows, under Wine, a Linux program (serial_pty_peer) holds
// the master and maps the slave as a COM port, $WINEPREFIX/dosdevices/comN, and the test
// speaks to it over a local socket (pty_posix.cpp, pty_win32.cpp).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orv::test {

// The slave's line settings, as the master sees them. A pseudo-terminal forces 8 data bits
// without parity generation; what it keeps shows the settings.
struct TPtyLine {
    uint32_t Speed = 0;        // bits per second
    bool OddParity = false;    // PARODD
    bool TwoStopBits = false;  // CSTOPB
    bool ParityCheck = false;  // INPCK
    bool ParityMarks = false;  // PARMRK
    bool SoftwareFlow = false; // IXON or IXOFF
    bool Raw = false;          // neither ICANON nor ECHO
};

class TPty {
public:
    TPty();
    ~TPty();
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    // The other end goes away: the component sees its device vanish.
    void CloseMaster();
    void Write(const std::vector<uint8_t>& bytes);
    void Write(const std::string& text);
    // Reads until want bytes have come or timeout has passed.
    std::vector<uint8_t> Read(size_t want, std::chrono::milliseconds timeout);
    // Everything that comes within timeout, as text.
    std::string ReadText(std::chrono::milliseconds timeout) {
        const std::vector<uint8_t> bytes = Read(SIZE_MAX, timeout);
        return {bytes.begin(), bytes.end()};
    }

    TPtyLine Line() const;
    // Changes OddParity and ParityMarks behind the component's back; the rest stays.
    void SetLine(const TPtyLine& line);

    // What CommName takes: the slave's path, or on Windows its COM name.
    std::string SlavePath;

    struct TImpl;

private:
    std::unique_ptr<TImpl> Impl;
};

// POSIX only: a pseudo-terminal registered as the virtual port NAME in
// $XDG_RUNTIME_DIR/orv-ports/, so the connect dialog lists "NAME: (Virtual port)" and StartComm
// opens it by that name.
class TVirtualPort : public TPty {
public:
    explicit TVirtualPort(const std::string& name);
    ~TVirtualPort();
    TVirtualPort(const TVirtualPort&) = delete;
    TVirtualPort& operator=(const TVirtualPort&) = delete;
    std::string Entry() const { return name_ + ": (Virtual port)"; }

private:
    std::string name_;
    std::string link_;
};

void Sleep(int ms);

// Where the figures of a benchmark come from: empty natively, the Wine version under Wine.
std::string MeasuredUnder();

} // namespace orv::test
