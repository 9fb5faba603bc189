// Under Wine, a Windows program cannot make a pseudo-terminal: serial_pty_peer, a Linux program
// built by the Linux build, makes it, links $WINEPREFIX/dosdevices/comN to the slave and plays
// the master as this side asks over a local socket. Wine starts a Linux program without a
// process handle or standard streams, so the peer calls back, and its life is the connection's.
#include "common/wide_text.h"
#include "pty.h"
#include "pty_wire.h"

#include <atomic>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <windows.h>
#include <winsock2.h>

namespace orv::test {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        throw std::runtime_error(std::string("the serial tests on Windows run under Wine, from "
                                             "CTest, which sets ") +
                                 name);
    return value;
}

// Each pseudo-terminal of this process takes the next COM number of the range CTest gave it in
// ORV_COM_PORTS ("10-29"), so that tests running side by side never share one.
int NextComNumber() {
    static std::atomic<int> next{0};
    const std::string range = Environment("ORV_COM_PORTS");
    const int first = std::atoi(range.c_str());
    const size_t dash = range.find('-');
    const int last = dash == std::string::npos ? first : std::atoi(range.c_str() + dash + 1);
    return first + next++ % (last - first + 1);
}

struct TWinsock {
    TWinsock() {
        WSADATA data{};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            throw std::runtime_error("no Winsock");
    }
};

} // namespace

struct TPty::TImpl {
    SOCKET Socket = INVALID_SOCKET;

    ~TImpl() {
        if (Socket != INVALID_SOCKET)
            closesocket(Socket);
    }

    std::string Ask(const std::string& request) {
        const std::string line = request + "\n";
        size_t done = 0;
        while (done < line.size()) {
            const int n = send(Socket, line.data() + done, static_cast<int>(line.size() - done), 0);
            if (n <= 0)
                throw std::runtime_error("the pty peer has gone");
            done += static_cast<size_t>(n);
        }
        return Answer();
    }

    std::string Answer() {
        std::string answer;
        char buf[4096];
        for (;;) {
            const size_t end = answer.find('\n');
            if (end != std::string::npos) {
                if (end + 1 != answer.size())
                    throw std::runtime_error("the pty peer said more than asked");
                answer.pop_back();
                if (answer.rfind("ERR", 0) == 0)
                    throw std::runtime_error("pty peer: " + answer);
                return answer;
            }
            const int n = recv(Socket, buf, sizeof buf, 0);
            if (n <= 0)
                throw std::runtime_error("the pty peer has gone");
            answer.append(buf, static_cast<size_t>(n));
        }
    }
};

TPty::TPty() : Impl(std::make_unique<TImpl>()) {
    static TWinsock winsock;
    const std::string peer = Environment("ORV_PTY_PEER");
    const int number = NextComNumber();
    const std::string link = Environment("WINEPREFIX") + "/dosdevices/com" + std::to_string(number);

    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no local socket for the pty peer");

    // Wine shows the Linux root as drive Z:.
    std::string program = "Z:" + peer;
    for (char& c : program)
        if (c == '/')
            c = '\\';
    std::wstring command;
    ToWide("\"" + program + "\" " + std::to_string(ntohs(address.sin_port)) + " \"" + link + "\"",
           command);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
        closesocket(listener);
        throw std::runtime_error("cannot start " + peer);
    }
    // No handles to close: Wine gives none for a Linux program.

    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener, &ready);
    timeval wait{30, 0};
    if (select(0, &ready, nullptr, nullptr, &wait) == 1)
        Impl->Socket = accept(listener, nullptr, nullptr);
    closesocket(listener);
    if (Impl->Socket == INVALID_SOCKET)
        throw std::runtime_error(peer + " did not call back");
    const std::string greeting = Impl->Answer();
    if (greeting.rfind("OK ", 0) != 0)
        throw std::runtime_error("pty peer: " + greeting);
    SlavePath = "COM" + std::to_string(number);
}

TPty::~TPty() = default;

void TPty::CloseMaster() {
    Impl->Ask("C");
}

void TPty::Write(const std::vector<uint8_t>& bytes) {
    Impl->Ask("W " + WireHex(bytes));
}

void TPty::Write(const std::string& text) {
    Write(std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> TPty::Read(size_t want, std::chrono::milliseconds timeout) {
    const std::string answer =
        Impl->Ask("R " + std::to_string(want) + " " + std::to_string(timeout.count()));
    std::vector<uint8_t> bytes;
    if (answer.rfind("D", 0) != 0 ||
        !WireBytes(answer.substr(std::min<size_t>(2, answer.size())), bytes))
        throw std::runtime_error("pty peer: " + answer);
    return bytes;
}

TPtyLine TPty::Line() const {
    std::istringstream in(Impl->Ask("L"));
    std::string tag;
    TPtyLine line;
    in >> tag >> line.Speed >> line.OddParity >> line.TwoStopBits >> line.ParityCheck >>
        line.ParityMarks >> line.SoftwareFlow >> line.Raw;
    if (tag != "L" || !in)
        throw std::runtime_error("pty peer: no line settings");
    return line;
}

void TPty::SetLine(const TPtyLine& line) {
    Impl->Ask("S " + std::to_string(line.OddParity) + " " + std::to_string(line.ParityMarks));
}

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string MeasuredUnder() {
    using TWineVersion = const char*(__cdecl*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto version = ntdll ? reinterpret_cast<TWineVersion>(reinterpret_cast<void*>(
                                     GetProcAddress(ntdll, "wine_get_version")))
                               : nullptr;
    return version ? std::string("Wine ") + version() : "Windows";
}

} // namespace orv::test
