// serial_pty_peer PORT LINK: the Linux end of a pseudo-terminal for the serial tests under Wine.
// Makes a pseudo-terminal, links LINK (a $WINEPREFIX/dosdevices/comN) to its slave, connects
// to 127.0.0.1:PORT, where the test listens, and plays the master as the test asks, one line
// per request and one per answer:
//   W <hex>          write the bytes              -> OK
//   R <want> <ms>    read as TPty::Read does      -> D <hex>
//   L                the slave's line settings    -> L <speed> <odd> <two> <check> <marks> <soft>
//   <raw> S <odd> <marks>  change them as TPty::SetLine -> OK C                close the master ->
//   OK
// The link goes when the test hangs up.

#include "pty.h"
#include "pty_wire.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using orv::test::TPty;
using orv::test::TPtyLine;

bool ReadLine(int socket, std::string& line) {
    line.clear();
    char c = 0;
    for (;;) {
        const ssize_t n = recv(socket, &c, 1, 0);
        if (n <= 0)
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
}

bool Send(int socket, const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = send(socket, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string Answer(TPty& pty, const std::string& request) {
    std::istringstream in(request);
    std::string command;
    in >> command;
    if (command == "W") {
        std::string hex;
        in >> hex;
        std::vector<uint8_t> bytes;
        if (!orv::test::WireBytes(hex, bytes))
            return "ERR bad hex";
        pty.Write(bytes);
        return "OK";
    }
    if (command == "R") {
        size_t want = 0;
        long ms = 0;
        in >> want >> ms;
        return "D " + orv::test::WireHex(pty.Read(want, std::chrono::milliseconds(ms)));
    }
    if (command == "L") {
        const TPtyLine l = pty.Line();
        std::ostringstream out;
        out << "L " << l.Speed << ' ' << l.OddParity << ' ' << l.TwoStopBits << ' ' << l.ParityCheck
            << ' ' << l.ParityMarks << ' ' << l.SoftwareFlow << ' ' << l.Raw;
        return out.str();
    }
    if (command == "S") {
        TPtyLine l;
        in >> l.OddParity >> l.ParityMarks;
        pty.SetLine(l);
        return "OK";
    }
    if (command == "C") {
        pty.CloseMaster();
        return "OK";
    }
    return "ERR unknown request " + command;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: serial_pty_peer PORT LINK\n");
        return 2;
    }
    const std::string link = argv[2];
    TPty pty;
    // The slave becomes this program's controlling terminal, and its hang-up this program's
    // (ignored): otherwise the first Wine process to open it, the server, would take it.
    // Held open, the slave also keeps the master from reading end-of-file while no one else has
    // it open.
    std::signal(SIGHUP, SIG_IGN);
    setsid();
    const int slave = open(pty.SlavePath.c_str(), O_RDWR | O_CLOEXEC);
    std::error_code error;
    std::filesystem::remove(link, error);
    std::filesystem::create_symlink(pty.SlavePath, link, error);
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket < 0 || connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("serial_pty_peer: connect");
        std::filesystem::remove(link);
        return 1;
    }
    Send(socket,
         error ? "ERR cannot link " + link + ": " + error.message() : "OK " + pty.SlavePath);
    std::string request;
    while (!error && ReadLine(socket, request) && Send(socket, Answer(pty, request))) {
    }
    close(socket);
    if (slave >= 0)
        close(slave);
    // Only our own link: a later test may have taken the name over.
    std::error_code gone;
    if (std::filesystem::read_symlink(link, gone) == pty.SlavePath)
        std::filesystem::remove(link, gone);
    return 0;
}
