// The status-reply decoder and the status query's reply handler on arbitrary blocks: no read
// outside the block, and the fields keep their fixed shapes.
#include "protocol/station.h"
#include "protocol/status_query.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace orv;

class NullPort : public ILinePort {
public:
    void Open() override {}
    void Close() override {}
    bool Write(const uint8_t*, uint16_t count) override { return count == 8; }
    void SetBaudRate(uint32_t) override {}
    void SetDataBits(int) override {}
    void SetParity(LineParity) override {}
    uint32_t ReadIntervalMs() const override { return 100; }
};

class NullTimer : public ITimer {
public:
    void Enable() override { enabled = true; }
    void Disable() override { enabled = false; }
    bool Enabled() const override { return enabled; }
    void SetInterval(int) override {}
    bool enabled = false;
};

class CheckingView : public IStatusView {
public:
    std::string StationText() override { return station; }
    void SetStationText(const std::string& text) override {
        if (!ParseStationNumber(text))
            std::abort(); // an adopted station must be one the connect dialog accepts
        station = text;
    }
    void SetStatusBar(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    void ShowPlcStatus(const StatusReply& r) override {
        if (r.Version.size() != 4 || r.ReleaseDate.size() != 7 || r.FlashType.empty())
            std::abort();
    }
    void ShowStartupWindow() override {}
    void EnableUpdateButtons() override {}
    std::string station = "1";
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Copies of exactly each block's length, so that any read past a block is caught.
    std::vector<uint8_t> whole(data, data + size);
    if (const auto r = DecodeStatusReply(whole.data(), whole.size())) {
        if (size < kStatusReplyLength)
            std::abort();
        if (r->PortRegisterCode < 0 || r->PortRegisterCode > 4)
            std::abort();
        if (r->Station < 0 || r->Station > 255 || r->StationHex.size() != 2)
            std::abort();
    }

    // The same bytes as a run of blocks through the query: the first byte sets the split.
    NullPort port;
    NullTimer timer;
    CheckingView view;
    StationState station;
    ReplyDispatch dispatch;
    StatusQuery query(port, timer, view, station, dispatch);
    query.Start();
    size_t pos = size ? 1 : 0;
    const size_t step = size ? 1 + data[0] : 1;
    while (pos < size) {
        const size_t n = std::min(step, size - pos);
        std::vector<uint8_t> block(data + pos, data + pos + n);
        dispatch.Dispatch(block.data(), static_cast<uint16_t>(n));
        if (timer.enabled)
            query.tmTimeOutTimer();
        pos += n;
    }
    if (station.PortRegisterCode < 0 || station.PortRegisterCode > 4 ||
        (station.StationHex.size() != 2))
        std::abort();
    return 0;
}
