// Two figures of the serial link, each on a pseudo-terminal:
//  1. delay from the last byte of a reply to OnReceiveData, less ReadIntervalTimeout
//     (median and worst of 50; target: median under 2 ms);
//  2. CPU time of the whole process while a port stays open and idle for 10 s
//     (target: under 10 ms, that is no polling).
// Under Wine both figures are labelled as Wine's: its serial driver is not Windows'.

#include "pty.h"
#include "serial/comm.h"
#include "serial/queue_sink.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

} // namespace

int main() {
    const std::string under = orv::test::MeasuredUnder();
    const std::string label = under.empty() ? "serial" : "serial (measured under " + under + ")";
    orv::test::TPty pty;
    orv::TQueueCommSink sink;
    orv::TComm comm(&sink);
    comm.CommName = pty.SlavePath;
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
    const uint32_t interval = 100;
    comm.SetReadIntervalTimeout(interval);
    Clock::time_point arrived{};
    size_t got = 0;
    comm.OnReceiveData = [&](orv::TComm*, const uint8_t*, uint16_t n) {
        arrived = Clock::now();
        got += n;
    };
    comm.StartComm();
    sink.WaitAndPump(500ms);

    std::vector<double> delays;
    const std::string reply = "\x02"
                              "01FF0000000000000000000000000000\x03";
    for (int i = 0; i < 50; ++i) {
        got = 0;
        pty.Write(reply);
        const Clock::time_point sent = Clock::now(); // the last byte is in the line now
        if (!sink.PumpUntil([&] { return got >= reply.size(); }, 2000ms)) {
            std::printf("%s: reply %d did not arrive\n", label.c_str(), i);
            return 1;
        }
        const double ms = std::chrono::duration<double, std::milli>(arrived - sent).count();
        delays.push_back(ms - interval);
        std::this_thread::sleep_for(20ms);
    }
    std::sort(delays.begin(), delays.end());
    std::printf("%s: reply delay beyond ReadIntervalTimeout (%u ms), 50 replies: median "
                "%.3f ms, worst %.3f ms (target: median < 2 ms)\n",
                label.c_str(), interval, (delays[24] + delays[25]) / 2, delays.back());

    const double cpu0 = CpuMs();
    std::this_thread::sleep_for(10s);
    const double cpu = CpuMs() - cpu0;
    std::printf("%s: CPU time of an open idle port over 10 s: %.3f ms (target: < 10 ms)\n",
                label.c_str(), cpu);
    comm.StopComm();
    return 0;
}
