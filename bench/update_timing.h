#pragma once
// The update time of a 544-page image at 115200 baud against a paced orv-plcsim (connect 9600
// 7E1, 5 ms page writes), from "Update OS" to "DU Reroro ... OK!!", beside its floors: shared by
// the benches of orv-flash and of the windows. The wire floor of a run, exchange by exchange:
// the request and the reply on the wire at the line's speed and bits per character, and the
// page write; plus the 200 ms wait before page 0. The protocol floor adds the 100 ms of silence
// that ends every reply at the reader.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orv::bench {

// One frame of a port's trace: when (seconds), which way ('>' sent, '<' received), the line it
// went at ("115200 8E1"; a stop bit is understood) and how many bytes.
struct TraceFrame {
    double T = 0;
    char Dir = 0;
    std::string Line;
    size_t Count = 0;
};

struct Timing {
    double Measured = 0;
    double WireFloor = 0;
    int Exchanges = 0, Pages = 0, Unanswered = 0;
    bool FellBack = false;
    double ProtocolFloor() const;
};

// The image, 544 pages all sent from page 1 on, in dir; its path.
std::string MakeBenchImage(const std::string& dir);
// The paced simulator on the virtual port `name`, its flash kept in dir.
std::vector<std::string> BenchSimArgs(const std::string& name, const std::string& dir);

// The time from start to end (on the trace's clock) and the floors of the exchanges traced in
// between.
Timing TimeTrace(const std::vector<TraceFrame>& trace, double start, double end);

// Both runs of one program, each beside its floor, and how much faster the default is.
void Report(const std::string& who, const std::string& intervalHow,
            const std::optional<Timing>& interval, const std::optional<Timing>& whole);

} // namespace orv::bench
