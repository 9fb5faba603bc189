#pragma once
// Fakes of the port and timer seams: record what the engines do, fire nothing by themselves.

#include "protocol/link.h"

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::fakes {

// Base is ILinePort, or an extension of it (the forms' ICommPort).
template <class Base = ILinePort>
class TFakePort : public Base {
public:
    void Open() override {
        if (openError)
            std::rethrow_exception(openError);
        if (failOpen)
            throw std::runtime_error("Unable to open com port");
        open = true;
        ++opens;
    }
    void Close() override {
        open = false;
        ++closes;
    }
    bool Write(const uint8_t* data, uint16_t count) override {
        if (refuseWrites || count == 0)
            return false;
        writes.emplace_back(data, data + count);
        return true;
    }
    void SetBaudRate(uint32_t b) override { baud = b; }
    void SetDataBits(int bits) override { dataBits = bits; }
    void SetParity(LineParity p) override { parity = p; }
    uint32_t ReadIntervalMs() const override { return readInterval; }
    bool TakesRepliesWhole() const override { return whole; }
    void TakeRepliesByInterval() override { whole = false; }
    uint32_t QuietMs() override { return quiet; }

    std::string WriteText(size_t i) const {
        return std::string(writes.at(i).begin(), writes.at(i).end());
    }

    bool open = false;
    bool failOpen = false;
    std::exception_ptr openError; // thrown by Open before failOpen is looked at
    bool refuseWrites = false;
    int opens = 0;
    int closes = 0;
    uint32_t baud = 9600;
    int dataBits = 7;
    LineParity parity = LineParity::Even;
    uint32_t readInterval = 100;
    bool whole = false;
    uint32_t quiet = UINT32_MAX;
    std::vector<std::vector<uint8_t>> writes;
};
using FakePort = TFakePort<>;

class FakeTimer : public ITimer {
public:
    void Enable() override { enabled = true; }
    void Disable() override { enabled = false; }
    bool Enabled() const override { return enabled; }
    void SetInterval(int ms) override { interval = ms; }

    bool enabled = false;
    int interval = 0;
};

} // namespace orv::fakes
