// orv-plcsim: plays an Orv PLC at the far end of a serial line, on a pseudo-terminal or a real
// serial device; or several PLCs on one multi-drop line (simulator.h).

#include "options.h"
#include "simulator.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int gSignalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
    const char c = 1;
    const ssize_t ignored = write(gSignalPipe[1], &c, 1);
    (void)ignored;
}

} // namespace

int main(int argc, char** argv) {
    using namespace orv::plcsim;
    Options options;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string error = ParseOptions(args, options);
    if (!error.empty()) {
        std::fprintf(stderr, "orv-plcsim: %s\n\n%s", error.c_str(), UsageText().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("orv-plcsim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    Simulator sim(std::move(options));
    return sim.Run(gSignalPipe[0]);
}
