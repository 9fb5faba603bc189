#include "port.h"

#include "common/termios_speed.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace orv::plcsim {

namespace {

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool EnsureDir(const std::string& path, std::string& error) {
    if (mkdir(path.c_str(), 0700) == 0)
        return true;
    struct stat st {};
    if (errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    error = Errno("cannot create " + path);
    return false;
}

} // namespace

bool SetTtyLine(int fd, const LineFormat& line, std::string& error) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        error = Errno("tcgetattr");
        return false;
    }
    cfmakeraw(&t);
    const speed_t s = TermiosSpeed(line.speed);
    if (s == B0) {
        error = "unsupported speed " + std::to_string(line.speed);
        return false;
    }
    cfsetispeed(&t, s);
    cfsetospeed(&t, s);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | (line.dataBits == 7 ? CS7 : CS8);
    if (line.parity == 'E' || line.parity == 'O')
        t.c_cflag |= PARENB | (line.parity == 'O' ? PARODD : 0);
    if (line.stopBits == 2)
        t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    // Drain first: a line switch takes effect once the reply before it has left.
    if (tcsetattr(fd, TCSADRAIN, &t) != 0) {
        error = Errno("tcsetattr");
        return false;
    }
    return true;
}

bool VirtualPortFolder(std::string& folder, std::string& error) {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    std::string runtime;
    if (xdg && *xdg) {
        runtime = xdg;
    } else {
        const passwd* pw = getpwuid(getuid());
        runtime = std::string("/tmp/runtime-") +
                  (pw && pw->pw_name ? pw->pw_name : std::to_string(getuid()));
    }
    if (!EnsureDir(runtime, error))
        return false;
    folder = runtime + "/orv-ports";
    return EnsureDir(folder, error);
}

bool OpenPty(Pty& pty, std::string& error) {
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0) {
        error = Errno("posix_openpt");
        return false;
    }
    char name[PATH_MAX];
    if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 ||
        ptsname_r(pty.master, name, sizeof name) != 0) {
        error = Errno("pseudo-terminal set-up");
        return false;
    }
    pty.slavePath = name;
    pty.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slave < 0) {
        error = Errno("open " + pty.slavePath);
        return false;
    }
    const int flags = fcntl(pty.master, F_GETFL);
    if (flags < 0 || fcntl(pty.master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = Errno("fcntl");
        return false;
    }
    return true;
}

namespace {

std::string LinkTarget(const std::string& link) {
    char buf[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

// Whether the link leads to a terminal that some program holds now, for the link's sake.
bool LinkInUse(const std::string& link, const struct stat& linkStat) {
    struct stat tt {};
    if (stat(link.c_str(), &tt) != 0 || !S_ISCHR(tt.st_mode))
        return false; // the node of a pseudo-terminal whose master is gone disappears
    // A pseudo-terminal's node is made with the terminal, so a link older than its node was
    // made for an earlier terminal of that number, which nobody holds any more: a simulator
    // killed before it could remove its link, its number since taken by another terminal.
    const auto made = [](const timespec& t) { return std::pair(t.tv_sec, t.tv_nsec); };
    if (LinkTarget(link).rfind("/dev/pts/", 0) == 0 && made(linkStat.st_mtim) < made(tt.st_ctim))
        return false;
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool live = fd >= 0 ? isatty(fd) != 0 : errno == EBUSY;
    if (fd >= 0)
        close(fd);
    return live;
}

} // namespace

bool RegisterLink(const std::string& link, const std::string& target, std::string& error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + " exists and is not a link";
            return false;
        }
        if (LinkInUse(link, st)) {
            error = link + " is in use; choose another --name";
            return false;
        }
        if (unlink(link.c_str()) != 0) {
            error = Errno("cannot remove stale " + link);
            return false;
        }
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        error = Errno("cannot create " + link);
        return false;
    }
    return true;
}

void UnregisterLink(const std::string& link, const std::string& target) {
    if (LinkTarget(link) == target)
        unlink(link.c_str());
}

} // namespace orv::plcsim
