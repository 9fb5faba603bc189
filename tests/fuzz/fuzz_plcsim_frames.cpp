// Whatever a peer sends, the simulator's line model, frame assembly and controller must neither
// crash nor read out of bounds. The first byte picks the line settings and the chunking; the
// rest is the byte stream, fed in both modes.
#include "frame_assembler.h"
#include "plc.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace orv::plcsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    static const uint32_t kSpeeds[] = {9600, 19200, 38400, 57600, 115200};
    LineFormat from;
    from.speed = kSpeeds[control % 5];
    from.dataBits = (control & 0x08) ? 7 : 8;
    from.parity = (control & 0x10) ? 'O' : 'E';
    from.stopBits = (control & 0x20) ? 2 : 1;

    PlcConfig config;
    config.running = control & 0x40;
    Plc plc(config);
    FrameAssembler assembler;
    const std::vector<uint8_t> stream(data + 1, data + size);
    const size_t chunk = 1 + (control >> 6) * 97;
    double t = 0;
    for (size_t at = 0; at < stream.size(); at += chunk) {
        const size_t n = std::min(chunk, stream.size() - at);
        const std::vector<uint8_t> piece(stream.begin() + static_cast<long>(at),
                                         stream.begin() + static_cast<long>(at + n));
        for (const LineChar& c : CarryOverLine(piece, from, plc.Line())) {
            if (auto frame = assembler.Feed(c, t)) {
                const Outcome out =
                    assembler.DownloadMode() ? plc.OnPageFrame(*frame) : plc.OnStationFrame(*frame);
                if (out.reply && out.reply->empty())
                    __builtin_trap();
                if (out.reply)
                    for (uint8_t b : *out.reply)
                        if (b == 0)
                            __builtin_trap(); // the program's port would drop it
                plc.ReplyGone();
                assembler.SetDownloadMode(plc.DownloadMode());
            }
        }
        t += 0.01;
    }
    // The same bytes straight into download mode, where most of the controller lives.
    FrameAssembler pages;
    pages.SetDownloadMode(true);
    for (uint8_t b : stream)
        if (auto frame = pages.Feed({b, false}, 0))
            (void)plc.OnPageFrame(*frame);
    return 0;
}
