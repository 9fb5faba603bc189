// orv-flash: the OS update from the command line, for production lines, remote cabinets and
// scripts. The same status query and update sequence as the windows, with a terminal view.

#include "flash_args.h"
#include "flash_output.h"
#include "flash_session.h"
#include "serial/port_list.h"
#include "serial/qt_comm_sink.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Written by the signal handler, read by the event loop: the only safe way out of a handler.
int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

bool InstallSignalPipe() {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &sa, nullptr) == 0 && sigaction(SIGTERM, &sa, nullptr) == 0;
}

} // namespace

int main(int argc, char** argv) {
    using namespace orv;
    std::vector<std::string> args(argv + 1, argv + argc);
    const FlashArgsResult parsed = ParseFlashArgs(args);
    if (!parsed.Error.empty()) {
        std::fprintf(stderr, "orv-flash: %s\n\n%s", parsed.Error.c_str(), kFlashUsage);
        return kExitUsage;
    }
    if (parsed.Args.Mode == FlashArgs::TMode::Help) {
        std::fputs(kFlashUsage, stdout);
        return kExitOk;
    }

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QCoreApplication app(qtArgc, qtArgv);

    if (parsed.Args.Mode == FlashArgs::TMode::List) {
        for (const std::string& entry : ListPortEntries())
            std::printf("%s\n", entry.c_str());
        return kExitOk;
    }

    // A pipe whose reader is gone must not kill the run midway: the write just fails.
    std::signal(SIGPIPE, SIG_IGN);

    FlashOutput out(parsed.Args.Json, parsed.Args.Trace);
    TQtCommSink sink;
    FlashSession session(parsed.Args, out, sink);
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (InstallSignalPipe()) {
        signalNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &app, [&session] {
            char buf[16];
            ssize_t n = 0;
            while ((n = ::read(gSignalPipe[0], buf, sizeof buf)) > 0)
                for (ssize_t i = 0; i < n; ++i)
                    session.Interrupt();
        });
    }
    return session.Run();
}
