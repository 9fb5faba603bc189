#pragma once
// Fault injection: what --fault asks for, and the dice and rules that strike the replies.

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace orv::plcsim {

// A fault that strikes at random with `probability`, or on the first `count` occasions.
struct FaultRate {
    double probability = 0;
    int count = 0;
    bool Active() const { return probability > 0 || count > 0; }
};

struct Faults {
    FaultRate drop;   // the reply is lost on the line (the frame itself was acted on)
    FaultRate garble; // one byte of the reply is damaged
    FaultRate nak;    // a sound page is refused
    int nakFrom = 0;  // ... only from this page number on
    int delayMs = 0;  // every reply goes out this much later
    bool silent = false;
    int vanishAfter = -1; // close the line after this many page frames
    int dropAck = -1;     // the first acknowledgement of this page is lost
    int ackSplitMs = -1;  // acknowledgements of three bytes, the third this much after the two
};

// A whole decimal number from lo to hi: no sign, no other base ("010" is ten).
bool ParseInt(std::string_view text, long long lo, long long hi, long long& out);

// "drop:0.2,garble:3x,delay:300,silent,vanish-after:10". Returns an error text, empty when the
// whole spec was understood.
std::string ParseFaults(std::string_view spec, Faults& faults);

class FaultDice {
public:
    explicit FaultDice(uint64_t seed) : rng_(seed) {}
    bool Roll(FaultRate& rate);
    size_t Pick(size_t n);
    uint8_t Byte();

private:
    std::mt19937_64 rng_;
};

// What the faults did to one reply.
struct Struck {
    bool lost = false;
    bool garbled = false;
    size_t splitAt = 0; // the bytes before the pause go out first; 0: no pause
    double pauseSeconds = 0;
};

class FaultInjector {
public:
    FaultInjector(const Faults& faults, uint64_t seed) : faults_(faults), dice_(seed) {}
    const Faults& Config() const { return faults_; }
    // Asked about each sound page: refuse it?
    bool RefuseGoodPage(int page) { return page >= faults_.nakFrom && dice_.Roll(faults_.nak); }
    // Strikes the reply about to go out; `ackedPage` is the page it acknowledges, or -1.
    Struck Strike(std::vector<uint8_t>& reply, int ackedPage);

private:
    Faults faults_;
    FaultDice dice_;
};

} // namespace orv::plcsim
